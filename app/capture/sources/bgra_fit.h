#pragma once

#include <cstdint>

#include "kit/media/video_frame.h"

namespace tolvane {

// Copies a BGRX/BGRA picture into `destination`, scaled to fit inside it with its aspect
// ratio kept and centred (black bars fill the rest; same size is a plain copy). Every
// output pixel is made opaque, since X servers leave the fourth byte undefined.
void fitBGRA(const std::uint8_t* source, int sourceStride, int sourceWidth, int sourceHeight,
             const VideoFrame& destination);

}  // namespace tolvane
