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

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
#ifndef _WIN32
  // Past the file-size limit, growth fails as on a full disk (and nothing is
  // reported meanwhile: the output may be a file too).
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit low{static_cast<rlim_t>(end + 4 * page), limit.rlim_max};
  std::string failure;
  setrlimit(RLIMIT_FSIZE, &low);
  try {
    pager.AllocateFileSpace(5);
  } catch (const std::runtime_error& e) {
    failure = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_EQ(failure, "fail to enlarge file.");
  EXPECT_EQ(fs::file_size(kez::testing::SwapFilePath()), static_cast<std::uintmax_t>(end + 4 * page));
#endif
}

// Opens a file as the pager opens its swap file, and closes it again.
bool Opens(const fs::path& name) {
  const HANDLE file = CreateFileW(name.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return file != INVALID_HANDLE_VALUE;
}

#ifndef _WIN32
// `call` with the descriptor table full, as in a host at its open-file limit.
bool WithoutDescriptors(const std::function<bool()>& call) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit none{0, limit.rlim_max};
  setrlimit(RLIMIT_NOFILE, &none);
  const bool result = call();
  const DWORD error = GetLastError();
  setrlimit(RLIMIT_NOFILE, &limit);
  SetLastError(error);
  return result;
}
#endif

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
#ifndef _WIN32
  // Names someone else could have put where the file is to be: a link, and a
  // second name of a file elsewhere.
  const fs::path folder = fs::temp_directory_path();
  fs::create_symlink(path, folder / "link.dat");
  std::ofstream(folder / "elsewhere.dat") << "a file elsewhere";
  fs::create_hard_link(folder / "elsewhere.dat", folder / "second-name.dat");
#endif
  const struct {
    const char* what;
    std::function<bool()> call;
    DWORD error;
  } refusals[] = {
      {"opening a held file again", [&] { return Opens(path); }, ERROR_SHARING_VIOLATION},
#ifndef _WIN32
      {"opening a link", [&] { return Opens(folder / "link.dat"); }, ERROR_ACCESS_DENIED},
      {"opening a second name", [&] { return Opens(folder / "second-name.dat"); }, ERROR_ACCESS_DENIED},
      {"opening with no descriptor to spare",
       [&] { return WithoutDescriptors([&] { return Opens(folder / "spare.dat"); }); }, ERROR_TOO_MANY_OPEN_FILES},
      // Not knowing whether a handle holds it, the file is kept (the last
      // deletion below finds it).
      {"deleting with no descriptor to spare",
       [&] { return WithoutDescriptors([&] { return DeleteFileW(path.c_str()) != FALSE; }); },
       ERROR_TOO_MANY_OPEN_FILES},
#endif
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

#ifndef _WIN32
// Another user's file where a file is to be, and another user's folder under
// the private temporary folder's name: neither is used.
TEST(PagedFileCalls, TakeNothingOfAnotherUsers) {
  constexpr uid_t kOther = 65534;
  const fs::path planted = fs::temp_directory_path() / "planted.dat";
  std::ofstream(planted) << "another user's file";
  if (chown(planted.c_str(), kOther, kOther) != 0) GTEST_SKIP() << "only root can make another user's files";
  SetLastError(0);
  EXPECT_FALSE(Opens(planted));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  // The private folder's name taken by another user's folder, or by the
  // user's own that it cannot write to or that others can enter: it gets a
  // fresh one.
  const std::string taken = "/tmp/lumo-" + std::to_string(kOther), tmpdir = std::getenv("TMPDIR");
  const struct {
    uid_t owner;
    fs::perms mode;
  } takers[] = {{0, fs::perms::owner_all}, {kOther, fs::perms::owner_read | fs::perms::owner_exec},
                {kOther, fs::perms::owner_all | fs::perms::others_exec}};
  for (const auto& taker : takers) {
    fs::create_directory(taken);
    fs::permissions(taken, taker.mode);
    ASSERT_EQ(chown(taken.c_str(), taker.owner, taker.owner), 0);
    unsetenv("TMPDIR");
    ASSERT_EQ(seteuid(kOther), 0);
    WCHAR buffer[MAX_PATH];
    const fs::path folder(std::wstring(buffer, GetTempPathW(MAX_PATH, buffer)));
    ASSERT_EQ(seteuid(0), 0);
    setenv("TMPDIR", tmpdir.c_str(), 1);
    fs::remove(taken);
    struct stat info {};
    EXPECT_TRUE(folder.string().starts_with(taken + "-") && lstat(folder.c_str(), &info) == 0 &&
                info.st_uid == kOther && info.st_mode == (S_IFDIR | 0700))
        << folder << " owner " << taker.owner << " mode " << std::oct << static_cast<int>(taker.mode);
    if (folder.string().starts_with(taken + "-")) fs::remove(folder);
  }
}
#endif

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
  kez::testing::SetChildFolder(folder);
  EXPECT_EXIT(
      {
        lumo::CImage32 child;
        std::exit(child.Resize(128, 128) && fs::exists(kez::testing::SwapFilePath()) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_FALSE(fs::exists(folder / "_liblumo_pager_.dat"));
  kez::testing::SetChildFolder({});
  fs::remove_all(folder);
}

// A second process finds the swap file held, as the share mode holds it on
// Windows: it neither deletes nor opens it, and its images live on the heap.
TEST(PagedSwapFile, IsHeldAgainstASecondProcess) {
  lumo::CImage32 image;
  ASSERT_TRUE(image.Resize(128, 128));
  kez::testing::SetChildFolder(kez::testing::SwapFilePath().parent_path());
  EXPECT_EXIT(
      {
        lumo::CImage32 child;
        std::exit(child.Resize(128, 128) && pa::Pager::Instance() == nullptr ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  kez::testing::SetChildFolder({});
  EXPECT_EQ(fs::file_size(kez::testing::SwapFilePath()), static_cast<std::uintmax_t>(ThePager().FileSize()));
}

}  // namespace
