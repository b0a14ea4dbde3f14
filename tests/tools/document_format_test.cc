// Telling formats apart by their first bytes, and the reasons given for files
// without a reader.
#include <gtest/gtest.h>

#include <string>

#include "kezthumb/document_format.h"

namespace kezthumb {
namespace {

struct SniffCase {
  std::string bytes;
  DocumentFormat format;
  const char* reason;  // UnsupportedReason
  const char* mime;
};

class Sniff : public ::testing::TestWithParam<SniffCase> {};

TEST_P(Sniff, FormatReasonAndMime) {
  const auto& c = GetParam();
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
  EXPECT_EQ(SniffFormat(bytes, c.bytes.size()), c.format);
  EXPECT_EQ(UnsupportedReason(c.format, bytes, c.bytes.size()), c.reason);
  EXPECT_STREQ(MimeType(c.format), c.mime);
}

using std::string_literals::operator""s;

INSTANTIATE_TEST_SUITE_P(
    Heads, Sniff,
    ::testing::Values(
        SniffCase{"pxv\x01\0\0\0\0"s, DocumentFormat::kKez, "", "application/x-kez"},
        SniffCase{"pxv\x00"s, DocumentFormat::kKez, "", "application/x-kez"},
        // The reader takes the version as a signed byte: 0x80..0xFF pass.
        SniffCase{"pxv\xFF"s, DocumentFormat::kKez, "", "application/x-kez"},
        SniffCase{"pxv\x80"s, DocumentFormat::kKez, "", "application/x-kez"},
        SniffCase{"pxv\x02"s, DocumentFormat::kKezNewVersion, "unsupported .kez version 2", "application/x-kez"},
        SniffCase{"pxv\x7F"s, DocumentFormat::kKezNewVersion, "unsupported .kez version 127", "application/x-kez"},
        SniffCase{"pxv"s, DocumentFormat::kUnknown, "not a known document format", ""},
        SniffCase{"PXV\x01"s, DocumentFormat::kUnknown, "not a known document format", ""},
        SniffCase{"kelpack\0"s, DocumentFormat::kPacked, "", "application/x-kelpack"},
        SniffCase{"kelpack\0\x10\0\0\0"s, DocumentFormat::kPacked, "", "application/x-kelpack"},
        SniffCase{"kelpack\x01"s, DocumentFormat::kUnknown, "not a known document format", ""},
        SniffCase{"kelpack"s, DocumentFormat::kUnknown, "not a known document format", ""},
        SniffCase{""s, DocumentFormat::kUnknown, "not a known document format", ""},
        SniffCase{"\x89PNG\r\n\x1A\n"s, DocumentFormat::kUnknown, "not a known document format", ""}));

}  // namespace
}  // namespace kezthumb
