#include "kit/media/fragmented_movie_header.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "kit/media/mp4_box_reader.h"

namespace tolvane {
namespace {

// A full box whose fields run version, flags, creation and modification times
// (32 or 64 bits by version), then — for tkhd — a track id and a reserved word, then a
// timescale (not in tkhd) and the duration.
struct DurationField {
  std::uint64_t offset = 0;
  int width = 4;
  std::uint64_t timescale = 0;
};

std::optional<DurationField> durationField(const Mp4BoxReader& file, const Mp4Box& box, bool hasTimescale) {
  const auto head = file.read(box.payloadOffset(), 4 + 16 + 8 + 4);
  if (!head) return std::nullopt;
  Mp4Fields fields(*head);
  const int width = fields.u(1) == 1 ? 8 : 4;
  fields.skip(3 + 2 * static_cast<std::uint64_t>(width));
  DurationField field;
  field.width = width;
  if (hasTimescale) {
    field.timescale = fields.u(4);
  } else {
    fields.skip(8);
  }
  field.offset = box.payloadOffset() + fields.position();
  return field;
}

bool stamp(const Mp4BoxReader& file, const std::optional<DurationField>& field, double seconds, std::uint64_t timescale) {
  if (!field || timescale == 0) return false;
  const double units = std::round(seconds * static_cast<double>(timescale));
  const double limit = field->width == 8 ? 9e18 : static_cast<double>(std::numeric_limits<std::uint32_t>::max());
  if (!(units >= 0) || units > limit) return false;
  return file.write(field->offset, bigEndian(static_cast<std::uint64_t>(units), field->width));
}

}  // namespace

bool finishFragmentedMovieHeader(const std::filesystem::path& movie,
                                 const std::vector<std::optional<double>>& trackSeconds) {
  const Mp4BoxReader file(movie, true);
  if (!file.isOpen()) return false;
  std::optional<Mp4Box> moov;
  for (const auto& box : file.boxesBetween(0, file.fileSize())) {
    if (box.type == "moov") moov = box;
    if (moov || box.type == "moof") break;
  }
  if (!moov) return false;
  std::optional<DurationField> movieHeader;
  std::size_t track = 0;
  bool stamped = true;
  double longest = 0;
  for (const auto& box : file.children(*moov)) {
    if (box.type == "mvhd") movieHeader = durationField(file, box, true);
    if (box.type != "trak" || track >= trackSeconds.size() || !movieHeader) continue;
    const auto& length = trackSeconds[track++];
    if (!length) {
      stamped &= file.write(box.offset + 4, "free");
      continue;
    }
    const double seconds = *length;
    longest = std::max(longest, seconds);
    for (const auto& part : file.children(box)) {
      if (part.type == "tkhd") stamped &= stamp(file, durationField(file, part, false), seconds, movieHeader->timescale);
      if (part.type != "mdia") continue;
      if (auto mdhd = file.child(part, "mdhd")) {
        const auto field = durationField(file, *mdhd, true);
        stamped &= stamp(file, field, seconds, field ? field->timescale : 0);
      }
    }
  }
  return stamp(file, movieHeader, longest, movieHeader ? movieHeader->timescale : 0) && stamped;
}

}  // namespace tolvane
