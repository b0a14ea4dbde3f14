// Files on disk: atomic replacement, permissions, no temporary file left
// behind, private folders, stamps.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kezthumb/file_system.h"

namespace kezthumb {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("kezthumb_fs_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::vector<std::uint8_t> Read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }
  static unsigned Mode(const fs::path& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }

  fs::path m_dir;
};

TEST_F(FileSystemTest, WritesExactBytesAndReplacesAtomically) {
  const fs::path target = m_dir / "out.png";
  std::string error;
  const std::vector<std::uint8_t> first = {1, 2, 3};
  ASSERT_TRUE(WriteFileAtomically(target, first, false, &error)) << error;
  EXPECT_EQ(Read(target), first);
  struct stat before {};
  stat(target.c_str(), &before);
  const std::vector<std::uint8_t> second(100000, 0xAB);
  ASSERT_TRUE(WriteFileAtomically(target, second, false, &error)) << error;
  EXPECT_EQ(Read(target), second);
  struct stat after {};
  stat(target.c_str(), &after);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed over, never rewritten in place
  EXPECT_EQ(Names(), std::vector<std::string>{"out.png"});
}

TEST_F(FileSystemTest, PermissionsPrivateOrUmask) {
  const mode_t old = umask(022);
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(m_dir / "public", {1}, false, &error));
  ASSERT_TRUE(WriteFileAtomically(m_dir / "private", {1}, true, &error));
  umask(027);
  ASSERT_TRUE(WriteFileAtomically(m_dir / "group", {1}, false, &error));
  umask(old);
  EXPECT_EQ(Mode(m_dir / "public"), 0644u);
  EXPECT_EQ(Mode(m_dir / "private"), 0600u);
  EXPECT_EQ(Mode(m_dir / "group"), 0640u);
}

TEST_F(FileSystemTest, FailuresLeaveNothingBehind) {
  std::string error;
  // The target is a folder: the rename fails after the data was written.
  fs::create_directories(m_dir / "taken" / "inside");
  EXPECT_FALSE(WriteFileAtomically(m_dir / "taken", {1, 2}, false, &error));
  EXPECT_EQ(error, "Is a directory");
  EXPECT_EQ(Names(), std::vector<std::string>{"taken"});
  // The folder does not exist: nothing can be created.
  EXPECT_FALSE(WriteFileAtomically(m_dir / "missing" / "out.png", {1}, false, &error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_EQ(Names(), std::vector<std::string>{"taken"});
}

// Written as it is made: what the producer says when it gives up, and
// nothing left behind.
TEST_F(FileSystemTest, ProducerFailureIsItsReasonAndLeavesNothing) {
  std::string error;
  const auto halfway = [](const ByteSink& sink, std::string* reason) {
    const std::uint8_t bytes[] = {1, 2, 3};
    sink(bytes, sizeof bytes);
    *reason = "the encoder gave up";
    return false;
  };
  EXPECT_FALSE(WriteFileAtomically(m_dir / "out.png", halfway, false, &error));
  EXPECT_EQ(error, "the encoder gave up");
  EXPECT_TRUE(Names().empty());
}

TEST_F(FileSystemTest, PrivateDirectories) {
  std::string error;
  const fs::path deep = m_dir / "a" / "b" / "c";
  ASSERT_TRUE(MakePrivateDirectories(deep, &error)) << error;
  EXPECT_EQ(Mode(m_dir / "a"), 0700u);
  EXPECT_EQ(Mode(deep), 0700u);
  // Existing folders stay as they are.
  fs::create_directories(m_dir / "open");
  fs::permissions(m_dir / "open", fs::perms(0755));
  ASSERT_TRUE(MakePrivateDirectories(m_dir / "open" / "x", &error));
  EXPECT_EQ(Mode(m_dir / "open"), 0755u);
  EXPECT_EQ(Mode(m_dir / "open" / "x"), 0700u);
  // A file in the way.
  std::ofstream(m_dir / "file") << "x";
  EXPECT_FALSE(MakePrivateDirectories(m_dir / "file" / "sub", &error));
  EXPECT_EQ(error, (m_dir / "file").string() + ": Not a directory");
}

TEST_F(FileSystemTest, StampsAndHeads) {
  const fs::path file = m_dir / "doc";
  std::ofstream(file, std::ios::binary) << "kelpack";
  struct timespec times[2] = {{1600000000, 0}, {1700000000, 999999999}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  FileStamp stamp;
  std::string error;
  ASSERT_TRUE(StatFile(file, &stamp, &error));
  EXPECT_EQ(stamp.mtime, 1700000000);  // whole seconds, as the cache records them
  EXPECT_EQ(stamp.size, 7u);
  EXPECT_FALSE(StatFile(m_dir, &stamp, &error));
  EXPECT_EQ(error, "not a regular file");
  EXPECT_FALSE(StatFile(m_dir / "none", &stamp, &error));
  EXPECT_EQ(error, "No such file or directory");

  std::uint8_t head[8] = {};
  std::size_t got = 99;
  ASSERT_TRUE(ReadFileHead(file, head, sizeof head, &got, &error));
  EXPECT_EQ(got, 7u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(head), got), "kelpack");
  EXPECT_FALSE(ReadFileHead(m_dir / "none", head, sizeof head, &got, &error));
  EXPECT_EQ(got, 0u);
}

// A process interrupted while its temporary file exists removes it on the
// way out, and dies of the signal as it would have.
TEST_F(FileSystemTest, InterruptRemovesTheTemporaryFile) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t child = fork();
    if (child == 0) {
      InstallInterruptCleanup();
      const std::vector<std::uint8_t> big(32u << 20, 0x5A);  // long enough to be caught writing
      std::string error;
      for (;;) WriteFileAtomically(m_dir / "out.png", big, true, &error);
    }
    // Wait for a temporary file to appear, then interrupt.
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
      for (const auto& name : Names()) seen = seen || name.find(".tmp") != std::string::npos;
      if (!seen) usleep(500);
    }
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(seen);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal);
    for (const auto& name : Names()) EXPECT_EQ(name, "out.png") << "signal " << signal;
  }
}

}  // namespace
}  // namespace kezthumb
