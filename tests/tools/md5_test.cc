// MD5 against the RFC 1321 test suite, fed whole and in pieces, and the cache
// names of URIs checked against digests computed outside the project
// (printf '...' | md5sum).
#include <gtest/gtest.h>

#include <string>

#include "kezthumb/cache.h"
#include "kezthumb/md5.h"

namespace kezthumb {
namespace {

struct Vector {
  const char* message;
  const char* digest;
};

// RFC 1321, appendix A.5.
const Vector kRfcVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

class Md5Rfc : public ::testing::TestWithParam<Vector> {};

TEST_P(Md5Rfc, WholeMessage) { EXPECT_EQ(Md5Hex(GetParam().message), GetParam().digest); }

// Every split point of the message in two updates gives the same digest, so
// the buffering across block edges is right.
TEST_P(Md5Rfc, SplitAnywhere) {
  const std::string message = GetParam().message;
  for (std::size_t cut = 0; cut <= message.size(); ++cut) {
    Md5 md5;
    md5.Update(std::string_view(message).substr(0, cut));
    md5.Update(std::string_view(message).substr(cut));
    std::string hex;
    for (const auto byte : md5.Finish()) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", byte);
      hex += two;
    }
    EXPECT_EQ(hex, GetParam().digest) << "cut at " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(Rfc1321, Md5Rfc, ::testing::ValuesIn(kRfcVectors));

// Lengths around the padding boundary (55, 56, 63, 64, 65 bytes) take the
// one-block and two-block padding paths.
TEST(Md5, PaddingBoundaries) {
  const struct {
    std::size_t length;
    const char* digest;
  } cases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"}, {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"}, {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"},
  };
  for (const auto& c : cases) EXPECT_EQ(Md5Hex(std::string(c.length, 'a')), c.digest) << c.length;
}

TEST(Md5, MillionA) {
  Md5 md5;
  const std::string chunk(1000, 'a');
  for (int i = 0; i < 1000; ++i) md5.Update(chunk);
  const auto digest = md5.Finish();
  EXPECT_EQ(digest[0], 0x77);
  EXPECT_EQ(digest[15], 0x21);
  EXPECT_EQ(Md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

// The names under thumbnails/: the MD5 of the escaped URI, as md5sum gives it.
TEST(CacheFileName, KnownUris) {
  EXPECT_EQ(CacheFileName("file:///tmp/a%20b.kez"), "2ebcef0eadc2a0fa6d8667c3c45a6067.png");
  EXPECT_EQ(CacheFileName("file:///home/user/Pictures/%C3%A9t%C3%A9%20%231.kez"),
            "842dbb1d8974b195fcf9023177c47c98.png");
  EXPECT_EQ(CacheFileName("file:///C:/Users/me/a%20b.kez"), "02e2b3dbd847264b2b33fb8b98197826.png");
}

}  // namespace
}  // namespace kezthumb
