// Telling the two document formats apart by their first bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kezthumb {

enum class DocumentFormat {
  kUnknown,
  kKez,             // "pxv" and a version the reader takes (a signed byte up to 1)
  kKezNewVersion,   // "pxv" and a later version: no reader for it
  kPacked,          // "kelpack" and a zero byte
};

// Bytes to read from the start of a file to tell its format.
constexpr std::size_t kSniffBytes = 8;

// The format of a file that begins with `bytes` (size of them read).
DocumentFormat SniffFormat(const std::uint8_t* bytes, std::size_t size);

// The MIME type the desktop knows the format by ("" for kUnknown).
const char* MimeType(DocumentFormat format);

// Why a file of this format gets no thumbnail before any reading is tried:
// "not a known document format", "unsupported .kez version N"; "" when the
// format has a reader.
std::string UnsupportedReason(DocumentFormat format, const std::uint8_t* bytes, std::size_t size);

}  // namespace kezthumb
