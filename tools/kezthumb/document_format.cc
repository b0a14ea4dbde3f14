#include "document_format.h"

#include <cstring>

namespace kezthumb {

DocumentFormat SniffFormat(const std::uint8_t* bytes, std::size_t size) {
  if (size >= 8 && std::memcmp(bytes, "kelpack\0", 8) == 0) return DocumentFormat::kPacked;
  if (size >= 4 && std::memcmp(bytes, "pxv", 3) == 0)
    return static_cast<std::int8_t>(bytes[3]) <= 1 ? DocumentFormat::kKez : DocumentFormat::kKezNewVersion;
  return DocumentFormat::kUnknown;
}

const char* MimeType(DocumentFormat format) {
  switch (format) {
    case DocumentFormat::kKez:
    case DocumentFormat::kKezNewVersion: return "application/x-kez";
    case DocumentFormat::kPacked: return "application/x-kelpack";
    case DocumentFormat::kUnknown: break;
  }
  return "";
}

std::string UnsupportedReason(DocumentFormat format, const std::uint8_t* bytes, std::size_t size) {
  switch (format) {
    case DocumentFormat::kUnknown: return "not a known document format";
    case DocumentFormat::kKezNewVersion:
      return "unsupported .kez version " + std::to_string(size >= 4 ? static_cast<int>(bytes[3]) : 0);
    case DocumentFormat::kKez:
    case DocumentFormat::kPacked: break;
  }
  return "";
}

}  // namespace kezthumb
