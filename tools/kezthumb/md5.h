// MD5 (RFC 1321): the freedesktop thumbnail cache names each file after the
// MD5 of the document's URI. Not for anything that needs a secure hash.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kezthumb {

class Md5 {
 public:
  Md5();
  void Update(const void* data, std::size_t size);
  void Update(std::string_view text) { Update(text.data(), text.size()); }
  // Ends the message; the object must not be updated afterwards.
  std::array<std::uint8_t, 16> Finish();

 private:
  void Block(const std::uint8_t* block);

  std::uint32_t m_state[4];
  std::uint64_t m_length = 0;  // bytes so far
  std::uint8_t m_buffer[64];
  std::size_t m_buffered = 0;
};

// The 32 lower-case hex digits of the MD5 of `text`.
std::string Md5Hex(std::string_view text);

}  // namespace kezthumb
