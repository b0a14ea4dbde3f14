// Resampling of a picture that arrives row by row, top row first, as a
// decoder produces it: each destination row is made as soon as the last
// source row under it has arrived, so only a few rows are ever kept, in a
// small buffer that stays in the cache, and each is written straight to its
// place in the destination. The result is Resample's, bit for bit: the same
// footprints and row loops make every destination row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "lumo/image.h"

namespace lumo {

namespace resample {
class DestinationRows;
}

// Where destination rows go: row j's `width` pixels at first + j x stride
// (pixels; a negative stride for rows stored bottom up).
struct RowTarget {
  std::uint32_t* first;
  std::ptrdiff_t stride;
  std::int32_t width;
  std::int32_t height;

  // An image's pixels, stored in one piece.
  static RowTarget Of(CImage32& image) { return {image.m_pixels, image.m_width, image.m_width, image.m_height}; }
};

class RowResampler {
 public:
  // Whether a sw x sh picture can be resampled to dw x dh row by row: no
  // paged storage, and the rows under one destination row fit the largest
  // buffer kept.
  static bool Applies(std::int32_t dw, std::int32_t dh, std::int32_t sw, std::int32_t sh);

  // For sizes that Applies accepts; the target must outlive the resampler.
  RowResampler(const RowTarget& target, std::int32_t sw, std::int32_t sh);
  ~RowResampler();
  RowResampler(const RowResampler&) = delete;
  RowResampler& operator=(const RowResampler&) = delete;

  // Where the next bytes of the picture go (pixels as CImage32 lays them
  // out): at least one byte, *room of them. Once every row has arrived,
  // the room is scratch that takes whatever follows.
  unsigned char* Space(std::size_t* room);
  // `bytes` (at most the last room) were written at the last Space.
  void Wrote(std::size_t bytes);
  // Every row has arrived, and so every destination row is made.
  bool Complete() const { return m_next == m_sh; }

 private:
  void MakeReadyRows();

  RowTarget m_target;
  std::int32_t m_sh;
  std::size_t m_rowBytes;
  std::unique_ptr<resample::DestinationRows> m_method;
  std::int32_t m_slots;                 // rows the buffer holds, row r in slot r % m_slots
  std::vector<std::uint32_t> m_buffer;  // m_slots rows
  std::int32_t m_next = 0;              // rows [0, m_next) have arrived
  std::size_t m_partial = 0;            // bytes of row m_next so far
  std::int32_t m_made = 0;              // destination rows [0, m_made) are made
  std::int32_t m_oldest = 0;            // the first row that destination row m_made needs
  std::vector<const std::uint32_t*> m_rows;
};

}  // namespace lumo
