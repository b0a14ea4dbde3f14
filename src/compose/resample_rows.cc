#include "compose/resample_rows.h"

#include <algorithm>
#include <cstring>

#include "compose/resample_area.h"

namespace lumo {
namespace {

// The buffer holds at least this much, so that a decoder hands over large
// pieces; about half the first-level cache of the smaller cores.
constexpr std::size_t kBufferBytes = 32 * 1024;
// Rows under one destination row beyond this stay with the whole picture.
constexpr std::size_t kMostBufferBytes = 1024 * 1024;

}  // namespace

bool RowResampler::Applies(std::int32_t dw, std::int32_t dh, std::int32_t sw, std::int32_t sh) {
  if (g_pagedMemory || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(sw) * 4;
  if (rowBytes > kMostBufferBytes) return false;
  if (resample::PointSampled(sw, sh, dw, dh)) return true;  // one row each
  // The tallest footprint is at most the step rounded up, plus one row.
  const std::int64_t tallest = (resample::Step(sh, dh) >> 16) + 2;
  return static_cast<std::size_t>(std::min<std::int64_t>(tallest, sh)) * rowBytes <= kMostBufferBytes;
}

RowResampler::RowResampler(const RowTarget& target, std::int32_t sw, std::int32_t sh)
    : m_target(target), m_sh(sh), m_rowBytes(static_cast<std::size_t>(sw) * 4) {
  if (resample::PointSampled(sw, sh, target.width, target.height))
    m_method = resample::MakePointRows(target.width, target.height, sw, sh);
  else
    m_method = std::make_unique<resample::AreaRows>(target.width, target.height, sw, sh);
  const auto wanted = static_cast<std::int32_t>(std::max<std::size_t>(1, kBufferBytes / m_rowBytes));
  m_slots = std::min(sh, std::max(m_method->Tallest(), wanted));
  m_buffer.resize(static_cast<std::size_t>(m_slots) * static_cast<std::size_t>(sw));
  m_rows.resize(static_cast<std::size_t>(std::max(m_method->Tallest(), 1)));
}

RowResampler::~RowResampler() = default;

unsigned char* RowResampler::Space(std::size_t* room) {
  auto* base = reinterpret_cast<unsigned char*>(m_buffer.data());
  if (Complete()) {
    *room = m_buffer.size() * 4;
    return base;
  }
  // Free slots from row m_next's on, up to the buffer's end and short of
  // the oldest row still needed (m_oldest <= m_next always).
  const std::int32_t slot = m_next % m_slots;
  const std::int32_t free = m_slots - (m_next - m_oldest);
  const std::int32_t rows = std::min(m_slots - slot, free);
  *room = static_cast<std::size_t>(rows) * m_rowBytes - m_partial;
  return base + static_cast<std::size_t>(slot) * m_rowBytes + m_partial;
}

void RowResampler::Wrote(std::size_t bytes) {
  if (Complete()) return;
  m_partial += bytes;
  const std::size_t rows = m_partial / m_rowBytes;
  if (rows == 0) return;
  m_partial -= rows * m_rowBytes;
  m_next = static_cast<std::int32_t>(std::min<std::size_t>(m_sh, static_cast<std::size_t>(m_next) + rows));
  MakeReadyRows();
}

// A destination row whose footprint is the one before's is that row again.
void RowResampler::MakeReadyRows() {
  const std::size_t rowBytes = static_cast<std::size_t>(m_target.width) * sizeof(std::uint32_t);
  while (m_made < m_target.height) {
    const resample::Span rs = m_method->RowsOf(m_made);
    // A footprint past the source (never for truncated steps) is made at
    // once: its pixels are transparent black.
    if (rs.count > 0 && rs.first + rs.count > m_next) break;
    std::uint32_t* out = m_target.first + m_made * m_target.stride;
    if (m_made > 0 && rs == m_method->RowsOf(m_made - 1)) {
      std::memcpy(out, out - m_target.stride, rowBytes);
    } else {
      for (std::int32_t t = 0; t < rs.count; ++t)
        m_rows[t] = m_buffer.data() + static_cast<std::size_t>((rs.first + t) % m_slots) * (m_rowBytes / 4);
      m_method->Fill(m_made, m_rows.data(), out);
    }
    ++m_made;
    if (m_made < m_target.height) m_oldest = m_method->RowsOf(m_made).first;
  }
}

}  // namespace lumo
