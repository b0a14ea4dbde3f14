// The pager, its allocators and the swap file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "lumo/image.h"
#include "lumo/memory.h"
#include "lumo/pager.h"
#include "paged/paged_test.h"
#include "platform/file.h"

namespace {

namespace fs = std::filesystem;
namespace pa = lumo::paged_allocator;

pa::Pager& ThePager() { return *pa::Pager::Instance(); }

std::string Dump(pa::HandleAllocator* allocator) {
  std::ostringstream out;
  allocator->DumpStats(out);
  return out.str();
}

std::string SlaveDump(int size, int perMaster, int masterKiB, int freeList, int live, std::int64_t freeBytes) {
  return "- MasterSlave\n  SlaveSize:" + std::to_string(size) + "B\n  SlaveNumPerMaster: " + std::to_string(perMaster) +
         "\n  Master: " + std::to_string(masterKiB) + "KB\n  FreeListLen: " + std::to_string(freeList) +
         "\n  BookedPaged: " + std::to_string(masterKiB) + "KB\n  LiveListLen: " + std::to_string(live) +
         "\n  FreeTotalInLiveList: " + std::to_string(freeBytes) + "B\n";
}

std::string NormalDump(int unitKiB, int freeList) {
  return "- Normal " + std::to_string(unitKiB) + "KB\n  FreeListLen: " + std::to_string(freeList) +
         "\n  BookedPaged: " + std::to_string(unitKiB) + "KB\n";
}

struct AllocatorCase {
  std::int64_t size;
  int kind;
  std::string dump;       // after one allocation
  std::string dumpFreed;  // after it is freed again
};

class PagedAllocatorChoice : public ::testing::TestWithParam<AllocatorCase> {};

TEST_P(PagedAllocatorChoice, SizeDecidesTheAllocatorAndItsUnits) {
  const AllocatorCase& c = GetParam();
  lumo::NMemHandle* block = ThePager().Allocate(c.size, true);
  pa::HandleAllocator* allocator = ThePager().AllocatorFor(c.size);
  ASSERT_NE(allocator, nullptr);
  EXPECT_EQ(allocator->Kind(), c.kind);
  EXPECT_EQ(Dump(allocator), c.dump);
  // The whole block is there to write.
  auto* bytes = static_cast<std::uint8_t*>(block->Lock());
  bytes[0] = 1;
  bytes[c.size - 1] = 2;
  block->Unlock();
  ThePager().Free(block, c.size);
  EXPECT_EQ(Dump(allocator), c.dumpFreed);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PagedAllocatorChoice,
    ::testing::Values(AllocatorCase{8, 2, SlaveDump(8, 8192, 64, 0, 1, 8 * 8191), SlaveDump(8, 8192, 64, 1, 0, 0)},
                      AllocatorCase{16384, 2, SlaveDump(16384, 4, 64, 0, 1, 3 * 16384),
                                    SlaveDump(16384, 4, 64, 1, 0, 0)},
                      AllocatorCase{100000, 2, SlaveDump(100000, 10, 1024, 0, 1, 900000),
                                    SlaveDump(100000, 10, 1024, 1, 0, 0)},
                      AllocatorCase{600000, 2, SlaveDump(600000, 10, 5888, 0, 1, 5400000),
                                    SlaveDump(600000, 10, 5888, 1, 0, 0)},
                      AllocatorCase{131072, 0, NormalDump(128, 0), NormalDump(128, 1)},
                      AllocatorCase{589824, 0, NormalDump(576, 0), NormalDump(576, 1)},
                      AllocatorCase{700000, 0, NormalDump(704, 0), NormalDump(704, 1)}));

TEST(PagedSlots, FourSlavesShareAMasterAndTheFifthTakesAnother) {
  std::vector<lumo::SlaveHandle*> slaves;
  for (int i = 0; i < 5; ++i) slaves.push_back(dynamic_cast<lumo::SlaveHandle*>(ThePager().Allocate(16384, true)));
  lumo::MasterHandle* master = slaves[0]->m_master;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(slaves[i]->m_master, master);
    EXPECT_EQ(slaves[i]->m_offset, i * 16384);
  }
  EXPECT_NE(slaves[4]->m_master, master);
  EXPECT_EQ(slaves[4]->m_offset, 0);
  // A slave locks to its master's address plus its offset.
  auto* base = static_cast<std::uint8_t*>(master->Lock());
  EXPECT_EQ(slaves[3]->Lock(), base + 3 * 16384);
  slaves[3]->Unlock();
  master->Unlock();
  EXPECT_EQ(master->Occupancy(), 0);
  try {
    master->TakeSlot();
    ADD_FAILURE() << "a full master gave a slot";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "No free slot. Never reached here.");
  }
  for (lumo::SlaveHandle* slave : slaves) ThePager().Free(slave, 16384);
  // The free masters are released, so a later test (the order differs between
  // platforms) starts from an empty free list.
  ThePager().AllocatorFor(16384)->ReleaseFree(lumo::GetMemoryStats(), std::numeric_limits<std::int64_t>::max());
}

TEST(PagedFileSpace, GrowsByTheRequestAndMergesWhatIsGivenBack) {
  pa::Pager& pager = ThePager();
  // Free space first taken, so that every request below grows the file.
  for (const auto& [offset, pages] : pager.FreeRanges()) UnmapViewOfFile(pager.AllocateFileSpace(pages).view);
  ASSERT_TRUE(pager.FreeRanges().empty());
  const std::int64_t end = pager.FileSize();
  const std::int64_t page = pa::kPageBytes;
  std::vector<pa::Pager::FileSpace> spaces;
  for (const std::int64_t pages : {1, 2, 1}) {
    spaces.push_back(pager.AllocateFileSpace(pages));
    UnmapViewOfFile(spaces.back().view);
  }
  EXPECT_EQ(spaces[0].fileOffset, end);
  EXPECT_EQ(spaces[1].fileOffset, end + page);
  EXPECT_EQ(spaces[2].fileOffset, end + 3 * page);
  EXPECT_EQ(pager.FileSize(), end + 4 * page);
  EXPECT_EQ(fs::file_size(kez::testing::SwapFilePath()), static_cast<std::uintmax_t>(end + 4 * page));

  using Ranges = std::map<std::int64_t, std::int64_t>;
  pager.ReleaseFileSpace(end, 1);
  pager.ReleaseFileSpace(end + 3 * page, 1);
  EXPECT_EQ(pager.FreeRanges(), (Ranges{{end, 1}, {end + 3 * page, 1}}));
  pager.ReleaseFileSpace(end + page, 2);  // between the two: one range
  EXPECT_EQ(pager.FreeRanges(), (Ranges{{end, 4}}));
  // A smaller request takes the range's last pages; the file keeps its size.
  pa::Pager::FileSpace again = pager.AllocateFileSpace(1);
  UnmapViewOfFile(again.view);
  EXPECT_EQ(again.fileOffset, end + 3 * page);
  EXPECT_EQ(pager.FreeRanges(), (Ranges{{end, 3}}));
  EXPECT_EQ(pager.FileSize(), end + 4 * page);
  pager.ReleaseFileSpace(again.fileOffset, 1);
}

// What the swap file's calls refuse on Windows, the stand-ins refuse as well
// (this binary runs on both).
TEST(PagedFileCalls, RefuseWhatWindowsRefuses) {
  const std::wstring path = (fs::temp_directory_path() / "refusals.dat").wstring();
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const auto resize = [file](std::int64_t bytes) {
    LARGE_INTEGER end;
    end.QuadPart = bytes;
    return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  };
  ASSERT_TRUE(resize(4 * pa::kPageBytes));
  const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  // The last page: growth starts right behind it.
  void* const view = MapViewOfFileEx(mapping, FILE_MAP_WRITE, 0, 3 * pa::kPageBytes, pa::kPageBytes, nullptr);
  ASSERT_NE(view, nullptr);
  const auto mapAt = [mapping](DWORD offset, SIZE_T bytes) {
    void* const other = MapViewOfFileEx(mapping, FILE_MAP_WRITE, 0, offset, bytes, nullptr);
    if (other != nullptr) UnmapViewOfFile(other);
    return other != nullptr;
  };
  const struct {
    const char* what;
    std::function<bool()> call;
    DWORD error;
  } refusals[] = {
      {"a view off the 64 KiB grain", [&] { return mapAt(4096, 4096); }, ERROR_MAPPED_ALIGNMENT},
      {"a view past the mapping", [&] { return mapAt(3 * pa::kPageBytes, 2 * pa::kPageBytes); }, ERROR_ACCESS_DENIED},
      {"cutting a mapped file short", [&] { return resize(3 * pa::kPageBytes); }, ERROR_USER_MAPPED_FILE},
      {"deleting an open file", [&] { return DeleteFileW(path.c_str()) != FALSE; }, ERROR_SHARING_VIOLATION},
  };
  for (const auto& refusal : refusals) {
    SetLastError(0);
    EXPECT_FALSE(refusal.call()) << refusal.what;
    EXPECT_EQ(GetLastError(), refusal.error) << refusal.what;
  }
  auto* const bytes = static_cast<std::uint8_t*>(view);
  std::fill(bytes, bytes + pa::kPageBytes, 0xA5);
  EXPECT_TRUE(resize(8 * pa::kPageBytes)) << "growing under a view";
  const HANDLE grown = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
  CloseHandle(file);  // a mapping outlives its file handle
  ASSERT_NE(grown, nullptr);
  const auto* added = static_cast<const std::uint8_t*>(
      MapViewOfFileEx(grown, FILE_MAP_WRITE, 0, 6 * pa::kPageBytes, pa::kPageBytes, nullptr));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(std::count(added, added + pa::kPageBytes, 0), pa::kPageBytes) << "the grown part reads as zeros";
  EXPECT_EQ(std::count(bytes, bytes + pa::kPageBytes, 0xA5), pa::kPageBytes) << "growth leaves a view's bytes";
  UnmapViewOfFile(added);
  UnmapViewOfFile(view);
  CloseHandle(grown);
  CloseHandle(mapping);
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

std::uint32_t Pattern(int image, int pixel) { return static_cast<std::uint32_t>(image) * 2654435761u + pixel * 40503u; }

// Limits of the test's choosing, and the defaults back afterwards.
class LimitsScope {
 public:
  LimitsScope(std::int64_t heapLimit, std::int64_t residentLimit) {
    pa::ApplyDefaultLimits(lumo::GetMemoryStats());
    lumo::GetMemoryStats().heapLimit = heapLimit;
    lumo::GetMemoryStats().residentLimit = residentLimit;
  }
  ~LimitsScope() { lumo::GetMemoryStats().defaultsPending = 1; }
  LimitsScope(const LimitsScope&) = delete;
  LimitsScope& operator=(const LimitsScope&) = delete;
};

struct SwapCase {
  const char* name;
  std::int64_t heapLimit;  // 0: every 64 KiB block is file-backed from the start
};

class PagedSwap : public ::testing::TestWithParam<SwapCase> {};

TEST_P(PagedSwap, PixelsSurviveSwapOutAndMappingBack) {
  constexpr int kImages = 24;
  constexpr int kPixels = 128 * 128;
  LimitsScope limits(GetParam().heapLimit, 0x140000000);
  std::vector<std::unique_ptr<lumo::CImage32>> images;
  for (int i = 0; i < kImages; ++i) {
    images.push_back(std::make_unique<lumo::CImage32>());
    ASSERT_TRUE(images.back()->Resize(128, 128));
    EXPECT_EQ(images.back()->m_pixels, nullptr) << "unlocked";
    lumo::ImageLock lock(images.back().get());
    for (int p = 0; p < kPixels; ++p) images.back()->m_pixels[p] = Pattern(i, p);
  }
  // Nothing may stay resident: the next allocation swaps every unlocked block out.
  lumo::GetMemoryStats().residentLimit = 0;
  lumo::CImage32 trigger;
  ASSERT_TRUE(trigger.Resize(128, 128));
  EXPECT_GE(lumo::GetMemoryStats().swapped.load(), static_cast<std::int64_t>(kImages) * 65536);
  for (int i = 0; i < kImages; ++i) {
    lumo::ImageLock lock(images[i].get());
    ASSERT_NE(images[i]->m_pixels, nullptr);
    int wrong = 0;
    for (int p = 0; p < kPixels; ++p) wrong += images[i]->m_pixels[p] != Pattern(i, p) ? 1 : 0;
    EXPECT_EQ(wrong, 0) << "image " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Blocks, PagedSwap,
                         ::testing::Values(SwapCase{"HeapCopiedToTheFile", 0x60000000}, SwapCase{"MappedViewsUnmapped", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PagedSwapFile, ReplacesALeftOverAndIsGoneAtProcessEnd) {
  lumo::CImage32 image;
  ASSERT_TRUE(image.Resize(128, 128));
  std::string start(sizeof kez::testing::kLeftOver - 1, '\0');
  // Closed before the child starts: on Windows an open file cannot be deleted.
  std::ifstream(kez::testing::SwapFilePath(), std::ios::binary).read(start.data(), static_cast<std::streamsize>(start.size()));
  EXPECT_NE(start, kez::testing::kLeftOver);
  EXPECT_EQ(fs::file_size(kez::testing::SwapFilePath()), static_cast<std::uintmax_t>(ThePager().FileSize()));

  // A process of its own: the file is there while it pages, gone once it ends.
  // (The child runs this test again from the start, with the variable set.)
  const char* given = std::getenv(kez::testing::kPagedFolderVariable);
  const fs::path folder = given != nullptr ? fs::path(given) : fs::temp_directory_path() / "child";
  fs::create_directories(folder);
#ifdef _WIN32
  _putenv_s(kez::testing::kPagedFolderVariable, folder.string().c_str());
#else
  setenv(kez::testing::kPagedFolderVariable, folder.string().c_str(), 1);
#endif
  EXPECT_EXIT(
      {
        lumo::CImage32 child;
        std::exit(child.Resize(128, 128) && fs::exists(kez::testing::SwapFilePath()) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_FALSE(fs::exists(folder / "_liblumo_pager_.dat"));
#ifdef _WIN32
  _putenv_s(kez::testing::kPagedFolderVariable, "");
#else
  unsetenv(kez::testing::kPagedFolderVariable);
#endif
  fs::remove_all(folder);
}

}  // namespace
