#include "compose/resample.h"

#include <cstring>
#include <memory>

#include "compose/resample_area.h"

namespace lumo {
namespace {

// Whole images: the sizes equal and both stored without padding, one copy
// of the whole (row-sized copies between equally aligned rows run at half
// the speed); else row by row, a row that repeats the one before copied.
void PointSample(CImage32& dst, const CImage32& src) {
  const std::int32_t sw = src.m_width, sh = src.m_height, dw = dst.m_width, dh = dst.m_height;
  if (dw == sw && dh == sh && dst.m_pixels != nullptr && src.m_pixels != nullptr) {
    std::memmove(dst.m_pixels, src.m_pixels, sizeof(std::uint32_t) * static_cast<std::size_t>(dw) * sh);
    return;
  }
  const std::unique_ptr<resample::DestinationRows> rows = resample::MakePointRows(dw, dh, sw, sh);
  resample::Span before;
  const std::uint32_t* prevOut = nullptr;
  for (std::int32_t j = 0; j < dh; ++j) {
    std::uint32_t* out = dst.RowAddress(j);
    if (out == nullptr) continue;
    const resample::Span rs = rows->RowsOf(j);
    const std::uint32_t* in = rs.count > 0 ? src.RowAddress(rs.first) : nullptr;
    if (in != nullptr && rs == before && prevOut != nullptr) {
      std::memmove(out, prevOut, sizeof(std::uint32_t) * static_cast<std::size_t>(dw));
    } else {
      rows->Fill(j, &in, out);
    }
    before = in != nullptr ? rs : resample::Span{};
    prevOut = out;
  }
}

}  // namespace

bool Resample(CImage32& dst, CImage32& src) {
  const std::int32_t sw = src.m_width, sh = src.m_height;
  const std::int32_t dw = dst.m_width, dh = dst.m_height;
  // An empty destination gets no writes; an empty source cannot be a CImage32.
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return true;

  ImageLock dstLock(&dst);
  ImageLock srcLock(&src);
  if (resample::PointSampled(sw, sh, dw, dh)) {
    PointSample(dst, src);
  } else {
    resample::AreaAverage(dst, src);
  }
  return true;
}

}  // namespace lumo
