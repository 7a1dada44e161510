// The quick ways of sorting texts give exactly what the locale collation gives.
#include <gtest/gtest.h>

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "util/TextCollation.h"

namespace vestrel {
namespace {

// Texts made to land next to each other in a sort: shared beginnings, other case,
// characters a collation ignores, blanks and punctuation, and (when asked) characters
// outside ASCII and bytes that are not UTF-8.
class TrickyTexts {
 public:
  TrickyTexts(unsigned seed, bool asciiOnly) : random_(seed), asciiOnly_(asciiOnly) {}

  std::string Next() {
    static const std::vector<std::string> ascii = {"a", "A", "b", "B", "z", "0", "9", "-", "_", " ", ".", "'", "[",
                                                   "~", "\t", std::string(1, '\0'), "\x01", "\x1F", "\x7F", "ch",
                                                   "aa", "ll"};
    static const std::vector<std::string> more = {"\xC3\xA9", "\xC3\x89", "\xC2\xB2", "\xEF\xBC\xA1", "\xC3\x9F",
                                                  "\xC2\x85", "\xFF", "\xE2\x82"};
    // Half the texts share a beginning longer than the sixteen key bytes a sort holds.
    std::string text = Below(2) ? "0123456789abcdefg" : "";
    for (int length = Below(6); length > 0; --length) {
      const bool other = !asciiOnly_ && Below(6) == 0;
      const std::vector<std::string>& pieces = other ? more : ascii;
      text += pieces[Below(static_cast<int>(pieces.size()))];
    }
    return text;
  }

  // The text with one change: a letter's case, an ignorable character added, or a piece
  // appended.
  std::string Variant(std::string text) {
    switch (Below(3)) {
      case 0:
        for (char& c : text)
          if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
            break;
          }
        return text;
      case 1: return text.insert(static_cast<std::size_t>(Below(static_cast<int>(text.size()) + 1)), "\x01");
      default: return text + Next();
    }
  }

  std::vector<std::string> List(int count) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) texts.push_back(texts.empty() || Below(2) ? Next() : Variant(texts[Below(i)]));
    return texts;
  }

  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

 private:
  std::mt19937 random_;
  bool asciiOnly_;
};

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(AsciiCollation, ComparesAsTheLocaleCollationInEveryLocale) {
  int32_t count = 0;
  const icu::Locale* locales = icu::Collator::getAvailableLocales(count);  // one per collation
  int usable = 0;
  for (int32_t i = 0; i < count; ++i) {
    const std::string name = locales[i].getName();
    // The lists read the POSIX locale as the root collation.
    if (name == "en_US_POSIX") continue;
    const AsciiCollation table = AsciiCollation::ForLocale(name);
    if (!table.Usable()) continue;
    ++usable;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locales[i], status));
    ASSERT_TRUE(collator) << name;
    collator->setStrength(icu::Collator::SECONDARY);
    TrickyTexts texts(static_cast<unsigned>(i), true);
    for (int k = 0; k < 200; ++k) {
      const std::string a = texts.Next();
      const std::string b = k % 2 ? texts.Variant(a) : texts.Next();
      status = U_ZERO_ERROR;
      const int expected = collator->compareUTF8(a, b, status);
      ASSERT_EQ(Sign(table.Compare(a, b)), expected) << name << " [" << a << "] [" << b << "]";
    }
  }
  EXPECT_GT(usable, count / 2);
  EXPECT_TRUE(AsciiCollation::ForLocale("en_US").Usable());
  EXPECT_TRUE(AsciiCollation::ForLocale("th_TH").Usable());  // blanks and punctuation ignored
  EXPECT_FALSE(AsciiCollation::ForLocale("cs_CZ").Usable());  // "ch" is one letter
  EXPECT_FALSE(AsciiCollation::ForLocale("da_DK").Usable());  // so is "aa"
}

// A stable sort by CompareTextLocale, then the first met of equal texts.
std::vector<std::string> ReferenceSort(std::vector<std::string> texts, bool dropDuplicates) {
  std::stable_sort(texts.begin(), texts.end(),
                   [](const std::string& a, const std::string& b) { return CompareTextLocale(a, b) < 0; });
  if (!dropDuplicates) return texts;
  std::vector<std::string> kept;
  for (const std::string& text : texts) {
    if (std::none_of(kept.begin(), kept.end(), [&text](const std::string& k) { return ListTextsEqual(k, text); }))
      kept.push_back(text);
  }
  return kept;
}

TEST(TextSorter, SortsAsAStableCollationSortKeepingTheFirstOfEqualTexts) {
  TextSorter sorter;  // one sorter for every list, as the XML writer uses it
  for (bool asciiOnly : {true, false}) {
    TrickyTexts tricky(7, asciiOnly);
    for (int round = 0; round < 300; ++round) {
      const std::vector<std::string> texts = tricky.List(round % 40);
      const std::vector<std::string_view> views(texts.begin(), texts.end());
      for (bool drop : {false, true}) {
        std::vector<std::string> sorted;
        for (std::uint32_t index : sorter.Sort(views, drop)) sorted.push_back(texts[index]);
        ASSERT_EQ(sorted, ReferenceSort(texts, drop)) << "round " << round << (drop ? " dropping" : "");
      }
    }
  }
}

}  // namespace
}  // namespace vestrel
