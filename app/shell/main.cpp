// tolvane: the desktop application. One instance per user session: a second launch hands
// its request (show the window, or run `--action NAME`) to the running one and ends.
#include <QApplication>
#include <QQuickStyle>
#include <pthread.h>

#include <csignal>
#include <cstdio>

#include "app/shell/app_delegate.h"
#include "app/shell/application_service.h"
#include "app/shell/launch_options.h"
#include "kit/base/application_id.h"
#include "kit/base/signal_watcher.h"

namespace {

QStringList argumentList(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

void unblockTerminationSignals() {
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGHUP);
  pthread_sigmask(SIG_UNBLOCK, &mask, nullptr);
}

int printLine(std::FILE* stream, const QString& line, int status) {
  std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tolvane;

  // First, before any thread exists: every thread inherits the blocked signals, and the
  // event loop reads them from the watcher. It is never destroyed: restoring the mask at
  // the end would let a signal that came during the teardown kill the process after all.
  auto* signalWatcher = new SignalWatcher({SIGTERM, SIGINT, SIGHUP});
  // Programs we start (the browser, the file manager, a video player through xdg-open)
  // must not inherit the blocked signals, or they could no longer be terminated.
  pthread_atfork(nullptr, nullptr, &unblockTerminationSignals);

  // The answers that need no display: help, version, a mistyped action.
  const LaunchOptions early = LaunchOptions::parse(argumentList(argc, argv), /*ignoreUnknownOptions=*/true);
  if (!early.error.isEmpty()) return printLine(stderr, QStringLiteral("tolvane: ") + early.error, LaunchOptions::kUsageError);
  if (early.showHelp) return printLine(stdout, LaunchOptions::helpText(), 0);
  if (early.showVersion) return printLine(stdout, LaunchOptions::versionText(), 0);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tolvane"));
  QApplication::setDesktopFileName(QString::fromUtf8(kApplicationID.data(), static_cast<int>(kApplicationID.size())));
  QQuickStyle::setStyle(QStringLiteral("Basic"));
  // Closing the main window leaves Tolvane in the tray.
  QApplication::setQuitOnLastWindowClosed(false);

  // The toolkit has taken its own options now; what is left must all be ours.
  const LaunchOptions options = LaunchOptions::parse(QApplication::arguments(), /*ignoreUnknownOptions=*/false);
  if (!options.error.isEmpty()) {
    return printLine(stderr, QStringLiteral("tolvane: ") + options.error, LaunchOptions::kUsageError);
  }

  QString forwardError;
  const bool answered = ApplicationService::forwardToRunningInstance(options.action, &forwardError);
  // An instance that answered with an error, or holds the name without answering: a
  // second instance beside it would only compete for the recording.
  if (!forwardError.isEmpty()) return printLine(stderr, QStringLiteral("tolvane: ") + forwardError, 1);
  if (answered) return 0;

  AppDelegate delegate(*signalWatcher);
  delegate.launch();
  if (options.action) delegate.runActionWhenReady(*options.action);
  return QApplication::exec();
}
