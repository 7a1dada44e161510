#include "util/TextList.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <unordered_set>
#include <utility>

namespace vestrel {
namespace {

// The POSIX locale's tailoring orders by code point, which is neither case-insensitive
// nor what a user expects, so it falls back to the root collation.
icu::Locale CollationLocale() {
  const icu::Locale& current = icu::Locale::getDefault();
  const std::string name = current.getName();
  const std::string language = current.getLanguage();
  if (name.empty() || name == "en_US_POSIX" || name == "C" || name == "POSIX" || language.empty() ||
      current.isBogus()) {
    return icu::Locale::getRoot();
  }
  return current;
}

std::unique_ptr<icu::Collator> MakeCollator() {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(CollationLocale(), status));
  if (U_FAILURE(status) || !collator) return nullptr;
  // Secondary strength: accents count, case does not.
  collator->setStrength(icu::Collator::SECONDARY);
  return collator;
}

// Created once; const use (compare, sort keys) of an ICU collator is thread-safe.
const icu::Collator* SharedCollator() {
  static const std::unique_ptr<icu::Collator> collator = MakeCollator();
  return collator.get();
}

unsigned char FoldAscii(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }
unsigned char FoldAsciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// Used only when ICU cannot give a collator at all.
int CompareAsciiNoCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = FoldAscii(static_cast<unsigned char>(a[i]));
    const unsigned char y = FoldAscii(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string FoldedAscii(const std::string& text) {
  std::string folded(text);
  for (char& c : folded) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
  return folded;
}

std::string SortKey(const icu::Collator& collator, const std::string& text) {
  const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
  std::string key(text.size() * 2 + 16, '\0');
  int32_t needed = collator.getSortKey(unicode, reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
  if (needed > static_cast<int32_t>(key.size())) {
    key.assign(static_cast<std::size_t>(needed), '\0');
    needed = collator.getSortKey(unicode, reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
  }
  key.resize(needed > 0 ? static_cast<std::size_t>(needed) : 0);
  return key;
}

// Line breaks are CR LF, a lone CR or a lone LF; a break at the very end adds no empty line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  const std::size_t size = text.size();
  while (start < size) {
    std::size_t end = start;
    while (end < size && text[end] != '\r' && text[end] != '\n') ++end;
    lines.emplace_back(text, start, end - start);
    if (end < size && text[end] == '\r' && end + 1 < size && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

}  // namespace

int CompareTextLocale(const std::string& a, const std::string& b) {
  const icu::Collator* collator = SharedCollator();
  if (!collator) return CompareAsciiNoCase(a, b);
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult result = collator->compareUTF8(icu::StringPiece(a.data(), a.size()),
                                                        icu::StringPiece(b.data(), b.size()), status);
  if (U_FAILURE(status)) return CompareAsciiNoCase(a, b);
  return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

std::string CollationKey(const std::string& text) {
  const icu::Collator* collator = SharedCollator();
  return collator ? SortKey(*collator, text) : FoldedAscii(text);
}

std::string CaseFolded(const std::string& text) {
  std::string folded;
  folded.reserve(text.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = static_cast<int32_t>(text.size());
  int32_t at = 0;
  while (at < length) {
    if (bytes[at] < 0x80) {
      folded += static_cast<char>(FoldAsciiLower(bytes[at]));
      ++at;
      continue;
    }
    const int32_t start = at;
    UChar32 c = 0;
    U8_NEXT(bytes, at, length, c);
    if (c < 0) {
      folded.append(text, static_cast<std::size_t>(start), static_cast<std::size_t>(at - start));
      continue;
    }
    uint8_t encoded[U8_MAX_LENGTH];
    int32_t size = 0;
    U8_APPEND_UNSAFE(encoded, size, u_foldCase(c, U_FOLD_CASE_DEFAULT));
    folded.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size));
  }
  return folded;
}

bool ListTextsEqual(const std::string& a, const std::string& b) {
  return CompareTextLocale(a, b) == 0 && CaseFolded(a) == CaseFolded(b);
}

std::string ListTextKey(const std::string& text) {
  const std::string collation = CollationKey(text);
  return std::to_string(collation.size()) + ":" + collation + CaseFolded(text);
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

void TextList::Sort() { SortWithKeys(); }

// Sorts stably by collation key and returns the keys in the new order (none for a list
// of fewer than two entries, which has nothing to sort).
std::vector<std::string> TextList::SortWithKeys() {
  const std::size_t count = items_.size();
  if (count < 2) return {};
  // One key per item, so the sort compares plain bytes.
  std::vector<std::string> keys;
  keys.reserve(count);
  for (const Item& item : items_) keys.push_back(CollationKey(item.text));
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  std::vector<Item> sorted;
  std::vector<std::string> sortedKeys;
  sorted.reserve(count);
  sortedKeys.reserve(count);
  for (std::size_t index : order) {
    sorted.push_back(std::move(items_[index]));
    sortedKeys.push_back(std::move(keys[index]));
  }
  items_ = std::move(sorted);
  return sortedKeys;
}

void TextList::SetSorted(bool sorted) {
  if (sorted && !sorted_) Sort();
  sorted_ = sorted;
}

// The list is sorted and keys are its collation keys: equal entries lie in one run of
// equal keys, in the order they were met; the first of them stays.
void TextList::DropDuplicates(const std::vector<std::string>& keys) {
  std::vector<bool> dropped(items_.size(), false);
  std::unordered_set<std::string> foldedInRun;
  for (std::size_t runStart = 0; runStart < items_.size();) {
    std::size_t runEnd = runStart + 1;
    while (runEnd < items_.size() && keys[runEnd] == keys[runStart]) ++runEnd;
    if (runEnd - runStart > 1) {
      foldedInRun.clear();
      for (std::size_t i = runStart; i < runEnd; ++i) dropped[i] = !foldedInRun.insert(CaseFolded(items_[i].text)).second;
    }
    runStart = runEnd;
  }
  DeleteMarked(dropped);
}

void TextList::SetText(const std::string& text) {
  items_.clear();
  for (std::string& line : SplitLines(text)) items_.push_back(Item{std::move(line), 0});
  if (!sorted_) return;
  // Sorting all lines at once instead of filing them one by one keeps large texts fast.
  const std::vector<std::string> keys = SortWithKeys();
  if (duplicates_ == Duplicates::Ignore) DropDuplicates(keys);
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
