#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>

#include "util/D_Util.h"

namespace vestrel {
namespace {

constexpr std::array<std::string_view, 2> kKinds{"XLS", "EXCEL"};

TEST(Choice, FlagsAndIndexedTexts) {
  EXPECT_EQ(BoolToText(true), "TRUE");
  EXPECT_EQ(BoolToText(false), "FALSE");
  EXPECT_EQ(IfThenText(true, "y", "n"), "y");
  EXPECT_EQ(IfThenText(false, "y", "n"), "n");
  EXPECT_EQ(MinWord(65535, 3), 3);
  EXPECT_EQ(MinInt(-5, 3), -5);
  EXPECT_EQ(TextAtIndex(1, kKinds), "EXCEL");
  EXPECT_EQ(TextAtIndex(-1, kKinds), "n/a");
  EXPECT_EQ(TextAtIndex(2, kKinds), "n/a");
  EXPECT_EQ(TextAtIndex(0, {}), "n/a");
}

TEST(Choice, IndexOfTextFoldsOnlyWhenAsked) {
  EXPECT_EQ(IndexOfText("xls", kKinds, false), 0);
  EXPECT_EQ(IndexOfText("xls", kKinds, true), -1);
  EXPECT_EQ(IndexOfText("EXCEL", kKinds, true), 1);
  EXPECT_EQ(IndexOfText("XL", kKinds, false), -1);  // whole text only
  EXPECT_TRUE(TextInList("excel", kKinds, false));
  EXPECT_FALSE(TextInList("excel", kKinds, true));
}

TEST(Comparison, FoldingIsAsciiOnly) {
  EXPECT_EQ(UpperCaseAscii("abz{\xC3\xA9}"), "ABZ{\xC3\xA9}");
  EXPECT_TRUE(EqualsNoCase("Root", "rOOT"));
  EXPECT_FALSE(EqualsNoCase("\xC3\xA9", "\xC3\x89"));  // é and É differ
  EXPECT_FALSE(EqualsNoCase("ab", "abc"));
  // '`' and '@' sit next to the letters; they must not fold.
  EXPECT_FALSE(EqualsNoCase("`", "@"));
}

TEST(Comparison, PositionsAreOneBasedAndEmptyIsNeverFound) {
  EXPECT_EQ(Pos("b", "abcb"), 2);
  EXPECT_EQ(Pos("x", "abc"), 0);
  EXPECT_EQ(Pos("", "abc"), 0);
  EXPECT_EQ(Pos("abcd", "abc"), 0);
  EXPECT_EQ(PosNoCase("BC", "xabc"), 3);
  EXPECT_EQ(PosText("BC", "xabc", true), 0);
  EXPECT_EQ(PosText("BC", "xabc", false), 3);
  EXPECT_EQ(PosNoCase("", "abc"), 0);
}

TEST(CutAtMarker, KeepsTheRightSideWithOrWithoutMarker) {
  EXPECT_EQ(KeepTextBefore("CN=A [x]", " ["), "CN=A");
  EXPECT_EQ(KeepTextBefore("CN=A [x]", " [", false), "CN=A [");
  EXPECT_EQ(KeepTextAfter("a=b=c", "="), "b=c");
  EXPECT_EQ(KeepTextAfter("a=b=c", "=", false), "=b=c");
}

TEST(CutAtMarker, AbsentOrEmptyMarkerLeavesTextUnchanged) {
  EXPECT_EQ(KeepTextBefore("abc", "x"), "abc");
  EXPECT_EQ(KeepTextAfter("abc", "x"), "abc");
  EXPECT_EQ(KeepTextBefore("abc", ""), "abc");
  EXPECT_EQ(KeepTextAfter("abc", ""), "abc");
  EXPECT_EQ(KeepTextAfter("abC", "c"), "abC");  // case-sensitive
}

TEST(RemoveChars, ListsAndSets) {
  EXPECT_EQ(DeleteChars("$1_2 3", "$_ "), "123");
  EXPECT_EQ(DeleteChars("abc", ""), "abc");
  EXPECT_EQ(TrimRightChars("1 h, ", ", "), "1 h");
  EXPECT_EQ(TrimRightChars(", ,", ", "), "");
  EXPECT_EQ(TrimLeftChars("  ,a, ", ", "), "a, ");
  EXPECT_EQ(TrimLeftChars("", ", "), "");
  CharSet set{};
  IncludeChars(set, std::string_view("\0\xFF.", 3));
  EXPECT_TRUE(InCharSet(set, 0));
  EXPECT_TRUE(InCharSet(set, 255));
  EXPECT_FALSE(InCharSet(set, 'a'));
  EXPECT_EQ(TrimRightCharSet(std::string_view("ab.\0\xFF", 5), set), "ab");
  EXPECT_EQ(TrimLeftCharSet(std::string_view("\xFF.ab.", 5), set), "ab.");
  EXPECT_EQ(CountCharsInSet(std::string_view("a.b\0.", 5), set), 3);
}

TEST(Replace, AllOrFirstAndNeverRescansTheReplacement) {
  EXPECT_EQ(ReplaceInText("a&b&c", "&", "&amp;"), "a&amp;b&amp;c");
  EXPECT_EQ(ReplaceInText("a&b&c", "&", "&amp;", false), "a&amp;b&c");
  EXPECT_EQ(ReplaceInText("aaa", "aa", "b"), "ba");  // no overlapping matches
  EXPECT_EQ(ReplaceInText("abab", "ab", ""), "");
  EXPECT_EQ(ReplaceInText("x", "x", "xx"), "xx");
}

TEST(Replace, UnchangedForEmptyFindEqualReplacementOrNoMatch) {
  EXPECT_EQ(ReplaceInText("a&b", "", "x"), "a&b");
  EXPECT_EQ(ReplaceInText("a&b", "&", "&"), "a&b");
  EXPECT_EQ(ReplaceInText("a&b", "#", "x"), "a&b");
}

TEST(Replace, CaseInsensitiveKeepsTheRestOfTheText) {
  EXPECT_EQ(ReplaceInText("Base CLASS=x; base class", "base class", "BC", true, false), "BC=x; BC");
  EXPECT_EQ(ReplaceInText("aBc", "B", "-", true, true), "a-c");
  EXPECT_EQ(ReplaceInText("abc", "B", "-", true, true), "abc");
  // "find equals replacement" is byte for byte: a case change still replaces.
  EXPECT_EQ(ReplaceInText("abc", "b", "B", true, false), "aBc");
  std::string variable = "1,2,3";
  ReplaceInTextVar(variable, ",", ";");
  EXPECT_EQ(variable, "1;2;3");
}

TEST(Replace, LongTextsAreLinear) {
  const std::string text(1 << 20, '&');
  EXPECT_EQ(ReplaceInText(text, "&", "&amp;").size(), text.size() * 5);
}

TEST(Split, AtFirstSeparatorAndIntoTheSameVariable) {
  std::string head, tail;
  SplitText("ab", ",", head, tail);
  EXPECT_EQ(head, "ab");
  EXPECT_EQ(tail, "");
  SplitText("a,b,c", ",", head, tail);
  EXPECT_EQ(head, "a");
  EXPECT_EQ(tail, "b,c");
  SplitText("a,b", "", head, tail);
  EXPECT_EQ(head, "a,b");
  EXPECT_EQ(tail, "");

  std::string text = "first.rest.more";
  SplitText(text, ".", head, text);
  EXPECT_EQ(head, "first");
  EXPECT_EQ(text, "rest.more");
  text = "first.rest";
  SplitText(text, ".", text, tail);
  EXPECT_EQ(text, "first");
  EXPECT_EQ(tail, "rest");
}

TEST(Join, SeparatorOnlyBetweenTwoNonEmptyTexts) {
  EXPECT_EQ(JoinNonEmpty("", "b", " "), "b");
  EXPECT_EQ(JoinNonEmpty("a", "", " "), "a");
  EXPECT_EQ(JoinNonEmpty("a", "b", ", "), "a, b");
  EXPECT_EQ(EnsurePrefix("txt", "."), ".txt");
  EXPECT_EQ(EnsurePrefix(".txt", "."), ".txt");
  EXPECT_EQ(EnsurePrefix("a.txt", "."), ".a.txt");  // a later occurrence does not count
  EXPECT_EQ(DoubleQuoted("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(DoubleQuoted(""), "\"\"");
  EXPECT_EQ(LastChar("ab"), 'b');
}

}  // namespace
}  // namespace vestrel
