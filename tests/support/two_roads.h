// A document's thumbnail by both roads: the class factory's provider, whose
// reader hands the picture over row by row where it can, and a provider
// bound to the same reader's whole-picture form. Tests and the road fuzzer
// compare the two byte for byte. (Not in the Windows test build.)
#pragma once

#include <cstdint>
#include <vector>

#include "lumo/image.h"
#include "platform/com.h"
#include "thumb/picture_rows.h"

namespace kez::testing {

struct RoadAnswer {
  HRESULT hr = E_UNEXPECTED;
  std::vector<std::uint8_t> bits;  // the DIB's bytes when hr is S_OK
  int notices = 0;                 // the reader's error notices shown
  bool operator==(const RoadAnswer&) const = default;
};

// kind: ClassFactory::kPackedKind or kPxvKind. The stream is read from its
// current position; the caller keeps its reference.
RoadAnswer ThumbnailByRows(std::int32_t kind, IStream* stream, UINT cx);
RoadAnswer ThumbnailWhole(std::int32_t kind, IStream* stream, UINT cx);

// Takes every picture offered and keeps the bytes handed over, in pieces of
// at most `piece` bytes.
class RecordedRows final : public PictureRows {
 public:
  explicit RecordedRows(std::size_t piece = 4096) : m_piece(piece), m_space(piece) {}
  bool Begin(std::int32_t width, std::int32_t height) override;
  unsigned char* Space(std::size_t* room) override;
  void Wrote(std::size_t bytes) override;
  void Finish() override { finished = true; }

  std::int32_t width = 0, height = 0;
  int begun = 0;
  bool finished = false;
  std::vector<std::uint8_t> bytes;

 private:
  std::size_t m_piece;
  std::vector<std::uint8_t> m_space;
};

}  // namespace kez::testing
