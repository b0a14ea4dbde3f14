#include "compose/resample_pairs.h"

#include <algorithm>
#include <cstddef>

#include "compose/resample_columns.h"
#include "compose/resample_samples.h"

namespace lumo::resample {

#if KEZ_RESAMPLE_VECTOR
namespace {

// Four footprints from source column first[k] weighing wFirst[k] and
// last[k] weighing wLast[k] (0..255). A one-column footprint has last[k] =
// first[k] and lastMask[k] = 0, else lastMask[k] is all ones.
struct ColumnPairs {
  const std::int32_t* first;
  const std::int32_t* last;
  const std::uint32_t* wFirst;
  const std::uint32_t* wLast;
  const std::uint32_t* lastMask;
};

// Pixels k to k + 3 of a row of any footprint height up to 128, any alpha.
//
// A footprint at most one source column wide has first and last horizontal
// weights summing to at most 255, so a row's two coverage weights sum to at
// most 255 x 255 + 255 (the floor lifting the smaller), and 128 rows of them
// to 8 355 840: every colour sum, at most 255 times that, stays below 2^31.
void AnyGroup(const std::uint32_t* const* rows, const Span& rs, const ColumnPairs& columns, std::int32_t k,
              std::uint32_t* out) {
  const V zero = Zero();
  const V wFirst = Load(columns.wFirst + k);
  const V lastMask = Load(columns.lastMask + k);
  const V wLast = And(Load(columns.wLast + k), lastMask);
  Sums4 s;
  V coverage = zero, a0 = zero, diff = zero;
  for (std::int32_t t = 0; t < rs.count; ++t) {
    const std::uint32_t wy = t == 0 ? rs.wFirst : t == rs.count - 1 ? rs.wLast : 255;
    const V y = Splat(wy);
    // Every sample is an edge sample. A one-column footprint's second
    // sample gets weight 0, whose alpha weight is 0 too.
    const V mFirst = FloorWeights(wFirst, y);
    const V mLast = And(FloorWeights(wLast, y), lastMask);
    const V p = Gather(rows[t], columns.first + k);
    const V q = Gather(rows[t], columns.last + k);
    const V alphaP = Alpha(p), alphaQ = Alpha(q);
    if (t == 0) a0 = alphaP;
    diff = Or(diff, Or(Xor(alphaP, a0), And(Xor(alphaQ, a0), lastMask)));
    AddWeighted(p, EdgeAlphaWeights(alphaP, mFirst), s);
    AddWeighted(q, EdgeAlphaWeights(alphaQ, mLast), s);
    coverage = Add(coverage, Add(mFirst, mLast));
  }
  Store(out + k, AveragePixels<true>(s, a0, diff, [&] { return Inverse<true>(coverage); }));
}

// One source row spread out to the destination columns, per group of four
// pixels: each channel (B, G, R, A) as 16-bit pairs, the first column's
// value in the low half of a lane and the last column's in the high half.
// Made once and kept for every destination row the source row lies under.
struct Spread {
  std::int32_t y = -1;
  const std::uint32_t* row = nullptr;
  std::vector<std::uint32_t> channels;  // 16 per group
  std::vector<std::uint8_t> opaque;     // 1 where every weighed sample has alpha 255
  std::int32_t translucent = 0;         // groups with opaque 0
};

// The weights of one footprint height, per group of four pixels: for
// opaque samples their alpha weights as pairs, of the first source row and
// of the second if there is one, then the sum of all as a float; apart from
// those, the coverage weights and their sum laid out alike.
struct RowTable {
  std::uint32_t key = 0;
  std::vector<std::uint32_t> opaque;    // Lanes(rows) per group
  std::vector<std::uint32_t> coverage;  // Lanes(rows) per group
};

// Lanes of a RowTable per group, for footprints of 1 or 2 rows.
constexpr std::size_t Lanes(std::int32_t rows) { return 4 * static_cast<std::size_t>(rows) + 4; }

// Footprint heights told apart: (count, wFirst, wLast) of one or two rows.
std::uint32_t KeyOf(const Span& rs) {
  return static_cast<std::uint32_t>(rs.count) << 16 | rs.wFirst << 8 | (rs.count == 2 ? rs.wLast : 0u);
}

// Weight tables kept for the most frequent footprint heights, at most this
// many bytes in all (the two most frequent heights of an enlargement to
// 2560 pixels wide); the others are made for each row. More would buy a
// little speed with memory the large sizes do not have to spare.
constexpr std::size_t kWeightBytes = 64 * 1024;

inline V Pack(V b, V g, V r, V a) {
  return Or(Or(ShiftLeft<24>(a), ShiftLeft<16>(r)), Or(ShiftLeft<8>(g), b));
}

class PairsRows final : public AreaRows::Method {
 public:
  PairsRows(const std::vector<Span>& columns, const std::vector<Span>& rows, std::int32_t sw) : m_columns(columns) {
    const std::size_t n = columns.size();
    m_first.resize(n);
    m_last.resize(n);
    m_wFirst.resize(n);
    m_wLast.resize(n);
    m_lastMask.resize(n);
    m_wx.resize(n);
    m_pairMask.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
      const Span& c = columns[k];
      const bool two = c.count == 2;
      m_first[k] = c.first;
      m_last[k] = c.first + c.count - 1;
      m_wFirst[k] = c.wFirst;
      m_wLast[k] = c.wLast;
      m_lastMask[k] = two ? ~0u : 0u;
      m_wx[k] = c.wFirst | (two ? c.wLast << 16 : 0u);
      m_pairMask[k] = two ? ~0u : 0xFFFFu;
      m_widest = std::max({m_widest, c.wFirst, two ? c.wLast : 0u});
      m_widestSum = std::max(m_widestSum, c.wFirst + (two ? c.wLast : 0u));
    }
    m_groups = static_cast<std::int32_t>(n / 4);
    // Groups whose source pixels all have a right neighbour, read in pairs.
    while (m_pairGroups < m_groups && m_first[4 * static_cast<std::size_t>(m_pairGroups) + 3] + 1 < sw) ++m_pairGroups;
    const std::size_t lanes = 16 * static_cast<std::size_t>(m_groups);
    for (Spread& s : m_spread) {
      s.channels.resize(lanes);
      s.opaque.resize(static_cast<std::size_t>(m_groups));
    }
    KeepWeights(rows);
    // Row never allocates: the table made afresh has room for two rows.
    m_fresh.opaque.reserve(Lanes(2) * static_cast<std::size_t>(m_groups));
    m_fresh.coverage.reserve(Lanes(2) * static_cast<std::size_t>(m_groups));
  }

  void Row(std::uint32_t* out, const Span& rs, const std::uint32_t* const* rows) override {
    const auto count = static_cast<std::int32_t>(m_columns.size());
    const ColumnPairs pairs{m_first.data(), m_last.data(), m_wFirst.data(), m_wLast.data(), m_lastMask.data()};
    if (!Spreads(rs)) {
      for (std::int32_t k = 0; k < count; k += 4) AnyGroup(rows, rs, pairs, std::min(k, count - 4), out);
      return;
    }
    const RowTable& table = WeightsOf(rs);
    const bool two = rs.count == 2;
    const Spread& top = SpreadOf(rs.first, rows[0], two ? rs.first + 1 : -1, two ? rows[1] : nullptr);
    if (!two) {
      Groups<false>(top, top, table, out);
    } else {
      Groups<true>(top, SpreadOf(rs.first + 1, rows[1], rs.first, rows[0]), table, out);
    }
    // A last group overlapping the one before it gives the same pixels.
    if (count % 4 != 0) AnyGroup(rows, rs, pairs, count - 4, out);
  }

 private:
  // Whether the spread rows take destination rows of this footprint: one
  // or two source rows, every coverage weight below 2^15 (the pairs'
  // multiply-add reads them as signed) and every footprint's coverage below
  // 2^16 (the float division's bound). A footprint's weights come to at
  // most (its wx sum) x (its wy sum) plus 255 for each of its four samples
  // that the floor lifts.
  bool Spreads(const Span& rs) const {
    if (rs.count > 2) return false;
    const std::uint32_t wy1 = rs.count == 2 ? rs.wLast : 0;
    return m_widest * std::max(rs.wFirst, wy1) < 32768 && m_widestSum * (rs.wFirst + wy1) + 4 * 255 < 65536;
  }

  // Tables for the footprint heights that recur most, as many as the byte
  // budget takes; one more table is made afresh for any other.
  void KeepWeights(const std::vector<Span>& rows) {
    std::vector<std::uint32_t> keys;
    keys.reserve(rows.size());
    for (const Span& rs : rows) {
      if (Spreads(rs)) keys.push_back(KeyOf(rs));
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::pair<std::size_t, std::uint32_t>> uses;  // (rows, key)
    for (std::size_t i = 0; i < keys.size();) {
      std::size_t j = i;
      while (j < keys.size() && keys[j] == keys[i]) ++j;
      if (j - i >= 2) uses.emplace_back(j - i, keys[i]);
      i = j;
    }
    std::sort(uses.begin(), uses.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::size_t left = kWeightBytes;
    for (const auto& [n, key] : uses) {
      const std::size_t bytes = 2 * Lanes(static_cast<std::int32_t>(key >> 16)) * sizeof(std::uint32_t) *
                                static_cast<std::size_t>(m_groups);
      if (bytes > left) break;
      left -= bytes;
      RowTable& w = m_kept.emplace_back();
      w.key = key;
      MakeWeights(w);
    }
  }

  // The table of the footprint height in t.key.
  void MakeWeights(RowTable& t) const {
    const auto count = static_cast<std::int32_t>(t.key >> 16);
    const V wyTop = Splat(((t.key >> 8) & 255) * 0x10001), wyBottom = Splat((t.key & 255) * 0x10001);
    const std::size_t lanes = Lanes(count);
    t.opaque.resize(lanes * static_cast<std::size_t>(m_groups));
    t.coverage.resize(lanes * static_cast<std::size_t>(m_groups));
    std::uint32_t* o = t.opaque.data();
    std::uint32_t* c = t.coverage.data();
    for (std::int32_t g = 0; g < m_groups; ++g, o += lanes, c += lanes) {
      const V x = Load(m_wx.data() + 4 * g), mask = Load(m_pairMask.data() + 4 * g);
      const V top = RowWeights(x, wyTop, mask);
      const V bottom = count == 2 ? RowWeights(x, wyBottom, mask) : Zero();
      const V alphaTop = OpaqueAlphaWeights(top), alphaBottom = OpaqueAlphaWeights(bottom);
      Store(o, alphaTop);
      Store(c, top);
      if (count == 2) {
        Store(o + 4, alphaBottom);
        Store(c + 4, bottom);
      }
      Store(o + lanes - 4, AsBits(ToFloat(Add(PairSums(alphaTop), PairSums(alphaBottom)))));
      Store(c + lanes - 4, AsBits(ToFloat(Add(PairSums(top), PairSums(bottom)))));
    }
  }

  const RowTable& WeightsOf(const Span& rs) {
    const std::uint32_t key = KeyOf(rs);
    for (const RowTable& t : m_kept) {
      if (t.key == key) return t;
    }
    if (m_fresh.key != key) {
      m_fresh.key = key;
      MakeWeights(m_fresh);
    }
    return m_fresh;
  }

  // Source row y (at row) spread out, made unless one of the two kept is
  // it; the other kept one is given up unless it is row `keep`.
  const Spread& SpreadOf(std::int32_t y, const std::uint32_t* row, std::int32_t keep, const std::uint32_t* keepRow) {
    for (Spread& s : m_spread) {
      if (s.y == y && s.row == row) return s;
    }
    Spread& s = m_spread[0].y == keep && m_spread[0].row == keepRow ? m_spread[1] : m_spread[0];
    s.y = y;
    s.row = row;
    s.translucent = 0;
    const V zero = Zero();
    const std::int32_t* first = m_first.data();
    const std::int32_t* last = m_last.data();
    std::uint32_t* c = s.channels.data();
    std::uint8_t* opaque = s.opaque.data();
    for (std::int32_t g = 0; g < m_groups; ++g, c += 16) {
      const std::int32_t* x = first + 4 * g;
      // Bytes of the four (first, last) pixel pairs sorted into channels,
      // each the pairs side by side, then widened: from p (the first
      // pixels) and q (the last), or from each first pixel and its right
      // neighbour, which a one-column footprint weighs 0 (its alpha is
      // masked out below).
      V bg, ra;
      if (g < m_pairGroups) {
        const V x01 = LoadPairs(row + x[0], row + x[1]), x23 = LoadPairs(row + x[2], row + x[3]);
        const V s0 = ZipLow8(x01, x23), s1 = ZipHigh8(x01, x23);
        const V p = ZipLow8(s0, s1), q = ZipHigh8(s0, s1);
        bg = ZipLow8(p, q);
        ra = ZipHigh8(p, q);
      } else {
        const V p = Gather(row, x), q = Gather(row, last + 4 * g);
        const V t0 = ZipLow8(p, q), t1 = ZipHigh8(p, q);
        const V u0 = ZipLow16(t0, t1), u1 = ZipHigh16(t0, t1);
        bg = ZipLow16(u0, u1);
        ra = ZipHigh16(u0, u1);
      }
      // Alpha as 257 x alpha: each byte twice.
      const V alpha257 = ZipHigh8(ra, ra);
      Store(c, ZipLow8(bg, zero));
      Store(c + 4, ZipHigh8(bg, zero));
      Store(c + 8, ZipLow8(ra, zero));
      Store(c + 12, alpha257);
      const V pairMask = Load(m_pairMask.data() + 4 * g);
      const bool isOpaque = All(Equal(And(alpha257, pairMask), pairMask));
      opaque[g] = isOpaque ? 1 : 0;
      s.translucent += isOpaque ? 0 : 1;
    }
    return s;
  }

  // Every whole group of four of a row from its one (kTwo false) or two
  // spread source rows.
  template <bool kTwo>
  void Groups(const Spread& top, const Spread& bottom, const RowTable& table, std::uint32_t* out) const {
    constexpr std::size_t kLanes = Lanes(kTwo ? 2 : 1);
    const std::uint32_t* c0 = top.channels.data();
    const std::uint32_t* c1 = bottom.channels.data();
    const std::uint32_t* opaque = table.opaque.data();
    if (top.translucent == 0 && (!kTwo || bottom.translucent == 0)) {
      for (std::int32_t g = 0; g < m_groups; ++g) {
        Store(out + 4 * g, Opaque<kTwo>(c0 + 16 * g, c1 + 16 * g, opaque + kLanes * g));
      }
      return;
    }
    const std::uint32_t* coverage = table.coverage.data();
    const std::uint32_t* pairMask = m_pairMask.data();
    const std::uint8_t* opaqueTop = top.opaque.data();
    const std::uint8_t* opaqueBottom = bottom.opaque.data();
    for (std::int32_t g = 0; g < m_groups; ++g) {
      if (opaqueTop[g] != 0 && (!kTwo || opaqueBottom[g] != 0)) {
        Store(out + 4 * g, Opaque<kTwo>(c0 + 16 * g, c1 + 16 * g, opaque + kLanes * g));
      } else {
        Store(out + 4 * g, Mixed<kTwo>(c0 + 16 * g, c1 + 16 * g, coverage + kLanes * g, pairMask + 4 * g));
      }
    }
  }

  // All samples opaque: the alpha weights depend on the position alone, and
  // the alpha stays 255.
  template <bool kTwo>
  static V Opaque(const std::uint32_t* c0, const std::uint32_t* c1, const std::uint32_t* weights) {
    const V a0 = Load(weights);
    V b = MulAddPairs(Load(c0), a0), g = MulAddPairs(Load(c0 + 4), a0), r = MulAddPairs(Load(c0 + 8), a0);
    if (kTwo) {
      const V a1 = Load(weights + 4);
      b = Add(b, MulAddPairs(Load(c1), a1));
      g = Add(g, MulAddPairs(Load(c1 + 4), a1));
      r = Add(r, MulAddPairs(Load(c1 + 8), a1));
    }
    const F weight = AsFloat(Load(weights + Lanes(kTwo ? 2 : 1) - 4));
    return Pack(FloorQuotient(b, weight), FloorQuotient(g, weight), FloorQuotient(r, weight), Splat(255));
  }

  // Any alphas: AveragePixels' rule from the same sums, which stay below
  // 2^24 (255 times a coverage below 2^16) for the float division.
  template <bool kTwo>
  static V Mixed(const std::uint32_t* c0, const std::uint32_t* c1, const std::uint32_t* coverage,
               const std::uint32_t* pairMask) {
    const V zero = Zero();
    const V alpha0 = Load(c0 + 12);
    const V a0 = AlphaWeights(alpha0, Load(coverage));
    V sumA = PairSums(a0), b = MulAddPairs(Load(c0), a0), g = MulAddPairs(Load(c0 + 4), a0),
      r = MulAddPairs(Load(c0 + 8), a0);
    // The first sample's alpha in both halves: a lane differs from it where
    // some sample's alpha does (a one-column footprint's second sample is
    // not one).
    const V first = And(alpha0, Splat(0xFFFF));
    const V both = Or(first, ShiftLeft<16>(first));
    V diff = Xor(alpha0, both);
    if (kTwo) {
      const V alpha1 = Load(c1 + 12);
      const V a1 = AlphaWeights(alpha1, Load(coverage + 4));
      sumA = Add(sumA, PairSums(a1));
      b = Add(b, MulAddPairs(Load(c1), a1));
      g = Add(g, MulAddPairs(Load(c1 + 4), a1));
      r = Add(r, MulAddPairs(Load(c1 + 8), a1));
      diff = Or(diff, Xor(alpha1, both));
    }
    diff = And(diff, Load(pairMask));
    const V empty = Equal(sumA, zero);
    const F weight = ToFloat(Or(sumA, And(empty, Splat(1))));
    V alpha = And(first, Splat(0xFF));
    const V same = Or(Equal(diff, zero), empty);
    if (!All(same)) {
      const F covered = AsFloat(Load(coverage + Lanes(kTwo ? 2 : 1) - 4));
      alpha = Select(same, alpha, FloorQuotient(Times255(sumA), covered));
    }
    const V p = Pack(FloorQuotient(b, weight), FloorQuotient(g, weight), FloorQuotient(r, weight), alpha);
    return Select(empty, zero, p);
  }

  const std::vector<Span>& m_columns;
  std::vector<std::int32_t> m_first, m_last;
  std::vector<std::uint32_t> m_wFirst, m_wLast, m_lastMask, m_wx, m_pairMask;
  std::uint32_t m_widest = 0, m_widestSum = 0;
  std::int32_t m_groups = 0, m_pairGroups = 0;
  Spread m_spread[2];
  std::vector<RowTable> m_kept;
  RowTable m_fresh;
};

}  // namespace
#endif  // KEZ_RESAMPLE_VECTOR

bool ColumnPairsApply(std::int64_t stepX) {
#if KEZ_RESAMPLE_VECTOR
  return !g_portableKernels && stepX <= 65536;
#else
  (void)stepX;
  return false;
#endif
}

std::unique_ptr<AreaRows::Method> MakeColumnPairsRows(const std::vector<Span>& columns,
                                                     const std::vector<Span>& rows, std::int32_t sw) {
#if KEZ_RESAMPLE_VECTOR
  return std::make_unique<PairsRows>(columns, rows, sw);
#else
  (void)columns, (void)rows, (void)sw;
  return nullptr;
#endif
}

}  // namespace lumo::resample
