// DIB rows to PNG rows where they lie: bottom-up B, G, R, A in, top-down
// R, G, B, A out.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kezthumb/dib_pixels.h"
#include "platform/testing.h"

namespace kezthumb {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A 2 x 2 DIB: memory row 0 is the picture's bottom row.
const Bytes kDib = {0x33, 0x22, 0x11, 0x80, 0x01, 0x02, 0x03, 0x00,   // bottom: 0x80112233, 0x00030201
                    0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x7F};  // top: red, translucent blue

TEST(ConvertDibInPlace, BottomUpToTopDownWithStraightAlpha) {
  Bytes rgba = kDib;
  ConvertDibInPlace(rgba.data(), 2, true, false);
  EXPECT_EQ(rgba, (Bytes{0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x7F,    // top row
                         0x11, 0x22, 0x33, 0x80, 0x03, 0x02, 0x01, 0x00}));  // no premultiplication
}

TEST(ConvertDibInPlace, TopDownAndOpaque) {
  Bytes rgba = kDib;
  ConvertDibInPlace(rgba.data(), 2, false, true);
  EXPECT_EQ(rgba, (Bytes{0x11, 0x22, 0x33, 0xFF, 0x03, 0x02, 0x01, 0xFF,
                         0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF}));
}

// Only a live 32-bit section of exactly cx x cx is read back.
TEST(DibToRgba, ChecksTheSection) {
  const auto make = [](LONG width, LONG height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  };
  HBITMAP square = make(2, 2);
  ASSERT_NE(square, nullptr);
  std::uint8_t* bits = platform::testing::ReadDib(square)->bits;
  std::memcpy(bits, kDib.data(), kDib.size());
  EXPECT_EQ(DibToRgba(square, 3, false), nullptr);  // another size than asked
  EXPECT_EQ(DibToRgba(square, 2, false), bits);     // turned where it lies
  EXPECT_EQ(bits[0], 0xFF);
  HBITMAP topDown = make(2, -2);
  std::memcpy(platform::testing::ReadDib(topDown)->bits, kDib.data(), kDib.size());
  const std::uint8_t* rgba = DibToRgba(topDown, 2, false);
  ASSERT_NE(rgba, nullptr);
  EXPECT_EQ(rgba[0], 0x11);
  HBITMAP wide = make(4, 2);
  EXPECT_EQ(DibToRgba(wide, 2, false), nullptr);
  DeleteObject(square);
  DeleteObject(topDown);
  DeleteObject(wide);
  EXPECT_EQ(DibToRgba(square, 2, false), nullptr);  // deleted
  EXPECT_EQ(DibToRgba(nullptr, 2, false), nullptr);
}

}  // namespace
}  // namespace kezthumb
