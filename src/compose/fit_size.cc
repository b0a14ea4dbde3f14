#include <cmath>
#include <limits>

#include "compose/resample.h"

namespace lumo {
namespace {

// Truncation toward zero that stays defined for every double: a quotient by
// zero or an out-of-range one saturates, and NaN (0 / 0) gives 0.
std::int32_t TruncToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

}  // namespace

void FitSize(std::int32_t boxW, std::int32_t boxH, std::int32_t srcW, std::int32_t srcH,
             FitResult& out) {
  const double r = srcH == 0 ? 1.0 : static_cast<double>(srcW) / static_cast<double>(srcH);
  const double rb = boxH == 0 ? 1.0 : static_cast<double>(boxW) / static_cast<double>(boxH);
  out.origin = 0;

  bool fitHeight;
  if (boxW >= boxH) {
    fitHeight = srcW >= srcH ? rb > r : true;
  } else {
    fitHeight = srcW >= srcH ? false : rb > r;
  }
  if (fitHeight) {
    out.width = TruncToInt32(static_cast<double>(boxH) * r);
    out.height = boxH;
  } else {
    out.width = boxW;
    out.height = TruncToInt32(static_cast<double>(boxW) / r);
  }
}

}  // namespace lumo
