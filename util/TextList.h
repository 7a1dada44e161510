// TextList: the ordered, growable list of texts used everywhere (lines of attribute
// values, search results, tree names). Look-up and sorting ignore case and follow the
// user's locale collation (ICU), so "[Root]" sorts before letters as usual.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "util/TextCollation.h"

namespace vestrel {

class TextList {
 public:
  enum class Duplicates { Accept, Ignore };

  TextList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const std::string& operator[](int index) const { return items_.at(index).text; }
  const std::string& Strings(int index) const { return items_.at(index).text; }
  // In a sorted list the changed entry moves to its place (and merges into an equal
  // entry with Duplicates::Ignore).
  void SetString(int index, std::string text);
  std::intptr_t Objects(int index) const { return items_.at(index).object; }
  void SetObject(int index, std::intptr_t object);

  // Appends (or, when sorted, inserts in order) and returns the index. A sorted list
  // with Duplicates::Ignore returns the index of the equal entry and adds nothing.
  int Add(std::string text, std::intptr_t object = 0);
  // A sorted list ignores index and files the text as Add does. Indexes out of range
  // throw std::out_of_range (as do the accessors).
  void Insert(int index, std::string text, std::intptr_t object = 0);
  void Delete(int index);
  // Deletes, in one pass, every entry whose flag in marked is set (missing flags: kept).
  void DeleteMarked(const std::vector<bool>& marked);
  void Clear();

  // Index of the first entry equal to text (ListTextsEqual), -1 when none.
  int IndexOf(const std::string& text) const;

  // Sorts ignoring case in the user's locale; the order of equal entries is kept.
  void Sort();
  bool Sorted() const { return sorted_; }
  // A sorted list keeps its order on every Add and with Duplicates::Ignore drops equal
  // texts (ListTextsEqual), keeping the first met.
  void SetSorted(bool sorted);
  void SetDuplicates(Duplicates duplicates) { duplicates_ = duplicates; }

  // The lines of text (split at CR LF, lone CR or lone LF) replace the content; a
  // sorted list sorts and de-duplicates them as it adds them. An empty text gives no lines.
  void SetText(const std::string& text);
  // Every entry followed by CR LF.
  std::string Text() const;
  void Assign(const TextList& other) { *this = other; }

  std::vector<std::string> ToVector() const;

 private:
  struct Item {
    std::string text;
    std::intptr_t object = 0;
  };

  std::vector<Item> items_;
  bool sorted_ = false;
  Duplicates duplicates_ = Duplicates::Accept;
};

// The lines of text as TextList::SetText splits it: at CR LF, a lone CR or a lone LF; a
// break at the very end adds no empty line. The views point into text.
void SplitTextLines(std::string_view text, LargeVector<std::string_view>& lines);

}  // namespace vestrel
