#include "kit/vault/trimmer.h"

#include <system_error>

#include "kit/base/log.h"
#include "kit/media/media_probe.h"
#include "kit/media/movie_remuxer.h"

namespace tolvane {
namespace {

constexpr double kShortestKeptSeconds = 0.5;

}  // namespace

Trimmer::Result Trimmer::trim(const VaultItem& item, double start, double end) {
  // A hair of tolerance so that a range of exactly half a second survives rounding.
  if (!(end - start >= kShortestKeptSeconds - 1e-9)) throw TrimError::rangeTooShort();
  const Logger log{"trim"};

  const auto source = item.videoPath();
  const auto output = item.directory / trimmedFileName;
  // The copy is made under a hidden name and moved into place only once it has been
  // measured, so trimming "recording-trimmed.mp4" again never destroys its source.
  std::string stagingName = ".";
  stagingName.append(trimmedFileName).append(".new");
  const auto staging = item.directory / stagingName;
  std::error_code ignored;
  if (output != source) std::filesystem::remove(output, ignored);

  // Stream copy cannot start inside a group of pictures. Rather than moving the start
  // back to the previous key frame (up to 2 s more than asked for), the copy starts
  // at that key frame and an edit list makes players begin presenting at `start`.
  RemuxOptions options;
  options.startSeconds = start;
  options.endSeconds = end;
  options.indexAtFront = true;
  try {
    MovieRemuxer::remux(source, staging, options);
  } catch (const MovieUnreadableError&) {
    throw TrimError::unreadable();
  } catch (const std::exception& e) {
    log.error("trim export failed: {}", e.what());
    throw TrimError::exportFailed(e.what());
  }

  const double duration = probeDuration(staging);
  if (duration <= 0) {
    std::filesystem::remove(staging, ignored);
    throw TrimError::exportFailed("the trimmed file wouldn't open");
  }
  std::error_code error;
  std::filesystem::rename(staging, output, error);
  if (error) {
    std::filesystem::remove(staging, ignored);
    const std::string reason = "couldn't move the trimmed file into place (" + error.message() + ")";
    log.error("trim export failed: {}", reason);
    throw TrimError::exportFailed(reason);
  }
  log.info("trimmed {} to {:.2f}s", item.id(), duration);
  return Result{trimmedFileName, duration};
}

}  // namespace tolvane
