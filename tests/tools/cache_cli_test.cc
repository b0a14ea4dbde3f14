// `kezthumb --cache` as a user meets it: the files it leaves in the
// freedesktop thumbnail cache (names, text chunks, modes, pixels), what it
// skips on the next run, fail markers, the summary and the progress bar.
#include <gtest/gtest.h>
#include <png.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kezthumb/cache.h"
#include "kezthumb/png_text.h"
#include "kezthumb/png_writer.h"
#include "support/kez_writer.h"
#include "support/packed_writer.h"
#include "support/picture.h"
#include "tools/png_decode.h"
#include "tools/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Text = std::map<std::string, std::string>;
using kez::testing::RunKezthumb;
using kez::testing::ToolOptions;
using kez::testing::ToolRun;

kez::testing::KezPicture Picture(int width, int height, std::uint32_t seed) {
  kez::testing::KezPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels = kez::testing::PaintingLikePicture(width, height, seed);
  return picture;
}

Bytes Kez(int width, int height, std::uint32_t seed) {
  kez::testing::KezOptions options;
  options.blob = kez::testing::KezOptions::Blob::Zstd;
  return kez::testing::BuildKezBytes(Picture(width, height, seed), options);
}

Bytes Packed(int width, int height, std::uint32_t seed) {
  const auto picture = Picture(width, height, seed);
  return kez::testing::WritePackedDocument(
      kez::testing::MakePackedPreviewDocument(width, height, picture.pixels, true));
}

Bytes Damaged() {
  Bytes bytes = Kez(30, 20, 9);
  bytes.resize(5000);
  return bytes;
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

void SetMtime(const fs::path& path, long seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

unsigned Mode(const fs::path& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

ino_t Inode(const fs::path& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_ino;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

using Decoded = kez::testing::DecodedPng;

Decoded Decode(const fs::path& path) { return kez::testing::DecodePngFile(path); }

// URIs spelled out by hand, so a mistake in the tool's escaping shows.
std::string Uri(const fs::path& path) {
  std::string uri = "file://";
  for (const unsigned char c : path.string()) {
    if (std::isalnum(c) || std::strchr("/-._~!$&'()*+,:=@", c) != nullptr) {
      uri.push_back(static_cast<char>(c));
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      uri += escaped;
    }
  }
  return uri;
}

// "d3.kez" and the like (built by appending: GCC 12 misreads
// "literal" + std::string as an overlapping copy).
std::string NumberedName(int i, const char* extension) {
  std::string name(1, 'd');
  name.append(std::to_string(i)).append(extension);
  return name;
}

class CacheCli : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("kezthumb_cache_" + std::to_string(getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    m_docs = m_dir / "my docs";
    m_cache = m_dir / "xdg";
    fs::create_directories(m_docs);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  ToolRun Cache(std::vector<std::string> args, ToolOptions options = {}) {
    args.insert(args.begin(), "--cache");
    options.env.emplace("XDG_CACHE_HOME", m_cache.string());
    options.env.emplace("HOME", (m_dir / "home").string());
    return RunKezthumb(args, options);
  }
  fs::path Thumb(const std::string& folder, const fs::path& document) const {
    return m_cache / "thumbnails" / folder / kezthumb::CacheFileName(Uri(document));
  }
  fs::path Marker(const fs::path& document) const {
    return m_cache / "thumbnails" / "fail" / "kezthumb-0.1.0" / kezthumb::CacheFileName(Uri(document));
  }
  // Every file under the cache, relative, sorted.
  std::vector<std::string> CacheFiles() const {
    std::vector<std::string> files;
    if (!fs::exists(m_cache)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(m_cache))
      if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), m_cache).string());
    std::sort(files.begin(), files.end());
    return files;
  }

  fs::path m_dir, m_docs, m_cache;
};

// Summary lines end with a time ("in 0.3 s"); everything before it is exact.
void ExpectSummary(const ToolRun& run, const std::string& counts) {
  std::string head = "kezthumb: ";
  head.append(counts).append(" in ");
  const std::string& out = run.out;
  ASSERT_EQ(out.compare(0, head.size(), head), 0) << "stdout: " << out;
  const std::string time = out.substr(head.size());
  const std::size_t dot = time.find('.');
  ASSERT_NE(dot, std::string::npos) << "stdout: " << out;
  EXPECT_GT(dot, 0u);
  for (std::size_t i = 0; i < dot; ++i) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(time[i]))) << out;
  EXPECT_EQ(time.substr(dot + 2), " s\n") << "stdout: " << out;
  EXPECT_TRUE(dot + 1 < time.size() && std::isdigit(static_cast<unsigned char>(time[dot + 1]))) << out;
}

TEST_F(CacheCli, FillsTheCacheThenSkipsWhatIsCurrent) {
  const fs::path a = m_docs / "a picture.kez";
  const fs::path b = m_docs / "sub" / "deeper" / "b.kelpack";
  const fs::path misnamed = m_docs / "sub" / "misnamed.dat";  // a ".kez" by content
  const fs::path notes = m_docs / "notes.txt";
  const fs::path bad = m_docs / "bad #1.kez";
  WriteFile(a, Kez(300, 200, 1));
  WriteFile(b, Packed(50, 80, 2));
  WriteFile(misnamed, Kez(64, 64, 3));
  WriteFile(notes, {'h', 'i'});
  WriteFile(bad, Damaged());
  for (const auto& p : {a, b, misnamed, bad}) SetMtime(p, 1700000000);

  auto run = Cache({"-s", "128", m_docs.string()});
  EXPECT_EQ(run.status, 1);  // one document without a thumbnail
  ExpectSummary(run, "3 written, 0 up to date, 1 failed");
  EXPECT_EQ(run.err, "kezthumb: " + bad.string() + ": damaged document or no preview stored in it\n");
  EXPECT_EQ(run.err.find('\r'), std::string::npos);  // no progress bar off a terminal

  std::vector<std::string> expected = {
      "thumbnails/fail/kezthumb-0.1.0/" + kezthumb::CacheFileName(Uri(bad)),
      "thumbnails/normal/" + kezthumb::CacheFileName(Uri(a)),
      "thumbnails/normal/" + kezthumb::CacheFileName(Uri(b)),
      "thumbnails/normal/" + kezthumb::CacheFileName(Uri(misnamed)),
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(CacheFiles(), expected);  // nothing else: no temporary files, no entry for notes.txt

  // Labels and modes of a thumbnail.
  EXPECT_EQ(kezthumb::ReadPngText(Thumb("normal", a)),
            (Text{{"Thumb::URI", Uri(a)},
                  {"Thumb::MTime", "1700000000"},
                  {"Thumb::Size", std::to_string(fs::file_size(a))},
                  {"Thumb::Mime", "application/x-kez"},
                  {"Software", "kezthumb 0.1.0"}}));
  EXPECT_EQ(kezthumb::ReadPngText(Thumb("normal", b)).at("Thumb::Mime"), "application/x-kelpack");
  EXPECT_EQ(Mode(Thumb("normal", a)), 0600u);
  for (const char* dir : {"", "thumbnails", "thumbnails/normal", "thumbnails/fail", "thumbnails/fail/kezthumb-0.1.0"})
    EXPECT_EQ(Mode(m_cache / dir), 0700u) << dir;

  // The fail marker: an empty (1x1 transparent) image with the same labels.
  const Decoded marker = Decode(Marker(bad));
  EXPECT_EQ(marker.width, 1);
  EXPECT_EQ(marker.rgba, (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(kezthumb::ReadPngText(Marker(bad)).at("Thumb::URI"), Uri(bad));
  EXPECT_EQ(kezthumb::ReadPngText(Marker(bad)).at("Thumb::MTime"), "1700000000");
  EXPECT_EQ(Mode(Marker(bad)), 0600u);

  // The cached pixels are those of the one-file form at the same size.
  const fs::path single = m_dir / "single.png";
  ASSERT_EQ(RunKezthumb({"-s", "128", a.string(), single.string()}).status, 0);
  const Decoded cached = Decode(Thumb("normal", a));
  EXPECT_EQ(cached.width, 128);
  EXPECT_TRUE(cached.rgba == Decode(single).rgba);

  // Second run: nothing to do, nothing rewritten.
  const ino_t before = Inode(Thumb("normal", a));
  run = Cache({"-s", "128", m_docs.string()});
  EXPECT_EQ(run.status, 1);  // the damaged document still has no thumbnail
  ExpectSummary(run, "0 written, 3 up to date, 1 failed (1 recorded before)");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Inode(Thumb("normal", a)), before);

  // A changed document is made again; the others are not.
  SetMtime(a, 1700000100);
  run = Cache({"-s", "128", m_docs.string()});
  ExpectSummary(run, "1 written, 2 up to date, 1 failed (1 recorded before)");
  EXPECT_NE(Inode(Thumb("normal", a)), before);
  EXPECT_EQ(kezthumb::ReadPngText(Thumb("normal", a)).at("Thumb::MTime"), "1700000100");

  // The damaged document repaired: a thumbnail, and the marker goes.
  WriteFile(bad, Kez(10, 10, 4));
  SetMtime(bad, 1700000200);
  run = Cache({"-s", "128", m_docs.string()});
  EXPECT_EQ(run.status, 0);
  ExpectSummary(run, "1 written, 3 up to date, 0 failed");
  EXPECT_TRUE(fs::exists(Thumb("normal", bad)));
  EXPECT_FALSE(fs::exists(Marker(bad)));

  // A document damaged later: its old thumbnail goes, a marker comes.
  WriteFile(a, Damaged());
  SetMtime(a, 1700000300);
  run = Cache({"-s", "128", a.string()});
  EXPECT_EQ(run.status, 1);
  ExpectSummary(run, "0 written, 0 up to date, 1 failed");
  EXPECT_FALSE(fs::exists(Thumb("normal", a)));
  EXPECT_TRUE(fs::exists(Marker(a)));
}

// The cache name of a fixed path, against a digest computed outside the
// project: printf 'file:///tmp/kezthumb%20cache-name%20check.kez' | md5sum
TEST_F(CacheCli, CacheNameOfAKnownPath) {
  const fs::path document = "/tmp/kezthumb cache-name check.kez";
  WriteFile(document, Kez(16, 16, 5));
  const auto run = Cache({document.string()});
  fs::remove(document);
  EXPECT_EQ(run.status, 0) << run.err;
  const fs::path thumb = m_cache / "thumbnails/large/195f5e0c80720a13fba446a1b7569aa3.png";
  ASSERT_TRUE(fs::exists(thumb));
  EXPECT_EQ(kezthumb::ReadPngText(thumb).at("Thumb::URI"), "file:///tmp/kezthumb%20cache-name%20check.kez");
  EXPECT_EQ(Decode(thumb).width, 256);  // the default size, the large folder
}

TEST_F(CacheCli, SizePicksTheFolder) {
  const fs::path doc = m_docs / "d.kez";
  WriteFile(doc, Kez(40, 30, 6));
  const struct {
    int size;
    const char* folder;
  } cases[] = {{1, "normal"}, {200, "large"}, {512, "x-large"}, {1024, "xx-large"}};
  for (const auto& c : cases) {
    const auto run = Cache({"-s", std::to_string(c.size), doc.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const Decoded png = Decode(Thumb(c.folder, doc));
    EXPECT_EQ(png.width, c.size) << c.folder;
    EXPECT_EQ(png.height, c.size) << c.folder;
  }
}

// One worker or two: the same files, byte for byte.
TEST_F(CacheCli, WorkersDoNotChangeTheResult) {
  for (int i = 0; i < 12; ++i)
    WriteFile(m_docs / NumberedName(i, i % 2 ? ".kez" : ".kelpack"),
              i % 2 ? Kez(20 + i * 7, 30, i) : Packed(25, 10 + i * 5, i));
  auto run = Cache({"-j", "1", m_docs.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectSummary(run, "12 written, 0 up to date, 0 failed");
  std::map<std::string, Bytes> one;
  for (const auto& name : CacheFiles()) one[name] = ReadAll(m_cache / name);
  fs::remove_all(m_cache);
  run = Cache({"-j", "2", m_docs.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  std::map<std::string, Bytes> two;
  for (const auto& name : CacheFiles()) two[name] = ReadAll(m_cache / name);
  EXPECT_EQ(one.size(), 12u);
  EXPECT_TRUE(one == two);
}

TEST_F(CacheCli, ProblemsWithPathsAreReportedAndTheRestIsDone) {
  const fs::path good = m_docs / "good.kez";
  const fs::path text = m_docs / "readme.txt";
  WriteFile(good, Kez(20, 20, 1));
  WriteFile(text, {'x'});
  const fs::path missing = m_docs / "missing";
  const auto run = Cache({missing.string(), text.string(), good.string(), good.string()});
  // A missing path is an I/O error; a file named but not a document fails
  // without a marker; the document named twice is made once.
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kezthumb: " + missing.string() + ": No such file or directory\n" + "kezthumb: " +
                         text.string() + ": not a known document format\n");
  ExpectSummary(run, "1 written, 0 up to date, 1 failed");
  EXPECT_EQ(CacheFiles(), std::vector<std::string>{"thumbnails/large/" + kezthumb::CacheFileName(Uri(good))});
}

// Entries under the right name that do not describe the document as it is
// (another URI, a stale time, damage, not a PNG at all) are made again.
TEST_F(CacheCli, EntriesThatDoNotMatchAreReplaced) {
  const fs::path doc = m_docs / "d.kez";
  WriteFile(doc, Kez(20, 20, 1));
  SetMtime(doc, 1700000000);
  ASSERT_EQ(Cache({doc.string()}).status, 0);
  const fs::path thumb = Thumb("large", doc);
  const Bytes good = ReadAll(thumb);
  const auto entry = [](const std::string& uri, const std::string& mtime) {
    const std::uint8_t pixel[4] = {};
    Bytes png;
    std::string error;
    EXPECT_TRUE(kezthumb::EncodePng(pixel, 1, 1, {{"Thumb::URI", uri}, {"Thumb::MTime", mtime}}, &png, &error));
    return png;
  };
  Bytes truncated = good;
  truncated.resize(60);  // inside the text chunks
  Bytes badHeader = good;
  badHeader[20] ^= 1;  // the header's CRC no longer matches
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {{"another URI", entry("file:///elsewhere", "1700000000")},
               {"stale time", entry(Uri(doc), "1699999999")},
               {"truncated", truncated},
               {"bad header", badHeader},
               {"not a PNG", {'n', 'o', 'p', 'e'}}};
  for (const auto& c : cases) {
    WriteFile(thumb, c.bytes);
    const auto run = Cache({doc.string()});
    ExpectSummary(run, "1 written, 0 up to date, 0 failed");
    EXPECT_EQ(run.err, "") << c.name;
    EXPECT_TRUE(ReadAll(thumb) == good) << c.name;
  }
}

// A name that is not UTF-8 is escaped byte for byte; the digest is md5sum's of
// 'file:///tmp/kezthumb%20%FF%FEname.kez'.
TEST_F(CacheCli, NameThatIsNotUtf8) {
  const fs::path document = "/tmp/kezthumb \xFF\xFEname.kez";
  WriteFile(document, Kez(16, 16, 5));
  const auto run = Cache({document.string()});
  fs::remove(document);
  EXPECT_EQ(run.status, 0) << run.err;
  const fs::path thumb = m_cache / "thumbnails/large/7e1cf95caaa2ce5ae809b7739d57ed11.png";
  ASSERT_TRUE(fs::exists(thumb));
  EXPECT_EQ(kezthumb::ReadPngText(thumb).at("Thumb::URI"), "file:///tmp/kezthumb%20%FF%FEname.kez");
}

TEST_F(CacheCli, HomeWhenXdgCacheHomeIsUnset) {
  const fs::path doc = m_docs / "d.kelpack";
  WriteFile(doc, Packed(20, 20, 1));
  ToolOptions options;
  options.env["XDG_CACHE_HOME"] = std::nullopt;
  options.env["HOME"] = (m_dir / "home").string();
  const auto run = RunKezthumb({"--cache", doc.string()}, options);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(m_dir / "home/.cache/thumbnails/large" / (kezthumb::CacheFileName(Uri(doc)))));
  options.env["HOME"] = std::nullopt;
  const auto noHome = RunKezthumb({"--cache", doc.string()}, options);
  EXPECT_EQ(noHome.status, 2);
  EXPECT_EQ(noHome.err, "kezthumb: no cache folder: neither XDG_CACHE_HOME nor HOME is set\n");
}

TEST_F(CacheCli, CacheFolderThatCannotBeMade) {
  WriteFile(m_cache, {'f'});  // a file where the cache folder should be
  const fs::path doc = m_docs / "d.kez";
  WriteFile(doc, Kez(20, 20, 1));
  const auto run = Cache({doc.string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kezthumb: cannot make the cache folder " + m_cache.string() + ": Not a directory\n");
}

// On a terminal the bar shows counts, rate and ETA, and is wiped at the end;
// the summary still goes to stdout.
TEST_F(CacheCli, ProgressBarOnATerminal) {
  for (int i = 0; i < 3; ++i) WriteFile(m_docs / NumberedName(i, ".kez"), Kez(30, 30, i));
  ToolOptions options;
  options.stderrOnTerminal = true;
  options.columns = 72;
  const auto run = Cache({"-j", "1", m_docs.string()}, options);
  EXPECT_EQ(run.status, 0);
  ExpectSummary(run, "3 written, 0 up to date, 0 failed");
  EXPECT_NE(run.err.find("\r 3/3 ["), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("100%"), std::string::npos);
  EXPECT_NE(run.err.find("ETA 0:00"), std::string::npos);
  ASSERT_GE(run.err.size(), 4u);
  EXPECT_EQ(run.err.substr(run.err.size() - 4), "\r\033[K");
  // Each drawn line fits the terminal.
  for (std::size_t at = 0; (at = run.err.find('\r', at)) != std::string::npos; ++at) {
    const std::size_t end = run.err.find_first_of("\r\033", at + 1);
    EXPECT_LT((end == std::string::npos ? run.err.size() : end) - at - 1, 72u);
  }
}

}  // namespace
