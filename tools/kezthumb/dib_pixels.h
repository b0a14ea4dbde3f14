// Reading the thumbnail DIB back: GetObject/DIBSECTION on Windows, the
// platform's read-back of its heap sections elsewhere.
#pragma once

#include <cstdint>

#include "platform/gdi.h"

namespace kezthumb {

// The pixels of a cx x cx 32-bit DIB section turned, where they lie, into
// what PNG wants: bytes R, G, B, A per pixel, top row first. `opaque` forces
// alpha to 255 (a WTSAT_RGB bitmap carries no alpha). The section's memory,
// which stays the caller's; null when the handle is not such a section.
std::uint8_t* DibToRgba(HBITMAP bitmap, int cx, bool opaque);

// The turning on its own: `bits` holds cx x cx pixels B, G, R, A, bottom
// row first when `bottomUp`.
void ConvertDibInPlace(std::uint8_t* bits, int cx, bool bottomUp, bool opaque);

}  // namespace kezthumb
