// The nesting bound that keeps the XML parser's recursion within the stack:
// exact on well-formed text, never below what the parser really builds.
#include "formats/packed/xml_nesting.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "packed_test_util.h"
#include "support/xml_depth.h"

namespace kez::testing {
namespace {

std::size_t Bound(const std::string& text) { return packed::XmlNestingBound(text.data(), text.size()); }

// The element depth of what the parser built. The
// text gets the zero padding the reader gives it.
std::size_t ParsedDepth(const std::string& text) {
  const std::string padded = text + std::string(8, '\0');
  TiXmlDocument document;
  document.Parse(padded.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  return ParsedXmlDepth(document);
}

struct BoundCase {
  const char* label;
  std::string text;
  std::size_t bound;
};

class NestingBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(NestingBound, IsExactWhereTheReadingIsCertain) {
  EXPECT_EQ(Bound(GetParam().text), GetParam().bound);
  EXPECT_GE(GetParam().bound, ParsedDepth(GetParam().text));
}

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

INSTANTIATE_TEST_SUITE_P(
    Texts, NestingBound,
    ::testing::Values(
        BoundCase{"Empty", "", 0}, BoundCase{"SelfClosed", "<a/>", 1}, BoundCase{"Pair", "<a></a>", 1},
        BoundCase{"Nested", "<a><b><c/></b></a>", 3}, BoundCase{"Siblings", "<a><b/><b/><b><c/></b><b/></a>", 3},
        BoundCase{"Header", kDecl + "<Kelapp><Layers><L a=\"1\"/><L a='2'/></Layers><Thumb w=\"1\"/></Kelapp>", 3},
        BoundCase{"ByteOrderMark", "\xEF\xBB\xBF<a><b/></a>", 2},
        BoundCase{"TagsInAComment", "<a><!--<b><c><d>--></a>", 1},
        BoundCase{"TagsInCdata", "<a><![CDATA[<b><c>]]></a>", 1},
        BoundCase{"TagsInAQuotedValue", "<a v=\"<b><c>\" w='<d>'></a>", 1},
        BoundCase{"EndTagsInAQuotedValue", "<a><b v=\"</b></a>\"><c/></b></a>", 3},
        BoundCase{"UnknownNodes", "<!DOCTYPE x><a><!x><b/></a>", 2},
        BoundCase{"EndTagAtTopLevel", "</a><a><b/></a>", 2},
        BoundCase{"TextAndReferences", "<a>x &amp; &#65; &#x42; \xE2\x82\xAC<b>y</b></a>", 2},
        BoundCase{"SpacesInTags", "<a  x = \"1\"\t/><b\n></b >", 1},
        BoundCase{"UnquotedValue", "<a x=1><b y=2/></a>", 2},
        BoundCase{"StopsAtTheFirstZero", std::string("<a>\0<b><c><d>", 13), 1},
        // Past a doubtful character every possible element start counts.
        BoundCase{"MalformedUtf8InText", "<a>\xE2x</a><b><c/></b>", 3},
        BoundCase{"MalformedUtf8InAValue", "<a v=\"\xF0\"></a><b/><c/>", 3},
        BoundCase{"LeadByteAtTheEnd", "<a><b>\xC3", 2}, BoundCase{"MalformedReference", "<a>&#12\"</a>#3;<b/></a>", 2},
        BoundCase{"TextAtTopLevel", "x<a><b/></a>", 2}, BoundCase{"UnclosedValue", "<a v=\"<b><c>", 3},
        BoundCase{"MarkAfterTheFirstElement", "<a/><b>\xE2x<c/>", 2},
        BoundCase{"LeadByteJumpsOverAZero", std::string("<a v=\"\xE7 \0 \"><b><c>", 18), 3}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(NestingBoundDeep, CountsMillionsOfLevelsWithoutRecursing) {
  std::string text;
  for (int i = 0; i < 1000000; ++i) text += "<a>";
  EXPECT_EQ(Bound(text), 1000000u);
}

// Random soups of the constructs whose reading differs in detail: the bound
// must never fall below the depth the parser actually reached.
TEST(NestingBoundProperty, NeverBelowWhatTheParserBuilds) {
  const std::vector<std::string> tokens = {"<a>",
                                           "<b x=\"1\">",
                                           "<c y='2'>",
                                           "</a>",
                                           "</b>",
                                           "</c>",
                                           "<d/>",
                                           "<e z=3>",
                                           "/>",
                                           ">",
                                           "<",
                                           "\"",
                                           "'",
                                           "=",
                                           " ",
                                           "\n",
                                           "text",
                                           "&amp;",
                                           "&#65;",
                                           "&#x4e;",
                                           "&#",
                                           "&#x",
                                           ";",
                                           "#7;",
                                           "\xE2\x82\xAC",
                                           "\xE2",
                                           "\xC3",
                                           "\xF0",
                                           "\xEF\xBB\xBF",
                                           "\xEF\xBF\xBE",
                                           "<!--",
                                           "-->",
                                           "<![CDATA[",
                                           "]]>",
                                           "<!DOCTYPE a>",
                                           "<?xml version=\"1.0\"?>",
                                           "<?xml encoding=\"UTF-8\"?>",
                                           "<?xml x=\"a>\"?>",
                                           "<?pi ?>",
                                           "< a>",
                                           "<_f>",
                                           "</ a>",
                                           "<\x80>",
                                           "x"};
  std::mt19937 random(99);
  std::size_t below = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int count = 1 + static_cast<int>(random() % 60);
    for (int t = 0; t < count; ++t) text += tokens[random() % tokens.size()];
    if (Bound(text) < ParsedDepth(text)) {
      ++below;
      ADD_FAILURE() << "bound " << Bound(text) << " below parsed depth " << ParsedDepth(text) << " for: " << text;
      if (below > 5) break;
    }
  }
  EXPECT_EQ(below, 0u);
}

// Through the reader: deeper than 256 levels is no preview; a 10 MiB header
// of open tags neither recurses nor crashes.
class DeepHeader : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(DeepHeader, IsRefusedBeyond256Levels) {
  const auto [groups, accepted] = GetParam();
  PackedDocument document;
  std::string xml = "<Kelapp><Thumb width=\"1\" height=\"1\" bin=\"p\"/>";
  for (int i = 0; i < groups; ++i) xml += "<g>";
  for (int i = 0; i < groups; ++i) xml += "</g>";
  document.xml = xml + "</Kelapp>";
  PackedBlock block;
  block.name = "p";
  block.payload = {1, 2, 3, 4};
  document.blocks.push_back(block);
  lumo::CImage32 image;
  EXPECT_EQ(ReadBytes(WritePackedDocument(document), image), accepted);
  if (!accepted) {
    EXPECT_TRUE(IsUntouched(image));
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, DeepHeader,
                         ::testing::Values(std::make_tuple(255, true), std::make_tuple(256, false)));

TEST(DeepHeaderLimit, TenMebibytesOfOpenTagsAreRefused) {
  PackedDocument document;
  document.xml = "<Kelapp><Thumb width=\"1\" height=\"1\" bin=\"p\"/>";
  while (document.xml.size() + 3 < 0x9FFFFF) document.xml += "<g>";
  lumo::CImage32 image;
  EXPECT_FALSE(ReadBytes(WritePackedDocument(document), image));
  EXPECT_TRUE(IsUntouched(image));
}

}  // namespace
}  // namespace kez::testing
