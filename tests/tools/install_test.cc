// `cmake --install` of the kezthumb component into a scratch prefix: the
// program, the thumbnailer entry and the MIME package land where freedesktop
// desktops look, and shared-mime-info accepts the package.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Runs a shell command, its output into `output`; the exit status.
int Shell(const std::string& command, std::string* output) {
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Appends rather than "literal" + string, which GCC 12 misreads as an
// overlapping copy.
std::string Quote(const fs::path& path) {
  std::string quoted(1, '\'');
  return quoted.append(path.string()).append(1, '\'');
}

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    m_prefix = fs::temp_directory_path() / ("kezthumb_install_" + std::to_string(getpid()));
    fs::remove_all(m_prefix);
    std::string output;
    ASSERT_EQ(Shell(std::string(Quote(KEZ_CMAKE_COMMAND)) + " --install " + Quote(KEZ_BUILD_DIR) +
                        " --component kezthumb --prefix " + Quote(m_prefix),
                    &output),
              0)
        << output;
  }
  void TearDown() override { fs::remove_all(m_prefix); }

  fs::path m_prefix;
};

TEST_F(Install, FilesWhereDesktopsLook) {
  const fs::path program = m_prefix / "bin" / "kezthumb";
  ASSERT_TRUE(fs::exists(program));
  EXPECT_EQ(access(program.c_str(), X_OK), 0);
  EXPECT_EQ(ReadText(m_prefix / "share/thumbnailers/kezthumb.thumbnailer"),
            "[Thumbnailer Entry]\n"
            "TryExec=kezthumb\n"
            "Exec=kezthumb -s %s %i %o\n"
            "MimeType=application/x-kez;application/x-kelpack;\n");
  EXPECT_EQ(ReadText(m_prefix / "share/mime/packages/kezthumb.xml"),
            ReadText(fs::path(KEZ_SOURCE_DIR) / "packaging/kezthumb.xml"));
  std::string output;
  EXPECT_EQ(Shell(Quote(program) + " --version", &output), 0);
  EXPECT_EQ(output, "kezthumb 0.1.0\n");
}

// The package compiles into the MIME database without complaint, with both
// types, their globs and their magic.
TEST_F(Install, MimeDatabaseAcceptsThePackage) {
  std::string output;
  if (Shell("command -v update-mime-database", &output) != 0) GTEST_SKIP() << "shared-mime-info is not installed";
  output.clear();
  const fs::path mime = m_prefix / "share/mime";
  ASSERT_EQ(Shell(std::string("update-mime-database -V ").append(Quote(mime)), &output), 0) << output;
  EXPECT_EQ(output.find("Warning"), std::string::npos) << output;
  EXPECT_EQ(output.find("Error"), std::string::npos) << output;
  EXPECT_TRUE(fs::exists(mime / "application/x-kez.xml"));
  EXPECT_TRUE(fs::exists(mime / "application/x-kelpack.xml"));
  const std::string globs = ReadText(mime / "globs2");
  EXPECT_NE(globs.find("50:application/x-kez:*.kez"), std::string::npos) << globs;
  EXPECT_NE(globs.find("50:application/x-kelpack:*.kelpack"), std::string::npos) << globs;
  const std::string magic = ReadText(mime / "magic");
  EXPECT_NE(magic.find("[60:application/x-kez]"), std::string::npos);
  EXPECT_NE(magic.find("[60:application/x-kelpack]"), std::string::npos);
  EXPECT_NE(magic.find("pxv"), std::string::npos);
  EXPECT_NE(magic.find("kelpack"), std::string::npos);
}

}  // namespace
