// Memory and file streams: the results the readers and the tool rely on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/shell.h"

namespace {

LARGE_INTEGER Move(LONGLONG value) {
  LARGE_INTEGER move;
  move.QuadPart = value;
  return move;
}

TEST(MemoryStreamTest, ReadsSeeksAndStats) {
  const BYTE data[] = {1, 2, 3, 4, 5};
  IStream* stream = SHCreateMemStream(data, sizeof(data));
  ASSERT_NE(stream, nullptr);
  BYTE buffer[8] = {};
  ULONG read = 99;
  EXPECT_EQ(stream->Read(buffer, 2, &read), S_OK);
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(buffer[1], 2);

  ULARGE_INTEGER position;
  EXPECT_EQ(stream->Seek(Move(1), STREAM_SEEK_CUR, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 3u);
  // A short read at the end is a success with the count.
  EXPECT_EQ(stream->Read(buffer, 8, &read), S_OK);
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(buffer[0], 4);
  EXPECT_EQ(stream->Read(buffer, 8, &read), S_OK);
  EXPECT_EQ(read, 0u);

  // Before the start is refused and leaves the position; past the end is fine.
  EXPECT_EQ(stream->Seek(Move(-6), STREAM_SEEK_END, &position), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Seek(Move(0), STREAM_SEEK_CUR, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 5u);
  EXPECT_EQ(stream->Seek(Move(100), STREAM_SEEK_SET, &position), S_OK);
  EXPECT_EQ(stream->Read(buffer, 8, &read), S_OK);
  EXPECT_EQ(read, 0u);

  STATSTG stat;
  EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 5u);
  EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));

  void* again = nullptr;
  EXPECT_EQ(stream->QueryInterface(IID_IStream, &again), S_OK);
  EXPECT_EQ(again, stream);
  EXPECT_EQ(stream->QueryInterface(IID_IClassFactory, &again), E_NOINTERFACE);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(stream->Release(), 1u);
  EXPECT_EQ(stream->Release(), 0u);
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/kez_stream_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "kelpack", 7), 7);
    close(fd);
    m_path = name;
  }
  void TearDown() override { std::remove(m_path.c_str()); }
  std::wstring WidePath() const { return std::wstring(m_path.begin(), m_path.end()); }

  std::string m_path;
};

TEST_F(FileStreamTest, ReadsAnExistingFileReadOnly) {
  IStream* stream = nullptr;
  ASSERT_EQ(SHCreateStreamOnFileEx(WidePath().c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL,
                                   FALSE, nullptr, &stream),
            S_OK);
  char buffer[16] = {};
  ULONG read = 0;
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &read), S_OK);
  EXPECT_EQ(read, 7u);
  EXPECT_EQ(std::string(buffer), "kelpack");
  STATSTG stat;
  EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 7u);
  ULONG written = 0;
  EXPECT_EQ(stream->Write("x", 1, &written), STG_E_ACCESSDENIED);
  stream->Release();
}

TEST_F(FileStreamTest, MissingFileIsFileNotFound) {
  IStream* stream = reinterpret_cast<IStream*>(0x10);
  EXPECT_EQ(static_cast<std::uint32_t>(SHCreateStreamOnFileEx(L"/tmp/kez_no_such_file_here", STGM_READ,
                                                              FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream)),
            0x80070002u);
  EXPECT_EQ(stream, nullptr);
}

}  // namespace
