#pragma once

#include <QQuickAsyncImageProvider>
#include <QString>
#include <QThreadPool>
#include <filesystem>
#include <memory>
#include <stop_token>

namespace tolvane {

class HTTPPerforming;
class MovieIndex;
class RecordingVault;

// The "thumbnail" image provider: "image://thumbnail/local/<id>/<movie version>" is a
// frame of a recording on this computer, "image://thumbnail/remote/<percent-encoded URL>"
// the service's picture of a library item. Each is made or fetched once and kept in the
// user's cache folder (local ones keyed by the movie's version, so a trimmed movie gets a
// new picture and the old one is removed); never inside the recordings folder, which
// users browse. The version in a local address only makes it a new address for the
// views' image cache when the movie changes.
//
// Decoding and fetching run on the provider's own thread pools, so that a screenful of
// cards neither blocks the GUI thread nor queues ahead of the model's vault scans on
// Qt's global pool. Movies are decoded on one core less than the machine has: a list
// flicked through for the first time asks for a picture per row, and decoders on every
// core would take the GUI thread's time to draw the list. Fetches mostly wait on the
// network and get a pool of their own. A missing or broken movie, or a failed fetch,
// ends the request with an error (the Image's status is Error and the view shows its
// placeholder). The provider goes with the QML engine, and no job outlives it: what they
// use (the vault, the network, the image readers) may go right after.
class ThumbnailImageProvider final : public QQuickAsyncImageProvider {
 public:
  // `cacheDirectory` empty: $XDG_CACHE_HOME/tolvane/thumbnails.
  ThumbnailImageProvider(std::shared_ptr<RecordingVault> vault, std::shared_ptr<HTTPPerforming> http,
                         std::filesystem::path cacheDirectory = {});
  ~ThumbnailImageProvider() override;

  QQuickImageResponse* requestImageResponse(const QString& id, const QSize& requestedSize) override;

  const std::filesystem::path& cacheDirectory() const { return cacheDirectory_; }

 private:
  std::shared_ptr<RecordingVault> vault_;
  std::shared_ptr<HTTPPerforming> http_;
  std::filesystem::path cacheDirectory_;
  // Where the recordings' movies are, shared by the jobs.
  std::shared_ptr<MovieIndex> movieIndex_;
  std::stop_source stop_;
  QThreadPool decodePool_;
  QThreadPool fetchPool_;
};

}  // namespace tolvane
