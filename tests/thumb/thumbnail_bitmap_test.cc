// The section as a bottom-up 32-bit DIB: header, row order, byte order, and
// a picture copied in at its place.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/testing.h"
#include "support/picture.h"
#include "thumb/dib_pixels.h"
#include "thumb/thumbnail_bitmap.h"

namespace {

namespace pt = platform::testing;

class ThumbnailBitmapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pt::ResetPlatform();
    m_liveDibs = pt::LiveDibs();
  }
  void TearDown() override {
    EXPECT_EQ(pt::LiveDibs(), m_liveDibs);
    pt::ResetPlatform();
  }

  int m_liveDibs = 0;  // earlier failed tests may have left sections behind
};

void Paint(lumo::CImage32& image, int w, int h, std::uint32_t colour) {
  ASSERT_TRUE(image.Resize(w, h));
  image.Fill(colour);
}

// A section with the image copied in at the square's top-left corner, as
// the thumbnail would show it; false when it has no pixels.
bool CreateThumbnailBitmap(const lumo::CImage32& image, int cx, HBITMAP* bitmap) {
  std::uint8_t* bits = nullptr;
  *bitmap = CreateThumbnailSection(cx, &bits);
  if (bits != nullptr) CopyIntoSection(image, cx, 0, 0, bits);
  return bits != nullptr;
}

TEST_F(ThumbnailBitmapTest, HeaderDescribesABottomUpThirtyTwoBitSquare) {
  lumo::CImage32 image;
  Paint(image, 96, 96, 0);
  HBITMAP bitmap = nullptr;
  ASSERT_TRUE(CreateThumbnailBitmap(image, 96, &bitmap));
  const auto dib = pt::ReadDib(bitmap);
  ASSERT_TRUE(dib.has_value());
  const BITMAPINFOHEADER& h = dib->header;
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 96);
  EXPECT_EQ(h.biHeight, 96);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 32);
  EXPECT_EQ(h.biCompression, BI_RGB);
  EXPECT_EQ(h.biSizeImage, 0u);
  EXPECT_EQ(h.biXPelsPerMeter, 0);
  EXPECT_EQ(h.biYPelsPerMeter, 0);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_EQ(h.biClrImportant, 0u);
  EXPECT_EQ(dib->size, 96u * 96u * 4u);
  DeleteObject(bitmap);
}

TEST_F(ThumbnailBitmapTest, TopRowEndsUpInTheLastBytes) {
  constexpr int cx = 5;
  lumo::CImage32 image;
  Paint(image, cx, cx, 0);
  for (int x = 0; x < cx; ++x) image.SetPixel(x, 0, 0xFFFF0000u);
  HBITMAP bitmap = nullptr;
  ASSERT_TRUE(CreateThumbnailBitmap(image, cx, &bitmap));
  std::vector<std::uint8_t> expected(cx * cx * 4, 0);
  for (int x = 0; x < cx; ++x) {
    const std::uint8_t red[] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(&expected[(cx - 1) * cx * 4 + x * 4], red, 4);
  }
  EXPECT_EQ(kez::testing::DibBytes(bitmap), expected);
  DeleteObject(bitmap);
}

TEST_F(ThumbnailBitmapTest, ChannelsAreCopiedWithoutPremultiplication) {
  lumo::CImage32 image;
  Paint(image, 2, 2, 0);
  image.SetPixel(1, 1, 0x80112233u);  // bottom right
  image.SetPixel(0, 0, 0x01FFFFFFu);  // top left: nearly transparent white
  HBITMAP bitmap = nullptr;
  ASSERT_TRUE(CreateThumbnailBitmap(image, 2, &bitmap));
  EXPECT_EQ(kez::testing::DibBytes(bitmap), (std::vector<std::uint8_t>{0, 0, 0, 0, 0x33, 0x22, 0x11, 0x80,  //
                                                                       0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0, 0}));
  DeleteObject(bitmap);
}

// The image need not be cx x cx: what it does not cover is 0, what lies
// beyond cx is left out.
struct CoverCase {
  int width;
  int height;
  int cx;
};

class ThumbnailBitmapCoverTest : public ThumbnailBitmapTest, public ::testing::WithParamInterface<CoverCase> {};

TEST_P(ThumbnailBitmapCoverTest, PixelsOutsideTheImageAreZero) {
  const CoverCase c = GetParam();
  lumo::CImage32 image;
  ASSERT_TRUE(kez::testing::FillPaintingLikePicture(image, c.width, c.height, 7));
  HBITMAP bitmap = nullptr;
  ASSERT_TRUE(CreateThumbnailBitmap(image, c.cx, &bitmap));
  const auto shown = kez::testing::ShownPixels(bitmap);
  ASSERT_EQ(shown.size(), static_cast<std::size_t>(c.cx) * c.cx);
  for (int y = 0; y < c.cx; ++y) {
    for (int x = 0; x < c.cx; ++x) {
      const std::uint32_t want = x < c.width && y < c.height ? image.m_pixels[y * c.width + x] : 0u;
      ASSERT_EQ(shown[static_cast<std::size_t>(y) * c.cx + x], want) << x << "," << y;
    }
  }
  DeleteObject(bitmap);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ThumbnailBitmapCoverTest,
                         ::testing::Values(CoverCase{257, 257, 257}, CoverCase{3, 2, 4}, CoverCase{6, 6, 4},
                                           CoverCase{1, 9, 5}, CoverCase{9, 1, 5}, CoverCase{1, 1, 1}));

TEST_F(ThumbnailBitmapTest, FailedSectionStoresNullAndCopiesNothing) {
  lumo::CImage32 image;
  Paint(image, 4, 4, 0xFFFFFFFFu);
  pt::FailCreateDIBSection(pt::DibFault::NullHandle);
  HBITMAP bitmap = reinterpret_cast<HBITMAP>(0x10);
  EXPECT_FALSE(CreateThumbnailBitmap(image, 4, &bitmap));
  EXPECT_EQ(bitmap, nullptr);
}

TEST_F(ThumbnailBitmapTest, SectionWithoutPixelsIsAFailureThatStillHandsOverTheHandle) {
  lumo::CImage32 image;
  Paint(image, 4, 4, 0xFFFFFFFFu);
  pt::FailCreateDIBSection(pt::DibFault::NullBits);
  HBITMAP bitmap = nullptr;
  EXPECT_FALSE(CreateThumbnailBitmap(image, 4, &bitmap));
  ASSERT_NE(bitmap, nullptr);
  EXPECT_TRUE(pt::ReadDib(bitmap).has_value());
  EXPECT_EQ(DeleteObject(bitmap), TRUE);
}

TEST_F(ThumbnailBitmapTest, NoSectionForAnEmptyEdge) {
  std::uint8_t* bits = reinterpret_cast<std::uint8_t*>(0x10);
  EXPECT_EQ(CreateThumbnailSection(0, &bits), nullptr);
  EXPECT_EQ(bits, nullptr);
  EXPECT_EQ(pt::CreateDIBSectionCalls(), 1);
}

// A picture placed anywhere: its pixels at their place, bottom row first in
// memory, and nothing else written.
TEST_F(ThumbnailBitmapTest, CopyWritesThePictureAtItsPlaceAndNothingElse) {
  lumo::CImage32 image;
  ASSERT_TRUE(kez::testing::FillPaintingLikePicture(image, 3, 2, 1));
  for (const auto& [left, top] : {std::pair{0, 0}, {2, 1}, {-1, 3}, {4, -1}}) {
    std::vector<std::uint32_t> square(5 * 5, 0xABABABABu);
    CopyIntoSection(image, 5, left, top, reinterpret_cast<std::uint8_t*>(square.data()));
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 5; ++x) {
        const bool inside = x >= left && x < left + 3 && y >= top && y < top + 2;
        const std::uint32_t want = inside ? image.m_pixels[(y - top) * 3 + (x - left)] : 0xABABABABu;
        ASSERT_EQ(square[static_cast<std::size_t>(4 - y) * 5 + x], want) << x << "," << y << " at " << left << "," << top;
      }
  }
}

}  // namespace
