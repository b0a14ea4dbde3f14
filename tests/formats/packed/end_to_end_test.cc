// A packed document through the whole COM road: a ClassFactory of the packed
// kind, CreateInstance, Initialize, GetThumbnail, and the DIB it hands back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compose/resample.h"
#include "dll/class_factory.h"
#include "packed_test_util.h"
#include "platform/shell.h"
#include "platform/testing.h"
#include "support/two_roads.h"
#include "thumb/module_count.h"

namespace kez::testing {
namespace {

namespace pt = platform::testing;

const HBITMAP kUntouchedBitmap = reinterpret_cast<HBITMAP>(0x5A5A0);

// What the shell would get from the packed kind for these bytes.
struct ShellResult {
  HRESULT hr = E_FAIL;
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  LONG streamRefsAfter = 0;
};

ShellResult AskShell(const std::vector<std::uint8_t>& bytes, UINT cx) {
  ShellResult result;
  TestStream stream(bytes);
  auto* factory = new ClassFactory(ClassFactory::kPackedKind);
  IInitializeWithStream* init = nullptr;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init)), S_OK);
  factory->Release();
  if (init == nullptr) return result;
  EXPECT_EQ(init->Initialize(&stream, 0), S_OK);
  IThumbnailProvider* provider = nullptr;
  EXPECT_EQ(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
  init->Release();
  result.hr = provider->GetThumbnail(cx, &result.bitmap, &result.alpha);
  EXPECT_EQ(provider->Release(), 0u);
  result.streamRefsAfter = stream.RefCount();
  return result;
}

// The picture a cx x cx DIB shows, top row first.
std::vector<std::uint32_t> Shown(HBITMAP bitmap) {
  const auto dib = pt::ReadDib(bitmap);
  if (!dib || dib->bits == nullptr) return {};
  const int cx = dib->header.biWidth;
  std::vector<std::uint32_t> out(static_cast<std::size_t>(cx) * cx);
  for (int y = 0; y < cx; ++y)
    for (int x = 0; x < cx; ++x) {
      const BYTE* b = dib->bits + (static_cast<std::size_t>(cx - 1 - y) * cx + x) * 4;
      out[static_cast<std::size_t>(y) * cx + x] =
          b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    }
  return out;
}

// The preview fitted into the square, resampled and centred on transparent
// black, built from the pixels the writer was given.
std::vector<std::uint32_t> ExpectedSquare(const std::vector<std::uint32_t>& pixels, int width, int height, int cx) {
  lumo::CImage32 source;
  source.Resize(width, height);
  std::copy(pixels.begin(), pixels.end(), source.m_pixels);
  lumo::FitResult fit;
  lumo::FitSize(cx, cx, width, height, fit);
  lumo::CImage32 fitted;
  fitted.Resize(std::max(fit.width, 1), std::max(fit.height, 1));
  lumo::Resample(fitted, source);
  const int left = cx / 2 - fitted.m_width / 2;
  const int top = cx / 2 - fitted.m_height / 2;
  std::vector<std::uint32_t> square(static_cast<std::size_t>(cx) * cx, 0);
  for (int y = 0; y < fitted.m_height; ++y)
    for (int x = 0; x < fitted.m_width; ++x)
      square[static_cast<std::size_t>(top + y) * cx + (left + x)] = fitted.m_pixels[y * fitted.m_width + x];
  return square;
}

class PackedThroughTheShell : public ::testing::Test {
 protected:
  void SetUp() override {
    pt::ResetPlatform();
    ASSERT_EQ(g_moduleCount, 0);
  }
  void TearDown() override {
    EXPECT_EQ(g_moduleCount, 0);
    EXPECT_EQ(pt::LiveDibs(), 0);
    pt::ResetPlatform();
  }
};

struct RoadCase {
  int width;
  int height;
  bool zlib;
  UINT cx;
};

class PackedRoad : public PackedThroughTheShell, public ::testing::WithParamInterface<RoadCase> {};

TEST_P(PackedRoad, DibIsTheFittedResampledCentredPreview) {
  const RoadCase c = GetParam();
  const std::vector<std::uint32_t> pixels = PatternPixels(c.width, c.height, 21);
  const ShellResult result =
      AskShell(WritePackedDocument(MakePackedPreviewDocument(c.width, c.height, pixels, c.zlib)), c.cx);
  ASSERT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.alpha, WTSAT_ARGB);
  EXPECT_EQ(result.streamRefsAfter, 1);
  const std::vector<std::uint32_t> shown = Shown(result.bitmap);
  const std::vector<std::uint32_t> expected = ExpectedSquare(pixels, c.width, c.height, static_cast<int>(c.cx));
  ASSERT_EQ(shown.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    ASSERT_EQ(shown[i], expected[i]) << "pixel " << i % c.cx << "," << i / c.cx;
  DeleteObject(result.bitmap);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PackedRoad,
                         ::testing::Values(RoadCase{16, 16, false, 64},     // whole-multiple enlargement
                                           RoadCase{64, 48, true, 32},      // reduction by area average
                                           RoadCase{100, 300, false, 256},  // portrait, 85 x 256
                                           RoadCase{1024, 16, true, 256},   // 256 x 4 strip
                                           RoadCase{1024, 1, false, 256},   // height truncates to 0, drawn as 1
                                           RoadCase{7, 5, true, 96}));

// One known picture, checked pixel by pixel without the compositing code.
TEST_F(PackedThroughTheShell, TwoByTwoPreviewEnlargedFourTimes) {
  const std::vector<std::uint32_t> pixels = {0xFFFF0000u, 0x8000FF00u, 0x400000FFu, 0xFF123456u};
  const ShellResult result = AskShell(WritePackedDocument(MakePackedPreviewDocument(2, 2, pixels, true)), 8);
  ASSERT_EQ(result.hr, S_OK);
  const std::vector<std::uint32_t> shown = Shown(result.bitmap);
  ASSERT_EQ(shown.size(), 64u);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(shown[y * 8 + x], pixels[(y / 4) * 2 + x / 4]) << x << "," << y;
  DeleteObject(result.bitmap);
}

struct NoThumbnailCase {
  const char* label;
  std::string width;
  std::uint32_t xmlLength;  // 0: the real length
};

class PackedNoThumbnail : public PackedThroughTheShell, public ::testing::WithParamInterface<NoThumbnailCase> {};

TEST_P(PackedNoThumbnail, IsSFalseWithNothingWritten) {
  const NoThumbnailCase& c = GetParam();
  PackedDocument document = MakePackedPreviewDocument(4, 4, PatternPixels(4, 4), false);
  document.xml = ThumbXml(c.width, "4", "thumbnail");
  if (c.xmlLength != 0) document.xmlLength = c.xmlLength;
  const ShellResult result = AskShell(WritePackedDocument(document), 32);
  EXPECT_EQ(result.hr, S_FALSE);
  EXPECT_EQ(result.bitmap, kUntouchedBitmap);
  EXPECT_EQ(result.alpha, WTSAT_UNKNOWN);
  EXPECT_EQ(result.streamRefsAfter, 1);
}

INSTANTIATE_TEST_SUITE_P(Documents, PackedNoThumbnail,
                         ::testing::Values(NoThumbnailCase{"WidthNotANumber", "64px", 0},
                                           NoThumbnailCase{"WidthWithLeadingSpace", " 4", 0},
                                           NoThumbnailCase{"WidthBeyondInt32", "99999999999", 0},
                                           NoThumbnailCase{"WidthOutOfRange", "1025", 0},
                                           NoThumbnailCase{"CheckerboardPlaceholder", "4", 0xA00000}),
                         [](const auto& info) { return std::string(info.param.label); });

// The rows road (zlib previews inflated piece by piece into the resampler)
// against the whole picture's, byte for byte.
struct TwoRoadCase {
  const char* name;
  int width, height;
  UINT cx;
  void (*damage)(PackedDocument&);
  bool zlib = true;
};

class BothRoads : public ::testing::TestWithParam<TwoRoadCase> {};

TEST_P(BothRoads, GiveTheSameAnswerAndBytes) {
  const TwoRoadCase c = GetParam();
  const std::vector<std::uint32_t> pixels = PatternPixels(c.width, c.height, 9);
  PackedDocument document = MakePackedPreviewDocument(c.width, c.height, pixels, c.zlib);
  if (c.damage != nullptr) c.damage(document);
  const std::vector<std::uint8_t> bytes = WritePackedDocument(document);
  TestStream byRows(bytes), whole(bytes);
  const RoadAnswer rows = ThumbnailByRows(ClassFactory::kPackedKind, &byRows, c.cx);
  EXPECT_TRUE(rows == ThumbnailWhole(ClassFactory::kPackedKind, &whole, c.cx));
  EXPECT_EQ(rows.hr, c.damage == nullptr ? S_OK : S_FALSE);
  EXPECT_EQ(byRows.readCalls, whole.readCalls);
  EXPECT_EQ(byRows.bytesRead, whole.bytesRead);
}

PackedBlock& Preview(PackedDocument& d) { return d.blocks.back(); }
std::vector<std::uint8_t> Zlib(const PackedDocument& d) { return ZlibCompress(d.blocks.back().payload); }

INSTANTIATE_TEST_SUITE_P(
    Documents, BothRoads,
    ::testing::Values(
        TwoRoadCase{"zlib_1024_to_256", 1024, 1024, 256, nullptr},
        TwoRoadCase{"zlib_portrait_to_97", 300, 500, 97, nullptr},
        TwoRoadCase{"zlib_tripled_to_1536", 512, 512, 1536, nullptr},
        TwoRoadCase{"zlib_enlarged_to_2560", 1024, 700, 2560, nullptr},
        TwoRoadCase{"stored_read_whole", 300, 200, 128, nullptr, false},
        TwoRoadCase{"zlib_cut_short", 300, 200, 128,
                 [](PackedDocument& d) {
                   Preview(d).stored = Zlib(d);
                   Preview(d).stored->resize(Preview(d).stored->size() / 2);
                   d.blocks.push_back(d.blocks.front());  // more blocks after: the stream goes on
                 }},
        TwoRoadCase{"stream_ends_inside_the_block", 300, 200, 128,
                 [](PackedDocument& d) {
                   const std::uint32_t full = static_cast<std::uint32_t>(Zlib(d).size());
                   Preview(d).stored = Zlib(d);
                   Preview(d).stored->resize(full - 100);
                   Preview(d).storedSize = full;
                 }},
        TwoRoadCase{"zlib_corrupt", 300, 200, 128,
                 [](PackedDocument& d) {
                   Preview(d).stored = Zlib(d);
                   (*Preview(d).stored)[Preview(d).stored->size() / 2] ^= 0x55;
                 }},
        TwoRoadCase{"zlib_raw_size_below_the_picture", 300, 200, 128,
                 [](PackedDocument& d) { Preview(d).rawSize = 300 * 200 * 4 - 1; }},
        TwoRoadCase{"zlib_inflates_past_raw_size", 300, 200, 128,
                 [](PackedDocument& d) {
                   Preview(d).payload.resize(Preview(d).payload.size() + 10, 7);
                   Preview(d).rawSize = 300 * 200 * 4 + 9;
                 }},
        // Inflating fails early in a block of several read pieces: every
        // piece is read all the same.
        TwoRoadCase{"zlib_first_byte_flipped_in_a_long_block", 1024, 1024, 256,
                 [](PackedDocument& d) {
                   Preview(d).stored = Zlib(d);
                   (*Preview(d).stored)[0] ^= 0xFF;
                 }},
        TwoRoadCase{"zlib_inflates_past_the_picture_early_in_a_long_block", 1024, 1024, 256,
                 [](PackedDocument& d) {
                   std::vector<std::uint8_t>& payload = Preview(d).payload;
                   payload.insert(payload.begin(), 2 * payload.size(), 0);
                   Preview(d).rawSize = 1024 * 1024 * 4;
                 }},
        TwoRoadCase{"zlib_inflates_short_of_the_picture", 300, 200, 128,
                 [](PackedDocument& d) {
                   Preview(d).payload.resize(Preview(d).payload.size() - 4);
                   Preview(d).rawSize = 300 * 200 * 4;
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kez::testing
