// The order and the equality of texts in text lists. Order: the user's locale collation
// (ICU) with case ignored, so "[Root]" sorts before letters as usual. Equality: the same
// text but for letter case.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "util/LargeBuffer.h"

namespace vestrel {

// Case-insensitive, locale-aware comparison by which text lists sort: <0, 0, >0. Texts
// that differ in more than case may still compare 0 (x2 and x with a superscript two, AB
// and full-width AB, a text with an added control character): they sort as one but are
// not equal.
int CompareTextLocale(std::string_view a, std::string_view b);
// A byte string whose plain order (std::string's <) is CompareTextLocale's order.
std::string CollationKey(std::string_view text);

// Each character replaced by its simple Unicode case folding; bytes that are not UTF-8
// stay as they are. Texts that differ only in letter case fold to the same text.
std::string CaseFolded(std::string_view text);
// Equal in a text list's look-up and duplicate removal: the same text but for letter case
// (CompareTextLocale gives 0 and the case-folded texts are the same).
bool ListTextsEqual(std::string_view a, std::string_view b);
// A key that is the same for exactly the texts ListTextsEqual finds equal, for hashing.
std::string ListTextKey(std::string_view text);

// The weights of the collation of one locale for ASCII characters, where every ASCII
// character is one collation element of its own: then ASCII texts compare as their
// sequences of weights, characters of weight 0 left out. Locales whose collation joins
// ASCII letters (Czech "ch", Danish "aa") have no such table.
class AsciiCollation {
 public:
  // The table of the collation the lists use in the locale named (an ICU locale name).
  static AsciiCollation ForLocale(const std::string& localeName);
  bool Usable() const { return usable_; }
  // 0 for a character the collation ignores; otherwise the larger, the later it sorts.
  std::uint8_t Weight(char c) const { return weights_[static_cast<unsigned char>(c) & 0x7F]; }
  // As CompareTextLocale in that locale, for ASCII texts: <0, 0, >0.
  int Compare(std::string_view a, std::string_view b) const;

 private:
  friend class AsciiCollationBuilder;
  bool usable_ = false;
  std::array<std::uint8_t, 128> weights_{};
};

// Sorts texts as a sorted text list does. Keeps its buffers from one call to the next, so
// one sorter serves many small lists (the lines of every cell of a document) cheaply.
class TextSorter {
 public:
  // Indexes into texts in CompareTextLocale's order, equal-ranking texts in their own
  // order; with dropDuplicates only the first met of equal texts (ListTextsEqual) stays.
  // The result stays valid until the next call.
  const std::vector<std::uint32_t>& Sort(std::span<const std::string_view> texts, bool dropDuplicates);

 private:
  // An entry holds the first sixteen bytes of a text's sort key, so that most comparisons
  // are integer comparisons. The collation's sort key of text `index` lies in keys_ at
  // keySpans_[index]; ASCII texts need no more than their entries.
  struct KeySpan {
    std::size_t offset;
    std::size_t length;
  };
  struct Entry {
    std::uint64_t high;
    std::uint64_t low;
    std::uint32_t index;
    std::uint32_t restAt;  // where in an ASCII text the characters after these sixteen begin
  };
  void SortFew(std::span<const std::string_view> texts, const AsciiCollation* ascii);
  void SortByKeys(std::span<const std::string_view> texts, const AsciiCollation* ascii);
  int CompareWhole(const Entry& a, const Entry& b) const;
  bool EntryLess(const Entry& a, const Entry& b) const;
  bool SameRank(const Entry& a, const Entry& b) const { return a.high == b.high && a.low == b.low && CompareWhole(a, b) == 0; }
  void SortEntries(Entry* first, Entry* last);
  void MakeCollationKeys(std::span<const std::string_view> texts);
  std::string_view KeyOf(std::uint32_t index) const {
    return {keys_.data() + keySpans_[index].offset, keySpans_[index].length};
  }
  void DropDuplicates(std::span<const std::string_view> texts);

  std::span<const std::string_view> texts_;  // those being sorted
  const AsciiCollation* ascii_ = nullptr;     // their weights, when they are ASCII
  std::vector<std::uint32_t> order_;
  std::vector<bool> rankedWithPrevious_;  // by position in order_: ranks equal to the one before
  LargeVector<char> keys_;
  LargeVector<KeySpan> keySpans_;
  LargeVector<Entry> entries_;
  LargeVector<Entry> spare_;
  std::unordered_set<std::string> foldedInRun_;
};

}  // namespace vestrel
