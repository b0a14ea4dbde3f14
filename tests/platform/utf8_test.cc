#include "platform/utf8_posix.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/shell.h"

namespace {

struct Utf8Case {
  const char* bytes;
  std::wstring wide;
};

class Utf8Table : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Table, DecodesAndEncodesBack) {
  const Utf8Case& c = GetParam();
  EXPECT_EQ(platform::Utf8ToWide(c.bytes), c.wide);
  EXPECT_EQ(platform::WideToUtf8(c.wide.c_str()), std::string(c.bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Names, Utf8Table,
    ::testing::Values(Utf8Case{"plain.kez", L"plain.kez"}, Utf8Case{"caf\xC3\xA9", L"caf\u00E9"},
                      Utf8Case{"\xE7\x94\xBB.kez", L"\u753B.kez"}, Utf8Case{"\xF0\x9F\x8E\xA8", L"\U0001F3A8"},
                      // Not UTF-8: a lone continuation byte, a cut sequence, an
                      // overlong slash and an encoded surrogate keep their bytes.
                      Utf8Case{"a\x80z", L"a\xDC80z"}, Utf8Case{"\xE7\x94", L"\xDCE7\xDC94"},
                      Utf8Case{"\xC0\xAF", L"\xDCC0\xDCAF"},
                      Utf8Case{"\xED\xA0\x80", L"\xDCED\xDCA0\xDC80"}));

TEST(FileStreamNames, OpensFilesWhoseNamesAreNotAscii) {
  for (const char* name : {"/tmp/kez_\xE7\x94\xBB_\xC3\xA9.kez", "/tmp/kez_latin1_\xE9.kez"}) {
    const int fd = open(name, O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0) << name;
    ASSERT_EQ(write(fd, "pxv\1", 4), 4);
    close(fd);
    IStream* stream = nullptr;
    ASSERT_EQ(SHCreateStreamOnFileEx(platform::Utf8ToWide(name).c_str(), STGM_READ, FILE_ATTRIBUTE_NORMAL, FALSE,
                                     nullptr, &stream),
              S_OK)
        << name;
    char magic[4] = {};
    ULONG read = 0;
    EXPECT_EQ(stream->Read(magic, 4, &read), S_OK);
    EXPECT_EQ(std::string(magic, read), std::string("pxv\1", 4));
    stream->Release();
    std::remove(name);
  }
}

}  // namespace

namespace {

TEST(Utf8, WhatUtf8CannotCarryBecomesReplacementCharacter) {
  const wchar_t text[] = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), 0};
  EXPECT_EQ(platform::WideToUtf8(text), "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
