#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/TextList.h"

namespace vestrel {
namespace {

using Texts = std::vector<std::string>;

TextList ListOf(const Texts& texts) {
  TextList list;
  for (const std::string& text : texts) list.Add(text);
  return list;
}

TEST(TextListCompare, IgnoresCaseAndPutsBracketsBeforeLetters) {
  EXPECT_EQ(CompareTextLocale("abc", "ABC"), 0);
  EXPECT_LT(CompareTextLocale("A.ORG", "b.ORG"), 0);
  EXPECT_GT(CompareTextLocale("b.ORG", "A.ORG"), 0);
  EXPECT_LT(CompareTextLocale("[Root]", "A"), 0);
  EXPECT_LT(CompareTextLocale("", "a"), 0);
  // Accents still count at this strength.
  EXPECT_NE(CompareTextLocale("e", "\xC3\xA9"), 0);
}

TEST(TextListCompare, MalformedUtf8DoesNotCrash) {
  const std::string bad("\xFF\xFE\xC3", 3);
  EXPECT_NE(CompareTextLocale(bad, "a"), 2);  // only that it returns
  TextList list = ListOf({bad, "a", std::string("\0x", 2)});
  list.Sort();
  EXPECT_EQ(list.Count(), 3);
}

TEST(TextListSort, RootFirstCaseInsensitiveAndStable) {
  TextList list = ListOf({"b.ORG", "srv.A", "[Root]", "A.ORG", "B.org", "a.org"});
  list.SetObject(3, 30);
  list.Sort();
  EXPECT_EQ(list.ToVector(), (Texts{"[Root]", "A.ORG", "a.org", "b.ORG", "B.org", "srv.A"}));
  // Objects travel with their texts.
  EXPECT_EQ(list.Objects(1), 30);
}

TEST(TextListSort, SortedListFilesEachAddInOrder) {
  TextList list;
  list.SetSorted(true);
  EXPECT_EQ(list.Add("m"), 0);
  EXPECT_EQ(list.Add("Z"), 1);
  EXPECT_EQ(list.Add("a"), 0);
  EXPECT_EQ(list.Add("M"), 2);  // after the equal "m": insertion order kept
  EXPECT_EQ(list.ToVector(), (Texts{"a", "m", "M", "Z"}));
}

TEST(TextListSort, SortedListIgnoresDuplicatesKeepingFirstForm) {
  TextList list;
  list.SetSorted(true);
  list.SetDuplicates(TextList::Duplicates::Ignore);
  list.Add("b");
  EXPECT_EQ(list.Add("a"), 0);
  EXPECT_EQ(list.Add("B"), 1);  // index of the entry already there
  EXPECT_EQ(list.ToVector(), (Texts{"a", "b"}));
}

TEST(TextListSort, SetSortedSortsExistingEntries) {
  TextList list = ListOf({"c", "a", "B"});
  list.SetSorted(true);
  EXPECT_TRUE(list.Sorted());
  EXPECT_EQ(list.ToVector(), (Texts{"a", "B", "c"}));
  list.Insert(0, "z");  // a sorted list chooses the place
  EXPECT_EQ(list[3], "z");
}

TEST(TextListSort, SetStringRefilesInSortedList) {
  TextList list;
  list.SetSorted(true);
  list.Add("a", 1);
  list.Add("b", 2);
  list.SetString(0, "c");
  EXPECT_EQ(list.ToVector(), (Texts{"b", "c"}));
  EXPECT_EQ(list.Objects(1), 1);
}

TEST(TextListText, SetTextSplitsEveryLineBreakKind) {
  TextList list;
  list.SetText("a\r\nb\rc\nd");
  EXPECT_EQ(list.ToVector(), (Texts{"a", "b", "c", "d"}));
  list.SetText("");
  EXPECT_TRUE(list.Empty());
  list.SetText("x\r\n");
  EXPECT_EQ(list.ToVector(), (Texts{"x"}));
  list.SetText("x\r\n\r\ny");
  EXPECT_EQ(list.ToVector(), (Texts{"x", "", "y"}));
  list.SetText("\n");
  EXPECT_EQ(list.ToVector(), (Texts{""}));
}

TEST(TextListText, SortedIgnoringListGivesDistinctSortedLines) {
  TextList work;
  work.SetSorted(true);
  work.SetDuplicates(TextList::Duplicates::Ignore);
  work.SetText("b\r\na\r\nb\r\nA");
  EXPECT_EQ(work.ToVector(), (Texts{"a", "b"}));
  work.SetText("x\r\n\r\nc");
  EXPECT_EQ(work.ToVector(), (Texts{"", "c", "x"}));
  work.SetText("Q\r\nq");
  EXPECT_EQ(work.ToVector(), (Texts{"Q"}));
}

// Lines that sort as one but differ in more than letter case are different values.
TEST(TextListText, OnlyLetterCaseMakesLinesEqual) {
  const std::string superscript = "x\xC2\xB2";           // x and a superscript two
  const std::string fullWidth = "\xEF\xBC\xA1\xEF\xBC\xA2";  // full-width AB
  const std::string withControl("id\x01", 3);
  TextList work;
  work.SetSorted(true);
  work.SetDuplicates(TextList::Duplicates::Ignore);
  work.SetText("x2\r\n" + superscript + "\r\nAB\r\n" + fullWidth + "\r\nid\r\n" + withControl +
               "\r\nID\r\nX2\r\n\xC3\x84\r\n\xC3\xA4\r\nab");
  // Sorting is as before: the lines that sort as one keep the order they were met in.
  EXPECT_EQ(work.ToVector(), (Texts{"\xC3\x84", "AB", fullWidth, "id", withControl, "x2", superscript}));

  TextList list;
  list.SetSorted(true);
  list.SetDuplicates(TextList::Duplicates::Ignore);
  list.Add("x2");
  EXPECT_EQ(list.Add(superscript), 1);
  EXPECT_EQ(list.Add("X2"), 0);
  EXPECT_EQ(list.IndexOf(superscript), 1);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(ListOf({superscript, "x2"}).IndexOf("X2"), 1);
  EXPECT_EQ(ListOf({fullWidth}).IndexOf("ab"), -1);
  EXPECT_TRUE(ListTextsEqual("\xC3\xA4" "b", "\xC3\x84" "B"));
  EXPECT_FALSE(ListTextsEqual("id", withControl));
  EXPECT_EQ(ListTextKey("Ab"), ListTextKey("aB"));
  EXPECT_NE(ListTextKey("AB"), ListTextKey(fullWidth));
}

TEST(TextListText, TextEndsEveryEntryWithCrLf) {
  EXPECT_EQ(ListOf({"a", "", "b"}).Text(), "a\r\n\r\nb\r\n");
  EXPECT_EQ(TextList().Text(), "");
}

TEST(TextListText, LargeSortedTextIsFast) {
  // A 100,000-line cell through the writer's work list must not take quadratic time.
  std::string text;
  for (int i = 100000; i > 0; --i) text += "line " + std::to_string(i % 50000) + "\r\n";
  TextList work;
  work.SetSorted(true);
  work.SetDuplicates(TextList::Duplicates::Ignore);
  work.SetText(text);
  EXPECT_EQ(work.Count(), 50000);
  EXPECT_EQ(work[0], "line 0");
  for (int i = 1; i < work.Count(); ++i) ASSERT_LT(CompareTextLocale(work[i - 1], work[i]), 0);
}

TEST(TextListLookup, IndexOfIgnoresCase) {
  TextList list = ListOf({"Alpha", "beta", "BETA"});
  EXPECT_EQ(list.IndexOf("BETA"), 1);
  EXPECT_EQ(list.IndexOf("alpha"), 0);
  EXPECT_EQ(list.IndexOf("gamma"), -1);
  list.SetSorted(true);
  EXPECT_EQ(list.IndexOf("Beta"), 1);
  EXPECT_EQ(list.IndexOf("zeta"), -1);
}

TEST(TextListEdit, InsertDeleteAndBadIndexes) {
  TextList list = ListOf({"a", "c"});
  list.Insert(1, "b", 7);
  list.Insert(3, "d");
  EXPECT_EQ(list.ToVector(), (Texts{"a", "b", "c", "d"}));
  EXPECT_EQ(list.Objects(1), 7);
  list.Delete(0);
  EXPECT_EQ(list[0], "b");
  EXPECT_THROW(list.Delete(3), std::out_of_range);
  EXPECT_THROW(list.Insert(5, "x"), std::out_of_range);
  EXPECT_THROW(list[-1], std::out_of_range);
  TextList copy;
  copy.Assign(list);
  list.Clear();
  EXPECT_EQ(copy.Count(), 3);
  EXPECT_TRUE(list.Empty());
}

}  // namespace
}  // namespace vestrel
