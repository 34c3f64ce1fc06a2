#include "app/capture/circular_camera_painter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "app/capture/pixel_rect.h"
#include "app/capture/pixel_vector.h"

namespace tolvane {

void CircularCameraPainter::paint(const VideoFrame& camera, Rect bubble, bool isMirrored, const VideoFrame& target) {
  const double diameter = bubble.width;
  if (!camera || !target || !(diameter > 0) || !std::isfinite(bubble.x) || !std::isfinite(bubble.y)) return;

  const int cameraWidth = camera.width();
  const int cameraHeight = camera.height();
  const double side = std::min(cameraWidth, cameraHeight);
  const double cropX = (cameraWidth - side) / 2;
  const double cropY = (cameraHeight - side) / 2;
  const double scale = side / diameter;  // camera pixels per bubble pixel

  const double left = std::floor(bubble.x);
  const double top = std::floor(bubble.y);
  const auto toInt = [](double value) { return static_cast<int>(std::clamp(value, -1e9, 1e9)); };
  const PixelRect area = PixelRect{toInt(left), toInt(top), toInt(std::ceil(bubble.x + diameter) - left),
                                   toInt(std::ceil(bubble.y + diameter) - top)}
                             .intersected({0, 0, target.width(), target.height()});
  if (area.isEmpty()) return;

  // Sample positions along one axis: pixel centre -> bubble coordinate -> camera pixel
  // centre, held inside the crop so that the edge pixels repeat rather than bleed.
  const auto sample = [scale](double bubbleCoordinate, double cropOrigin, int limit) {
    const double position = cropOrigin + bubbleCoordinate * scale - 0.5;
    return std::clamp(position, std::max(cropOrigin, 0.0), static_cast<double>(limit - 1));
  };

  const auto columns = static_cast<std::size_t>(area.width);
  columnLeft_.resize(columns);
  columnRight_.resize(columns);
  columnWeight_.resize(columns);
  for (std::size_t i = 0; i < columns; ++i) {
    double u = area.x + static_cast<double>(i) + 0.5 - bubble.x;
    if (isMirrored) u = diameter - u;
    const double x = sample(u, cropX, cameraWidth);
    const int x0 = static_cast<int>(x);
    columnLeft_[i] = x0 * 4;
    columnRight_[i] = std::min(x0 + 1, cameraWidth - 1) * 4;
    columnWeight_[i] = static_cast<float>(x - x0);
  }

  const double radius = diameter / 2;
  const double centreX = bubble.x + radius;
  const double centreY = bubble.y + radius;
  const double opaqueRadius = std::max(radius - kEdgeWidth, 0.0);
  const double opaqueSquared = opaqueRadius * opaqueRadius;
  const double radiusSquared = radius * radius;

  for (int py = area.y; py < area.maxY(); ++py) {
    const double dy = py + 0.5 - centreY;
    if (dy * dy >= radiusSquared) continue;
    // Only the columns whose centres fall inside the circle are visited; within them,
    // those inside the opaque disc skip the square root.
    const double halfChord = std::sqrt(radiusSquared - dy * dy);
    const int first = std::max(area.x, static_cast<int>(std::ceil(centreX - halfChord - 0.5)));
    const int last = std::min(area.maxX() - 1, static_cast<int>(std::floor(centreX + halfChord - 0.5)));
    if (first > last) continue;

    const double y = sample(py + 0.5 - bubble.y, cropY, cameraHeight);
    const int y0 = static_cast<int>(y);
    const auto rowWeight = static_cast<float>(y - y0);
    const std::uint8_t* upper = camera.row(y0);
    const std::uint8_t* lower = camera.row(std::min(y0 + 1, cameraHeight - 1));
    std::uint8_t* out = target.pixel(first, py);

    for (int px = first; px <= last; ++px, out += 4) {
      const auto i = static_cast<std::size_t>(px - area.x);
      const double dx = px + 0.5 - centreX;
      const double distanceSquared = dx * dx + dy * dy;
      if (distanceSquared >= radiusSquared) continue;
      // Opaque inside, a linear fade to transparent over the last kEdgeWidth pixels.
      const float coverage =
          distanceSquared <= opaqueSquared
              ? 1.0f
              : static_cast<float>(std::clamp((radius - std::sqrt(distanceSquared)) / kEdgeWidth, 0.0, 1.0));
      using namespace pixel_vector;
      const float wx = columnWeight_[i];
      const Float4 upperMix = mix(load(upper + columnLeft_[i]), load(upper + columnRight_[i]), wx);
      const Float4 lowerMix = mix(load(lower + columnLeft_[i]), load(lower + columnRight_[i]), wx);
      const Float4 source = mix(upperMix, lowerMix, rowWeight) * splat(coverage);
      // Premultiplied "over".
      store(source + load(out) * splat(1.0f - source[3] / 255.0f), out);
    }
  }
}

}  // namespace tolvane
