// Builds packed layered-image documents ("kelpack" header, XML text, "PAC "
// blocks) for tests, fuzz seeds, benchmarks and the tool's checks. Every field
// can be overridden, so a test can damage any part of a document on purpose.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kez::testing {

// One "PAC " block. By default the header is consistent with the payload:
// compression 0 stores `payload` as it is, compression 1 stores its zlib
// stream; storedSize and rawSize follow from that.
struct PackedBlock {
  std::string name;  // written zero-padded into the 64-byte field (64 bytes: no terminator)
  std::uint32_t compression = 0;
  std::vector<std::uint8_t> payload;  // the data before compression

  // Overrides, for damaged documents.
  std::array<std::uint8_t, 4> magic{'P', 'A', 'C', ' '};
  std::optional<std::vector<std::uint8_t>> stored;        // exact bytes after the header
  std::optional<std::uint32_t> storedSize;                // header field only
  std::optional<std::uint32_t> rawSize;                   // header field only
  std::optional<std::array<std::uint8_t, 64>> nameField;  // the raw 64 name bytes
  std::uint32_t field4 = 0;                               // uninterpreted header words
  std::uint8_t fillerByte = 0;                            // fills the 48 uninterpreted bytes
};

struct PackedDocument {
  std::array<std::uint8_t, 8> magic{'k', 'e', 'l', 'p', 'a', 'c', 'k', 0};
  std::uint32_t field8 = 0;
  std::optional<std::uint32_t> xmlLength;  // header field only; default: xml.size()
  std::uint32_t field16 = 0;
  std::string xml;
  std::vector<PackedBlock> blocks;
  std::vector<std::uint8_t> trailing;  // raw bytes after the last block
};

// Where the parts of a written document lie (byte offsets into `bytes`).
struct PackedLayout {
  std::vector<std::uint8_t> bytes;
  std::size_t xmlOffset = 0;
  std::vector<std::size_t> blockOffsets;    // each block's 132-byte header
  std::vector<std::size_t> payloadOffsets;  // each block's stored bytes
};

constexpr std::size_t kPackedFileHeaderSize = 20;
constexpr std::size_t kPackedBlockHeaderSize = 132;

PackedLayout LayOutPackedDocument(const PackedDocument& document);
std::vector<std::uint8_t> WritePackedDocument(const PackedDocument& document);

// A zlib stream (RFC 1950) of `data` at the given level.
std::vector<std::uint8_t> ZlibCompress(const std::vector<std::uint8_t>& data, int level = 6);

// The XML header `<Kelapp><Thumb width=".." height=".." bin=".."/></Kelapp>`,
// with the attribute texts exactly as given.
std::string ThumbXml(const std::string& width, const std::string& height, const std::string& bin);

// Pixel values as the bytes a preview block holds (low byte first).
std::vector<std::uint8_t> PixelBytes(const std::vector<std::uint32_t>& pixels);

// A deterministic width x height test picture with varied colour and alpha.
std::vector<std::uint32_t> PatternPixels(int width, int height, std::uint32_t seed = 1);

// A well-formed document whose preview block (named "thumbnail") holds
// `pixels` (width x height values), stored raw or zlib-compressed, preceded by
// one decoy block.
PackedDocument MakePackedPreviewDocument(int width, int height, const std::vector<std::uint32_t>& pixels, bool zlib);

}  // namespace kez::testing
