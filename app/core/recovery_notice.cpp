#include "app/core/recovery_notice.h"

#include <QStringList>

namespace tolvane {

QString recoveryNoticeText(std::size_t recovered, std::size_t unreadable) {
  QStringList sentences;
  if (recovered > 0) {
    const bool one = recovered == 1;
    sentences << QStringLiteral("%1 recording%2 recovered after Tolvane closed unexpectedly — %3 uploading now.")
                     .arg(recovered)
                     .arg(one ? QString() : QStringLiteral("s"))
                     .arg(one ? QStringLiteral("it's") : QStringLiteral("they're"));
  }
  if (unreadable > 0) {
    // The same wording for any count: the sentence is about "the" file either way.
    sentences << QStringLiteral(
                     "%1 interrupted file couldn't be read automatically. It's kept in your local recordings.")
                     .arg(unreadable);
  }
  return sentences.join(QLatin1Char(' '));
}

}  // namespace tolvane
