// The thumbnail road in paged mode, and images used from several threads
// while their blocks are swapped out.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "formats/packed/packed_reader.h"
#include "formats/pxv/pxv_reader.h"
#include "lumo/image.h"
#include "lumo/memory.h"
#include "lumo/pager.h"
#include "paged/paged_test.h"
#include "support/kez_writer.h"
#include "support/test_stream.h"
#include "thumb/dib_pixels.h"
#include "thumb/thumbnail_provider.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes Thumbnail(bool (*reader)(lumo::CImage32&, IStream*), const Bytes& document, UINT cx) {
  kez::testing::TestStream stream(document);
  auto* provider = new TeskThumbnailProvider(DocumentReader(reader));
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  Bytes dib;
  if (provider->Initialize(&stream, STGM_READ) == S_OK && provider->GetThumbnail(cx, &bitmap, &alpha) == S_OK) {
    dib = kez::testing::DibBytes(bitmap);
    DeleteObject(bitmap);
  }
  provider->Release();
  return dib;
}

TEST(PagedRoad, ThumbnailsEqualTheDefaultModesByteForByte) {
  kez::testing::KezOptions zstd;
  zstd.blob = kez::testing::KezOptions::Blob::Zstd;
  const struct {
    const char* name;
    bool (*reader)(lumo::CImage32&, IStream*);
    Bytes bytes;
  } documents[] = {
      {"painting.kez", &ReadPxvDocument, ReadFile(fs::path(KEZ_SOURCE_DIR) / "samples/painting.kez")},
      {"painting.kelpack", &ReadPackedDocument, ReadFile(fs::path(KEZ_SOURCE_DIR) / "samples/painting.kelpack")},
      {"zstd-128x128.kez", &ReadPxvDocument, kez::testing::BuildKezBytes(kez::testing::TestPicture(128, 128, 7), zstd)},
      {"raw-300x200.kez", &ReadPxvDocument, kez::testing::BuildKezBytes(kez::testing::TestPicture(300, 200, 3))},
  };
  constexpr UINT kSizes[] = {32, 128, 256};
  // The switch may change while no image exists: the default mode's answers first.
  std::vector<Bytes> expected;
  lumo::g_pagedMemory = 0;
  for (const auto& document : documents)
    for (const UINT cx : kSizes) expected.push_back(Thumbnail(document.reader, document.bytes, cx));
  lumo::g_pagedMemory = 1;
  // Nothing may stay resident: every allocation swaps the unlocked blocks out.
  lumo::paged_allocator::ApplyDefaultLimits(lumo::GetMemoryStats());
  lumo::GetMemoryStats().residentLimit = 0;
  std::size_t i = 0;
  for (const auto& document : documents) {
    for (const UINT cx : kSizes) {
      const Bytes paged = Thumbnail(document.reader, document.bytes, cx);
      EXPECT_FALSE(paged.empty()) << document.name << " at " << cx;
      EXPECT_TRUE(paged == expected[i++]) << document.name << " at " << cx;
    }
  }
  lumo::GetMemoryStats().defaultsPending = 1;
}

// A process whose swap file cannot be opened (its temporary folder is a
// file) has no pager: its images live on the heap and give their memory back.
TEST(PagedWithoutSwapFile, ImagesStillWorkAndGiveTheirMemoryBack) {
  const char* given = std::getenv(kez::testing::kPagedFolderVariable);
  const fs::path blocker = given != nullptr ? fs::path(given) : fs::temp_directory_path() / "not-a-folder";
  if (given == nullptr) std::ofstream(blocker) << "a file, not a folder";
  kez::testing::SetChildFolder(blocker);
  EXPECT_EXIT(
      {
        const std::int64_t before = lumo::GetMemoryStats().total.load();
        bool ok = true;
        for (const int side : {128, 300}) {
          lumo::CImage32 image;
          ok = ok && image.Resize(side, side);
          image.Fill(0xFF00FF00u);
          lumo::ImageLock lock(&image);
          ok = ok && image.m_pixels != nullptr && image.m_pixels[side * side - 1] == 0xFF00FF00u;
        }
        std::exit(ok && lumo::GetMemoryStats().total.load() == before ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  kez::testing::SetChildFolder({});
  fs::remove(blocker);
}

// Threads create, lock, check, rewrite and destroy 128x128 images (the
// pager's 64 KiB units) while the resident limit keeps the passes swapping.
TEST(PagedStress, ThreadsLoseNoWriteWhileBlocksAreSwappedOut) {
  constexpr int kThreads = 4, kImages = 6, kRounds = 24, kPixels = 128 * 128;
  lumo::paged_allocator::ApplyDefaultLimits(lumo::GetMemoryStats());
  lumo::GetMemoryStats().residentLimit = 8 * 65536;
  std::atomic<int> wrong{0};
  std::atomic<bool> sawSwapping{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong, &sawSwapping] {
      std::vector<std::unique_ptr<lumo::CImage32>> images(kImages);
      std::vector<std::uint32_t> value(kImages, 0);
      for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < kImages; ++i) {
          // Every third round an image is made anew.
          if (images[i] == nullptr || (round + i) % 3 == 0) {
            images[i] = std::make_unique<lumo::CImage32>();
            if (!images[i]->Resize(128, 128)) {
              ++wrong;
              continue;
            }
            images[i]->Fill(value[i] = 0);
          }
          lumo::ImageLock lock(images[i].get());
          if (lumo::GetMemoryStats().swapped.load() > 0) sawSwapping = true;
          std::uint32_t* pixels = images[i]->m_pixels;
          for (int p = 0; p < kPixels; ++p) wrong += pixels[p] != value[i] + static_cast<std::uint32_t>(p) * (value[i] != 0);
          value[i] = static_cast<std::uint32_t>((t << 24) | (round << 8) | (i + 1));
          for (int p = 0; p < kPixels; ++p) pixels[p] = value[i] + static_cast<std::uint32_t>(p);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_TRUE(sawSwapping.load());
  lumo::GetMemoryStats().defaultsPending = 1;
}

}  // namespace
