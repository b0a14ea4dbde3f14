// Fitting a picture into a box and resampling it to another size.
#pragma once

#include <cstdint>

#include "lumo/image.h"

namespace lumo {

// The size FitSize chose. `origin` is carried for callers and always 0.
struct FitResult {
  std::int64_t origin = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The largest srcW:srcH size that fits a boxW x boxH box. Nothing is clamped:
// a small source is scaled up, and a very thin one can give a side of 0.
void FitSize(std::int32_t boxW, std::int32_t boxH, std::int32_t srcW, std::int32_t srcH,
             FitResult& out);

// Fills every pixel of dst (sized by the caller) from src: nearest-pixel
// sampling when dst is a whole multiple of src in both directions, otherwise
// the alpha-weighted average of the source area under each destination pixel.
// Locks dst, then src. Always returns true.
bool Resample(CImage32& dst, CImage32& src);

}  // namespace lumo
