#!/usr/bin/env bash
# Upload throughput on loopback: the tus uploader against curl sending the same 8 MiB
# PATCH chunks to the same tolvane-server, plus the peak memory of the uploading process.
#
#   bench/upload/run.sh [BUILD_DIR] [SIZE_MIB]      (defaults: build/dev, 1024)
set -euo pipefail

build=${1:-build/dev}
size_mib=${2:-1024}
chunk=8388608
server="$build/server/tolvane-server"
bench="$build/bench/upload/upload_bench"
for program in "$server" "$bench"; do
  [[ -x $program ]] || { echo "missing $program; build tolvane-server and upload_bench first" >&2; exit 1; }
done

work=$(mktemp -d)
server_pid=
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

port=$(( 20000 + RANDOM % 20000 ))
site="http://127.0.0.1:$port"
"$server" --listen "127.0.0.1:$port" --data "$work/server" --auto-approve bench@example.com --quota 0 \
  >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "$site/" && break
  sleep 0.1
done

echo "preparing a $size_mib MiB file..."
head -c $(( size_mib * 1024 * 1024 )) /dev/urandom >"$work/file.bin"
total=$(stat -c %s "$work/file.bin")
mkdir "$work/chunks"
split -b "$chunk" -d -a 4 "$work/file.bin" "$work/chunks/c"

# The curl baseline: one curl process, one connection, the same PATCH requests.
run_curl() {
  eval "$("$bench" --site "$site" --print-ticket)"
  local auth=(-H "Tus-Resumable: 1.0.0" -H "AuthorizationSignature: $TICKET_SIGNATURE"
              -H "AuthorizationExpire: $TICKET_EXPIRE" -H "LibraryId: $TICKET_LIBRARY" -H "VideoId: $TICKET_UID")
  local location origin upload_url config="$work/curl.config" offset=0 length start end
  location=$(curl -sS -D - -o /dev/null -X POST "${auth[@]}" -H "Upload-Length: $total" -H "Content-Length: 0" \
               -H "Upload-Metadata: filetype dmlkZW8vbXA0" "$TICKET_ENDPOINT" |
             tr -d '\r' | awk 'tolower($1) == "location:" { print $2 }')
  origin=$(sed -E 's#^(https?://[^/]+).*#\1#' <<<"$TICKET_ENDPOINT")
  upload_url=$location
  [[ $location == http* ]] || upload_url=$origin$location
  : >"$config"
  for part in "$work"/chunks/c*; do
    [[ $offset -gt 0 ]] && echo "next" >>"$config"
    length=$(stat -c %s "$part")
    cat >>"$config" <<CONFIG
url = "$upload_url"
request = "PATCH"
upload-file = "$part"
header = "Tus-Resumable: 1.0.0"
header = "AuthorizationSignature: $TICKET_SIGNATURE"
header = "AuthorizationExpire: $TICKET_EXPIRE"
header = "LibraryId: $TICKET_LIBRARY"
header = "VideoId: $TICKET_UID"
header = "Upload-Offset: $offset"
header = "Content-Type: application/offset+octet-stream"
header = "Expect:"
output = "/dev/null"
silent
show-error
fail
CONFIG
    offset=$(( offset + length ))
  done
  start=$(date +%s.%N)
  curl -K "$config"
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

# Each side runs twice, on an empty upload folder after the disk has
# settled; the best run counts. Every upload is deleted before the next one starts: a
# gigabyte left behind by one side slows the server's writes for the other to half speed
# on this machine's disk, which would measure the disk, not the uploader.
fresh_disk() {
  rm -rf "$work"/server/uploads/* 2>/dev/null || true
  sync
}
best_curl=0 best_ours=0 curl_seconds=0 tolvane_seconds=0 peak_rss=0
measure_curl() {
  fresh_disk
  local seconds rate
  seconds=$(run_curl)
  rate=$(awk -v t="$total" -v s="$seconds" 'BEGIN { print t / 1048576 / s }')
  if awk -v a="$rate" -v b="$best_curl" 'BEGIN { exit !(a > b) }'; then best_curl=$rate curl_seconds=$seconds; fi
}
measure_ours() {
  fresh_disk
  eval "$("$bench" --site "$site" --file "$work/file.bin" --chunk "$chunk")"
  if awk -v a="$tolvane_mib_per_s" -v b="$best_ours" 'BEGIN { exit !(a > b) }'; then
    best_ours=$tolvane_mib_per_s ours_seconds=$tolvane_seconds
  fi
  read_seconds=$tolvane_read_seconds
  peak_rss=$(awk -v a="$tolvane_peak_rss_mib" -v b="$peak_rss" 'BEGIN { print (a > b ? a : b) }')
}
# The second round swaps the order, so that neither side always runs first.
measure_curl
measure_ours
measure_ours
measure_curl
curl_rate=$best_curl tolvane_mib_per_s=$best_ours tolvane_seconds=$ours_seconds tolvane_peak_rss_mib=$peak_rss

ratio=$(awk -v a="$tolvane_mib_per_s" -v b="$curl_rate" 'BEGIN { print a / b }')
printf 'file: %d MiB, chunks of %d MiB\n' "$size_mib" $(( chunk / 1048576 ))
printf 'curl:    %.2f s  %.1f MiB/s\n' "$curl_seconds" "$curl_rate"
printf 'tolvane: %.2f s  %.1f MiB/s\n' "$tolvane_seconds" "$tolvane_mib_per_s"
printf 'ratio tolvane/curl: %.2f (target >= 0.8)\n' "$ratio"
printf 'of which reading the chunks from the page cache: %.2f s\n' "$read_seconds"
printf 'peak RSS of the uploading process: %.1f MiB (target <= 64)\n' "$tolvane_peak_rss_mib"
