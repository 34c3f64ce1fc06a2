#include "app/ui/thumbnail_image_provider.h"

#include <QCryptographicHash>
#include <QImage>
#include <QPointer>
#include <QRunnable>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <unordered_map>

#include "app/core/movie_version.h"
#include "kit/base/log.h"
#include "kit/media/thumbnail_maker.h"
#include "kit/net/http_performing.h"
#include "kit/vault/recording_vault.h"

namespace tolvane {
namespace {

const Logger& log() {
  static const Logger logger{"thumbnails"};
  return logger;
}

constexpr double kFetchTimeoutSec = 20;
// Enough fetches at once to hide the network's latency behind each other.
constexpr int kFetchThreads = 3;

// What a job produced: the picture, or why there is none.
struct Outcome {
  QImage image;
  QString error;
};

void writeAtomically(const std::filesystem::path& destination, const std::string& bytes) {
  std::random_device random;
  const auto temporary =
      destination.parent_path() / ("." + destination.filename().string() + "." + std::to_string(random()) + ".part");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) return;  // a cache that cannot be written only costs a fetch next time
  }
  std::error_code ignored;
  std::filesystem::rename(temporary, destination, ignored);
  if (ignored) std::filesystem::remove(temporary, ignored);
}

QImage loaded(const std::filesystem::path& file) {
  QImage image;
  image.load(QString::fromStdString(file.string()), "JPEG");
  if (image.isNull()) image.load(QString::fromStdString(file.string()));
  return image;
}

// Pictures of this recording's earlier movies: a trimmed recording has no use for them.
void removeEarlierVersions(const std::filesystem::path& cache, const std::string& id,
                           const std::filesystem::path& current) {
  std::error_code error;
  const std::string prefix = id + "-";
  for (std::filesystem::directory_iterator entry(cache, error), end; !error && entry != end; entry.increment(error)) {
    const auto& path = entry->path();
    if (path != current && path.extension() == ".jpg" && path.filename().string().starts_with(prefix)) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  }
}

}  // namespace

// Where each recording's movie is, from one vault scan shared by every request: asking
// the vault for one item reads every manifest, and a list of a thousand rows would read
// a million. A recording not in the index, or whose movie is not the version the
// address names (it was trimmed since), rescans.
class MovieIndex {
 public:
  std::optional<std::filesystem::path> movie(RecordingVault& vault, const std::string& id,
                                             const std::string& wantedVersion) {
    std::lock_guard lock(mutex_);
    auto found = movies_.find(id);
    const bool current =
        found != movies_.end() && (wantedVersion.empty() ? std::filesystem::exists(found->second)
                                                         : movieVersion(found->second) == wantedVersion);
    if (!current) {
      movies_.clear();
      for (const auto& item : vault.all()) movies_.emplace(item.id(), item.videoPath());
      found = movies_.find(id);
    }
    if (found == movies_.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::filesystem::path> movies_;
};

namespace {

Outcome localThumbnail(MovieIndex& index, RecordingVault& vault, const std::filesystem::path& cache,
                       const QString& id, const std::string& wantedVersion, std::stop_token stop) {
  const std::string recording = id.toStdString();
  const auto movie = index.movie(vault, recording, wantedVersion);
  if (!movie) return {{}, QStringLiteral("No recording %1").arg(id)};
  // Keyed by the movie as it is now, not by the version the address was made with: an
  // address from before a trim still gets the trimmed movie's picture.
  const std::string version = movieVersion(*movie);
  if (version == "missing") return {{}, QStringLiteral("The recording's movie is missing")};
  const auto file = cache / (recording + "-" + version + ".jpg");
  if (!std::filesystem::exists(file)) {
    // Decoding a frame is the slow part: a provider going away does not wait for it.
    if (stop.stop_requested()) return {{}, QStringLiteral("Cancelled")};
    std::error_code error;
    std::filesystem::create_directories(cache, error);
    try {
      ThumbnailMaker::writeJpeg(*movie, file);
    } catch (const std::exception& failure) {
      log().info("no thumbnail for {}: {}", recording, failure.what());
      return {{}, QString::fromUtf8(failure.what())};
    }
    removeEarlierVersions(cache, recording, file);
  }
  QImage image = loaded(file);
  if (image.isNull()) return {{}, QStringLiteral("The thumbnail could not be read")};
  return {image, {}};
}

Outcome remoteThumbnail(HTTPPerforming& http, const std::filesystem::path& cache, const QString& url,
                        std::stop_token stop) {
  const QByteArray key = QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha256).toHex();
  const auto file = cache / ("remote-" + key.left(32).toStdString() + ".jpg");
  if (std::filesystem::exists(file)) {
    QImage image = loaded(file);
    if (!image.isNull()) return {image, {}};
  }
  const QUrl parsed(url);
  if (!parsed.isValid() || (parsed.scheme() != QLatin1String("http") && parsed.scheme() != QLatin1String("https"))) {
    return {{}, QStringLiteral("Not a picture address: %1").arg(url)};
  }
  HTTPRequest request;
  request.url = url.toStdString();
  request.timeoutSec = kFetchTimeoutSec;
  HTTPResponse response;
  try {
    response = http.data(request, stop);
  } catch (const std::exception& failure) {
    return {{}, QString::fromUtf8(failure.what())};
  }
  if (response.status != 200) return {{}, QStringLiteral("The picture's server answered %1").arg(response.status)};
  QImage image;
  // Any format Qt reads (the service may still send its SVG placeholder).
  if (!image.loadFromData(QByteArray::fromStdString(response.body))) {
    return {{}, QStringLiteral("The picture could not be read")};
  }
  std::error_code error;
  std::filesystem::create_directories(cache, error);
  if (!error) writeAtomically(file, response.body);
  return {image, {}};
}

// Runs on the pool and hands its outcome over by a queued signal: the response may be
// gone by then (a delegate scrolled away), which drops the connection instead of
// touching a deleted object. Every job answers its response exactly once, also when it
// never runs: a cancelled response still has to finish, for the engine to let go of it.
class ThumbnailJob final : public QObject, public QRunnable {
  Q_OBJECT

 public:
  ThumbnailJob(std::function<Outcome()> work, QSize requestedSize, std::shared_ptr<std::atomic_bool> cancelled,
               std::stop_token stop)
      : work_(std::move(work)), requestedSize_(requestedSize), cancelled_(std::move(cancelled)), stop_(std::move(stop)) {}

  // Taken off the queue unrun, by the provider going away.
  ~ThumbnailJob() override {
    if (!answered_) emit done({}, QStringLiteral("Cancelled"));
  }

  void run() override {
    answered_ = true;
    // A row scrolled past before its turn came: a list flicked from top to bottom
    // queues a picture for every row, and the few in sight would wait behind them all.
    // Nor does a provider going away wait for pictures nobody will see.
    if (cancelled_->load() || stop_.stop_requested()) {
      emit done({}, QStringLiteral("Cancelled"));
      return;
    }
    Outcome outcome;
    try {
      outcome = work_();
    } catch (const std::exception& failure) {
      outcome.error = QString::fromUtf8(failure.what());
    }
    if (!outcome.image.isNull() && requestedSize_.isValid() && !requestedSize_.isEmpty()) {
      outcome.image = outcome.image.scaled(requestedSize_, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    emit done(outcome.image, outcome.error);
  }

 signals:
  void done(const QImage& image, const QString& error);

 private:
  std::function<Outcome()> work_;
  QSize requestedSize_;
  std::shared_ptr<std::atomic_bool> cancelled_;
  std::stop_token stop_;
  bool answered_ = false;
};

class ThumbnailResponse final : public QQuickImageResponse {
  Q_OBJECT

 public:
  void finish(const QImage& image, const QString& error) {
    image_ = image;
    error_ = error;
    emit finished();
  }

  QQuickTextureFactory* textureFactory() const override {
    return image_.isNull() ? nullptr : QQuickTextureFactory::textureFactoryForImage(image_);
  }
  QString errorString() const override { return error_; }
  // The view no longer wants the picture (its delegate went away).
  void cancel() override { cancelled_->store(true); }
  const std::shared_ptr<std::atomic_bool>& cancelled() const { return cancelled_; }

 private:
  QImage image_;
  QString error_;
  std::shared_ptr<std::atomic_bool> cancelled_ = std::make_shared<std::atomic_bool>(false);
};

}  // namespace

ThumbnailImageProvider::ThumbnailImageProvider(std::shared_ptr<RecordingVault> vault,
                                               std::shared_ptr<HTTPPerforming> http,
                                               std::filesystem::path cacheDirectory)
    : vault_(std::move(vault)),
      http_(std::move(http)),
      cacheDirectory_(std::move(cacheDirectory)),
      movieIndex_(std::make_shared<MovieIndex>()) {
  if (cacheDirectory_.empty()) {
    cacheDirectory_ =
        std::filesystem::path(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation).toStdString()) /
        "tolvane" / "thumbnails";
  }
  decodePool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
  fetchPool_.setMaxThreadCount(kFetchThreads);
}

ThumbnailImageProvider::~ThumbnailImageProvider() {
  // The jobs use the vault, the network and the image readers; none may be left running
  // once the provider is gone, which the engine's teardown takes for the end of them.
  // Fetches in flight end at once and jobs about to decode give up rather than holding
  // up the exit; queued ones are dropped (answering their responses as cancelled); the
  // pool is waited on for those already reading a picture.
  stop_.request_stop();
  for (QThreadPool* pool : {&decodePool_, &fetchPool_}) {
    pool->clear();
    pool->waitForDone();
  }
}

QQuickImageResponse* ThumbnailImageProvider::requestImageResponse(const QString& id, const QSize& requestedSize) {
  auto* response = new ThumbnailResponse;
  const qsizetype slash = id.indexOf(QLatin1Char('/'));
  const QString kind = id.left(slash);
  QString rest = id.mid(slash + 1);
  // A local picture's address ends in the movie's version after one more slash.
  std::string version;
  if (kind == QLatin1String("local")) {
    version = QUrl::fromPercentEncoding(rest.section(QLatin1Char('/'), 1).toUtf8()).toStdString();
    rest = rest.section(QLatin1Char('/'), 0, 0);
  }
  rest = QUrl::fromPercentEncoding(rest.toUtf8());
  std::function<Outcome()> work;
  QThreadPool* pool = &fetchPool_;
  if (slash > 0 && kind == QLatin1String("local") && vault_) {
    pool = &decodePool_;
    work = [index = movieIndex_, vault = vault_, cache = cacheDirectory_, rest, version, stop = stop_.get_token()] {
      return localThumbnail(*index, *vault, cache, rest, version, stop);
    };
  } else if (slash > 0 && kind == QLatin1String("remote") && http_) {
    work = [http = http_, cache = cacheDirectory_, rest, stop = stop_.get_token()] {
      return remoteThumbnail(*http, cache, rest, stop);
    };
  }
  if (!work || rest.isEmpty()) {
    // Finished from the reader's event loop, after the caller has connected.
    QMetaObject::invokeMethod(
        response, [response, id] { response->finish({}, QStringLiteral("Unknown thumbnail %1").arg(id)); },
        Qt::QueuedConnection);
    return response;
  }
  auto* job = new ThumbnailJob(std::move(work), requestedSize, response->cancelled(), stop_.get_token());
  QObject::connect(job, &ThumbnailJob::done, response, &ThumbnailResponse::finish, Qt::QueuedConnection);
  // The job is a QObject made here but finished on the pool; it deletes itself.
  job->setAutoDelete(true);
  pool->start(job);
  return response;
}

}  // namespace tolvane

#include "thumbnail_image_provider.moc"
