#include "settings/ProfileText.h"

#include <gtest/gtest.h>

#include <string>

namespace vestrel {
namespace {

using Entries = std::vector<std::string>;

TEST(ProfileTextRead, NamesMatchWithoutRegardToCase) {
  const std::string text = "[settings]\ncomboboxtrees=CORP\n";
  EXPECT_EQ(FindProfileValue(text, "Settings", "ComboBoxTrees"), "CORP");
  EXPECT_EQ(FindProfileValue(text, "SETTINGS", "COMBOBOXTREES"), "CORP");
}

TEST(ProfileTextRead, ValuesLoseSurroundingBlanksAndOnePairOfQuotes) {
  const std::string text =
      "[S]\n"
      "plain =  spaced value \t\n"
      "double=\"quoted \"\n"
      "single=  'single'  \n"
      "twice=\"\"inner\"\"\n"
      "mixed=\"mixed'\n"
      "lone=\"\n"
      "empty=\n"
      "equals=a=b\n";
  EXPECT_EQ(FindProfileValue(text, "S", "plain"), "spaced value");
  EXPECT_EQ(FindProfileValue(text, "S", "double"), "quoted ");
  EXPECT_EQ(FindProfileValue(text, "S", "single"), "single");
  EXPECT_EQ(FindProfileValue(text, "S", "twice"), "\"inner\"");
  EXPECT_EQ(FindProfileValue(text, "S", "mixed"), "\"mixed'");
  EXPECT_EQ(FindProfileValue(text, "S", "lone"), "\"");
  EXPECT_EQ(FindProfileValue(text, "S", "empty"), "");
  EXPECT_EQ(FindProfileValue(text, "S", "equals"), "a=b");
}

TEST(ProfileTextRead, MissingSectionOrKeyIsNothing) {
  const std::string text = "[A]\nx=1\n[B]\ny=2\n";
  EXPECT_FALSE(FindProfileValue(text, "C", "x"));
  EXPECT_FALSE(FindProfileValue(text, "A", "y"));  // y belongs to B only
  EXPECT_FALSE(FindProfileValue("", "A", "x"));
  EXPECT_EQ(FindProfileValue(text, "B", "y"), "2");
}

TEST(ProfileTextRead, OnlyEntriesOfTheSectionCount) {
  const std::string text =
      "key=before any section\n"
      "[S]\n"
      ";key=comment\n"
      "  # key=comment too\n"
      "key\n"
      "[broken\n"
      "  key  =  found  \n"
      "key=second\n";
  EXPECT_EQ(FindProfileValue(text, "S", "key"), "found");
  EXPECT_EQ(ProfileSectionEntries(text, "S"), (Entries{"key=found", "key=second"}));
}

TEST(ProfileTextRead, SectionHeadersAreTrimmedAndTheFirstOfANameWins) {
  const std::string text = "  [ Settings ]  \na=1\n[Other]\nb=2\n[SETTINGS]\na=late\nc=3\n";
  EXPECT_EQ(FindProfileValue(text, "Settings", "a"), "1");
  EXPECT_FALSE(FindProfileValue(text, "Settings", "c"));
  EXPECT_EQ(ProfileSectionEntries(text, "settings"), (Entries{"a=1"}));
}

TEST(ProfileTextRead, AnyLineEndWorks) {
  EXPECT_EQ(FindProfileValue("[S]\r\na=1\r\nb=2\r\n", "S", "b"), "2");
  EXPECT_EQ(FindProfileValue("[S]\ra=1\rb=2", "S", "b"), "2");
  EXPECT_EQ(FindProfileValue("[S]\na=1\r\n\r\nb=2", "S", "b"), "2");
  EXPECT_EQ(FindProfileValue("\xEF\xBB\xBF[S]\na=1\n", "S", "a"), "1");
}

TEST(ProfileTextRead, BytesOfAnyKindAreReadSafely) {
  const std::string text = std::string("[S]\nk=a\0b\n\xFF\xFE=\x01\n[\0]\nz=1", 22);
  EXPECT_EQ(FindProfileValue(text, "S", "k"), std::string("a\0b", 3));
  EXPECT_EQ(FindProfileValue(text, "S", "\xFF\xFE"), "\x01");
  EXPECT_EQ(FindProfileValue(text, std::string("\0", 1), "z"), "1");
  EXPECT_FALSE(FindProfileValue("[[[[]]]]]]=====", "S", "k"));
  EXPECT_TRUE(ProfileSectionEntries("no sections at all\n=\n", "").empty());
}

TEST(ProfileTextWrite, AnEmptyTextGetsTheSectionAndTheKey) {
  EXPECT_EQ(WithProfileValue("", "Settings", "MainForm.Top", "10"), "[Settings]\nMainForm.Top=10\n");
}

TEST(ProfileTextWrite, AnExistingValueIsReplacedInItsLine) {
  EXPECT_EQ(WithProfileValue("[S]\r\n  Key =  old value  \r\nnext=1\r\n", "s", "KEY", "new"),
            "[S]\r\n  Key =  new\r\nnext=1\r\n");
  EXPECT_EQ(WithProfileValue("[S]\nkey=", "S", "key", "v"), "[S]\nkey=v");
  EXPECT_EQ(WithProfileValue("[S]\nkey=\"a\"\n", "S", "key", ""), "[S]\nkey=\n");
}

TEST(ProfileTextWrite, ANewKeyFollowsTheLastEntryOfItsSection) {
  const std::string text =
      "; top comment\n"
      "[S]\n"
      "a=1\n"
      "; inner\n"
      "b=2\n"
      "\n"
      "; about T\n"
      "[T]\n"
      "c=3\n";
  EXPECT_EQ(WithProfileValue(text, "S", "new", "x"),
            "; top comment\n[S]\na=1\n; inner\nb=2\nnew=x\n\n; about T\n[T]\nc=3\n");
  EXPECT_EQ(WithProfileValue(text, "T", "new", "x"), text + "new=x\n");
}

TEST(ProfileTextWrite, AnEmptySectionGetsTheKeyBelowItsHeader) {
  EXPECT_EQ(WithProfileValue("[S]\n\n[T]\n", "S", "k", "v"), "[S]\nk=v\n\n[T]\n");
  EXPECT_EQ(WithProfileValue("[S]", "S", "k", "v"), "[S]\nk=v\n");
  EXPECT_EQ(WithProfileValue("[S]\r\n[T]", "S", "k", "v"), "[S]\r\nk=v\r\n[T]");
}

TEST(ProfileTextWrite, ANewSectionGoesAtTheEndInTheTextsLineEnds) {
  EXPECT_EQ(WithProfileValue("[A]\r\nx=1", "B", "k", "v"), "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n");
  EXPECT_EQ(WithProfileValue("[A]\nx=1\n\n", "B", "k", "v"), "[A]\nx=1\n\n[B]\nk=v\n");
  EXPECT_EQ(WithProfileValue("free text", "B", "k", "v"), "free text\n\n[B]\nk=v\n");
}

TEST(ProfileTextWrite, LaterSectionsOfTheSameNameStayAsTheyAre) {
  const std::string text = "[S]\na=1\n[s]\nb=2\n";
  EXPECT_EQ(WithProfileValue(text, "S", "b", "9"), "[S]\na=1\nb=9\n[s]\nb=2\n");
  EXPECT_EQ(FindProfileValue(WithProfileValue(text, "S", "b", "9"), "S", "b"), "9");
}

TEST(ProfileTextWrite, WhatIsWrittenIsReadBack) {
  std::string text = std::string("\0\xFF garbage\n", 11);
  text = WithProfileValue(text, "S", "a", "1");
  text = WithProfileValue(text, "S", "b", "two words");
  text = WithProfileValue(text, "S", "A", "3");
  EXPECT_EQ(text.substr(0, 11), std::string("\0\xFF garbage\n", 11));
  EXPECT_EQ(ProfileSectionEntries(text, "S"), (Entries{"a=3", "b=two words"}));
}

TEST(ProfileTextScale, ManySectionsAndHugeLinesTakeOnePass) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "[Section" + std::to_string(i) + "]\nkey=" + std::to_string(i) + "\n";
  text += std::string(10 * 1024 * 1024, 'x') + "\n[Last]\nkey=end\n";
  EXPECT_EQ(FindProfileValue(text, "Section99999", "key"), "99999");
  EXPECT_EQ(FindProfileValue(text, "last", "KEY"), "end");
  const std::string written = WithProfileValue(text, "Last", "more", "1");
  EXPECT_EQ(written, text + "more=1\n");
}

}  // namespace
}  // namespace vestrel
