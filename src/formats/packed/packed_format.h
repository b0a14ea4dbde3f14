// Layout and limits of the packed layered-image format, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace packed {

// File header: magic, an uninterpreted word, xmlLength, an uninterpreted word.
constexpr char kMagic[8] = {'k', 'e', 'l', 'p', 'a', 'c', 'k', '\0'};
constexpr std::size_t kMagicSize = 8;
constexpr std::size_t kHeaderWordsSize = 12;
constexpr std::size_t kXmlLengthOffset = 4;  // within the three header words

// "PAC " block header; the payload follows it.
constexpr std::size_t kBlockHeaderSize = 132;
constexpr std::uint8_t kBlockMagic[4] = {'P', 'A', 'C', ' '};
constexpr std::size_t kCompressionOffset = 8;
constexpr std::size_t kStoredSizeOffset = 12;
constexpr std::size_t kRawSizeOffset = 16;
constexpr std::size_t kNameOffset = 68;
constexpr std::size_t kNameSize = 64;

constexpr std::uint32_t kCompressionStored = 0;
constexpr std::uint32_t kCompressionZlib = 1;

// Limits on untrusted numbers.
constexpr std::uint32_t kMaxXmlLength = 0xA00000;  // xmlLength must stay below this
constexpr std::size_t kXmlPadding = 8;             // zero bytes after the XML text (4 would do)
constexpr std::int32_t kMaxPreviewSide = 1024;
// The XML parser recurses once per element level (a few hundred bytes of
// stack each); headers nest a handful of levels, a hostile one millions.
constexpr std::size_t kMaxXmlNesting = 256;
constexpr int kPlaceholderSide = 64;

// Deflate cannot expand one input byte into more than 1032 output bytes (a
// 258-byte match coded in two bits), so a zlib stream of n bytes inflates to
// at most n * 1032 bytes: a larger rawSize can never be filled and need not
// be allocated. Beyond that, an inflate buffer above kMaxInflateBuffer is
// refused: the preview is at most 4 MiB and needs no more.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr std::uint64_t kMaxInflateBuffer = 64u << 20;

// Stream data is read into memory in pieces of at most this size, so that a
// length field the stream cannot back never sizes an allocation.
constexpr std::uint32_t kReadPiece = 1u << 20;

inline std::uint32_t Load32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace packed
