// Shared by the paged tests.
#pragma once

#include <filesystem>

namespace kez::testing {

// Names the folder a death test's child keeps its swap file in.
constexpr char kPagedFolderVariable[] = "KEZ_PAGED_TEST_FOLDER";
// What main plants as a left-over swap file before the pager starts.
constexpr char kLeftOver[] = "a swap file left over by an earlier process";

std::filesystem::path SwapFilePath();
// The folder the next death test's child keeps its swap file in; empty: none.
void SetChildFolder(const std::filesystem::path& folder);

}  // namespace kez::testing
