// `kezthumb [-s SIZE] INPUT OUTPUT` as a user meets it: the PNG it writes
// equals, pixel for pixel, the DIB the same document gives through the COM
// road in this process; every failure has its exit status and one line on
// stderr, and leaves no file behind.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dll/class_factory.h"
#include "dll/module.h"
#include "kezthumb/options.h"
#include "platform/shell.h"
#include "platform/testing.h"
#include "support/kez_writer.h"
#include "support/packed_writer.h"
#include "support/picture.h"
#include "tools/png_decode.h"
#include "tools/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using kez::testing::RunKezthumb;

using Image = kez::testing::DecodedPng;

// The tool's PNGs store RGBA.
Image DecodePngFile(const fs::path& path) {
  Image png = kez::testing::DecodePngFile(path);
  if (png.width != 0) {
    EXPECT_EQ(png.format, static_cast<png_uint_32>(PNG_FORMAT_RGBA));
  }
  return png;
}

// The thumbnail through the COM road in this process, read back from the DIB
// and turned into R, G, B, A bytes top row first by this test's own code.
Bytes ThumbnailInProcess(const Bytes& document, bool packed, UINT cx) {
  IClassFactory* factory = nullptr;
  if (packed) {
    factory = new ClassFactory(ClassFactory::kPackedKind);
  } else {
    EXPECT_EQ(DllGetClassObject(CLSID_KezThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
  }
  IInitializeWithStream* init = nullptr;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init)), S_OK);
  factory->Release();
  IStream* stream = SHCreateMemStream(document.data(), static_cast<UINT>(document.size()));
  EXPECT_EQ(init->Initialize(stream, STGM_READ), S_OK);
  stream->Release();
  IThumbnailProvider* provider = nullptr;
  EXPECT_EQ(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
  init->Release();
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  EXPECT_EQ(provider->GetThumbnail(cx, &bitmap, &alpha), S_OK);
  EXPECT_EQ(alpha, WTSAT_ARGB);
  provider->Release();
  const auto dib = platform::testing::ReadDib(bitmap);
  Bytes rgba;
  if (dib && dib->bits != nullptr) {
    EXPECT_EQ(dib->header.biHeight, static_cast<LONG>(cx));
    rgba.resize(static_cast<std::size_t>(cx) * cx * 4);
    for (UINT y = 0; y < cx; ++y) {
      const BYTE* row = dib->bits + static_cast<std::size_t>(cx - 1 - y) * cx * 4;  // bottom-up
      for (UINT x = 0; x < cx; ++x) {
        BYTE* px = &rgba[(static_cast<std::size_t>(y) * cx + x) * 4];
        px[0] = row[x * 4 + 2];
        px[1] = row[x * 4 + 1];
        px[2] = row[x * 4];
        px[3] = row[x * 4 + 3];
      }
    }
  }
  DeleteObject(bitmap);
  return rgba;
}

// Opaque, with every channel telling where the pixel came from.
kez::testing::KezPicture OpaquePicture(int width, int height) {
  kez::testing::KezPicture picture;
  picture.width = width;
  picture.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.pixels.push_back(0xFF000000u | static_cast<std::uint32_t>(x * 4 % 256) << 16 |
                               static_cast<std::uint32_t>(y * 4 % 256) << 8 | static_cast<std::uint32_t>((x + y) % 256));
  return picture;
}

kez::testing::KezPicture Picture(int width, int height, std::uint32_t seed) {
  kez::testing::KezPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels = kez::testing::PaintingLikePicture(width, height, seed);
  return picture;
}

Bytes KezBytes(const kez::testing::KezPicture& picture, bool zstd) {
  kez::testing::KezOptions options;
  options.blob = zstd ? kez::testing::KezOptions::Blob::Zstd : kez::testing::KezOptions::Blob::Raw;
  return kez::testing::BuildKezBytes(picture, options);
}

Bytes PackedBytes(const kez::testing::KezPicture& picture, bool zlib) {
  return kez::testing::WritePackedDocument(
      kez::testing::MakePackedPreviewDocument(picture.width, picture.height, picture.pixels, zlib));
}

class ThumbnailCli : public ::testing::Test {
 protected:
  void SetUp() override {
    // A parameterised test's name has a slash: one folder, not a folder in another that stays behind.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    m_dir = fs::temp_directory_path() / ("kezthumb_cli_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  fs::path Write(const std::string& name, const Bytes& bytes) {
    const fs::path path = m_dir / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path m_dir;
};

struct RoadCase {
  const char* name;
  bool packed;
  bool compressed;
  int width, height;
  int size;  // 0: the default
};

class ThumbnailRoadMatch : public ThumbnailCli, public ::testing::WithParamInterface<RoadCase> {};

TEST_P(ThumbnailRoadMatch, PngEqualsTheInProcessDib) {
  const auto& c = GetParam();
  const Bytes document = c.packed ? PackedBytes(Picture(c.width, c.height, 7), c.compressed)
                                  : KezBytes(Picture(c.width, c.height, 7), c.compressed);
  // The name does not matter: the format is told by content.
  const fs::path input = Write("document.bin", document);
  const fs::path output = m_dir / "thumb.png";
  std::vector<std::string> args;
  if (c.size != 0) args = {"-s", std::to_string(c.size)};
  args.push_back(input.string());
  args.push_back(output.string());
  const auto run = RunKezthumb(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  const int cx = c.size != 0 ? c.size : 256;
  const Image png = DecodePngFile(output);
  ASSERT_EQ(png.width, cx);
  ASSERT_EQ(png.height, cx);
  const Bytes expected = ThumbnailInProcess(document, c.packed, static_cast<UINT>(cx));
  ASSERT_EQ(png.rgba.size(), expected.size());
  EXPECT_TRUE(png.rgba == expected) << "pixels differ from the DIB";
  EXPECT_EQ(Names(), (std::vector<std::string>{"document.bin", "thumb.png"}));
}

INSTANTIATE_TEST_SUITE_P(Documents, ThumbnailRoadMatch,
                         ::testing::Values(RoadCase{"kez_raw_landscape", false, false, 320, 200, 0},
                                           RoadCase{"kez_zstd_portrait", false, true, 90, 160, 128},
                                           RoadCase{"kez_zstd_odd_size", false, true, 200, 200, 37},
                                           RoadCase{"packed_raw_upscaled", true, false, 24, 16, 256},
                                           RoadCase{"packed_zlib_wide", true, true, 400, 50, 300},
                                           RoadCase{"kez_one_pixel_box", false, false, 30, 20, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// An opaque picture the size of the square comes out unchanged: the PNG holds
// the document's own pixels, channels in their places.
TEST_F(ThumbnailCli, SameSizePictureKeepsItsPixels) {
  const auto picture = OpaquePicture(64, 64);
  const fs::path input = Write("p.kelpack", PackedBytes(picture, true));
  const auto run = RunKezthumb({"-s", "64", input.string(), (m_dir / "o.png").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const Image png = DecodePngFile(m_dir / "o.png");
  ASSERT_EQ(png.rgba.size(), 64u * 64 * 4);
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    const std::uint32_t p = picture.pixels[i];
    const std::uint8_t expected[4] = {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                                      static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 24)};
    ASSERT_EQ(std::memcmp(&png.rgba[i * 4], expected, 4), 0) << "pixel " << i;
  }
}

// The margins around a wide picture are transparent black, exactly 0.
TEST_F(ThumbnailCli, MarginsAreFullyTransparent) {
  const fs::path input = Write("w.kez", KezBytes(OpaquePicture(1024, 16), false));
  const auto run = RunKezthumb({input.string(), (m_dir / "o.png").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const Image png = DecodePngFile(m_dir / "o.png");
  ASSERT_EQ(png.width, 256);
  // 1024 x 16 fits as 256 x 4, drawn at rows 126..129.
  for (int y = 0; y < 256; ++y) {
    bool allZero = true;
    for (int x = 0; x < 256 * 4; ++x) allZero = allZero && png.rgba[static_cast<std::size_t>(y) * 1024 + x] == 0;
    EXPECT_EQ(allZero, y < 126 || y > 129) << "row " << y;
  }
}

Bytes TruncatedKez() {
  Bytes bytes = KezBytes(Picture(40, 30, 1), false);
  bytes.resize(100);  // "pxv" 1 and too little for a page
  return bytes;
}

Bytes PackedWithout(const std::string& xml) {
  kez::testing::PackedDocument document;
  document.xml = xml;
  return kez::testing::WritePackedDocument(document);
}

struct FailureCase {
  const char* name;
  Bytes input;
  int status;
  const char* reason;
};

class ThumbnailFailure : public ThumbnailCli, public ::testing::WithParamInterface<FailureCase> {};

// Nothing is written, an existing OUTPUT is left alone, no temporary file
// remains, and stderr holds exactly one line.
TEST_P(ThumbnailFailure, ExitStatusReasonAndNoOutput) {
  const auto& c = GetParam();
  const fs::path input = Write("in.doc", c.input);
  const fs::path output = Write("out.png", {'o', 'l', 'd'});
  const auto run = RunKezthumb({input.string(), output.string()});
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.err, "kezthumb: " + input.string() + ": " + c.reason + "\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Names(), (std::vector<std::string>{"in.doc", "out.png"}));
  std::ifstream kept(output);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "old");
}

INSTANTIATE_TEST_SUITE_P(
    Documents, ThumbnailFailure,
    ::testing::Values(
        FailureCase{"truncated_kez", TruncatedKez(), 1, "damaged document or no preview stored in it"},
        FailureCase{"kez_version_2", Bytes{'p', 'x', 'v', 2, 0, 0, 0, 0}, 1, "unsupported .kez version 2"},
        FailureCase{"text_file", Bytes{'h', 'e', 'l', 'l', 'o'}, 1, "not a known document format"},
        FailureCase{"empty_file", Bytes{}, 1, "not a known document format"},
        FailureCase{"packed_without_thumb", PackedWithout("<Kelapp/>"), 1,
                    "damaged document or no preview stored in it"},
        // The reader throws on a width that is no number; it must not escape.
        FailureCase{"packed_bad_number",
                    PackedWithout(kez::testing::ThumbXml("12abc", "10", "thumbnail")), 1,
                    "damaged document or no preview stored in it"},
        FailureCase{"packed_preview_block_missing",
                    PackedWithout(kez::testing::ThumbXml("10", "10", "thumbnail")), 1,
                    "damaged document or no preview stored in it"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ThumbnailCli, InputProblemsAreIoErrors) {
  const fs::path output = m_dir / "out.png";
  auto run = RunKezthumb({(m_dir / "missing.kez").string(), output.string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kezthumb: " + (m_dir / "missing.kez").string() + ": No such file or directory\n");
  fs::create_directories(m_dir / "folder.kez");
  run = RunKezthumb({(m_dir / "folder.kez").string(), output.string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kezthumb: " + (m_dir / "folder.kez").string() + ": Is a directory\n");
  EXPECT_FALSE(fs::exists(output));
}

TEST_F(ThumbnailCli, UnwritableOutputIsAnIoErrorAndLeavesNoTemporaryFile) {
  const fs::path input = Write("a.kez", KezBytes(Picture(20, 20, 1), false));
  const fs::path output = m_dir / "no" / "out.png";
  auto run = RunKezthumb({input.string(), output.string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kezthumb: " + output.string() + ": cannot write: No such file or directory\n");
  // OUTPUT is a folder: the data is written, the rename fails, the
  // temporary file goes.
  fs::create_directories(m_dir / "taken.png" / "x");
  run = RunKezthumb({input.string(), (m_dir / "taken.png").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kezthumb: " + (m_dir / "taken.png").string() + ": cannot write: Is a directory\n");
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.kez", "taken.png"}));
}

// A relative OUTPUT in the working folder works too (the temporary file is
// made beside it).
TEST_F(ThumbnailCli, RelativePaths) {
  Write("a.kez", KezBytes(Picture(20, 20, 1), true));
  kez::testing::ToolOptions options;
  options.workingDirectory = m_dir.string();
  const auto run = RunKezthumb({"-s", "16", "a.kez", "a.png"}, options);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(DecodePngFile(m_dir / "a.png").width, 16);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.kez", "a.png"}));
}

TEST(KezthumbUsage, HelpVersionAndMistakes) {
  auto run = RunKezthumb({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kezthumb::HelpText());
  EXPECT_EQ(run.err, "");
  run = RunKezthumb({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "kezthumb 0.1.0\n");
  run = RunKezthumb({});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "kezthumb: missing INPUT or OUTPUT\nTry 'kezthumb --help' for more information.\n");
  run = RunKezthumb({"-s", "big", "a", "b"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "kezthumb: invalid size 'big' (a whole number from 1 to 4096)\nTry 'kezthumb --help' for more "
            "information.\n");
  // Explorer's handler is a Windows matter: refused here, in so many words.
  run = RunKezthumb({"--check"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "kezthumb: --check: it checks Explorer's thumbnail handler, on Windows only\n");
}

}  // namespace

namespace {

// The documents the demo shows still have their thumbnails.
TEST_F(ThumbnailCli, ShippedSamplesHaveThumbnails) {
  for (const char* sample : {"painting.kez", "painting.kelpack"}) {
    const fs::path output = m_dir / (std::string(sample) + ".png");
    const auto run = RunKezthumb({(fs::path(KEZ_SOURCE_DIR) / "samples" / sample).string(), output.string()});
    EXPECT_EQ(run.status, 0) << sample << ": " << run.err;
    const Image png = DecodePngFile(output);
    EXPECT_EQ(png.width, 256) << sample;
    // A 320 x 200 picture: fitted to 256 x 160, rows 48..207; the corners
    // of the square stay clear.
    ASSERT_EQ(png.rgba.size(), 256u * 256 * 4);
    EXPECT_EQ(png.rgba[3], 0) << sample;
    EXPECT_EQ(png.rgba[png.rgba.size() - 1], 0) << sample;
  }
}

}  // namespace

namespace {

// Names that are not plain ASCII, UTF-8 or not, reach the right file.
TEST_F(ThumbnailCli, NamesBeyondAscii) {
  for (const char* name : {"\xC3\xA9t\xC3\xA9 #1.kez", "bad\xFF\x80.kez"}) {
    const fs::path input = Write(name, KezBytes(OpaquePicture(8, 8), false));
    const fs::path output = m_dir / (std::string(name) + ".png");
    const auto run = RunKezthumb({"-s", "8", input.string(), output.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(DecodePngFile(output).width, 8);
  }
}

}  // namespace
