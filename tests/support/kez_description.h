// ".kez" documents from a compact description, for the structure-aware
// fuzzer and its seeds: a few bytes of header fields and layout choices, the
// root record's bytes, the blob's bytes (its kind byte and header included),
// then patches aimed at named structures. The expansion stores only the bytes
// it writes (pages are short vectors, zero beyond their end), so a document of
// many 64 KiB pages costs little more than its description.
//
// Encoding, little-endian:
//   fixed part (kKezDescriptionFixed bytes)
//     0  version byte of header page 0      1  version byte of header page 1
//     2  commit counter of page 0 (int8)    3  commit counter of page 1 (int8)
//     4  bits 0-1: index continuation pages; bit 2: root paged; bit 3: blob
//        paged; bit 4: fidx in reverse order; bits 5-6: extra extension
//        pages of the blob's stream; bit 7: a skippable zstd frame's header
//        at blob byte 9 is followed by the zeros it declares (if they are
//        fewer than four pages), so that the frames after it can lie
//        across pages
//     5  head byte 0 of a paged stream (any value but 1)
//     6  blob vidx (1..255; 0 means 3)
//     7  data pages of the blob's stream beyond its content (0..15, zeros)
//     8  pages declared beyond those stored (0..255)
//     9-10  bytes of a trailing partial page
//   root record: u16 length, bytes
//   blob: u16 length, bytes
//   patches to the end, each: u8 target (low 3 bits: what; bits 4-5: width
//     1, 2, 4 or 8 bytes), u16 index, the value in `width` bytes:
//     0 byte `index` of header page (index >> 15)
//     1 the fidx of the map entry of vidx `index`
//     2 byte `index` of the root's head page   3 of the blob's head page
//     4 byte `index` of the blob's first extension page
//     5 byte `index` of the first index continuation page
//     6 byte `index` of the root record       7 of the blob
//   A patch whose structure does not exist is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/kez_writer.h"

namespace kez::testing {

constexpr std::size_t kKezDescriptionFixed = 11;

struct KezDescription {
  std::int8_t version0 = 1;
  std::int8_t version1 = 1;
  std::int8_t counter0 = 0;
  std::int8_t counter1 = 1;
  int continuationPages = 0;  // 0..3
  bool rootPaged = false;
  bool blobPaged = false;
  bool reverseFidx = false;
  int extraExtensionPages = 0;  // 0..3
  bool skippableZeros = false;
  std::uint8_t pagedKind = 0;
  std::uint8_t blobVidx = 3;
  int extraBlobDataPages = 0;  // 0..15
  int extraDeclaredPages = 0;  // 0..255
  std::uint16_t tailBytes = 0;
  std::vector<std::uint8_t> root;
  std::vector<std::uint8_t> blob;
  struct Patch {
    std::uint8_t target;
    std::uint16_t index;
    std::uint64_t value;
  };
  std::vector<Patch> patches;

  std::vector<std::uint8_t> Encode() const;
};

// Any bytes expand to some document; short input reads as zeros.
KezDocument ExpandKezDescription(const std::uint8_t* data, std::size_t size);

}  // namespace kez::testing
