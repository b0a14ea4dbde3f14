#include "compose/resample_area.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "compose/resample_columns.h"
#include "compose/resample_finish.h"
#include "compose/resample_pairs.h"
#include "compose/resample_whole.h"

namespace lumo::resample {
namespace {

// Footprints of at most this many samples keep every sum of the fast path
// below 2^32: a sample adds at most 255 x 65 025 to a colour sum.
constexpr std::int64_t kNarrowSamples = 256;

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
  // One pixel at both ends: (255 - f0) + f1 - 255, never negative because
  // the end lies at or after the start inside one pixel.
  s.wFirst = s.count == 1 ? f1 - f0 : 255 - f0;
  s.wLast = s.count == 1 ? s.wFirst : f1;
  return s;
}

// Coverage of one footprint row with vertical weight wy (all samples edge
// samples, or wy = 255 with the middle ones full).
std::uint64_t RowCoverage(const Span& c, std::uint32_t wy) {
  if (c.count == 1) return FloorWeight(c.wFirst * wy);
  return std::uint64_t{FloorWeight(c.wFirst * wy)} + FloorWeight(c.wLast * wy) +
         std::uint64_t{FloorWeight(255 * wy)} * static_cast<std::uint64_t>(c.count - 2);
}

// Sum of the coverage weights of a footprint.
std::uint64_t Coverage(const Span& c, const Span& r) {
  if (r.count == 1) return RowCoverage(c, r.wFirst);
  return RowCoverage(c, r.wFirst) + RowCoverage(c, r.wLast) +
         RowCoverage(c, 255) * static_cast<std::uint64_t>(r.count - 2);
}

// Sums of one footprint: alpha weights and alpha-weighted colours.
struct Sums {
  std::uint64_t a = 0, r = 0, g = 0, b = 0;
};

inline void AddSample(Sums& s, std::uint32_t p, std::uint64_t aw) {
  s.a += aw;
  s.r += ((p >> 16) & 255) * aw;
  s.g += ((p >> 8) & 255) * aw;
  s.b += (p & 255) * aw;
}

// Adds aw x (B, G, R, 1) over n pixels, aw = table[alpha]. Two 32-bit fields
// per 64-bit word carry the sums; a term is at most 255 x 65 025, so 256
// terms stay below 2^32 and are flushed then.
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

// Any footprint size, 64-bit sums: the path for footprints too large for
// the 32-bit column sums. Each footprint row is its first sample, a run of
// middle samples whose alpha weight depends on the row only (a table), and
// its last sample.
class WideRows final : public AreaRows::Method {
 public:
  explicit WideRows(const std::vector<Span>& columns) : m_columns(columns) {
    for (std::uint32_t a = 0; a < 256; ++a) m_innerTable[a] = a * 255;
  }

  void Row(std::uint32_t* out, const Span& rs, const std::uint32_t* const* rows) override {
    const std::vector<Span>& columns = m_columns;
    const std::uint32_t* innerTable = m_innerTable;
    std::uint32_t* firstTable = m_firstTable;
    std::uint32_t* lastTable = m_lastTable;
    for (std::uint32_t a = 0; a < 256; ++a) {
      firstTable[a] = EdgeAlphaWeight(a, FloorWeight(255 * rs.wFirst));
      lastTable[a] = EdgeAlphaWeight(a, FloorWeight(255 * rs.wLast));
    }
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const Span& c = columns[k];
      if (c.count == 0 || rs.count == 0) {
        out[k] = 0;
        continue;
      }
      const std::uint32_t alpha0 = rows[0][c.first] >> 24;
      std::uint32_t differs = 0;
      Sums s;
      for (std::int32_t t = 0; t < rs.count; ++t) {
        const bool edgeRow = t == 0 || t == rs.count - 1;
        const std::uint32_t wy = t == 0 ? rs.wFirst : t == rs.count - 1 ? rs.wLast : 255;
        const std::uint32_t* p = rows[t] + c.first;
        // Edge columns always take the edge formula, even in inner rows.
        differs |= (p[0] >> 24) ^ alpha0;
        AddSample(s, p[0], EdgeAlphaWeight(p[0] >> 24, FloorWeight(c.wFirst * wy)));
        if (c.count == 1) continue;
        AddRun(s, p + 1, c.count - 2, !edgeRow ? innerTable : t == 0 ? firstTable : lastTable, alpha0, differs);
        const std::uint32_t q = p[c.count - 1];
        differs |= (q >> 24) ^ alpha0;
        AddSample(s, q, EdgeAlphaWeight(q >> 24, FloorWeight(c.wLast * wy)));
      }
      if (s.a == 0) {
        out[k] = 0;
        continue;
      }
      const std::uint64_t alpha = differs == 0 ? alpha0 : s.a * 255 / Coverage(c, rs);
      out[k] = static_cast<std::uint32_t>(alpha << 24 | (s.r / s.a) << 16 | (s.g / s.a) << 8 | s.b / s.a);
    }
  }

 private:
  const std::vector<Span>& m_columns;
  std::uint32_t m_innerTable[256], m_firstTable[256], m_lastTable[256];
};

// One destination pixel sample by sample, as the rule reads: the few
// pixels a row's faster loops leave over.
std::uint32_t AveragePixel(const std::uint32_t* const* rows, const Span& r, const Span& c) {
  if (c.count == 0 || r.count == 0) return 0;
  const std::uint32_t alpha0 = rows[0][c.first] >> 24;
  bool uniform = true;
  Sums s;
  std::uint64_t coverage = 0;
  for (std::int32_t t = 0; t < r.count; ++t) {
    const bool edgeRow = t == 0 || t == r.count - 1;
    const std::uint32_t wy = t == 0 ? r.wFirst : t == r.count - 1 ? r.wLast : 255;
    for (std::int32_t i = 0; i < c.count; ++i) {
      const bool edgeColumn = i == 0 || i == c.count - 1;
      const std::uint32_t wx = i == 0 ? c.wFirst : i == c.count - 1 ? c.wLast : 255;
      const std::uint32_t p = rows[t][c.first + i];
      uniform = uniform && p >> 24 == alpha0;
      const std::uint32_t w = edgeRow || edgeColumn ? FloorWeight(wx * wy) : 65025;
      coverage += w;
      AddSample(s, p, edgeRow || edgeColumn ? EdgeAlphaWeight(p >> 24, w) : (p >> 24) * 255);
    }
  }
  if (s.a == 0) return 0;
  const std::uint64_t alpha = uniform ? alpha0 : s.a * 255 / coverage;
  return static_cast<std::uint32_t>(alpha << 24 | (s.r / s.a) << 16 | (s.g / s.a) << 8 | s.b / s.a);
}

// Whole-number horizontal ratios: four footprints at a time straight from
// the source rows, each destination row's last pixel (and every pixel of
// destinations under five pixels wide) one by one.
class WholeRatioRows final : public AreaRows::Method {
 public:
  WholeRatioRows(const std::vector<Span>& columns, std::int32_t columnsEach)
      : m_columns(columns),
        m_columnsEach(columnsEach),
        // Every footprint but the last of a row has the regular shape.
        m_regular(columns.size() >= 5 ? static_cast<std::int32_t>(columns.size()) - 1 : 0) {}

  void Row(std::uint32_t* out, const Span& rs, const std::uint32_t* const* rows) override {
    if (m_regular != 0) WholeRatioRow(RowFootprint{rows, rs.count, rs.wFirst, rs.wLast}, m_columnsEach, m_regular, out);
    const auto dw = static_cast<std::int32_t>(m_columns.size());
    for (std::int32_t k = m_regular; k < dw; ++k) out[k] = AveragePixel(rows, rs, m_columns[k]);
  }

 private:
  const std::vector<Span>& m_columns;
  std::int32_t m_columnsEach;
  std::int32_t m_regular;
};

// Storage behind a ColumnSums for n columns.
struct ColumnSumsBuffer {
  explicit ColumnSumsBuffer(std::size_t n) : data(6 * n) {
    std::uint32_t* p = data.data();
    sums = {p, p + n, p + 2 * n, p + 3 * n, p + 4 * n, p + 5 * n};
  }
  std::vector<std::uint32_t> data;
  ColumnSums sums;
};

ColumnSums Offset(const ColumnSums& s, std::size_t n) {
  return {s.b + n, s.g + n, s.r + n, s.a + n, s.alpha0 + n, s.differs + n};
}

// Footprints of at most kNarrowSamples samples, all sums in 32 bits. Per
// destination row the middle columns of all footprints are summed down the
// footprint rows once, and so are the first and last columns of every
// footprint with their own horizontal weights; each destination pixel then
// adds up its columns.
class NarrowRows final : public AreaRows::Method {
 public:
  NarrowRows(const std::vector<Span>& columns, std::int32_t sw)
      : m_dw(static_cast<std::int32_t>(columns.size())), m_edges(2 * columns.size()) {
    const std::size_t n = columns.size();
    // Edge columns: the first of footprint k at index k, its last at dw + k.
    // A one-column footprint has no last column; its slot is summed with
    // weight 0 and masked out.
    m_edgeX.resize(2 * n);
    m_edgeW.resize(2 * n);
    m_middles.resize(n);
    m_hasLast.resize(n);
    m_firstColumn.resize(n);
    std::int32_t widest = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const Span& c = columns[k];
      m_edgeX[k] = c.first;
      m_edgeW[k] = c.wFirst;
      m_edgeX[n + k] = c.first + c.count - 1;
      m_edgeW[n + k] = c.count >= 2 ? c.wLast : 0;
      m_middles[k] = c.count >= 2 ? static_cast<std::uint32_t>(c.count - 2) : 0;
      m_hasLast[k] = c.count >= 2 ? ~0u : 0u;
      m_firstColumn[k] = c.first;
      widest = std::max(widest, c.count);
    }
    m_shape = {m_edgeW.data(), m_edgeW.data() + n, m_middles.data(), m_hasLast.data(), widest};
    // Middle columns of all footprints lie in [begin, end).
    m_begin = sw;
    for (const Span& c : columns) {
      if (c.count < 3) continue;
      m_begin = std::min(m_begin, c.first + 1);
      m_end = std::max(m_end, c.first + c.count - 1);
    }
    m_anyMiddle = m_begin < m_end;
    if (m_anyMiddle) {
      m_middleColumns.resize(5 * static_cast<std::size_t>(sw));
      m_middleTotals.resize(4 * n);
    }
  }

  void Row(std::uint32_t* out, const Span& rs, const std::uint32_t* const* rows) override {
    const ColumnSums& first = m_edges.sums;
    const ColumnSums last = Offset(first, static_cast<std::size_t>(m_dw));
    const MiddleSums m{m_middleColumns.data(), m_middleColumns.data() + m_middleColumns.size() / 5 * 4};
    // The middle columns first: their sequential reads bring the rows into
    // the cache for the scattered reads of the edge columns.
    if (m_anyMiddle) {
      SumColumns(rows, rs.count, FloorWeight(255 * rs.wFirst), FloorWeight(255 * rs.wLast), m_begin, m_end, m);
    }
    SumEdgeColumns(rows, rs.count, rs.wFirst, rs.wLast, m_edgeX.data(), m_edgeW.data(), 2 * m_dw, first);
    if (m_anyMiddle) {
      AddMiddles(m, m_firstColumn.data(), m_middles.data(), m_dw, first.alpha0, first.differs, m_middleTotals.data());
    }
    FinishRow(first, last, m_anyMiddle ? m_middleTotals.data() : nullptr, m_shape,
              FootprintRows{rs.count, rs.wFirst, rs.wLast}, m_dw, out);
  }

 private:
  std::int32_t m_dw;
  std::vector<std::int32_t> m_edgeX, m_firstColumn;
  std::vector<std::uint32_t> m_edgeW, m_middles, m_hasLast;
  FootprintColumns m_shape{};
  ColumnSumsBuffer m_edges;
  std::int32_t m_begin = 0, m_end = 0;
  bool m_anyMiddle = false;
  std::vector<std::uint32_t> m_middleColumns, m_middleTotals;
};

}  // namespace

std::int64_t Step(std::int32_t s, std::int32_t d) {
  return static_cast<std::int64_t>(static_cast<double>(s) / static_cast<double>(d) * 65536.0);
}

bool PointSampled(std::int32_t sw, std::int32_t sh, std::int32_t dw, std::int32_t dh) {
  return dw % sw == 0 && dh % sh == 0;
}

AreaRows::AreaRows(std::int32_t dw, std::int32_t dh, std::int32_t sw, std::int32_t sh)
    : m_sh(sh), m_stepY(Step(sh, dh)), m_columns(static_cast<std::size_t>(dw)) {
  const std::int64_t stepX = Step(sw, dw);
  std::int64_t widest = 0;
  for (std::int32_t k = 0; k < dw; ++k) {
    m_columns[k] = Footprint(stepX, sw, k);
    widest = std::max<std::int64_t>(widest, m_columns[k].count);
  }
  // Footprints never start past the source (the steps are truncated), but
  // the sample-by-sample path is the one that copes if one did.
  for (const Span& c : m_columns) m_empty = m_empty || c.count == 0;
  for (std::int32_t j = 0; j < dh; ++j) {
    const std::int32_t rowCount = RowsOf(j).count;
    m_tallest = std::max(m_tallest, rowCount);
    m_empty = m_empty || rowCount == 0;
  }
  const std::int32_t columnsEach = WholeRatioColumns(stepX);
  if (!m_empty && widest * m_tallest <= kNarrowSamples && columnsEach != 0) {
    m_method = std::make_unique<WholeRatioRows>(m_columns, columnsEach);
  } else if (!m_empty && widest <= 2 && m_tallest <= 128 && dw >= 4 && ColumnPairsApply(stepX)) {
    std::vector<Span> rows(static_cast<std::size_t>(dh));
    for (std::int32_t j = 0; j < dh; ++j) rows[j] = RowsOf(j);
    m_method = MakeColumnPairsRows(m_columns, rows, sw);
  } else if (!m_empty && widest * m_tallest <= kNarrowSamples) {
    m_method = std::make_unique<NarrowRows>(m_columns, sw);
  } else {
    m_method = std::make_unique<WideRows>(m_columns);
  }
}

AreaRows::~AreaRows() = default;

Span AreaRows::RowsOf(std::int32_t j) const { return Footprint(m_stepY, m_sh, j); }

void AreaRows::Fill(std::int32_t j, const std::uint32_t* const* rows, std::uint32_t* out) {
  m_method->Row(out, RowsOf(j), rows);
}

void AreaAverage(CImage32& dst, const CImage32& src) {
  AreaRows area(dst.m_width, dst.m_height, src.m_width, src.m_height);
  std::vector<const std::uint32_t*> rows;
  std::vector<std::uint32_t> zeroRow;
  for (std::int32_t j = 0; j < dst.m_height; ++j) {
    std::uint32_t* out = dst.RowAddress(j);
    if (out == nullptr) continue;
    const Span rs = area.RowsOf(j);
    rows.resize(static_cast<std::size_t>(rs.count));
    // A row without an address reads as transparent black.
    for (std::int32_t t = 0; t < rs.count; ++t) {
      rows[t] = src.RowAddress(rs.first + t);
      if (rows[t] == nullptr) {
        zeroRow.assign(static_cast<std::size_t>(src.m_width), 0);
        rows[t] = zeroRow.data();
      }
    }
    area.Fill(j, rows.data(), out);
  }
}

}  // namespace lumo::resample
