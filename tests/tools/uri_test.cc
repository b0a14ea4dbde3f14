// File URIs: which bytes are escaped, and how paths become URIs.
#include <gtest/gtest.h>

#include <string>

#include "kezthumb/uri.h"

namespace kezthumb {
namespace {

// Every printable ASCII byte and its fate, plus controls and high bytes.
TEST(EscapePath, EveryAsciiByte) {
  const std::string kept = "!$&'()*+,-./0123456789:=@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~";
  for (int c = 0; c < 256; ++c) {
    const std::string in(1, static_cast<char>(c));
    const std::string out = EscapePath(in);
    if (kept.find(static_cast<char>(c)) != std::string::npos && c != 0) {
      EXPECT_EQ(out, in) << "byte " << c;
    } else {
      char expected[4];
      std::snprintf(expected, sizeof expected, "%%%02X", c);
      EXPECT_EQ(out, expected) << "byte " << c;
    }
  }
}

struct UriCase {
  const char* path;
  const char* uri;
};

class FileUriTable : public ::testing::TestWithParam<UriCase> {};

TEST_P(FileUriTable, Matches) { EXPECT_EQ(FileUri(GetParam().path), GetParam().uri); }

INSTANTIATE_TEST_SUITE_P(
    Paths, FileUriTable,
    ::testing::Values(UriCase{"/tmp/a b.kez", "file:///tmp/a%20b.kez"},
                      UriCase{"/", "file:///"},
                      UriCase{"/x/100%.kez", "file:///x/100%25.kez"},
                      UriCase{"/x/#1?[2]{3}.kez", "file:///x/%231%3F%5B2%5D%7B3%7D.kez"},
                      UriCase{"/x/a;b<c>d\"e`f|g\\h^i.kez", "file:///x/a%3Bb%3Cc%3Ed%22e%60f%7Cg%5Ch%5Ei.kez"},
                      UriCase{"/x/it's (mine)+me@home,$5&=ok!*~.kez", "file:///x/it's%20(mine)+me@home,$5&=ok!*~.kez"},
                      // UTF-8 bytes are escaped one by one, upper-case hex.
                      UriCase{"/home/user/Pictures/\xC3\xA9t\xC3\xA9 #1.kez",
                              "file:///home/user/Pictures/%C3%A9t%C3%A9%20%231.kez"},
                      // Bytes that are not UTF-8 are escaped as they are.
                      UriCase{"/x/\xFF\x80\x01.kez", "file:///x/%FF%80%01.kez"},
                      // A Windows drive path gets the slash file URIs want.
                      UriCase{"C:/Users/me/a b.kez", "file:///C:/Users/me/a%20b.kez"}));

}  // namespace
}  // namespace kezthumb
