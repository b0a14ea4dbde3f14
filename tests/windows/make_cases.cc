// Writes the documents the Windows client runs through the registered class
// under Wine, each with what this (Linux) build answers for it along the very
// same COM road (a file stream, DllGetClassObject, CreateInstance, Initialize,
// GetThumbnail), so the client can demand the same answer byte for byte.
//
//   make-windows-cases DIR [DOCUMENT...]
//
// DIR/cases.txt has one line per case:
//   document cx hresult alpha bitmap notices
// hresult in hex; alpha as GetThumbnail left it (starting from WTSAT_UNKNOWN);
// bitmap "set", "null" or "untouched"; notices: the message boxes shown. For
// S_OK, DIR/<document>@<cx>.dib holds the section's pixel bytes, bottom row
// first. The DOCUMENTs given (the samples) are copied in and run too, ".kez"
// ones at every size up to 1024, others at 256.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "dll/module.h"
#include "platform/shell.h"
#include "platform/testing.h"
#include "support/kez_writer.h"
#include "support/packed_writer.h"
#include "support/picture.h"

namespace {

namespace fs = std::filesystem;
using namespace kez::testing;
using Bytes = std::vector<std::uint8_t>;

const auto kUntouchedBitmap = reinterpret_cast<HBITMAP>(0x5A5A0);
constexpr UINT kSizes[] = {32, 96, 256};

KezPicture Painting(int width, int height, std::uint32_t seed, int grain) {
  KezPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels = PaintingLikePicture(width, height, seed, grain);
  return picture;
}

Bytes Kez(const KezPicture& picture, KezOptions options = {}) { return BuildKezBytes(picture, options); }
Bytes Zstd(const KezPicture& picture, KezOptions options = {}) {
  options.blob = KezOptions::Blob::Zstd;
  return BuildKezBytes(picture, options);
}
Bytes Damaged(const std::function<void(KezDocument&)>& damage, KezOptions options = {}) {
  options.blobStream.kind = StreamKind::Paged;
  options.store.minContinuationPages = 1;
  KezDocument doc = BuildKez(TestPicture(40, 40), options);
  damage(doc);
  return doc.Bytes();
}
Bytes Packed(bool zlib) {
  return WritePackedDocument(MakePackedPreviewDocument(120, 80, PatternPixels(120, 80, 3), zlib));
}

struct Document {
  const char* name;
  std::function<Bytes()> bytes;
  std::vector<UINT> sizes;  // empty: kSizes
};

// Well-formed documents at every size, damaged ones at the shell's usual 256.
const std::vector<Document>& Documents() {
  static const std::vector<Document> documents = {
      {"raw-300x200.kez", [] { return Kez(TestPicture(300, 200, 21)); }, {0, 1, 32, 96, 256}},
      {"zstd-90x240.kez", [] { return Zstd(TestPicture(90, 240, 21)); }, {}},
      {"zstd-16x16.kez", [] { return Zstd(TestPicture(16, 16, 5)); }, {}},
      {"raw-1x1.kez", [] { return Kez(TestPicture(1, 1, 9)); }, {}},
      {"zstd-3-frames-checksum-640x480.kez",
       [] {
         KezOptions o;
         o.zstd.frames = 3;
         o.zstd.checksum = true;
         return Zstd(Painting(640, 480, 3, 2), o);
       },
       {}},
      {"paged-streams-continuations.kez",
       [] {
         KezOptions o;
         o.rootStream.kind = StreamKind::Paged;
         o.blobStream.kind = StreamKind::Paged;
         o.store.minContinuationPages = 2;
         o.store.freePages = 3;
         return Kez(TestPicture(200, 150, 4), o);
       },
       {}},
      // Pictures, fitted pictures and squares of 16, 64 and 128 KiB come
      // from the block pools' thread-owned chunks; other sizes from the heap.
      {"pool-128x128.kez", [] { return Zstd(Painting(128, 128, 5, 1)); }, {64, 128, 256}},
      {"pool-256x128.kez", [] { return Kez(Painting(256, 128, 6, 1)); }, {64, 128}},
      // The benchmark's document: 1024x1024, one-level grain, zstd level 3.
      {"painting-1024-grain.kez", [] { return Zstd(Painting(1024, 1024, 7, 1)); }, {96, 256, 1024}},
      {"thumb-ref-0x16.kez",
       [] {
         KezOptions o;
         o.rootContent = BuildRootRecord({true, 0, 16, 3, true, 3, 0});
         return Kez(TestPicture(16, 16), o);
       },
       {32}},
      // The registered class reads ".kez" only.
      {"packed-raw.kelpack", [] { return Packed(false); }, {96}},
      {"packed-zlib.kelpack", [] { return Packed(true); }, {96}},
      {"empty.kez", [] { return Bytes{}; }, {256}},
      {"bad-magic.kez",
       [] {
         Bytes b = Kez(TestPicture(8, 8));
         b[0] = 'P';
         return b;
       },
       {256}},
      {"version-2.kez",
       [] {
         Bytes b = Kez(TestPicture(8, 8));
         b[3] = 2;
         return b;
       },
       {256}},
      {"truncated-100.kez",
       [] {
         Bytes b = Kez(TestPicture(8, 8));
         b.resize(100);
         return b;
       },
       {256}},
      {"truncated-in-page-1.kez", [] { return Damaged([](KezDocument& d) { d.Truncate(65536 + 1000); }); }, {256}},
      {"index-chain-loops.kez",
       [] {
         return Damaged([](KezDocument& d) { d.PatchU64(d.continuationFidx[0] * 65536 + 8, d.continuationFidx[0]); });
       },
       {256}},
      {"extension-chain-loops.kez",
       [] {
         return Damaged([](KezDocument& d) {
           const std::int64_t page = d.blob.dataVidx[0];
           d.PatchU64(d.PageOffset(d.blob.headVidx) + 9, static_cast<std::uint64_t>(page));
           d.PatchU64(d.PageOffset(page), static_cast<std::uint64_t>(page));
         });
       },
       {256}},
      {"blob-length-beyond-file.kez",
       [] { return Damaged([](KezDocument& d) { d.PatchU64(d.PageOffset(d.blob.headVidx) + 1, 1ULL << 40); }); },
       {256}},
      {"root-garbage.kez",
       [] {
         KezOptions o;
         o.rootContent = Bytes(500, 0xA5);
         return Kez(TestPicture(8, 8), o);
       },
       {256}},
      {"thumb-ref-outside-map.kez",
       [] {
         KezOptions o;
         o.rootContent = BuildRootRecord({true, 8, 8, 1 << 20, true, 3, 0});
         return Kez(TestPicture(8, 8), o);
       },
       {256}},
      {"zstd-corrupt.kez",
       [] {
         const KezPicture picture = TestPicture(20, 10, 5);
         KezOptions o;
         Bytes blob = ZstdBlob(picture.Bytes(), {});
         for (std::size_t i = 20; i < blob.size(); i += 7) blob[i] ^= 0x5A;
         o.blobContent = blob;
         return Kez(picture, o);
       },
       {256}},
  };
  return documents;
}

bool Save(const fs::path& path, const void* data, std::size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  file.close();
  if (!file) std::fprintf(stderr, "make-windows-cases: cannot write %s\n", path.c_str());
  return static_cast<bool>(file);
}

// One case through the COM road; false when the road itself breaks, which
// no document may cause.
bool RunCase(const fs::path& dir, const std::string& name, UINT cx, std::FILE* list) {
  const fs::path path = dir / name;
  const std::wstring wide(path.native().begin(), path.native().end());
  IStream* stream = nullptr;
  IClassFactory* factory = nullptr;
  IInitializeWithStream* init = nullptr;
  IThumbnailProvider* provider = nullptr;
  if (FAILED(SHCreateStreamOnFileEx(wide.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                    nullptr, &stream)) ||
      FAILED(DllGetClassObject(CLSID_KezThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
      FAILED(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init))) ||
      FAILED(init->Initialize(stream, STGM_READ)) ||
      FAILED(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)))) {
    std::fprintf(stderr, "make-windows-cases: %s: the COM road failed before GetThumbnail\n", name.c_str());
    return false;
  }
  platform::testing::ResetNotices();
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  const HRESULT hr = provider->GetThumbnail(cx, &bitmap, &alpha);
  provider->Release();
  init->Release();
  factory->Release();
  stream->Release();

  bool ok = true;
  if (hr == S_OK) {
    const auto dib = platform::testing::ReadDib(bitmap);
    ok = dib && dib->bits != nullptr && dib->header.biWidth == static_cast<LONG>(cx) &&
         dib->header.biHeight == static_cast<LONG>(cx) && dib->header.biBitCount == 32 &&
         Save(dir / (name + "@" + std::to_string(cx) + ".dib"), dib->bits, dib->size);
    if (!ok)
      std::fprintf(stderr, "make-windows-cases: %s@%u: not a %ux%u 32-bit bottom-up section\n", name.c_str(), cx, cx,
                   cx);
  }
  const char* shown = bitmap == kUntouchedBitmap ? "untouched" : bitmap == nullptr ? "null" : "set";
  if (bitmap != kUntouchedBitmap && bitmap != nullptr) DeleteObject(bitmap);
  std::fprintf(list, "%s %u 0x%08X %d %s %d\n", name.c_str(), cx, static_cast<unsigned>(hr), static_cast<int>(alpha),
               shown, platform::testing::NoticeCount());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make-windows-cases DIR [DOCUMENT...]\n");
    return 2;
  }
  const fs::path dir = argv[1];
  fs::create_directories(dir);
  platform::testing::EchoNotices(false);
  std::FILE* list = std::fopen((dir / "cases.txt").c_str(), "w");
  if (list == nullptr) return 1;
  bool ok = true;
  for (int i = 2; i < argc; ++i) {
    const fs::path source = argv[i];
    fs::copy_file(source, dir / source.filename(), fs::copy_options::overwrite_existing);
    const std::string name = source.filename().string();
    const bool kez = source.extension() == ".kez";
    for (const UINT cx : kez ? std::vector<UINT>{32, 96, 256, 1024} : std::vector<UINT>{256})
      ok = RunCase(dir, name, cx, list) && ok;
  }
  for (const Document& document : Documents()) {
    const Bytes bytes = document.bytes();
    ok = Save(dir / document.name, bytes.data(), bytes.size()) && ok;
    const std::vector<UINT> sizes =
        document.sizes.empty() ? std::vector<UINT>(std::begin(kSizes), std::end(kSizes)) : document.sizes;
    for (const UINT cx : sizes) ok = RunCase(dir, document.name, cx, list) && ok;
  }
  std::fclose(list);
  return ok ? 0 : 1;
}
