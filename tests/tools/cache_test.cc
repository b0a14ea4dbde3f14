// Cache places, names and labels: the folder for a size, the cache root from
// the environment, the text chunks and when an entry is current.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "kezthumb/cache.h"

namespace kezthumb {
namespace {

TEST(CacheFolderFor, SmallestFolderThatHoldsTheSize) {
  const struct {
    int size;
    const char* folder;
  } cases[] = {{1, "normal"},    {100, "normal"},   {128, "normal"},   {129, "large"},
               {256, "large"},   {257, "x-large"},  {512, "x-large"},  {513, "xx-large"},
               {1024, "xx-large"}};
  for (const auto& c : cases) {
    const CacheFolder* folder = CacheFolderFor(c.size);
    ASSERT_NE(folder, nullptr) << c.size;
    EXPECT_STREQ(folder->name, c.folder) << c.size;
  }
  EXPECT_EQ(CacheFolderFor(1025), nullptr);
}

struct RootCase {
  std::optional<std::string> xdg;
  std::optional<std::string> home;
  std::optional<std::string> root;
};

class Root : public ::testing::TestWithParam<RootCase> {};

TEST_P(Root, FromEnvironment) {
  const auto& c = GetParam();
  const auto root = ThumbnailRoot([&](const char* name) -> std::optional<std::string> {
    if (std::string(name) == "XDG_CACHE_HOME") return c.xdg;
    if (std::string(name) == "HOME") return c.home;
    return std::nullopt;
  });
  ASSERT_EQ(root.has_value(), c.root.has_value());
  if (root) {
    EXPECT_EQ(root->string(), *c.root);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Environments, Root,
    ::testing::Values(RootCase{"/x/cache", "/home/u", "/x/cache/thumbnails"},
                      RootCase{std::nullopt, "/home/u", "/home/u/.cache/thumbnails"},
                      RootCase{"", "/home/u", "/home/u/.cache/thumbnails"},
                      // A relative XDG_CACHE_HOME is not valid and is ignored.
                      RootCase{"rel/cache", "/home/u", "/home/u/.cache/thumbnails"},
                      RootCase{"/x", std::nullopt, "/x/thumbnails"},
                      RootCase{std::nullopt, std::nullopt, std::nullopt},
                      RootCase{"", "", std::nullopt}));

TEST(CacheEntryText, KeysInOrder) {
  FileStamp stamp;
  stamp.mtime = 1700000000;
  stamp.size = 262144;
  const auto text = CacheEntryText("file:///tmp/a%20b.kez", stamp, "application/x-kez");
  ASSERT_EQ(text.size(), 5u);
  const std::pair<const char*, const char*> expected[] = {{"Thumb::URI", "file:///tmp/a%20b.kez"},
                                                          {"Thumb::MTime", "1700000000"},
                                                          {"Thumb::Size", "262144"},
                                                          {"Thumb::Mime", "application/x-kez"},
                                                          {"Software", "kezthumb 0.1.0"}};
  for (std::size_t i = 0; i < text.size(); ++i) {
    EXPECT_EQ(text[i].key, expected[i].first);
    EXPECT_EQ(text[i].value, expected[i].second);
  }
  // Without a MIME type the key is left out.
  EXPECT_EQ(CacheEntryText("u", stamp, "").size(), 4u);
  EXPECT_EQ(FailFolderName(), "kezthumb-0.1.0");
}

TEST(EntryIsCurrent, SameUriAndTime) {
  FileStamp stamp;
  stamp.mtime = 1234;
  stamp.size = 10;
  using Text = std::map<std::string, std::string>;
  EXPECT_TRUE(EntryIsCurrent(Text{{"Thumb::URI", "file:///a"}, {"Thumb::MTime", "1234"}}, "file:///a", stamp));
  // The size is informative only.
  EXPECT_TRUE(EntryIsCurrent(Text{{"Thumb::URI", "file:///a"}, {"Thumb::MTime", "1234"}, {"Thumb::Size", "9"}},
                             "file:///a", stamp));
  EXPECT_FALSE(EntryIsCurrent(Text{{"Thumb::URI", "file:///a"}, {"Thumb::MTime", "1235"}}, "file:///a", stamp));
  EXPECT_FALSE(EntryIsCurrent(Text{{"Thumb::URI", "file:///b"}, {"Thumb::MTime", "1234"}}, "file:///a", stamp));
  EXPECT_FALSE(EntryIsCurrent(Text{{"Thumb::MTime", "1234"}}, "file:///a", stamp));
  EXPECT_FALSE(EntryIsCurrent(Text{{"Thumb::URI", "file:///a"}}, "file:///a", stamp));
  EXPECT_FALSE(EntryIsCurrent(Text{{"Thumb::URI", "file:///a"}, {"Thumb::MTime", "01234"}}, "file:///a", stamp));
  EXPECT_FALSE(EntryIsCurrent(Text{}, "file:///a", stamp));
}

}  // namespace
}  // namespace kezthumb
