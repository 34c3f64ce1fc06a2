#include "app/ui/ui_format.h"

// The kit's helpers, which the command line prints with too.
#include "kit/base/format.h"

namespace tolvane {

QString UiFormat::duration(double seconds) const { return QString::fromStdString(formatDuration(seconds)); }

QString UiFormat::byteCount(qint64 bytes) const { return QString::fromStdString(formatByteCount(bytes)); }

}  // namespace tolvane
