#include "app/shell/tray_icon_painter.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <array>

namespace tolvane {
namespace {

const QColor kBody(0xc4, 0xc4, 0xc4);
const QColor kRim(0x20, 0x20, 0x20, 190);

constexpr std::array<int, 7> kSizes = {16, 22, 24, 32, 44, 48, 64};

// The shape as one path, so the rim is stroked once around its whole outline (a ring
// drawn as two strokes would leave the rim's halves overlapping at small sizes).
QPainterPath glyph(double size, bool recording) {
  const QPointF centre(size / 2, size / 2);
  // Room on every side for the rim, which straddles the outline.
  const double outer = size / 2 - std::max(1.0, size / 16);
  const double thickness = std::max(2.5, size * 0.17);
  QPainterPath path;
  path.setFillRule(Qt::OddEvenFill);
  path.addEllipse(centre, outer, outer);
  path.addEllipse(centre, outer - thickness, outer - thickness);
  if (recording) {
    // Leaves a clear gap to the ring at 16 px, where the dot would otherwise merge.
    const double dot = (outer - thickness) * 0.62;
    path.addEllipse(centre, dot, dot);
  }
  return path;
}

}  // namespace

QImage TrayIconPainter::render(int size, bool recording) {
  size = std::clamp(size, 8, 512);
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPainterPath path = glyph(size, recording);
  painter.setPen(QPen(kRim, std::max(1.0, size / 22.0)));
  painter.setBrush(kBody);
  painter.drawPath(path);
  return image;
}

QIcon TrayIconPainter::icon(bool recording) {
  QIcon icon;
  for (int size : kSizes) icon.addPixmap(QPixmap::fromImage(render(size, recording)));
  return icon;
}

}  // namespace tolvane
