#include "app/ui/ui_format.h"

// The kit's helpers, which the command line prints with too (app/ui's formatDuration
// gives the same text as a QString for C++ callers; both headers together would clash).
#include "kit/base/format.h"

namespace tolvane {

QString UiFormat::duration(double seconds) const { return QString::fromStdString(formatDuration(seconds)); }

QString UiFormat::byteCount(qint64 bytes) const { return QString::fromStdString(formatByteCount(bytes)); }

}  // namespace tolvane
