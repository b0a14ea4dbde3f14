// The command line, accepted forms and the exact complaints about the rest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kezthumb/options.h"

namespace kezthumb {
namespace {

struct Accepted {
  std::vector<std::string> args;
  Mode mode;
  int size;
  int jobs;
  std::vector<std::string> paths;
};

class AcceptedOptions : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedOptions, Parse) {
  const auto& c = GetParam();
  const ParsedOptions parsed = ParseOptions(c.args);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.options.mode, c.mode);
  EXPECT_EQ(parsed.options.size, c.size);
  EXPECT_EQ(parsed.options.jobs, c.jobs);
  EXPECT_EQ(parsed.options.paths, c.paths);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, AcceptedOptions,
    ::testing::Values(
        Accepted{{"in.kez", "out.png"}, Mode::kThumbnail, 256, 0, {"in.kez", "out.png"}},
        Accepted{{"-s", "128", "in", "out"}, Mode::kThumbnail, 128, 0, {"in", "out"}},
        Accepted{{"-s64", "in", "out"}, Mode::kThumbnail, 64, 0, {"in", "out"}},
        Accepted{{"--size", "1", "in", "out"}, Mode::kThumbnail, 1, 0, {"in", "out"}},
        Accepted{{"--size=4096", "in", "out"}, Mode::kThumbnail, 4096, 0, {"in", "out"}},
        // Options may follow the paths, as the thumbnailer entry may order them.
        Accepted{{"in", "out", "-s", "32"}, Mode::kThumbnail, 32, 0, {"in", "out"}},
        // The last size wins.
        Accepted{{"-s", "10", "-s", "20", "in", "out"}, Mode::kThumbnail, 20, 0, {"in", "out"}},
        // "--" ends the options; "-" alone is a path.
        Accepted{{"--", "-s", "-x"}, Mode::kThumbnail, 256, 0, {"-s", "-x"}},
        Accepted{{"-", "out"}, Mode::kThumbnail, 256, 0, {"-", "out"}},
        Accepted{{"--cache", "dir"}, Mode::kCache, 256, 0, {"dir"}},
        Accepted{{"--cache", "-j", "2", "-s", "1024", "a", "b", "c"}, Mode::kCache, 1024, 2, {"a", "b", "c"}},
        Accepted{{"-j1", "--cache", "--jobs=64", "a"}, Mode::kCache, 256, 64, {"a"}},
        // Help and version win over everything, even mistakes after them.
        Accepted{{"--help", "--bogus"}, Mode::kHelp, 256, 0, {}},
        Accepted{{"-h"}, Mode::kHelp, 256, 0, {}},
        Accepted{{"in", "-V"}, Mode::kVersion, 256, 0, {}},
        // Unambiguous abbreviations of long options, as getopt_long allows.
        Accepted{{"--ca", "--si=64", "--j", "3", "d"}, Mode::kCache, 64, 3, {"d"}},
        Accepted{{"--version"}, Mode::kVersion, 256, 0, {}},
        Accepted{{"--check"}, Mode::kCheck, 256, 0, {}},
        Accepted{{"a.kez", "--che"}, Mode::kCheck, 256, 0, {"a.kez"}}));

struct Rejected {
  std::vector<std::string> args;
  const char* error;
};

class RejectedOptions : public ::testing::TestWithParam<Rejected> {};

TEST_P(RejectedOptions, ExactComplaint) {
  const ParsedOptions parsed = ParseOptions(GetParam().args);
  EXPECT_FALSE(parsed.ok);
  EXPECT_EQ(parsed.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, RejectedOptions,
    ::testing::Values(
        Rejected{{}, "missing INPUT or OUTPUT"},
        Rejected{{"in"}, "missing INPUT or OUTPUT"},
        Rejected{{"a", "b", "c"}, "too many arguments"},
        Rejected{{"-x", "a", "b"}, "invalid option -- 'x'"},
        Rejected{{"-s8x", "a", "b"}, "invalid size '8x' (a whole number from 1 to 4096)"},
        Rejected{{"--cache", "-xh"}, "invalid option -- 'x'"},  // not the long option before it
        Rejected{{"--sizes=3", "a", "b"}, "unrecognized option '--sizes=3'"},
        Rejected{{"--cachex", "a"}, "unrecognized option '--cachex'"},
        Rejected{{"--cache=yes", "a"}, "option '--cache' doesn't allow an argument"},
        Rejected{{"a", "b", "-s"}, "option requires an argument -- 's'"},
        Rejected{{"--size"}, "option '--size' requires an argument"},
        Rejected{{"-s", "0", "a", "b"}, "invalid size '0' (a whole number from 1 to 4096)"},
        Rejected{{"-s", "4097", "a", "b"}, "invalid size '4097' (a whole number from 1 to 4096)"},
        Rejected{{"-s", "-5", "a", "b"}, "invalid size '-5' (a whole number from 1 to 4096)"},
        Rejected{{"-s", "12px", "a", "b"}, "invalid size '12px' (a whole number from 1 to 4096)"},
        Rejected{{"-s", " 12", "a", "b"}, "invalid size ' 12' (a whole number from 1 to 4096)"},
        Rejected{{"--size=", "a", "b"}, "invalid size '' (a whole number from 1 to 4096)"},
        Rejected{{"-s", "99999999999", "a", "b"}, "invalid size '99999999999' (a whole number from 1 to 4096)"},
        Rejected{{"--cache", "-s", "1025", "d"}, "invalid size '1025' (a whole number from 1 to 1024)"},
        Rejected{{"--cache"}, "--cache needs at least one file or folder"},
        Rejected{{"-j", "2", "a", "b"}, "option '-j' works only with --cache"},
        Rejected{{"--cache", "-j", "0", "d"}, "invalid job count '0' (a whole number from 1 to 64)"},
        Rejected{{"--cache", "-j", "65", "d"}, "invalid job count '65' (a whole number from 1 to 64)"},
        Rejected{{"--check", "a", "b"}, "too many arguments"},
        Rejected{{"--check", "-s", "64"}, "--check takes no size or job count"},
        Rejected{{"--check", "--cache", "d"}, "--check and --cache do not go together"}));

TEST(HelpText, NamesBothFormsAndTheExitStatus) {
  const std::string help = HelpText();
  EXPECT_EQ(help.rfind("Usage: kezthumb [-s SIZE] INPUT OUTPUT\n       kezthumb --cache [-s SIZE] [-j N] PATH...\n", 0),
            0u);
  EXPECT_NE(help.find("Exit status: 0 when the thumbnail was written"), std::string::npos);
  for (std::size_t at = 0, next; at < help.size(); at = next + 1) {
    next = help.find('\n', at);
    ASSERT_NE(next, std::string::npos);
    EXPECT_LE(next - at, 80u) << help.substr(at, next - at);  // fits a standard terminal
  }
}

}  // namespace
}  // namespace kezthumb
