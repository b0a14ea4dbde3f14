// The thumbnail provider with readers made up by the test: placement, exact
// DIB contents, the stream reference, results and the failure paths.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/testing.h"
#include "support/picture.h"
#include "support/test_stream.h"
#include "thumb/dib_pixels.h"
#include "thumb/module_count.h"
#include "thumb/thumbnail_provider.h"

namespace {

namespace pt = platform::testing;
using kez::testing::TestStream;

const auto kUntouchedBitmap = reinterpret_cast<HBITMAP>(0x5A5A0);
constexpr WTS_ALPHATYPE kUntouchedAlpha = WTSAT_RGB;  // never what the provider writes

// A reader that delivers a picture given by a colour function and records
// how it was called.
struct PictureReader {
  int width = 1;
  int height = 1;
  std::function<std::uint32_t(int, int)> colour = [](int, int) { return 0xFF336699u; };
  bool result = true;
  int calls = 0;
  IStream* seenStream = nullptr;
  int seenWidth = 0;

  DocumentReader Bind() {
    return [this](lumo::CImage32& image, IStream* stream) {
      ++calls;
      seenStream = stream;
      seenWidth = image.m_width * 10000 + image.m_height;
      if (!result) return false;
      if (!image.Resize(width, height)) return false;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.m_pixels[y * width + x] = colour(x, y);
      return true;
    };
  }
};

class ProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pt::ResetPlatform();
    m_moduleCount = g_moduleCount;
    m_liveDibs = pt::LiveDibs();
  }
  void TearDown() override {
    EXPECT_EQ(g_moduleCount, m_moduleCount);
    EXPECT_EQ(pt::LiveDibs(), m_liveDibs);
    pt::ResetPlatform();
  }

  // A provider holding `stream`, ready for GetThumbnail.
  static TeskThumbnailProvider* Ready(DocumentReader reader, TestStream& stream) {
    auto* provider = new TeskThumbnailProvider(std::move(reader));
    EXPECT_EQ(provider->Initialize(&stream, STGM_READ), S_OK);
    return provider;
  }

  LONG m_moduleCount = 0;
  int m_liveDibs = 0;  // earlier failed tests may have left sections behind
  TestStream m_stream{std::vector<std::uint8_t>(16, 0)};
};

// Placement of uniform pictures: the fitted rectangle in the cx x cx square.
struct PlacementCase {
  const char* name;
  int width;
  int height;
  UINT cx;
  std::uint32_t colour;
  int x, y, w, h;  // the rectangle expected to show the colour
};

class ProviderPlacementTest : public ProviderTest, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(ProviderPlacementTest, PictureIsFittedAndCentredOnTransparentBlack) {
  const PlacementCase c = GetParam();
  PictureReader reader;
  reader.width = c.width;
  reader.height = c.height;
  reader.colour = [&](int, int) { return c.colour; };
  TeskThumbnailProvider* provider = Ready(reader.Bind(), m_stream);
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  ASSERT_EQ(provider->GetThumbnail(c.cx, &bitmap, &alpha), S_OK);
  EXPECT_EQ(alpha, WTSAT_ARGB);
  EXPECT_EQ(provider->Release(), 0u);

  const auto shown = kez::testing::ShownPixels(bitmap);
  ASSERT_EQ(shown.size(), static_cast<std::size_t>(c.cx) * c.cx);
  const int cx = static_cast<int>(c.cx);
  for (int y = 0; y < cx; ++y) {
    for (int x = 0; x < cx; ++x) {
      const bool inside = x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h;
      ASSERT_EQ(shown[static_cast<std::size_t>(y) * cx + x], inside ? c.colour : 0u) << x << "," << y;
    }
  }
  // The same, byte for byte, bottom row first.
  std::vector<std::uint8_t> bytes;
  for (int y = cx - 1; y >= 0; --y) {
    for (int x = 0; x < cx; ++x) {
      const bool inside = x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h;
      const std::uint32_t p = inside ? c.colour : 0u;
      bytes.insert(bytes.end(), {static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 8),
                                 static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 24)});
    }
  }
  EXPECT_EQ(kez::testing::DibBytes(bitmap), bytes);
  DeleteObject(bitmap);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ProviderPlacementTest,
    ::testing::Values(
        // 1024x16 -> 256x4 at y = 128 - 2.
        PlacementCase{"Wide", 1024, 16, 256, 0xFF336699u, 0, 126, 256, 4},
        // 100x300 -> trunc(256 / 3) = 85 wide at x = 128 - 42.
        PlacementCase{"Tall", 100, 300, 256, 0xFF336699u, 86, 0, 85, 256},
        // 1024x1: the height truncates to 0 and is drawn as one row.
        PlacementCase{"Strip", 1024, 1, 256, 0xFF336699u, 0, 128, 256, 1},
        PlacementCase{"Column", 1, 1024, 256, 0xFF336699u, 128, 0, 1, 256},
        // Scaled up as well as down.
        PlacementCase{"SmallSquare", 16, 16, 256, 0xFF336699u, 0, 0, 256, 256},
        // Straight alpha passes unchanged: 0x80112233 is bytes 33 22 11 80.
        PlacementCase{"Translucent", 100, 300, 256, 0x80112233u, 86, 0, 85, 256},
        PlacementCase{"OddBox", 7, 3, 5, 0xFF0000FFu, 0, 1, 5, 2},
        PlacementCase{"Landscape96", 300, 100, 96, 0xFFFFFFFFu, 0, 32, 96, 32},
        PlacementCase{"OnePixel", 40, 30, 1, 0xFF00FF00u, 0, 0, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProviderTest, EnlargedPictureKeepsItsOrientation) {
  // 16x16 on 256: each picture pixel becomes a 16x16 block, row 0 at the top.
  const std::vector<std::uint32_t> picture = kez::testing::PaintingLikePicture(16, 16, 11);
  PictureReader reader;
  reader.width = 16;
  reader.height = 16;
  reader.colour = [&](int x, int y) { return picture[y * 16 + x]; };
  TeskThumbnailProvider* provider = Ready(reader.Bind(), m_stream);
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  ASSERT_EQ(provider->GetThumbnail(256, &bitmap, &alpha), S_OK);
  provider->Release();
  const auto shown = kez::testing::ShownPixels(bitmap);
  ASSERT_EQ(shown.size(), 256u * 256u);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) ASSERT_EQ(shown[y * 256 + x], picture[(y / 16) * 16 + x / 16]) << x << "," << y;
  DeleteObject(bitmap);
}

TEST_F(ProviderTest, ReducedPictureKeepsItsOrientation) {
  // 1024x16 on 256: every 4x4 block of the picture has one colour, so each
  // shown pixel is exactly its block's colour.
  PictureReader reader;
  reader.width = 1024;
  reader.height = 16;
  reader.colour = [](int x, int y) { return 0xFF000000u | static_cast<std::uint32_t>((x / 4) << 8) | (y / 4); };
  TeskThumbnailProvider* provider = Ready(reader.Bind(), m_stream);
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  ASSERT_EQ(provider->GetThumbnail(256, &bitmap, &alpha), S_OK);
  provider->Release();
  const auto shown = kez::testing::ShownPixels(bitmap);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      const std::uint32_t want =
          y >= 126 && y < 130 ? 0xFF000000u | static_cast<std::uint32_t>(x << 8) | static_cast<std::uint32_t>(y - 126) : 0u;
      ASSERT_EQ(shown[y * 256 + x], want) << x << "," << y;
    }
  }
  DeleteObject(bitmap);
}

TEST_F(ProviderTest, ReaderGetsTheStreamAndAFreshImage) {
  PictureReader reader;
  TeskThumbnailProvider* provider = Ready(reader.Bind(), m_stream);
  EXPECT_EQ(m_stream.RefCount(), 2);
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  ASSERT_EQ(provider->GetThumbnail(32, &bitmap, &alpha), S_OK);
  EXPECT_EQ(reader.calls, 1);
  EXPECT_EQ(reader.seenStream, static_cast<IStream*>(&m_stream));
  EXPECT_EQ(reader.seenWidth, 10001);  // 1x1
  // The reference is given up, and the provider never seeks the stream.
  EXPECT_EQ(m_stream.RefCount(), 1);
  EXPECT_EQ(m_stream.seekCalls, 0);
  DeleteObject(bitmap);

  // A second request finds no stream: no thumbnail, nothing written.
  bitmap = kUntouchedBitmap;
  alpha = kUntouchedAlpha;
  EXPECT_EQ(provider->GetThumbnail(32, &bitmap, &alpha), S_FALSE);
  EXPECT_EQ(bitmap, kUntouchedBitmap);
  EXPECT_EQ(alpha, kUntouchedAlpha);
  EXPECT_EQ(reader.calls, 1);
  // Initialising again is still refused.
  EXPECT_EQ(static_cast<std::uint32_t>(provider->Initialize(&m_stream, STGM_READ)), 0x800704DFu);
  EXPECT_EQ(m_stream.RefCount(), 1);
  EXPECT_EQ(provider->Release(), 0u);
}

TEST_F(ProviderTest, NoThumbnailBeforeInitialize) {
  PictureReader reader;
  auto* provider = new TeskThumbnailProvider(reader.Bind());
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  EXPECT_EQ(provider->GetThumbnail(256, &bitmap, &alpha), S_FALSE);
  EXPECT_EQ(bitmap, kUntouchedBitmap);
  EXPECT_EQ(alpha, kUntouchedAlpha);
  EXPECT_EQ(reader.calls, 0);
  EXPECT_EQ(pt::CreateDIBSectionCalls(), 0);
  provider->Release();
}

TEST_F(ProviderTest, SecondInitializeIsRefusedAndKeepsTheFirstStream) {
  PictureReader reader;
  TestStream other(std::vector<std::uint8_t>(4, 0));
  TeskThumbnailProvider* provider = Ready(reader.Bind(), m_stream);
  EXPECT_EQ(static_cast<std::uint32_t>(provider->Initialize(&other, STGM_READ)), 0x800704DFu);
  EXPECT_EQ(other.RefCount(), 1);
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  ASSERT_EQ(provider->GetThumbnail(8, &bitmap, &alpha), S_OK);
  EXPECT_EQ(reader.seenStream, static_cast<IStream*>(&m_stream));
  DeleteObject(bitmap);
  provider->Release();
}

TEST_F(ProviderTest, ProviderDestroyedUnusedGivesTheStreamBack) {
  PictureReader reader;
  TeskThumbnailProvider* provider = Ready(reader.Bind(), m_stream);
  EXPECT_EQ(m_stream.RefCount(), 2);
  EXPECT_EQ(g_moduleCount, m_moduleCount + 1);
  EXPECT_EQ(provider->Release(), 0u);
  EXPECT_EQ(m_stream.RefCount(), 1);
}

TEST_F(ProviderTest, FailingStreamQueryInterfaceIsReportedAndMayBeRetried) {
  PictureReader reader;
  auto* provider = new TeskThumbnailProvider(reader.Bind());
  TestStream refusing(std::vector<std::uint8_t>(4, 0));
  refusing.failQueryInterface = STG_E_ACCESSDENIED;
  EXPECT_EQ(provider->Initialize(&refusing, STGM_READ), STG_E_ACCESSDENIED);
  EXPECT_EQ(refusing.RefCount(), 1);
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  EXPECT_EQ(provider->GetThumbnail(8, &bitmap, &alpha), S_FALSE);
  EXPECT_EQ(bitmap, kUntouchedBitmap);
  // Nothing was held, so a later Initialize may try again.
  EXPECT_EQ(provider->Initialize(&m_stream, STGM_READ), S_OK);
  EXPECT_EQ(m_stream.RefCount(), 2);
  provider->Release();
  EXPECT_EQ(m_stream.RefCount(), 1);
}

TEST_F(ProviderTest, NullArgumentsAreRefusedWithoutSideEffects) {
  PictureReader reader;
  auto* provider = new TeskThumbnailProvider(reader.Bind());
  EXPECT_EQ(provider->Initialize(nullptr, STGM_READ), E_INVALIDARG);
  EXPECT_EQ(provider->QueryInterface(IID_IThumbnailProvider, nullptr), E_POINTER);
  EXPECT_EQ(provider->Initialize(&m_stream, STGM_READ), S_OK);
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  EXPECT_EQ(provider->GetThumbnail(8, nullptr, &alpha), E_POINTER);
  EXPECT_EQ(provider->GetThumbnail(8, &bitmap, nullptr), E_POINTER);
  EXPECT_EQ(alpha, kUntouchedAlpha);
  EXPECT_EQ(bitmap, kUntouchedBitmap);
  EXPECT_EQ(reader.calls, 0);
  // The stream is still held for a proper request.
  EXPECT_EQ(m_stream.RefCount(), 2);
  ASSERT_EQ(provider->GetThumbnail(8, &bitmap, &alpha), S_OK);
  DeleteObject(bitmap);
  provider->Release();
}

TEST_F(ProviderTest, ReaderWithoutPictureGivesNoThumbnail) {
  PictureReader reader;
  reader.result = false;
  TeskThumbnailProvider* provider = Ready(reader.Bind(), m_stream);
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  EXPECT_EQ(provider->GetThumbnail(256, &bitmap, &alpha), S_FALSE);
  EXPECT_EQ(bitmap, kUntouchedBitmap);
  EXPECT_EQ(alpha, kUntouchedAlpha);
  EXPECT_EQ(m_stream.RefCount(), 1);
  EXPECT_EQ(pt::LiveDibs(), m_liveDibs);  // the section made first is gone
  provider->Release();
}

// Exceptions never leave GetThumbnail.
struct ThrowCase {
  const char* name;
  std::function<void()> raise;
  HRESULT result;
};

class ProviderThrowTest : public ProviderTest, public ::testing::WithParamInterface<ThrowCase> {};

TEST_P(ProviderThrowTest, ReaderExceptionBecomesAResult) {
  const ThrowCase& c = GetParam();
  DocumentReader reader = [&](lumo::CImage32& image, IStream*) -> bool {
    image.Resize(64, 64);
    c.raise();
    return true;
  };
  TeskThumbnailProvider* provider = Ready(reader, m_stream);
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  EXPECT_EQ(provider->GetThumbnail(256, &bitmap, &alpha), c.result);
  EXPECT_EQ(bitmap, kUntouchedBitmap);
  EXPECT_EQ(alpha, kUntouchedAlpha);
  EXPECT_EQ(m_stream.RefCount(), 1);
  EXPECT_EQ(provider->GetThumbnail(256, &bitmap, &alpha), S_FALSE);
  provider->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, ProviderThrowTest,
    ::testing::Values(ThrowCase{"RuntimeError", [] { throw std::runtime_error("bad number"); }, S_FALSE},
                      ThrowCase{"OutOfMemory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
                      ThrowCase{"NotAnException", [] { throw 42; }, S_FALSE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProviderTest, EmptyReaderIsNoThumbnail) {
  TeskThumbnailProvider* provider = Ready(DocumentReader(), m_stream);
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  EXPECT_EQ(provider->GetThumbnail(16, &bitmap, &alpha), S_FALSE);
  EXPECT_EQ(bitmap, kUntouchedBitmap);
  EXPECT_EQ(m_stream.RefCount(), 1);
  provider->Release();
}

TEST_F(ProviderTest, FailedSectionIsNoThumbnailAndLeaksNothing) {
  for (const auto fault : {pt::DibFault::NullHandle, pt::DibFault::NullBits}) {
    PictureReader reader;
    TestStream stream(std::vector<std::uint8_t>(4, 0));
    TeskThumbnailProvider* provider = Ready(reader.Bind(), stream);
    pt::FailCreateDIBSection(fault);
    HBITMAP bitmap = kUntouchedBitmap;
    WTS_ALPHATYPE alpha = kUntouchedAlpha;
    EXPECT_EQ(provider->GetThumbnail(64, &bitmap, &alpha), S_FALSE);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(alpha, kUntouchedAlpha);
    EXPECT_EQ(pt::LiveDibs(), m_liveDibs);
    EXPECT_EQ(stream.RefCount(), 1);
    provider->Release();
    pt::FailCreateDIBSection(pt::DibFault::None);
  }
}

TEST_F(ProviderTest, EdgeZeroGivesNoBitmap) {
  PictureReader reader;
  TeskThumbnailProvider* provider = Ready(reader.Bind(), m_stream);
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  EXPECT_EQ(provider->GetThumbnail(0, &bitmap, &alpha), S_FALSE);
  EXPECT_EQ(bitmap, nullptr);
  EXPECT_EQ(alpha, kUntouchedAlpha);
  EXPECT_EQ(m_stream.RefCount(), 1);
  provider->Release();
}

TEST_F(ProviderTest, InterfacesAnswerAsTheTableSays) {
  auto* provider = new TeskThumbnailProvider(DocumentReader());
  EXPECT_EQ(g_moduleCount, m_moduleCount + 1);
  IThumbnailProvider* const second = provider;
  IInitializeWithStream* const first = provider;
  EXPECT_EQ(static_cast<void*>(first), static_cast<void*>(provider));
  EXPECT_NE(static_cast<void*>(second), static_cast<void*>(first));

  void* out = nullptr;
  EXPECT_EQ(provider->QueryInterface(IID_IThumbnailProvider, &out), S_OK);
  EXPECT_EQ(out, static_cast<void*>(second));
  EXPECT_EQ(provider->QueryInterface(IID_IInitializeWithStream, &out), S_OK);
  EXPECT_EQ(out, static_cast<void*>(first));
  EXPECT_EQ(provider->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<void*>(second));
  out = provider;
  EXPECT_EQ(provider->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  // Three successful answers added three references; both interface
  // pointers count on the same object.
  EXPECT_EQ(second->AddRef(), 5u);
  EXPECT_EQ(first->Release(), 4u);
  for (int i = 0; i < 3; ++i) second->Release();
  EXPECT_EQ(g_moduleCount, m_moduleCount + 1);
  EXPECT_EQ(first->Release(), 0u);
  EXPECT_EQ(g_moduleCount, m_moduleCount);
}

}  // namespace
