// Drawing the top-left part of one image onto another through a row blender.
#pragma once

#include <cstdint>

#include "compose/blend.h"
#include "lumo/image.h"

namespace lumo {

// The working rectangle of a draw: a width x height area whose top-left
// source pixel is (srcX, srcY) and whose top-left destination pixel is
// (dstX, dstY).
struct DrawRect {
  std::int32_t srcX = 0;
  std::int32_t srcY = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t dstX = 0;
  std::int32_t dstY = 0;
};

// Clips r in place against a srcW x srcH source and a dstW x dstH
// destination; false when nothing is left to draw. Negative and positive
// source origins are both handled.
bool ClipDrawRect(std::int32_t srcW, std::int32_t srcH, std::int32_t dstW, std::int32_t dstH,
                  DrawRect& r);

// Draws the width x height area at the source's top-left corner onto dst at
// (dstX, dstY) with the row function params selects. False, with nothing
// locked or touched, when the clipped area is empty.
bool DrawImage(CImage32& dst, const DrawParams& params, std::int32_t dstX, std::int32_t dstY,
               CImage32& src, std::int32_t width, std::int32_t height);

}  // namespace lumo
