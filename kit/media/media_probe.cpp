#include "kit/media/media_probe.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kit/media/mp4_box_reader.h"

namespace tolvane {
namespace {

// Damaged headers can claim billions of samples; no real track comes near this.
constexpr std::uint64_t kMaxSamplesPerTable = 1u << 24;

struct Track {
  std::uint64_t timescale = 0;
  std::int64_t editStart = 0;                // media time the edit list starts presenting at
  std::optional<double> editSeconds;         // how long the edit list presents, when it says
  std::uint32_t defaultDuration = 0;         // trex defaults for fragments
  std::uint32_t defaultSize = 0;
  std::int64_t nextDecodeTime = 0;           // where the next fragment continues
  std::int64_t first = std::numeric_limits<std::int64_t>::max();
  std::int64_t last = std::numeric_limits<std::int64_t>::min();
  bool cutOff = false;                       // a sample's bytes are missing: nothing after it plays

  void addSample(std::int64_t presentation, std::int64_t duration) {
    first = std::min(first, presentation);
    last = std::max(last, presentation + std::max<std::int64_t>(duration, 0));
  }
};

class MovieIndex {
 public:
  explicit MovieIndex(const Mp4BoxReader& file) : file_(file) {}

  void readMovie(const Mp4Box& moov) {
    std::uint64_t movieTimescale = 0;
    for (const auto& box : file_.children(moov)) {
      if (box.type == "mvhd") {
        Mp4Fields mvhd(file_.payload(box).value_or(""));
        mvhd.skip(mvhd.u(1) == 1 ? 3 + 16 : 3 + 8);
        movieTimescale = mvhd.u(4);
      } else if (box.type == "trak") {
        readTrack(box, movieTimescale);
      } else if (box.type == "mvex") {
        for (const auto& trex : file_.children(box)) {
          if (trex.type != "trex") continue;
          Mp4Fields fields(file_.payload(trex).value_or(""));
          fields.skip(4);
          const auto id = static_cast<std::uint32_t>(fields.u(4));
          fields.skip(4);
          const auto duration = static_cast<std::uint32_t>(fields.u(4));
          const auto size = static_cast<std::uint32_t>(fields.u(4));
          if (auto found = tracks_.find(id); found != tracks_.end()) {
            found->second.defaultDuration = duration;
            found->second.defaultSize = size;
          }
        }
      }
    }
  }

  void readFragment(const Mp4Box& moof) {
    std::uint64_t implicitBase = moof.offset;
    for (const auto& traf : file_.children(moof)) {
      if (traf.type == "traf") implicitBase = readTrackFragment(moof, traf, implicitBase);
    }
  }

  double seconds() const {
    double start = std::numeric_limits<double>::infinity();
    double end = -std::numeric_limits<double>::infinity();
    for (const auto& [id, track] : tracks_) {
      if (track.timescale == 0 || track.last < track.first) continue;
      const auto toSeconds = [&](std::int64_t t) {
        return static_cast<double>(t - track.editStart) / static_cast<double>(track.timescale);
      };
      start = std::min(start, toSeconds(track.first));
      const double trackEnd = toSeconds(track.last);
      end = std::max(end, track.editSeconds ? std::min(trackEnd, *track.editSeconds) : trackEnd);
    }
    // Presentation begins at zero: a sample that starts earlier (audio priming, or the
    // part of a trimmed file's first sample that its edit list skips) only plays from there.
    const double duration = end - std::max(start, 0.0);
    return std::isfinite(duration) && duration > 0 ? duration : 0;
  }

 private:
  void readTrack(const Mp4Box& trak, std::uint64_t movieTimescale) {
    std::uint32_t id = 0;
    Track track;
    std::optional<Mp4Box> stbl;
    bool media = false;
    for (const auto& box : file_.children(trak)) {
      if (box.type == "tkhd") {
        Mp4Fields tkhd(file_.payload(box).value_or(""));
        tkhd.skip(tkhd.u(1) == 1 ? 3 + 16 : 3 + 8);
        id = static_cast<std::uint32_t>(tkhd.u(4));
      } else if (box.type == "edts") {
        if (auto elst = file_.child(box, "elst")) readEdits(*elst, movieTimescale, track);
      } else if (box.type == "mdia") {
        for (const auto& part : file_.children(box)) {
          if (part.type == "mdhd") {
            Mp4Fields mdhd(file_.payload(part).value_or(""));
            mdhd.skip(mdhd.u(1) == 1 ? 3 + 16 : 3 + 8);
            track.timescale = mdhd.u(4);
          } else if (part.type == "hdlr") {
            const auto handler = file_.payload(part).value_or("").substr(8, 4);
            media = handler == "vide" || handler == "soun";
          } else if (part.type == "minf") {
            stbl = file_.child(part, "stbl");
          }
        }
      }
    }
    if (!media || id == 0) return;
    if (stbl) readSampleTable(*stbl, track);
    tracks_[id] = track;
  }

  void readEdits(const Mp4Box& elst, std::uint64_t movieTimescale, Track& track) {
    Mp4Fields edits(file_.payload(elst).value_or(""));
    const bool wide = edits.u(1) == 1;
    edits.skip(3);
    const auto count = edits.u(4);
    for (std::uint64_t i = 0; i < count && !edits.overrun(); ++i) {
      const auto duration = edits.u(wide ? 8 : 4);
      const auto mediaTime = static_cast<std::int64_t>(wide ? edits.u(8) : static_cast<std::int32_t>(edits.u(4)));
      edits.skip(4);
      if (mediaTime < 0) continue;  // an empty edit: a pause before the track starts
      track.editStart = mediaTime;
      // Fragmented movies state 0: the edit runs to the end of whatever fragments follow.
      if (duration > 0 && movieTimescale > 0) track.editSeconds = static_cast<double>(duration) / movieTimescale;
      return;
    }
  }

  // The samples a regular MP4 lists in its index, in decode order, up to the first one
  // whose bytes lie past the end of the file.
  void readSampleTable(const Mp4Box& stbl, Track& track) {
    std::string stts, stsz, stsc, stco;
    bool wideOffsets = false;
    for (const auto& box : file_.children(stbl)) {
      if (box.type == "stts") stts = file_.payload(box).value_or("");
      if (box.type == "stsz") stsz = file_.payload(box).value_or("");
      if (box.type == "stsc") stsc = file_.payload(box).value_or("");
      if (box.type == "stco" || box.type == "co64") {
        stco = file_.payload(box).value_or("");
        wideOffsets = box.type == "co64";
      }
    }
    Mp4Fields times(std::move(stts)), sizes(std::move(stsz)), chunksToSamples(std::move(stsc)), chunks(std::move(stco));
    times.skip(4);
    sizes.skip(4);
    chunksToSamples.skip(4);
    chunks.skip(4);
    std::uint64_t timeEntries = times.u(4), runLeft = 0, delta = 0;
    const auto fixedSize = sizes.u(4);
    const auto sampleCount = std::min(sizes.u(4), kMaxSamplesPerTable);
    auto stscEntries = chunksToSamples.u(4);
    const auto chunkCount = chunks.u(4);
    // Each stsc entry: the first chunk of a run, its samples per chunk, a description index.
    const auto nextRun = [&]() -> std::uint64_t {
      if (stscEntries == 0) return 0;
      --stscEntries;
      return chunksToSamples.u(4);
    };
    std::uint64_t nextRunChunk = nextRun(), samplesPerChunk = 0;
    std::uint64_t sample = 0;
    std::int64_t decodeTime = 0;
    for (std::uint64_t chunk = 1; chunk <= chunkCount && sample < sampleCount && !track.cutOff; ++chunk) {
      while (nextRunChunk != 0 && chunk >= nextRunChunk) {
        samplesPerChunk = chunksToSamples.u(4);
        chunksToSamples.skip(4);
        nextRunChunk = nextRun();
      }
      auto position = chunks.u(wideOffsets ? 8 : 4);
      if (chunks.overrun() || chunksToSamples.overrun()) break;
      for (std::uint64_t i = 0; i < samplesPerChunk && sample < sampleCount; ++i, ++sample) {
        while (runLeft == 0 && timeEntries > 0 && !times.overrun()) {
          --timeEntries;
          runLeft = times.u(4);
          delta = times.u(4);
        }
        const auto size = fixedSize != 0 ? fixedSize : sizes.u(4);
        if (runLeft == 0 || position + size > file_.fileSize() || times.overrun() || sizes.overrun()) {
          track.cutOff = true;
          break;
        }
        --runLeft;
        track.addSample(decodeTime, static_cast<std::int64_t>(delta));
        decodeTime += static_cast<std::int64_t>(delta);
        position += size;
      }
    }
    track.nextDecodeTime = decodeTime;
  }

  // Returns where the next track fragment's data begins when it doesn't say.
  std::uint64_t readTrackFragment(const Mp4Box& moof, const Mp4Box& traf, std::uint64_t implicitBase) {
    Track* track = nullptr;
    std::uint64_t base = implicitBase;
    std::uint32_t defaultDuration = 0, defaultSize = 0;
    std::uint64_t position = implicitBase;
    for (const auto& box : file_.children(traf)) {
      Mp4Fields fields(file_.payload(box).value_or(""));
      if (box.type == "tfhd") {
        fields.skip(1);
        const auto flags = fields.u(3);
        auto found = tracks_.find(static_cast<std::uint32_t>(fields.u(4)));
        if (found == tracks_.end()) return implicitBase;
        track = &found->second;
        defaultDuration = track->defaultDuration;
        defaultSize = track->defaultSize;
        if (flags & 0x1) base = fields.u(8);
        else if (flags & 0x20000) base = moof.offset;
        if (flags & 0x2) fields.skip(4);
        if (flags & 0x8) defaultDuration = static_cast<std::uint32_t>(fields.u(4));
        if (flags & 0x10) defaultSize = static_cast<std::uint32_t>(fields.u(4));
        position = base;
      } else if (box.type == "tfdt" && track != nullptr) {
        const bool wide = fields.u(1) == 1;
        fields.skip(3);
        track->nextDecodeTime = static_cast<std::int64_t>(fields.u(wide ? 8 : 4));
      } else if (box.type == "trun" && track != nullptr) {
        const bool signedOffsets = fields.u(1) == 1;
        const auto flags = fields.u(3);
        // Per-sample fields bound the count by the box's size; without them it is a claim.
        const int sampleBytes = 4 * (((flags & 0x100) != 0) + ((flags & 0x200) != 0) + ((flags & 0x400) != 0) + ((flags & 0x800) != 0));
        const auto count = std::min(fields.u(4), sampleBytes > 0 ? box.payloadSize() / static_cast<std::uint64_t>(sampleBytes) : kMaxSamplesPerTable);
        if (flags & 0x1) position = base + static_cast<std::uint64_t>(static_cast<std::int32_t>(fields.u(4)));
        if (flags & 0x4) fields.skip(4);
        for (std::uint64_t i = 0; i < count && !track->cutOff; ++i) {
          const auto duration = (flags & 0x100) ? fields.u(4) : defaultDuration;
          const auto size = (flags & 0x200) ? fields.u(4) : defaultSize;
          if (flags & 0x400) fields.skip(4);
          std::int64_t offset = 0;
          if (flags & 0x800) offset = signedOffsets ? static_cast<std::int32_t>(fields.u(4)) : static_cast<std::int64_t>(fields.u(4));
          if (fields.overrun() || position + size > file_.fileSize()) {
            track->cutOff = true;
            break;
          }
          track->addSample(track->nextDecodeTime + offset, static_cast<std::int64_t>(duration));
          track->nextDecodeTime += static_cast<std::int64_t>(duration);
          position += size;
        }
      }
    }
    return position;
  }

  const Mp4BoxReader& file_;
  std::map<std::uint32_t, Track> tracks_;
};

}  // namespace

double probeDuration(const std::filesystem::path& path) {
  const Mp4BoxReader file(path);
  if (!file.isOpen() || file.fileSize() == 0) return 0;
  MovieIndex index(file);
  bool sawMovie = false;
  // Top-level boxes only; media data is stepped over by its stated size.
  for (const auto& box : file.boxesBetween(0, file.fileSize())) {
    if (box.end() > file.fileSize()) break;  // cut off: its header may list missing samples
    if (box.type == "moov" && !sawMovie) {
      index.readMovie(box);
      sawMovie = true;
    } else if (box.type == "moof" && sawMovie) {
      index.readFragment(box);
    }
  }
  return index.seconds();
}

}  // namespace tolvane
