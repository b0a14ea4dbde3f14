#include "compose/resample.h"

#include <cstring>
#include <vector>

namespace lumo {
namespace {

// A fully covered source pixel weighs 255 x 255.
constexpr std::uint32_t kFullWeight = 65025;

// 16.16 source step per destination pixel. Kept in 64 bits: a factor of
// 32 768 or more would not fit an int32.
std::int64_t Step(std::int32_t s, std::int32_t d) {
  return static_cast<std::int64_t>(static_cast<double>(s) / static_cast<double>(d) * 65536.0);
}

// The alpha weight of an edge sample: alpha x w / 255 by the shift formula,
// which rounds down by one for some products above 65 789. alpha x w is at
// most 255 x 65 025, well inside 32 bits.
inline std::uint32_t EdgeAlphaWeight(std::uint32_t alpha, std::uint32_t w) {
  const std::uint32_t x = alpha * w + 1;
  return (x + (x >> 8)) >> 8;
}

inline std::uint32_t FloorWeight(std::uint32_t w) { return w < 255 ? 255 : w; }

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
};

Span Footprint(std::int64_t step, std::int32_t size, std::int32_t index) {
  const std::int64_t p0 = index * step, p1 = p0 + step;
  std::int64_t c1 = p1 >> 16;
  std::uint32_t f1 = static_cast<std::uint32_t>(p1 >> 8) & 255;
  if (c1 >= size) {
    c1 = size - 1;
    f1 = 255;
  }
  const std::int64_t c0 = p0 >> 16;
  const std::uint32_t f0 = static_cast<std::uint32_t>(p0 >> 8) & 255;
  Span s;
  if (c0 > c1) return s;
  s.first = static_cast<std::int32_t>(c0);
  s.count = static_cast<std::int32_t>(c1 - c0 + 1);
  // Same pixel at both ends: (255 - f0) + f1 - 255, never negative because
  // the end lies at or after the start inside one pixel.
  s.wFirst = s.count == 1 ? f1 - f0 : 255 - f0;
  s.wLast = s.count == 1 ? s.wFirst : f1;
  return s;
}

// Sums of one footprint: coverage-weighted alpha and alpha-weighted colour.
struct Sums {
  std::uint64_t a = 0, r = 0, g = 0, b = 0;
};

inline void AddSample(Sums& s, std::uint32_t p, std::uint32_t aw) {
  s.a += aw;
  s.r += std::uint64_t{(p >> 16) & 255} * aw;
  s.g += std::uint64_t{(p >> 8) & 255} * aw;
  s.b += std::uint64_t{p & 255} * aw;
}

// Adds aw(alpha) x (B, G, R, 1) over n pixels, aw from a 256-entry table.
// Two 32-bit fields per 64-bit word carry the sums; each term is at most
// 16 581 375, so 256 terms stay below 2^32 and are flushed then.
inline void AddRun(Sums& s, const std::uint32_t* p, std::int32_t n, const std::uint32_t* table,
                   std::uint32_t alpha0, std::uint32_t& differs) {
  while (n > 0) {
    const std::int32_t chunk = n < 256 ? n : 256;
    std::uint64_t bg = 0, ra = 0;
    std::uint32_t diff = 0;
    for (std::int32_t i = 0; i < chunk; ++i) {
      const std::uint32_t px = p[i];
      const std::uint32_t alpha = px >> 24;
      const std::uint64_t aw = table[alpha];
      diff |= alpha ^ alpha0;
      bg += aw * ((px & 0xFFu) | std::uint64_t{px & 0xFF00u} << 24);
      ra += aw * (((px >> 16) & 0xFFu) | std::uint64_t{1} << 32);
    }
    differs |= diff;
    s.b += bg & 0xFFFFFFFFu;
    s.g += bg >> 32;
    s.r += ra & 0xFFFFFFFFu;
    s.a += ra >> 32;
    p += chunk;
    n -= chunk;
  }
}

void PointSample(CImage32& dst, const CImage32& src, std::int64_t stepX, std::int64_t stepY) {
  const std::int32_t sw = src.m_width, sh = src.m_height, dw = dst.m_width;
  // Source column of each destination column, or -1 outside the source.
  std::vector<std::int32_t> column(static_cast<std::size_t>(dw));
  bool identity = true;
  for (std::int32_t k = 0; k < dw; ++k) {
    const std::int64_t sx = (stepX / 2 + k * stepX) >> 16;
    column[k] = sx < sw ? static_cast<std::int32_t>(sx) : -1;
    identity = identity && sx == k;
  }
  const std::uint32_t* prevIn = nullptr;
  const std::uint32_t* prevOut = nullptr;
  for (std::int32_t j = 0; j < dst.m_height; ++j) {
    std::uint32_t* out = dst.RowAddress(j);
    if (out == nullptr) continue;
    const std::int64_t sy = (stepY / 2 + j * stepY) >> 16;
    const std::uint32_t* in = sy < sh ? src.RowAddress(static_cast<std::int32_t>(sy)) : nullptr;
    if (in != nullptr && in == prevIn && prevOut != nullptr) {
      // Enlargement repeats rows: copy the row already built.
      std::memmove(out, prevOut, sizeof(std::uint32_t) * static_cast<std::size_t>(dw));
    } else if (in != nullptr && identity) {
      std::memmove(out, in, sizeof(std::uint32_t) * static_cast<std::size_t>(dw));
    } else {
      for (std::int32_t k = 0; k < dw; ++k) out[k] = (in != nullptr && column[k] >= 0) ? in[column[k]] : 0;
    }
    prevIn = in;
    prevOut = out;
  }
}

void AreaAverage(CImage32& dst, const CImage32& src, std::int64_t stepX, std::int64_t stepY) {
  const std::int32_t sw = src.m_width, sh = src.m_height, dw = dst.m_width, dh = dst.m_height;

  // Per destination column: its source columns, the alpha weights of its two
  // edge columns in a row with full vertical weight, and the coverage of
  // such a row.
  struct Column {
    Span span;
    std::uint32_t mFirst, mLast;
    std::uint64_t rowWeight;
  };
  std::vector<Column> columns(static_cast<std::size_t>(dw));
  for (std::int32_t k = 0; k < dw; ++k) {
    Column& c = columns[k];
    c.span = Footprint(stepX, sw, k);
    c.mFirst = FloorWeight(c.span.wFirst * 255);
    c.mLast = FloorWeight(c.span.wLast * 255);
    c.rowWeight = c.span.count == 1 ? c.mFirst
                                    : c.mFirst + c.mLast + std::uint64_t{kFullWeight} * (c.span.count - 2);
  }

  // Alpha weight of a middle column: 255 x alpha in an inner row; in an edge
  // row of vertical weight wy the edge formula with w = 255 x wy.
  std::uint32_t innerTable[256], firstTable[256], lastTable[256];
  for (std::uint32_t a = 0; a < 256; ++a) innerTable[a] = a * 255;

  std::vector<const std::uint32_t*> rows;
  std::vector<std::uint32_t> zeroRow;
  for (std::int32_t j = 0; j < dh; ++j) {
    std::uint32_t* out = dst.RowAddress(j);
    if (out == nullptr) continue;
    const Span rs = Footprint(stepY, sh, j);
    if (rs.count == 0) {
      std::memset(out, 0, sizeof(std::uint32_t) * static_cast<std::size_t>(dw));
      continue;
    }
    rows.resize(static_cast<std::size_t>(rs.count));
    for (std::int32_t t = 0; t < rs.count; ++t) {
      rows[t] = src.RowAddress(rs.first + t);
      if (rows[t] == nullptr) {
        // A row without an address reads as transparent black.
        zeroRow.assign(static_cast<std::size_t>(sw), 0);
        rows[t] = zeroRow.data();
      }
    }
    const std::uint32_t wyFirst = rs.wFirst, wyLast = rs.wLast;
    for (std::uint32_t a = 0; a < 256; ++a) {
      firstTable[a] = EdgeAlphaWeight(a, FloorWeight(255 * wyFirst));
      lastTable[a] = EdgeAlphaWeight(a, FloorWeight(255 * wyLast));
    }

    for (std::int32_t k = 0; k < dw; ++k) {
      const Column& c = columns[k];
      const std::int32_t n = c.span.count;
      if (n == 0) {
        out[k] = 0;
        continue;
      }
      const std::int32_t x0 = c.span.first;
      const std::uint32_t alpha0 = rows[0][x0] >> 24;
      std::uint32_t differs = 0;
      Sums s;

      // Rows with a vertical edge weight: every sample takes the edge formula.
      auto edgeRow = [&](const std::uint32_t* row, std::uint32_t wy, const std::uint32_t* table) {
        const std::uint32_t* p = row + x0;
        std::uint32_t alpha = p[0] >> 24;
        differs |= alpha ^ alpha0;
        AddSample(s, p[0], EdgeAlphaWeight(alpha, FloorWeight(c.span.wFirst * wy)));
        if (n >= 2) {
          AddRun(s, p + 1, n - 2, table, alpha0, differs);
          alpha = p[n - 1] >> 24;
          differs |= alpha ^ alpha0;
          AddSample(s, p[n - 1], EdgeAlphaWeight(alpha, FloorWeight(c.span.wLast * wy)));
        }
      };

      std::uint64_t wsum;
      if (rs.count == 1) {
        edgeRow(rows[0], wyFirst, firstTable);
        wsum = n == 1 ? FloorWeight(c.span.wFirst * wyFirst)
                      : FloorWeight(c.span.wFirst * wyFirst) + FloorWeight(c.span.wLast * wyFirst) +
                            std::uint64_t{FloorWeight(255 * wyFirst)} * (n - 2);
      } else {
        edgeRow(rows[0], wyFirst, firstTable);
        for (std::int32_t t = 1; t + 1 < rs.count; ++t) {
          // Inner row: edge columns by the edge formula, middle ones 255 x alpha.
          const std::uint32_t* p = rows[t] + x0;
          std::uint32_t alpha = p[0] >> 24;
          differs |= alpha ^ alpha0;
          AddSample(s, p[0], EdgeAlphaWeight(alpha, c.mFirst));
          if (n >= 2) {
            AddRun(s, p + 1, n - 2, innerTable, alpha0, differs);
            alpha = p[n - 1] >> 24;
            differs |= alpha ^ alpha0;
            AddSample(s, p[n - 1], EdgeAlphaWeight(alpha, c.mLast));
          }
        }
        edgeRow(rows[rs.count - 1], wyLast, lastTable);
        auto rowWeight = [&](std::uint32_t wy) -> std::uint64_t {
          if (n == 1) return FloorWeight(c.span.wFirst * wy);
          return FloorWeight(c.span.wFirst * wy) + FloorWeight(c.span.wLast * wy) +
                 std::uint64_t{FloorWeight(255 * wy)} * (n - 2);
        };
        wsum = rowWeight(wyFirst) + rowWeight(wyLast) + c.rowWeight * (rs.count - 2);
      }

      if (s.a == 0) {
        out[k] = 0;
        continue;
      }
      const std::uint64_t alpha = differs == 0 ? alpha0 : s.a * 255 / wsum;
      out[k] = static_cast<std::uint32_t>(alpha << 24 | (s.r / s.a) << 16 | (s.g / s.a) << 8 | s.b / s.a);
    }
  }
}

}  // namespace

bool Resample(CImage32& dst, CImage32& src) {
  const std::int32_t sw = src.m_width, sh = src.m_height;
  const std::int32_t dw = dst.m_width, dh = dst.m_height;
  // An empty destination gets no writes; an empty source cannot be a CImage32.
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return true;

  const bool point = dw % sw == 0 && dh % sh == 0;
  const std::int64_t stepX = Step(sw, dw), stepY = Step(sh, dh);

  ImageLock dstLock(&dst);
  ImageLock srcLock(&src);
  if (point) {
    PointSample(dst, src, stepX, stepY);
  } else {
    AreaAverage(dst, src, stepX, stepY);
  }
  return true;
}

}  // namespace lumo
