#include "app/ui/format_duration.h"

#include <cmath>

namespace tolvane {

QString formatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return QStringLiteral("0:00");
  const auto total = static_cast<long long>(std::round(seconds));
  const long long hours = total / 3600;
  const long long minutes = (total % 3600) / 60;
  const long long secs = total % 60;
  if (total < 3600) return QString::asprintf("%lld:%02lld", total / 60, secs);
  return QString::asprintf("%lld:%02lld:%02lld", hours, minutes, secs);
}

}  // namespace tolvane
