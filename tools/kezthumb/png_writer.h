// PNG encoding of a straight-alpha RGBA picture, with text chunks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_sink.h"

namespace kezthumb {

struct PngText {
  std::string key;    // 1 to 79 Latin-1 bytes, as PNG asks
  std::string value;  // stored uncompressed (tEXt)
};

// Encodes width x height pixels of 4 bytes R, G, B, A (top row first, no
// padding; straight alpha) as an 8-bit RGBA PNG with the text chunks placed
// before the image data, so a reader finds them without inflating anything.
// False, with a reason in *error, when libpng refuses or memory runs out.
bool EncodePng(const std::uint8_t* rgba, int width, int height, const std::vector<PngText>& text,
               std::vector<std::uint8_t>* out, std::string* error);
// The same, handing the file's bytes to `sink` as they are made; a sink
// that fails ends the encoding (with a reason of its own to give).
bool EncodePng(const std::uint8_t* rgba, int width, int height, const std::vector<PngText>& text,
               const ByteSink& sink, std::string* error);

}  // namespace kezthumb
