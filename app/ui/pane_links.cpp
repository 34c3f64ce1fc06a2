#include "app/ui/pane_links.h"

#include <QUrl>

#include "app/core/app_model.h"
#include "app/core/clipboard.h"
#include "app/core/desktop_opener.h"

namespace tolvane {

PaneLinks::PaneLinks(AppModel& model, QObject* parent) : QObject(parent), model_(model) {}

void PaneLinks::copy(const QString& url) {
  const QString link = url.trimmed();
  if (link.isEmpty()) return;
  model_.clipboard().setText(link);
}

void PaneLinks::open(const QString& url) {
  // A share URL comes from the service; a page is opened only when it is one, never a
  // local file or a command a malformed answer might smuggle in.
  const QUrl page(url.trimmed(), QUrl::StrictMode);
  if (!page.isValid() || (page.scheme() != QLatin1String("https") && page.scheme() != QLatin1String("http"))) return;
  model_.opener().openURL(page);
}

}  // namespace tolvane
