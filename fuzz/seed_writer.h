// Writes the seed inputs of one fuzzer into a directory, creating it: the
// fuzzers' documented commands start from an empty checkout.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kez::fuzzing {

class SeedWriter {
 public:
  explicit SeedWriter(std::string dir) : m_dir(std::move(dir)) {
    std::error_code error;
    std::filesystem::create_directories(m_dir, error);
  }

  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(m_dir + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (out.flush()) ++m_count; else m_ok = false;
  }

  // Reports the count; 1 when a seed could not be written.
  int Finish() const {
    if (!m_ok) {
      std::fprintf(stderr, "cannot write seeds into %s\n", m_dir.c_str());
      return 1;
    }
    std::printf("%d seeds written to %s\n", m_count, m_dir.c_str());
    return 0;
  }

 private:
  std::string m_dir;
  int m_count = 0;
  bool m_ok = true;
};

}  // namespace kez::fuzzing
