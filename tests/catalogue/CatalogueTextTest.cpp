// The text pieces of the catalogue: credential masking, parameter lists, request URLs.
#include <gtest/gtest.h>

#include "catalogue/MaskUnmask.h"
#include "catalogue/OstraQuery.h"
#include "catalogue/ParamList.h"

namespace vantrel::test {
namespace {

TEST(MaskUnmask, XorWithFifteenMaskBytesRepeating) {
  const std::string mask = "ABCDEFGHIJKLMNOPQ";  // only the first 15 count
  std::string zeros(31, '\0');
  EXPECT_EQ(MaskUnmaskStr(zeros, mask), "ABCDEFGHIJKLMNOABCDEFGHIJKLMNOA");
  EXPECT_EQ(MaskUnmaskStr("a", mask), std::string(1, static_cast<char>('a' ^ 'A')));
  EXPECT_EQ(MaskUnmaskStr("", mask), "");
  // A mask shorter than 15 bytes is refused rather than read past its end.
  EXPECT_EQ(MaskUnmaskStr("abc", "short"), "");
}

TEST(MaskUnmask, RoundTripWithTheBuildMask) {
  for (std::string text : {std::string("alice"), std::string("p\xC3\xA4ss w@rd;\"x\""),
                           std::string(100, 'z'), std::string("\0\1\2", 3)}) {
    std::string masked = MaskUnmaskStr(text);
    EXPECT_EQ(masked.size(), text.size());
    EXPECT_EQ(MaskUnmaskStr(masked), text);
  }
  // The build mask has 15 usable bytes: masking zeros shows it, and it repeats after 15.
  std::string shown = MaskUnmaskStr(std::string(30, '\0'));
  EXPECT_EQ(shown.substr(0, 15), shown.substr(15));
  EXPECT_EQ(shown.find('\0'), std::string::npos);
}

TEST(ParamList, SplitsAtCommasBlanksAndKeepsQuotedParts) {
  EXPECT_EQ(SplitParamList("a=1,b=2"), (TStringList{"a=1", "b=2"}));
  EXPECT_EQ(SplitParamList(" a=1 , b=2 "), (TStringList{"a=1", "b=2"}));
  EXPECT_EQ(SplitParamList("a=1 b=2"), (TStringList{"a=1", "b=2"}));
  EXPECT_EQ(SplitParamList(R"("a=x y",b="q r")"), (TStringList{"a=x y", "b=\"q", "r\""}));
  EXPECT_EQ(SplitParamList(R"("say ""hi""",z)"), (TStringList{"say \"hi\"", "z"}));
  EXPECT_EQ(SplitParamList("a,,b"), (TStringList{"a", "", "b"}));
  EXPECT_EQ(SplitParamList("a,"), (TStringList{"a", ""}));
  EXPECT_EQ(SplitParamList(R"("unclosed, still)"), (TStringList{"unclosed, still"}));
  EXPECT_TRUE(SplitParamList("").empty());
  EXPECT_TRUE(SplitParamList("   ").empty());
}

TEST(ParamList, ValueByNameWithoutRegardToCase) {
  TStringList list{"noequals", "_port=3390", "_PORT=1", "x=a=b", "e="};
  EXPECT_EQ(ParamValue(list, "_PORT"), "3390");
  EXPECT_EQ(ParamValue(list, "X"), "a=b");
  EXPECT_EQ(ParamValue(list, "e"), "");
  EXPECT_EQ(ParamValue(list, "noequals"), "");
  EXPECT_EQ(ParamValue(list, "missing"), "");
}

TEST(OstraQuery, JoinsInOrderAndEncodesOnlyWhenAsked) {
  TOstraQuery q("srv:9090", "/object/powerup");
  EXPECT_EQ(q.URL(), "http://srv:9090/object/powerup");
  q.Add("_a", "x y&z").AddEncoded("_b", "x y&z~").Add("_c", -1).AddEncoded("_d", "");
  EXPECT_EQ(q.URL(), "http://srv:9090/object/powerup?_a=x y&z&_b=x+y%26z%7e&_c=-1&_d=");
}

}  // namespace
}  // namespace vantrel::test
