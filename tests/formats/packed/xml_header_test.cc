// The XML header: where the Thumb element is looked for and how its numbers
// are read.
#include <gtest/gtest.h>

#include <boost/lexical_cast.hpp>
#include <string>
#include <vector>

#include "packed_test_util.h"

namespace kez::testing {
namespace {

// A document with blocks for a 2x2 preview named "p" and a 3x1 one named "q";
// the XML decides which (if any) is read.
PackedDocument WithXml(const std::string& xml) {
  PackedDocument document;
  document.xml = xml;
  PackedBlock p;
  p.name = "p";
  p.payload = PixelBytes(PatternPixels(2, 2, 5));
  PackedBlock q;
  q.name = "q";
  q.compression = 1;
  q.payload = PixelBytes(PatternPixels(3, 1, 6));
  document.blocks = {p, q};
  return document;
}

enum class Outcome { kReadsP, kReadsQ, kFalse, kNoBlock, kThrows };

struct XmlCase {
  const char* label;
  std::string xml;
  Outcome outcome;
};

class XmlHeader : public ::testing::TestWithParam<XmlCase> {};

TEST_P(XmlHeader, DecidesThePreview) {
  const XmlCase& c = GetParam();
  TestStream stream(WritePackedDocument(WithXml(c.xml)));
  lumo::CImage32 image;
  switch (c.outcome) {
    case Outcome::kReadsP:
      ASSERT_TRUE(ReadPackedDocument(image, &stream));
      EXPECT_EQ(ImagePixels(image), PatternPixels(2, 2, 5));
      break;
    case Outcome::kReadsQ:
      ASSERT_TRUE(ReadPackedDocument(image, &stream));
      EXPECT_EQ(ImagePixels(image), PatternPixels(3, 1, 6));
      break;
    case Outcome::kFalse:
      EXPECT_FALSE(ReadPackedDocument(image, &stream));
      EXPECT_TRUE(IsUntouched(image));
      break;
    case Outcome::kNoBlock:  // the header was fine, the scan found nothing
      EXPECT_FALSE(ReadPackedDocument(image, &stream));
      EXPECT_EQ(image.m_width, 2);
      EXPECT_EQ(image.m_height, 2);
      break;
    case Outcome::kThrows:
      EXPECT_THROW(ReadPackedDocument(image, &stream), boost::bad_lexical_cast);
      EXPECT_TRUE(IsUntouched(image));
      break;
  }
}

const std::string kThumbP = "<Thumb width=\"2\" height=\"2\" bin=\"p\"/>";
const std::string kThumbQ = "<Thumb width=\"3\" height=\"1\" bin=\"q\"/>";

INSTANTIATE_TEST_SUITE_P(
    Structure, XmlHeader,
    ::testing::Values(
        XmlCase{"Plain", "<Kelapp>" + kThumbP + "</Kelapp>", Outcome::kReadsP},
        XmlCase{"WithDeclaration", "<?xml version=\"1.0\"?><Kelapp>" + kThumbQ + "</Kelapp>", Outcome::kReadsQ},
        XmlCase{"CommentNamedKelappFirst", "<!--Kelapp--><Kelapp>" + kThumbQ + "</Kelapp>", Outcome::kReadsQ},
        XmlCase{"OtherElementFirst", "<Other>" + kThumbP + "</Other><Kelapp>" + kThumbQ + "</Kelapp>",
                Outcome::kReadsQ},
        XmlCase{"SecondKelappNeverConsulted", "<Kelapp/><Kelapp>" + kThumbP + "</Kelapp>", Outcome::kFalse},
        XmlCase{"FirstThumbWins", "<Kelapp>" + kThumbQ + kThumbP + "</Kelapp>", Outcome::kReadsQ},
        XmlCase{"ThumbAfterOtherChildren", "<Kelapp><Layer/><!--x-->text" + kThumbP + "</Kelapp>", Outcome::kReadsP},
        XmlCase{"ThumbNestedDeeper", "<Kelapp><Group>" + kThumbP + "</Group></Kelapp>", Outcome::kFalse},
        XmlCase{"KelappNotTopLevel", "<Root><Kelapp>" + kThumbP + "</Kelapp></Root>", Outcome::kFalse},
        XmlCase{"NameIsCaseSensitive", "<kelapp>" + kThumbP + "</kelapp>", Outcome::kFalse},
        XmlCase{"ThumbNameIsCaseSensitive", "<Kelapp><thumb width=\"2\" height=\"2\" bin=\"p\"/></Kelapp>",
                Outcome::kFalse},
        XmlCase{"UnclosedKelappStillSearched", "<Kelapp>" + kThumbP, Outcome::kReadsP},
        XmlCase{"GarbageAfterTheRootIgnored", "<Kelapp>" + kThumbQ + "</Kelapp><<<", Outcome::kReadsQ},
        XmlCase{"EntityInANumber", "<Kelapp><Thumb width=\"&#50;\" height=\"2\" bin=\"p\"/></Kelapp>",
                Outcome::kReadsP},
        XmlCase{"SingleQuotes", "<Kelapp><Thumb width='3' height='1' bin='q'/></Kelapp>", Outcome::kReadsQ},
        XmlCase{"EmptyText", "", Outcome::kFalse}, XmlCase{"NotXml", "kelapp thumb", Outcome::kFalse},
        XmlCase{"BinNamesNoBlock", "<Kelapp><Thumb width=\"2\" height=\"2\" bin=\"r\"/></Kelapp>", Outcome::kNoBlock},
        XmlCase{"BinMissingMatchesNoNamedBlock", "<Kelapp><Thumb width=\"2\" height=\"2\"/></Kelapp>",
                Outcome::kNoBlock}),
    [](const auto& info) { return std::string(info.param.label); });

// The width and height texts, each tried in both attributes.
struct NumberCase {
  const char* label;
  const char* text;  // null: attribute missing
  Outcome outcome;   // kReadsP: accepted as 2; kFalse: out of range
};

class SideText : public ::testing::TestWithParam<std::tuple<NumberCase, bool>> {};

TEST_P(SideText, IsConvertedAndBounded) {
  const auto& [c, inWidth] = GetParam();
  const std::string attribute =
      c.text == nullptr ? "" : std::string(inWidth ? "width" : "height") + "=\"" + c.text + "\" ";
  const std::string other = inWidth ? "height=\"2\" " : "width=\"2\" ";
  const std::string xml = "<Kelapp><Thumb " + attribute + other + "bin=\"p\"/></Kelapp>";
  TestStream stream(WritePackedDocument(WithXml(xml)));
  lumo::CImage32 image;
  if (c.outcome == Outcome::kThrows) {
    EXPECT_THROW(ReadPackedDocument(image, &stream), boost::bad_lexical_cast);
    EXPECT_TRUE(IsUntouched(image));
  } else if (c.outcome == Outcome::kFalse) {
    EXPECT_FALSE(ReadPackedDocument(image, &stream));
    EXPECT_TRUE(IsUntouched(image));
  } else {
    ASSERT_TRUE(ReadPackedDocument(image, &stream));
    EXPECT_EQ(ImagePixels(image), PatternPixels(2, 2, 5));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SideText,
    ::testing::Combine(
        ::testing::Values(
            NumberCase{"Plain", "2", Outcome::kReadsP}, NumberCase{"PlusSign", "+2", Outcome::kReadsP},
            NumberCase{"LeadingZeros", "002", Outcome::kReadsP}, NumberCase{"Zero", "0", Outcome::kFalse},
            NumberCase{"MinusZero", "-0", Outcome::kFalse}, NumberCase{"Negative", "-2", Outcome::kFalse},
            NumberCase{"Empty", "", Outcome::kFalse}, NumberCase{"Missing", nullptr, Outcome::kFalse},
            NumberCase{"Above1024", "1025", Outcome::kFalse},
            NumberCase{"Int32Max", "2147483647", Outcome::kFalse},
            NumberCase{"Int32Min", "-2147483648", Outcome::kFalse}, NumberCase{"LeadingSpace", " 2", Outcome::kThrows},
            NumberCase{"TrailingSpace", "2 ", Outcome::kThrows}, NumberCase{"Suffix", "2px", Outcome::kThrows},
            NumberCase{"Hex", "0x2", Outcome::kThrows}, NumberCase{"Fraction", "2.0", Outcome::kThrows},
            NumberCase{"SignOnly", "+", Outcome::kThrows}, NumberCase{"DoubleSign", "++2", Outcome::kThrows},
            NumberCase{"BeyondInt32", "2147483648", Outcome::kThrows},
            NumberCase{"BelowInt32", "-2147483649", Outcome::kThrows}),
        ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).label) + (std::get<1>(info.param) ? "Width" : "Height");
    });

// The bounds 1..1024 on a real 1024-wide and 1024-high preview.
struct BoundCase {
  const char* width;
  const char* height;
  bool accepted;
};

class PreviewBounds : public ::testing::TestWithParam<BoundCase> {};

TEST_P(PreviewBounds, AreOneTo1024) {
  const BoundCase c = GetParam();
  PackedDocument document;
  document.xml = ThumbXml(c.width, c.height, "p");
  PackedBlock block;
  block.name = "p";
  block.compression = 1;
  block.payload.assign(1025u * 4u, 0x42);
  document.blocks.push_back(block);
  lumo::CImage32 image;
  EXPECT_EQ(ReadBytes(WritePackedDocument(document), image), c.accepted);
  if (c.accepted) {
    EXPECT_EQ(image.m_width, std::stoi(c.width));
    EXPECT_EQ(image.m_height, std::stoi(c.height));
    EXPECT_EQ(image.m_pixels[image.m_width * image.m_height - 1], 0x42424242u);
  } else {
    EXPECT_TRUE(IsUntouched(image));
  }
}

INSTANTIATE_TEST_SUITE_P(Sides, PreviewBounds,
                         ::testing::Values(BoundCase{"1024", "1", true}, BoundCase{"1", "1024", true},
                                           BoundCase{"+1024", "1", true}, BoundCase{"1025", "1", false},
                                           BoundCase{"1", "1025", false}, BoundCase{"0", "1", false},
                                           BoundCase{"1", "0", false}));

TEST(XmlHeaderNumbers, WidthIsConvertedBeforeHeight) {
  // A bad height never matters when the width already fails to convert, and
  // an out-of-range width does not stop a bad height from raising.
  const std::string both = "<Kelapp><Thumb width=\"w\" height=\"9999\" bin=\"p\"/></Kelapp>";
  const std::string heightOnly = "<Kelapp><Thumb width=\"9999\" height=\"h\" bin=\"p\"/></Kelapp>";
  lumo::CImage32 image;
  EXPECT_THROW(ReadBytes(WritePackedDocument(WithXml(both)), image), boost::bad_lexical_cast);
  EXPECT_THROW(ReadBytes(WritePackedDocument(WithXml(heightOnly)), image), boost::bad_lexical_cast);
}

}  // namespace
}  // namespace kez::testing
