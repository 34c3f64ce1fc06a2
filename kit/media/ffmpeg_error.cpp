#include "kit/media/ffmpeg_error.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "kit/base/log.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace tolvane {

std::string ffmpegErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
  return text;
}

void routeFFmpegLogs() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_callback([](void*, int level, const char* format, va_list args) {
      if (level > AV_LOG_WARNING) return;
      char line[1024];
      std::vsnprintf(line, sizeof line, format, args);
      std::string text(line);
      while (!text.empty() && text.back() == '\n') text.pop_back();
      static const Logger log{"ffmpeg"};
      log.debug("{}", text);
    });
  });
}

FFmpegError::FFmpegError(const std::string& action, int code)
    : std::runtime_error(action + " (" + ffmpegErrorText(code) + ")") {}

}  // namespace tolvane
