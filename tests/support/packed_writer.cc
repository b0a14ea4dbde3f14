#include "support/packed_writer.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace kez::testing {

namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::vector<std::uint8_t> StoredBytes(const PackedBlock& block) {
  if (block.stored) return *block.stored;
  if (block.compression == 1) return ZlibCompress(block.payload);
  return block.payload;
}

}  // namespace

std::vector<std::uint8_t> ZlibCompress(const std::vector<std::uint8_t>& data, int level) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<std::uint8_t> out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
    throw std::runtime_error("zlib compress2 failed");
  out.resize(size);
  return out;
}

PackedLayout LayOutPackedDocument(const PackedDocument& document) {
  PackedLayout layout;
  auto& out = layout.bytes;
  out.insert(out.end(), document.magic.begin(), document.magic.end());
  Put32(out, document.field8);
  Put32(out, document.xmlLength.value_or(static_cast<std::uint32_t>(document.xml.size())));
  Put32(out, document.field16);
  layout.xmlOffset = out.size();
  out.insert(out.end(), document.xml.begin(), document.xml.end());

  for (const PackedBlock& block : document.blocks) {
    const std::vector<std::uint8_t> stored = StoredBytes(block);
    layout.blockOffsets.push_back(out.size());
    out.insert(out.end(), block.magic.begin(), block.magic.end());
    Put32(out, block.field4);
    Put32(out, block.compression);
    Put32(out, block.storedSize.value_or(static_cast<std::uint32_t>(stored.size())));
    Put32(out, block.rawSize.value_or(static_cast<std::uint32_t>(block.payload.size())));
    out.insert(out.end(), 48, block.fillerByte);
    std::array<std::uint8_t, 64> name{};
    if (block.nameField) {
      name = *block.nameField;
    } else {
      if (block.name.size() > name.size()) throw std::invalid_argument("block name longer than 64 bytes");
      std::copy(block.name.begin(), block.name.end(), name.begin());
    }
    out.insert(out.end(), name.begin(), name.end());
    layout.payloadOffsets.push_back(out.size());
    out.insert(out.end(), stored.begin(), stored.end());
  }
  out.insert(out.end(), document.trailing.begin(), document.trailing.end());
  return layout;
}

std::vector<std::uint8_t> WritePackedDocument(const PackedDocument& document) {
  return LayOutPackedDocument(document).bytes;
}

std::string ThumbXml(const std::string& width, const std::string& height, const std::string& bin) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Kelapp version=\"1\">\n  <Layers count=\"0\"/>\n"
         "  <Thumb width=\"" +
         width + "\" height=\"" + height + "\" bin=\"" + bin + "\"/>\n</Kelapp>\n";
}

std::vector<std::uint8_t> PixelBytes(const std::vector<std::uint32_t>& pixels) {
  std::vector<std::uint8_t> out;
  out.reserve(pixels.size() * 4);
  for (std::uint32_t p : pixels) Put32(out, p);
  return out;
}

std::vector<std::uint32_t> PatternPixels(int width, int height, std::uint32_t seed) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  std::uint32_t state = seed * 2654435761u + 12345u;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      // Smooth gradients plus noise in the low bits keep zlib honest.
      const std::uint32_t r = static_cast<std::uint32_t>(x * 255 / std::max(1, width - 1));
      const std::uint32_t g = static_cast<std::uint32_t>(y * 255 / std::max(1, height - 1));
      const std::uint32_t b = (state >> 24) & 0xFF;
      const std::uint32_t a = 0x80 | ((state >> 16) & 0x7F);
      pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
          (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  return pixels;
}

PackedDocument MakePackedPreviewDocument(int width, int height, const std::vector<std::uint32_t>& pixels, bool zlib) {
  PackedDocument document;
  document.xml = ThumbXml(std::to_string(width), std::to_string(height), "thumbnail");
  PackedBlock decoy;
  decoy.name = "layer0";
  decoy.compression = 0;
  decoy.payload.assign(256, 0x5A);
  document.blocks.push_back(decoy);
  PackedBlock preview;
  preview.name = "thumbnail";
  preview.compression = zlib ? 1 : 0;
  preview.payload = PixelBytes(pixels);
  document.blocks.push_back(preview);
  return document;
}

}  // namespace kez::testing
