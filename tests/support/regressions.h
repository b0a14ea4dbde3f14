// Replays the inputs kept under fuzz/regressions/<target>/ through a fuzzer's
// body, so every fault a fuzzer found stays fixed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kez::testing {

// Runs `body`(data, size) on every file of the folder; returns how many.
template <typename Body>
int ReplayRegressions(const std::string& target, Body&& body) {
  const std::filesystem::path dir =
      std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "fuzz" / "regressions" / target;
  int replayed = 0;
  if (!std::filesystem::is_directory(dir)) return 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    body(data.data(), data.size());
    ++replayed;
  }
  return replayed;
}

}  // namespace kez::testing
