// Nearest-pixel sampling, for whole multiples: each destination row is one
// source row with its columns picked, so a whole picture and one arriving
// row by row share it.
#include <algorithm>
#include <cstring>
#include <vector>

#include "compose/resample_area.h"

namespace lumo::resample {
namespace {

class PointRows final : public DestinationRows {
 public:
  PointRows(std::int32_t dw, std::int32_t dh, std::int32_t sw, std::int32_t sh)
      : m_sh(sh), m_stepY(Step(sh, dh)), m_columns(static_cast<std::size_t>(dw)) {
    const std::int64_t stepX = Step(sw, dw);
    for (std::int32_t k = 0; k < dw; ++k) {
      const std::int64_t sx = (stepX / 2 + k * stepX) >> 16;
      m_columns[k] = sx < sw ? static_cast<std::int32_t>(sx) : -1;  // -1: outside the source
      m_identity = m_identity && sx == k;
    }
  }

  // A row past the source (never for whole multiples) has no rows under it.
  Span RowsOf(std::int32_t j) const override {
    const std::int64_t sy = (m_stepY / 2 + j * m_stepY) >> 16;
    if (sy >= m_sh) return {};
    return {static_cast<std::int32_t>(sy), 1, 255, 255};
  }
  std::int32_t Tallest() const override { return 1; }

  // A source row without an address reads as transparent black.
  void Fill(std::int32_t j, const std::uint32_t* const* rows, std::uint32_t* out) override {
    const std::uint32_t* in = RowsOf(j).count > 0 ? rows[0] : nullptr;
    const std::size_t dw = m_columns.size();
    if (in == nullptr) {
      std::fill_n(out, dw, 0u);
    } else if (m_identity) {
      std::memmove(out, in, dw * sizeof(std::uint32_t));
    } else {
      const std::int32_t* columns = m_columns.data();
      for (std::size_t k = 0; k < dw; ++k) out[k] = columns[k] >= 0 ? in[columns[k]] : 0;
    }
  }

 private:
  std::int32_t m_sh;
  std::int64_t m_stepY;
  std::vector<std::int32_t> m_columns;
  bool m_identity = true;
};

}  // namespace

std::unique_ptr<DestinationRows> MakePointRows(std::int32_t dw, std::int32_t dh, std::int32_t sw, std::int32_t sh) {
  return std::make_unique<PointRows>(dw, dh, sw, sh);
}

}  // namespace lumo::resample
