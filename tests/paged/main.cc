// The paged tests' main: each process gets a temporary folder of its own (the
// swap file's name is fixed, and ctest runs tests as parallel processes), a
// left-over swap file planted there for the pager to delete, and the paged
// mode switched on before the first image.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "lumo/image.h"
#include "paged/paged_test.h"

namespace fs = std::filesystem;

namespace {

fs::path g_ownFolder;

void RemoveOwnFolder() {
  std::error_code ignored;
  fs::remove_all(g_ownFolder, ignored);
}

void SetTemporaryFolder(const fs::path& folder) {
#ifdef _WIN32
  _wputenv_s(L"TMP", folder.wstring().c_str());
#else
  setenv("TMPDIR", folder.string().c_str(), 1);
#endif
}

}  // namespace

namespace kez::testing {

fs::path SwapFilePath() {
  const char* given = std::getenv(kPagedFolderVariable);
  return (given != nullptr ? fs::path(given) : g_ownFolder) / "_liblumo_pager_.dat";
}

void SetChildFolder(const fs::path& folder) {
#ifdef _WIN32
  _putenv_s(kPagedFolderVariable, folder.string().c_str());
#else
  if (folder.empty()) unsetenv(kPagedFolderVariable);
  else setenv(kPagedFolderVariable, folder.string().c_str(), 1);
#endif
}

}  // namespace kez::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A death test's child is handed its parent's choice of folder, with nothing
  // planted: it may hold the parent's swap file.
  if (const char* given = std::getenv(kez::testing::kPagedFolderVariable)) {
    SetTemporaryFolder(given);
  } else {
    g_ownFolder = fs::temp_directory_path() / ("kez-paged-" + std::to_string(std::random_device{}()));
    fs::create_directories(g_ownFolder);
    SetTemporaryFolder(g_ownFolder);
    // Registered before the pager exists, so it runs after the pager's end.
    std::atexit(RemoveOwnFolder);
    std::ofstream(kez::testing::SwapFilePath(), std::ios::binary) << kez::testing::kLeftOver;
  }
  lumo::g_pagedMemory = 1;
  return RUN_ALL_TESTS();
}
