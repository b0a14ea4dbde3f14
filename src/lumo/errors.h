// The system's own exception types.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Stream access of the page-store reader: "Fail to stat.", "Seek fail",
// "Read fail", "Can't read enough".
class ThumbError : public std::runtime_error {
 public:
  explicit ThumbError(const std::string& message) : std::runtime_error(message) {}
  explicit ThumbError(const char* message) : std::runtime_error(message) {}
};

namespace lumo {

// A failure with a numeric code; the page-store reader raises code 2 for an
// unreadable thumbnail page stream.
class FException : public std::runtime_error {
 public:
  FException(const std::string& message, std::int32_t code) : std::runtime_error(message), code(code) {}
  std::int32_t code;
};

// A malformed page-store document.
class PXVError : public std::runtime_error {
 public:
  explicit PXVError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace lumo
