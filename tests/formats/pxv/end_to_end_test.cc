// A ".kez" document made by the writer, through the whole COM road:
// DllGetClassObject -> class factory -> CreateInstance -> Initialize ->
// GetThumbnail, compared pixel for pixel with the fitted, resampled and
// centred picture.
#include <gtest/gtest.h>

#include <cstring>

#include "compose/resample.h"
#include "dll/module.h"
#include "lumo/image.h"
#include "platform/shell.h"
#include "platform/testing.h"
#include "dll/class_factory.h"
#include "support/kez_writer.h"
#include "support/picture.h"
#include "support/two_roads.h"

namespace {

using kez::testing::KezOptions;
using kez::testing::KezPicture;
using kez::testing::KezStream;

// The expected cx x cx square, top row first.
std::vector<std::uint32_t> Expected(const KezPicture& picture, int cx) {
  lumo::CImage32 source;
  EXPECT_TRUE(source.Resize(picture.width, picture.height));
  std::memcpy(source.m_pixels, picture.pixels.data(), picture.pixels.size() * 4);
  lumo::FitResult fit;
  lumo::FitSize(cx, cx, picture.width, picture.height, fit);
  lumo::CImage32 fitted;
  EXPECT_TRUE(fitted.Resize(std::max(fit.width, 1), std::max(fit.height, 1)));
  lumo::Resample(fitted, source);
  const int w = fitted.m_width, h = fitted.m_height;
  const int left = cx / 2 - w / 2, top = cx / 2 - h / 2;
  std::vector<std::uint32_t> square(static_cast<std::size_t>(cx) * cx, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (left + x >= 0 && left + x < cx && top + y >= 0 && top + y < cx)
        square[static_cast<std::size_t>(top + y) * cx + left + x] = fitted.m_pixels[y * w + x];
  return square;
}

struct Thumb {
  HRESULT result = E_FAIL;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  std::vector<std::uint32_t> pixels;  // top row first
};

Thumb GetThumbnailThroughCom(IStream* stream, UINT cx) {
  Thumb thumb;
  IClassFactory* factory = nullptr;
  EXPECT_EQ(DllGetClassObject(CLSID_KezThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  if (factory == nullptr) return thumb;
  IInitializeWithStream* init = nullptr;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init)), S_OK);
  factory->Release();
  if (init == nullptr) return thumb;
  EXPECT_EQ(init->Initialize(stream, STGM_READ), S_OK);
  IThumbnailProvider* provider = nullptr;
  EXPECT_EQ(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
  init->Release();
  if (provider == nullptr) return thumb;
  HBITMAP bitmap = nullptr;
  thumb.result = provider->GetThumbnail(cx, &bitmap, &thumb.alpha);
  provider->Release();
  if (thumb.result != S_OK) return thumb;
  const auto dib = platform::testing::ReadDib(bitmap);
  EXPECT_TRUE(dib.has_value());
  if (dib) {
    EXPECT_EQ(dib->header.biWidth, static_cast<LONG>(cx));
    EXPECT_EQ(dib->header.biHeight, static_cast<LONG>(cx));  // bottom-up
    EXPECT_EQ(dib->header.biBitCount, 32);
    thumb.pixels.resize(static_cast<std::size_t>(cx) * cx);
    for (UINT y = 0; y < cx; ++y)
      std::memcpy(&thumb.pixels[static_cast<std::size_t>(y) * cx], dib->bits + static_cast<std::size_t>(cx - 1 - y) * cx * 4,
                  cx * 4);
  }
  DeleteObject(bitmap);
  return thumb;
}

struct E2eCase {
  const char* name;
  int width, height;
  UINT cx;
  bool zstd;
  std::uint64_t declaredPages = 0;  // a sparse file claiming this many pages
};

class EndToEnd : public ::testing::TestWithParam<E2eCase> {};

TEST_P(EndToEnd, DibEqualsTheFittedResampledCentredPicture) {
  const E2eCase c = GetParam();
  const KezPicture picture = kez::testing::TestPicture(c.width, c.height, 21);
  KezOptions options;
  if (c.zstd) options.blob = KezOptions::Blob::Zstd;
  kez::testing::KezDocument doc = kez::testing::BuildKez(picture, options);
  doc.pageCount = std::max(doc.pageCount, c.declaredPages);
  KezStream stream(doc);
  const Thumb thumb = GetThumbnailThroughCom(&stream, c.cx);
  ASSERT_EQ(thumb.result, S_OK);
  EXPECT_EQ(thumb.alpha, WTSAT_ARGB);
  const std::vector<std::uint32_t> expected = Expected(picture, static_cast<int>(c.cx));
  ASSERT_EQ(thumb.pixels.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    ASSERT_EQ(thumb.pixels[i], expected[i]) << "pixel " << i % c.cx << "," << i / c.cx;
  EXPECT_EQ(stream.RefCount(), 1);  // the provider gave its reference back
}

INSTANTIATE_TEST_SUITE_P(Documents, EndToEnd,
                         ::testing::Values(E2eCase{"landscape_256", 300, 200, 256, true},
                                           E2eCase{"landscape_96", 300, 200, 96, false},
                                           E2eCase{"portrait_256", 90, 240, 256, false},
                                           E2eCase{"portrait_96", 90, 240, 96, true},
                                           E2eCase{"small_scaled_up_256", 16, 16, 256, false},
                                           E2eCase{"exact_multiple_96", 48, 24, 96, true},
                                           E2eCase{"enlarged_to_2560", 300, 200, 2560, true},
                                           E2eCase{"stat_claims_2_to_the_62_bytes", 4, 4, 96, true, 1ULL << 46}),
                         [](const auto& info) { return std::string(info.param.name); });

// The rows road against the whole picture's, byte for byte, good documents
// and damaged ones alike.
struct RoadCase {
  const char* name;
  int width, height;
  UINT cx;
  void (*tune)(KezOptions&, const KezPicture&);
  void (*damage)(kez::testing::KezDocument&) = nullptr;
  HRESULT expected = S_OK;
};

class BothRoads : public ::testing::TestWithParam<RoadCase> {};

// Both roads over a document: the same answer, bytes, notices and reads.
kez::testing::RoadAnswer ExpectBothRoadsAgree(const kez::testing::KezDocument& doc, UINT cx) {
  KezStream byRows(doc), whole(doc);
  const kez::testing::RoadAnswer rows = kez::testing::ThumbnailByRows(ClassFactory::kPxvKind, &byRows, cx);
  EXPECT_TRUE(rows == kez::testing::ThumbnailWhole(ClassFactory::kPxvKind, &whole, cx));
  EXPECT_EQ(byRows.readCalls, whole.readCalls);
  EXPECT_EQ(byRows.bytesRead, whole.bytesRead);
  return rows;
}

KezPicture PaintingLike(int width, int height) {
  KezPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels = kez::testing::PaintingLikePicture(width, height, 3, 2);
  return picture;
}

TEST_P(BothRoads, GiveTheSameAnswerAndBytes) {
  const RoadCase c = GetParam();
  platform::testing::EchoNotices(false);
  const KezPicture picture = PaintingLike(c.width, c.height);
  KezOptions options;
  c.tune(options, picture);
  kez::testing::KezDocument doc = kez::testing::BuildKez(picture, options);
  if (c.damage != nullptr) c.damage(doc);
  EXPECT_EQ(ExpectBothRoadsAgree(doc, c.cx).hr, c.expected);
  platform::testing::EchoNotices(true);
}

// Frames that start a blob with `split` bytes of a frame left in its first
// data page: a skippable frame in front.
constexpr std::size_t kFirstPageFrames = 65536 - 9;
std::vector<std::uint8_t> SplitBlob(const std::vector<std::vector<std::uint8_t>>& parts, std::size_t split,
                                    std::uint64_t declared) {
  std::vector<std::uint8_t> frames = kez::testing::ZstdSkippableFrame(kFirstPageFrames - split);
  for (const auto& part : parts) frames.insert(frames.end(), part.begin(), part.end());
  return kez::testing::ZstdBlobOf(frames, declared);
}

// A header whose first five bytes end the first page: read on from the
// next page, its dictionary id is a frame's magic, and that frame's size is
// its size. zstd in one call refuses the dictionary.
void ZstdHeaderSplitOverAFrame(KezOptions& o, const KezPicture& p) {
  const std::vector<std::uint8_t> bytes = p.Bytes();
  o.blobContent = SplitBlob({{0x28, 0xB5, 0x2F, 0xFD, 0xC3},
                             kez::testing::ZstdRawFrame(bytes.data(), 20000, {}),
                             kez::testing::ZstdFrames({bytes.begin() + 20000, bytes.end()}, {})},
                            5, bytes.size());
}

void Zstd(KezOptions& o, const KezPicture&) { o.blob = KezOptions::Blob::Zstd; }
void Raw(KezOptions&, const KezPicture&) {}
// The blob holds the picture, the root's ThumbRef a smaller one.
void RawLonger(KezOptions& o, const KezPicture& p) {
  o.rootContent = kez::testing::BuildRootRecord({true, p.width - 3, p.height / 2, 3, true, 3, 0});
}
void ZstdLonger(KezOptions& o, const KezPicture& p) {
  Zstd(o, p);
  RawLonger(o, p);
}
void RawShorter(KezOptions& o, const KezPicture& p) {
  o.blobContent = kez::testing::RawBlob(p.Bytes());
  o.blobContent->pop_back();
}
void ZstdShorter(KezOptions& o, const KezPicture& p) {
  std::vector<std::uint8_t> part = p.Bytes();
  part.resize(part.size() - 4);
  o.blobContent = kez::testing::ZstdBlob(part, {}, p.Bytes().size());
}
void ZstdCorrupt(KezOptions& o, const KezPicture& p) {
  o.blobContent = kez::testing::ZstdBlob(p.Bytes(), {});
  (*o.blobContent)[o.blobContent->size() / 2] ^= 0x5A;
}
void ZstdChecksumWrong(KezOptions& o, const KezPicture& p) {
  kez::testing::KezZstdOptions z;
  z.checksum = true;
  o.blobContent = kez::testing::ZstdBlob(p.Bytes(), z);
  o.blobContent->back() ^= 1;
}
void ZstdCut(KezOptions& o, const KezPicture& p) {
  o.blobContent = kez::testing::ZstdBlob(p.Bytes(), {});
  o.blobContent->resize(o.blobContent->size() - 5);
}
void ZstdDeclaredShort(KezOptions& o, const KezPicture& p) {
  o.blobContent = kez::testing::ZstdBlob(p.Bytes(), {}, p.Bytes().size() - 1);
}
void ZstdManyFramesNoSizes(KezOptions& o, const KezPicture& p) {
  Zstd(o, p);
  o.zstd.frames = 5;
  o.zstd.declareSize = false;
  o.zstd.checksum = true;
}
void ZstdWideWindow(KezOptions& o, const KezPicture& p) { o.blobContent = kez::testing::ZstdBlobWithWindow(p.Bytes(), 24); }
void CutInBlob(kez::testing::KezDocument& d) { d.Truncate(d.PageOffset(d.blob.dataVidx.back()) + 1000); }
// Not zstd at all, the file cut in its last page: the page that cannot be
// read is still found.
void ZstdGarbage(KezOptions& o, const KezPicture& p) {
  o.blobContent = kez::testing::ZstdBlob(p.Bytes(), {});
  o.blobContent->resize(9);  // the kind and the length
  o.blobContent->resize(300000, 0x5A);
  o.store.shuffle = false;
}

INSTANTIATE_TEST_SUITE_P(
    Documents, BothRoads,
    ::testing::Values(RoadCase{"zstd_1024x768_to_256", 1024, 768, 256, Zstd},
                      RoadCase{"raw_1024x768_to_256", 1024, 768, 256, Raw},
                      RoadCase{"zstd_portrait_to_97", 300, 500, 97, Zstd},
                      RoadCase{"raw_thin_strip", 1024, 16, 256, Raw},
                      RoadCase{"zstd_enlarged_not_a_multiple", 30, 20, 256, Zstd},
                      RoadCase{"raw_exact_multiple_point_sampled", 64, 32, 128, Raw},
                      RoadCase{"zstd_to_one_pixel", 200, 100, 1, Zstd},
                      RoadCase{"zstd_doubled_to_2048", 1024, 1024, 2048, Zstd},
                      RoadCase{"raw_enlarged_to_2560", 1024, 768, 2560, Raw},
                      RoadCase{"raw_blob_longer_than_picture", 200, 120, 64, RawLonger},
                      RoadCase{"zstd_blob_longer_than_picture", 200, 120, 64, ZstdLonger},
                      RoadCase{"raw_blob_shorter_than_picture", 200, 120, 64, RawShorter},
                      RoadCase{"zstd_blob_shorter_than_picture", 200, 120, 64, ZstdShorter},
                      RoadCase{"zstd_corrupt_frame", 200, 120, 64, ZstdCorrupt},
                      RoadCase{"zstd_checksum_wrong", 200, 120, 64, ZstdChecksumWrong},
                      RoadCase{"zstd_frame_cut_short", 200, 120, 64, ZstdCut},
                      RoadCase{"zstd_decodes_past_declared_length", 200, 120, 64, ZstdDeclaredShort},
                      RoadCase{"zstd_frames_without_sizes", 300, 200, 128, ZstdManyFramesNoSizes},
                      RoadCase{"zstd_window_beyond_declared_length", 128, 128, 100, ZstdWideWindow},
                      RoadCase{"zstd_header_split_at_a_page_over_a_frame", 300, 200, 97, ZstdHeaderSplitOverAFrame},
                      RoadCase{"file_ends_inside_the_blob", 300, 200, 128, Zstd, CutInBlob, S_FALSE},
                      RoadCase{"raw_file_ends_inside_the_blob", 300, 200, 128, Raw, CutInBlob, S_FALSE},
                      RoadCase{"zstd_garbage_and_file_ends_inside", 300, 200, 128, ZstdGarbage, CutInBlob, S_FALSE},
                      RoadCase{"zstd_wide_window_and_file_ends_inside", 300, 200, 128, ZstdWideWindow, CutInBlob,
                               S_FALSE}),
    [](const auto& info) { return std::string(info.param.name); });

// Every header layout split at every byte by the first page's end: both
// roads show the picture.
TEST(BothRoadsSplitHeaders, ShowThePicture) {
  const kez::testing::ZstdFrameHeader kHeaders[] = {
      {true, 1, 0, 0},  {true, 2, 1, 0},  {true, 4, 0, 0},  {true, 8, 4, 0},
      {false, 0, 0, 0}, {false, 2, 2, 0}, {false, 4, 4, 0}, {false, 8, 0, 0}};
  const KezPicture picture = PaintingLike(120, 100);
  const std::vector<std::uint8_t> bytes = picture.Bytes();
  KezOptions zstd;
  zstd.blob = KezOptions::Blob::Zstd;
  KezStream plain(kez::testing::BuildKez(picture, zstd));
  const kez::testing::RoadAnswer expected = kez::testing::ThumbnailWhole(ClassFactory::kPxvKind, &plain, 97);
  ASSERT_EQ(expected.hr, S_OK);
  for (const kez::testing::ZstdFrameHeader& h : kHeaders) {
    const std::size_t first = h.sizeBytes == 1 ? 200 : 20000;
    const std::vector<std::uint8_t> frame = kez::testing::ZstdRawFrame(bytes.data(), first, h);
    const std::vector<std::uint8_t> rest = kez::testing::ZstdFrames({bytes.begin() + first, bytes.end()}, {});
    for (std::size_t split = 1; split < h.Size(); ++split) {
      KezOptions options;
      options.blobContent = SplitBlob({frame, rest}, split, bytes.size());
      const auto answer = ExpectBothRoadsAgree(kez::testing::BuildKez(picture, options), 97);
      EXPECT_EQ(answer.bits, expected.bits) << h.sizeBytes << "-byte size, " << h.dictionaryIdBytes
                                            << "-byte id, split after " << split;
    }
  }
  // A frame of zstd's old format 0.7 (single segment, a 4-byte size, one
  // raw block and the end block), which zstd tells from its first five bytes.
  std::vector<std::uint8_t> old = {0x27, 0xB5, 0x2F, 0xFD, 0xA0, 0x20, 0x4E, 0x00, 0x00, 0x40, 0x4E, 0x20};
  old.insert(old.end(), bytes.begin(), bytes.begin() + 20000);
  old.insert(old.end(), {0xC0, 0x00, 0x00});
  const std::vector<std::uint8_t> rest = kez::testing::ZstdFrames({bytes.begin() + 20000, bytes.end()}, {});
  for (const std::size_t split : {1, 2, 3, 4, 5, 9}) {
    KezOptions options;
    options.blobContent = SplitBlob({old, rest}, split, bytes.size());
    const auto answer = ExpectBothRoadsAgree(kez::testing::BuildKez(picture, options), 97);
    EXPECT_EQ(answer.bits, expected.bits) << "old format, split after " << split;
  }
}

TEST(EndToEndFailures, ThumbRefWithASideOfZeroGivesATransparentSquare) {
  // A one-column picture first leaves pixels in the pool's blocks of that size.
  for (const auto& [w, h] : {std::pair{1, 16}, {0, 16}, {16, 0}, {0, 0}}) {
    KezOptions options;
    options.rootContent = kez::testing::BuildRootRecord({true, w, h, 3, true, 3, 0});
    KezStream stream(kez::testing::BuildKez(kez::testing::TestPicture(16, 16), options));
    const Thumb thumb = GetThumbnailThroughCom(&stream, 32);
    ASSERT_EQ(thumb.result, S_OK);
    if (w == 0 || h == 0) {
      EXPECT_EQ(thumb.pixels, std::vector<std::uint32_t>(32 * 32, 0)) << w << "x" << h;
    }
  }
}

TEST(EndToEndFailures, DamagedDocumentGivesSFalseWithoutBitmap) {
  platform::testing::EchoNotices(false);
  kez::testing::KezDocument doc = kez::testing::BuildKez(kez::testing::TestPicture(8, 8));
  doc.Truncate(100);
  KezStream stream(doc);
  const Thumb thumb = GetThumbnailThroughCom(&stream, 256);
  EXPECT_EQ(thumb.result, S_FALSE);
  EXPECT_EQ(thumb.alpha, WTSAT_UNKNOWN);
  platform::testing::EchoNotices(true);
}

}  // namespace
