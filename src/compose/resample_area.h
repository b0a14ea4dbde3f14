// Area averaging, the resampler's method for sizes that are not whole
// multiples. Internal to the resampler.
#pragma once

#include <cstdint>

#include "lumo/image.h"

namespace lumo::resample {

// Fills every pixel of dst from src with source steps stepX, stepY (16.16).
// Both images are locked by the caller and at least 1 x 1.
void AreaAverage(CImage32& dst, const CImage32& src, std::int64_t stepX, std::int64_t stepY);

}  // namespace lumo::resample
