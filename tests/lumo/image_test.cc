#include "lumo/image.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "lumo/memory.h"

namespace {

using lumo::CImage32;
using lumo::kCheckerGrey;
using lumo::kWhite;

// Exposes the protected geometry helper.
struct GeometryProbe : lumo::CImageBase {
  bool IsReady() const override { return true; }
  using lumo::CImageBase::SetGeometry;
};

struct GeometryCase {
  std::int32_t width, height;
  double bytesPerPixel;
  std::int32_t rowBytes;
  std::uint8_t isPow2;
};

void PrintTo(const GeometryCase& c, std::ostream* os) { *os << c.width << "x" << c.height << " at " << c.bytesPerPixel; }

class Geometry : public testing::TestWithParam<GeometryCase> {};

TEST_P(Geometry, RowBytesAndPowerOfTwoFlag) {
  const GeometryCase& c = GetParam();
  GeometryProbe probe;
  probe.m_isPow2 = 7;  // must be overwritten either way
  probe.SetGeometry(c.width, c.height, c.bytesPerPixel);
  EXPECT_EQ(probe.m_width, c.width);
  EXPECT_EQ(probe.m_height, c.height);
  EXPECT_EQ(probe.m_rowBytes, c.rowBytes);
  EXPECT_EQ(probe.m_isPow2, c.isPow2);
}

INSTANTIATE_TEST_SUITE_P(Table, Geometry,
                         testing::Values(GeometryCase{0, 0, 4.0, 0, 1}, GeometryCase{1, 1, 4.0, 4, 1},
                                         GeometryCase{64, 64, 4.0, 256, 1}, GeometryCase{64, 48, 4.0, 256, 0},
                                         GeometryCase{3, 4, 4.0, 12, 0}, GeometryCase{1, 5, 4.0, 4, 0},
                                         GeometryCase{3, 4, 1.0, 3, 0}, GeometryCase{2, 1024, 1.0, 2, 1},
                                         GeometryCase{3, 1, 1.5, 5, 0},  // ceil(4.5)
                                         GeometryCase{0x40000000, 1, 1.0, 0x40000000, 1},
                                         // bits counted over all 32: -1 has 32, INT_MIN one
                                         GeometryCase{-1, 1, 1.0, -1, 0}, GeometryCase{1, INT_MIN, 1.0, 1, 1}));

TEST(Image32, NewImageIsOneTransparentPixel) {
  CImage32 image;
  EXPECT_EQ(image.m_width, 1);
  EXPECT_EQ(image.m_height, 1);
  EXPECT_EQ(image.m_rowBytes, 4);
  EXPECT_EQ(image.m_isPow2, 1);
  EXPECT_EQ(image.m_lockCount, 0);
  ASSERT_NE(image.m_pixels, nullptr);
  EXPECT_EQ(image.m_pixels[0], 0u);
  EXPECT_EQ(image.m_pixels, image.m_buffer->Data());
  EXPECT_TRUE(image.IsReady());
}

TEST(Image32, NewImageAllocatesNothing) {
  const std::int64_t before = lumo::GetMemoryStats().total;
  { CImage32 image; }
  EXPECT_EQ(lumo::GetMemoryStats().total, before);
}

struct ResizeCase {
  int width, height;
  int expectWidth, expectHeight, rowBytes, isPow2;
};

void PrintTo(const ResizeCase& c, std::ostream* os) { *os << c.width << "x" << c.height; }

class Resize : public testing::TestWithParam<ResizeCase> {};

TEST_P(Resize, ClampsAndSetsGeometry) {
  const ResizeCase& c = GetParam();
  CImage32 image;
  EXPECT_TRUE(image.Resize(c.width, c.height));
  EXPECT_EQ(image.m_width, c.expectWidth);
  EXPECT_EQ(image.m_height, c.expectHeight);
  EXPECT_EQ(image.m_rowBytes, c.rowBytes);
  EXPECT_EQ(image.m_isPow2, c.isPow2);
  ASSERT_NE(image.m_pixels, nullptr);
  EXPECT_EQ(image.m_pixels, image.m_buffer->Data());
  // The whole area is writable (ASan checks the heap-served sizes).
  image.Fill(0x01020304u);
  EXPECT_EQ(image.m_pixels[c.expectWidth * c.expectHeight - 1], 0x01020304u);
}

INSTANTIATE_TEST_SUITE_P(Table, Resize,
                         testing::Values(ResizeCase{0, 5, 1, 5, 4, 0}, ResizeCase{-3, -3, 1, 1, 4, 1},
                                         ResizeCase{0, 0, 1, 1, 4, 1}, ResizeCase{64, 64, 64, 64, 256, 1},
                                         ResizeCase{64, 48, 64, 48, 256, 0}, ResizeCase{3, 4, 3, 4, 12, 0},
                                         ResizeCase{7, -1, 7, 1, 28, 0}, ResizeCase{128, 128, 128, 128, 512, 1},
                                         ResizeCase{1, 1, 1, 1, 4, 1}));

TEST(Image32, ResizeToSameSizeKeepsPixelsAndStorage) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(2, 2));
  image.Fill(0xAABBCCDDu);
  std::uint32_t* const pixels = image.m_pixels;
  EXPECT_TRUE(image.Resize(2, 2));
  EXPECT_EQ(image.m_pixels, pixels);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pixels[i], 0xAABBCCDDu);
}

TEST(Image32, ResizeZeroOfOneByOneKeepsThePixel) {
  CImage32 image;
  image.SetPixel(0, 0, 0x12345678u);
  std::uint32_t* const pixels = image.m_pixels;
  EXPECT_TRUE(image.Resize(0, 0));
  EXPECT_EQ(image.m_width, 1);
  EXPECT_EQ(image.m_height, 1);
  EXPECT_EQ(image.m_pixels, pixels);
  EXPECT_EQ(image.m_pixels[0], 0x12345678u);
}

TEST(Image32, ResizeAccountsExactBytes) {
  lumo::MemoryStats& stats = lumo::GetMemoryStats();
  const std::int64_t before = stats.total;
  {
    CImage32 image;
    ASSERT_TRUE(image.Resize(64, 64));
    EXPECT_EQ(stats.total - before, 16384);
    ASSERT_TRUE(image.Resize(128, 128));
    EXPECT_EQ(stats.total - before, 65536);
    ASSERT_TRUE(image.Resize(3, 3));
    EXPECT_EQ(stats.total - before, 40);  // 36 rounded up to 8
    ASSERT_TRUE(image.Resize(1, 1));      // no longer the inline pixel
    EXPECT_EQ(stats.total - before, 8);
  }
  EXPECT_EQ(stats.total, before);
}

TEST(Image32, ResizeBeyondStorageLeavesUsableOneByOne) {
  lumo::MemoryStats& stats = lumo::GetMemoryStats();
  const std::int64_t before = stats.total;
  for (auto [w, h] : std::vector<std::pair<int, int>>{{50000, 50000}, {INT_MAX, 2}, {46341, 46341}, {INT_MAX, INT_MAX}}) {
    CImage32 image;
    ASSERT_TRUE(image.Resize(64, 64));
    EXPECT_FALSE(image.Resize(w, h)) << w << "x" << h;
    EXPECT_EQ(image.m_width, 1);
    EXPECT_EQ(image.m_height, 1);
    EXPECT_EQ(image.m_rowBytes, 4);
    EXPECT_EQ(image.m_isPow2, 1);
    ASSERT_NE(image.m_pixels, nullptr);
    image.SetPixel(0, 0, 0xFF00FF00u);
    EXPECT_EQ(image.m_pixels[0], 0xFF00FF00u);
    EXPECT_EQ(stats.total, before);  // the old block went back
    EXPECT_TRUE(image.Resize(16, 16));  // and the image recovers
  }
  EXPECT_EQ(stats.total, before);
}

TEST(Image32, SetPixelWritesExactlyOneElement) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(5, 3));
  image.Fill(0);
  image.SetPixel(4, 2, 0xCAFEBABEu);
  image.SetPixel(1, 1, 0x11223344u);
  for (int i = 0; i < 15; ++i) {
    const std::uint32_t expected = i == 14 ? 0xCAFEBABEu : i == 6 ? 0x11223344u : 0u;
    EXPECT_EQ(image.m_pixels[i], expected) << i;
  }
}

TEST(Image32, SetPixelOutOfRangeChangesNothing) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(5, 3));
  image.Fill(0x55555555u);
  const int outside[][2] = {{-1, 0}, {5, 0}, {0, -1}, {0, 3}, {INT_MIN, 0}, {0, INT_MIN}, {INT_MAX, 1}, {-1, -1}};
  for (const auto& p : outside) image.SetPixel(p[0], p[1], 0xDEADBEEFu);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(image.m_pixels[i], 0x55555555u) << i;
}

TEST(Image32, FillWritesEveryPixel) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(3, 5));
  image.Fill(0x80FF0000u);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(image.m_pixels[i], 0x80FF0000u);
  image.Fill(0);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(image.m_pixels[i], 0u);
}

TEST(Image32, CheckerboardOfSixtyFour) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(64, 64));
  ASSERT_TRUE(image.FillChecker(image.m_width, image.m_height, kWhite, kCheckerGrey));
  struct Spot {
    int x, y;
    std::uint32_t colour;
  };
  const Spot spots[] = {{0, 0, kWhite},        {7, 7, kWhite},       {8, 0, kCheckerGrey}, {15, 7, kCheckerGrey},
                        {0, 8, kCheckerGrey},  {7, 15, kCheckerGrey}, {8, 8, kWhite},      {15, 15, kWhite},
                        {16, 0, kWhite},       {16, 8, kCheckerGrey}, {24, 0, kCheckerGrey}, {63, 63, kWhite},
                        {55, 63, kCheckerGrey}, {56, 63, kWhite},      {63, 0, kCheckerGrey}, {0, 63, kCheckerGrey}};
  for (const Spot& s : spots) EXPECT_EQ(image.m_pixels[s.y * 64 + s.x], s.colour) << s.x << "," << s.y;
  int grey = 0, white = 0;
  for (int i = 0; i < 64 * 64; ++i) {
    grey += image.m_pixels[i] == kCheckerGrey;
    white += image.m_pixels[i] == kWhite;
  }
  EXPECT_EQ(grey, 2048);
  EXPECT_EQ(white, 2048);
}

TEST(Image32, CheckerboardClipsToImageAndRequest) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(10, 10));
  image.Fill(0x11111111u);
  ASSERT_TRUE(image.FillChecker(100, 2, 0xAu, 0xBu));
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) {
      const std::uint32_t expected = y >= 2 ? 0x11111111u : x < 8 ? 0xAu : 0xBu;
      EXPECT_EQ(image.m_pixels[y * 10 + x], expected) << x << "," << y;
    }
  }
  image.Fill(0x11111111u);
  ASSERT_TRUE(image.FillChecker(3, 9, 0xAu, 0xBu));
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) {
      const std::uint32_t expected = x >= 3 || y >= 9 ? 0x11111111u : y < 8 ? 0xAu : 0xBu;
      EXPECT_EQ(image.m_pixels[y * 10 + x], expected) << x << "," << y;
    }
  }
}

TEST(Image32, CheckerboardRefusesEmptyRequests) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(10, 10));
  image.Fill(0x11111111u);
  const int requests[][2] = {{0, 10}, {10, 0}, {-1, 5}, {5, -1}, {INT_MIN, INT_MIN}};
  for (const auto& r : requests) EXPECT_FALSE(image.FillChecker(r[0], r[1], 0xAu, 0xBu)) << r[0] << "," << r[1];
  for (int i = 0; i < 100; ++i) EXPECT_EQ(image.m_pixels[i], 0x11111111u);
}

TEST(Image32, LockAndUnlockAreNoOpsWithoutPagedMemory) {
  ASSERT_EQ(lumo::g_pagedMemory, 0);
  CImage32 image;
  ASSERT_TRUE(image.Resize(4, 4));
  std::uint32_t* const pixels = image.m_pixels;
  image.Lock();
  image.Lock();
  EXPECT_EQ(image.m_lockCount, 0);
  image.Unlock();
  image.Unlock();
  image.Unlock();  // unmatched: not checked, and harmless here
  EXPECT_EQ(image.m_lockCount, 0);
  {
    lumo::ImageLock lock(&image);
    EXPECT_EQ(image.m_lockCount, 0);
  }
  { lumo::ImageLock none(nullptr); }
  EXPECT_EQ(image.m_lockCount, 0);
  EXPECT_EQ(image.m_pixels, pixels);
}

TEST(Image32, RowAddress) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(7, 3));
  const CImage32& constant = image;
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(image.RowAddress(y), image.m_pixels + y * 7);
    EXPECT_EQ(constant.RowAddress(y), image.m_pixels + y * 7);
  }
  for (int y : {-1, 3, INT_MIN, INT_MAX}) {
    EXPECT_EQ(image.RowAddress(y), nullptr) << y;
    EXPECT_EQ(constant.RowAddress(y), nullptr) << y;
  }
}

// Without the cached pointer every pixel access goes to the buffer, which
// must refuse loudly rather than hand out an address.
TEST(Image32, AccessWithoutCachedPointerReachesTheBufferAndThrows) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(4, 4));
  std::uint32_t* const pixels = image.m_pixels;
  image.m_pixels = nullptr;
  auto expectRefusal = [](auto&& access) {
    try {
      access();
      ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Shuold never called");
    }
  };
  expectRefusal([&] { image.SetPixel(1, 1, 5); });
  expectRefusal([&] { image.Fill(5); });
  expectRefusal([&] { image.FillChecker(4, 4, 1, 2); });
  expectRefusal([&] { image.RowAddress(2); });
  expectRefusal([&] { static_cast<const CImage32&>(image).RowAddress(2); });
  // Out of range never reaches the buffer.
  image.SetPixel(4, 0, 5);
  EXPECT_EQ(image.RowAddress(4), nullptr);
  image.m_pixels = pixels;
}

}  // namespace
