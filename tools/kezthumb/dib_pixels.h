// Reading the thumbnail DIB back: GetObject/DIBSECTION on Windows, the
// platform's read-back of its heap sections elsewhere.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gdi.h"

namespace kezthumb {

// The pixels of a cx x cx 32-bit DIB section as PNG wants them: bytes R, G, B,
// A per pixel, top row first. `opaque` forces alpha to 255 (a WTSAT_RGB
// bitmap carries no alpha). False when the handle is not such a section.
bool DibToRgba(HBITMAP bitmap, int cx, bool opaque, std::vector<std::uint8_t>* rgba);

// The conversion on its own: `bits` holds cx x |height| pixels B, G, R, A,
// bottom row first when `bottomUp`.
void ConvertDibRows(const std::uint8_t* bits, int cx, bool bottomUp, bool opaque, std::uint8_t* rgba);

}  // namespace kezthumb
