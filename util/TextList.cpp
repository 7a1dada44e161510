#include "util/TextList.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vestrel {

void SplitTextLines(std::string_view text, LargeVector<std::string_view>& lines) {
  lines.clear();
  lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  const char* const data = text.data();
  const std::size_t size = text.size();
  // The next LF at or after start (size when there is none), found once per LF so that a
  // text of lone CRs is not searched to its end again for every line.
  std::size_t nextLf = 0;
  bool lfKnown = false;
  for (std::size_t start = 0; start < size;) {
    if (!lfKnown || nextLf < start) {
      const void* lf = std::memchr(data + start, '\n', size - start);
      nextLf = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : size;
      lfKnown = true;
    }
    const void* cr = std::memchr(data + start, '\r', nextLf - start);
    const std::size_t end = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : nextLf;
    lines.push_back(text.substr(start, end - start));
    start = end + (cr && end + 1 == nextLf ? 2 : 1);
  }
}

void TextList::SetString(int index, std::string text) {
  Item& item = items_.at(index);
  if (!sorted_) {
    item.text = std::move(text);
    return;
  }
  // A sorted list re-files the changed entry so that its order holds.
  const std::intptr_t object = item.object;
  items_.erase(items_.begin() + index);
  Add(std::move(text), object);
}

void TextList::SetObject(int index, std::intptr_t object) { items_.at(index).object = object; }

int TextList::Add(std::string text, std::intptr_t object) {
  if (!sorted_) {
    items_.push_back({std::move(text), object});
    return Count() - 1;
  }
  // Binary search for the entries that sort as one with text; the new entry goes after
  // them (keeps insertion order), or, when duplicates are ignored, an equal one among
  // them is the answer.
  const auto lower = std::lower_bound(items_.begin(), items_.end(), text, [](const Item& item, const std::string& t) {
    return CompareTextLocale(item.text, t) < 0;
  });
  auto upper = lower;
  for (; upper != items_.end() && CompareTextLocale(upper->text, text) == 0; ++upper) {
    if (duplicates_ == Duplicates::Ignore && ListTextsEqual(upper->text, text))
      return static_cast<int>(upper - items_.begin());
  }
  const auto inserted = items_.insert(upper, Item{std::move(text), object});
  return static_cast<int>(inserted - items_.begin());
}

void TextList::Insert(int index, std::string text, std::intptr_t object) {
  // A sorted list decides the place itself.
  if (sorted_) {
    Add(std::move(text), object);
    return;
  }
  if (index < 0 || index > Count()) throw std::out_of_range("TextList::Insert: index out of range");
  items_.insert(items_.begin() + index, Item{std::move(text), object});
}

void TextList::Delete(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("TextList::Delete: index out of range");
  items_.erase(items_.begin() + index);
}

void TextList::DeleteMarked(const std::vector<bool>& marked) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i < marked.size() && marked[i]) continue;
    if (kept != i) items_[kept] = std::move(items_[i]);
    ++kept;
  }
  items_.resize(kept);
}

void TextList::Clear() { items_.clear(); }

int TextList::IndexOf(const std::string& text) const {
  if (sorted_) {
    // Equal entries are among those that sort as one with text.
    auto at = std::lower_bound(items_.begin(), items_.end(), text, [](const Item& item, const std::string& t) {
      return CompareTextLocale(item.text, t) < 0;
    });
    for (; at != items_.end() && CompareTextLocale(at->text, text) == 0; ++at) {
      if (ListTextsEqual(at->text, text)) return static_cast<int>(at - items_.begin());
    }
    return -1;
  }
  for (int i = 0; i < Count(); ++i) {
    if (ListTextsEqual(items_[i].text, text)) return i;
  }
  return -1;
}

void TextList::Sort() {
  std::vector<std::string_view> texts;
  texts.reserve(items_.size());
  for (const Item& item : items_) texts.push_back(item.text);
  TextSorter sorter;
  const std::vector<std::uint32_t>& order = sorter.Sort(texts, false);
  std::vector<Item> sorted;
  sorted.reserve(order.size());
  for (std::uint32_t index : order) sorted.push_back(std::move(items_[index]));
  items_ = std::move(sorted);
}

void TextList::SetSorted(bool sorted) {
  if (sorted && !sorted_) Sort();
  sorted_ = sorted;
}

void TextList::SetText(const std::string& text) {
  LargeVector<std::string_view> lines;
  SplitTextLines(text, lines);
  items_.clear();
  items_.reserve(lines.size());
  if (!sorted_) {
    for (std::string_view line : lines) items_.push_back(Item{std::string(line), 0});
    return;
  }
  // Sorting all lines at once instead of filing them one by one keeps large texts fast.
  TextSorter sorter;
  for (std::uint32_t index : sorter.Sort(lines, duplicates_ == Duplicates::Ignore))
    items_.push_back(Item{std::string(lines[index]), 0});
}

std::string TextList::Text() const {
  std::size_t size = 0;
  for (const Item& item : items_) size += item.text.size() + 2;
  std::string text;
  text.reserve(size);
  for (const Item& item : items_) {
    text += item.text;
    text += "\r\n";
  }
  return text;
}

std::vector<std::string> TextList::ToVector() const {
  std::vector<std::string> texts;
  texts.reserve(items_.size());
  for (const Item& item : items_) texts.push_back(item.text);
  return texts;
}

}  // namespace vestrel
