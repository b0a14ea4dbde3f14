// Area averaging, the resampler's method for sizes that are not whole
// multiples: one destination row at a time from the source rows under it,
// so that a whole picture and one arriving row by row share every sum.
// Internal to the resampler.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lumo/image.h"

namespace lumo::resample {

// 16.16 source step per destination pixel. Kept in 64 bits: a factor of
// 32 768 or more would not fit an int32.
std::int64_t Step(std::int32_t s, std::int32_t d);

// Whether a sw x sh source goes to dw x dh by nearest-pixel sampling (a
// whole multiple in both directions) rather than by area averaging.
bool PointSampled(std::int32_t sw, std::int32_t sh, std::int32_t dw, std::int32_t dh);

// The source columns (or rows) under one destination column (or row): count
// pixels from first, the first weighing wFirst and the last wLast on the
// 0..255 scale, the ones between 255. With count 1 the one pixel weighs
// wFirst. count is 0 only when the footprint starts past the source, which
// the steps rule out; such a pixel stays transparent black.
struct Span {
  std::int32_t first = 0;
  std::int32_t count = 0;
  std::uint32_t wFirst = 0;
  std::uint32_t wLast = 0;
  bool operator==(const Span&) const = default;
};

// How each destination row is made from the source rows under it.
class DestinationRows {
 public:
  virtual ~DestinationRows() = default;
  // The source rows under destination row j. Two rows with equal spans are
  // the same pixels.
  virtual Span RowsOf(std::int32_t j) const = 0;
  // The most source rows under any destination row.
  virtual std::int32_t Tallest() const = 0;
  // Destination row j (dw pixels at out) from rows[t], source row
  // RowsOf(j).first + t, for every t < RowsOf(j).count. A source row passed
  // again at the same address must have kept its pixels: what a row loop
  // made of it may be reused.
  virtual void Fill(std::int32_t j, const std::uint32_t* const* rows, std::uint32_t* out) = 0;
};

// Nearest-pixel sampling, for sizes PointSampled accepts: each destination
// row is one source row, its columns picked.
std::unique_ptr<DestinationRows> MakePointRows(std::int32_t dw, std::int32_t dh, std::int32_t sw, std::int32_t sh);

// The footprints and the row loop chosen for one source and destination size.
class AreaRows final : public DestinationRows {
 public:
  AreaRows(std::int32_t dw, std::int32_t dh, std::int32_t sw, std::int32_t sh);
  ~AreaRows() override;
  AreaRows(const AreaRows&) = delete;
  AreaRows& operator=(const AreaRows&) = delete;

  Span RowsOf(std::int32_t j) const override;
  std::int32_t Tallest() const override { return m_tallest; }
  // Some footprint lies past the source (never for steps from Step).
  bool AnyEmpty() const { return m_empty; }
  void Fill(std::int32_t j, const std::uint32_t* const* rows, std::uint32_t* out) override;

  // One of the row loops: every destination pixel of a row from its
  // vertical footprint and the source rows under it.
  struct Method {
    virtual ~Method() = default;
    virtual void Row(std::uint32_t* out, const Span& rs, const std::uint32_t* const* rows) = 0;
  };

 private:
  std::int32_t m_sh;
  std::int64_t m_stepY;
  std::vector<Span> m_columns;
  std::int32_t m_tallest = 0;
  bool m_empty = false;
  std::unique_ptr<Method> m_method;
};

// Fills every pixel of dst from src. Both images are locked by the caller
// and at least 1 x 1.
void AreaAverage(CImage32& dst, const CImage32& src);

}  // namespace lumo::resample
