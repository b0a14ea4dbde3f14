// PNGs read back in the tests with libpng's simplified reader, as R, G, B, A
// bytes top row first, with the format the file stores.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

namespace kez::testing {

struct DecodedPng {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
  png_uint_32 format = 0;  // as stored
};

namespace detail {
// Finishes a read that `begin` started on image; empty on any failure.
template <typename Begin>
DecodedPng ReadPng(Begin begin) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  DecodedPng out;
  if (!begin(&image)) return out;
  out.format = image.format;
  image.format = PNG_FORMAT_RGBA;
  out.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) return {};
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  return out;
}
}  // namespace detail

inline DecodedPng DecodePng(const std::vector<std::uint8_t>& bytes) {
  return detail::ReadPng(
      [&](png_image* image) { return png_image_begin_read_from_memory(image, bytes.data(), bytes.size()) != 0; });
}

inline DecodedPng DecodePngFile(const std::filesystem::path& path) {
  return detail::ReadPng(
      [&](png_image* image) { return png_image_begin_read_from_file(image, path.c_str()) != 0; });
}

}  // namespace kez::testing
