// Choice, comparison, cutting, trimming, replacing and joining of texts.
#include "util/D_Util.h"

#include <algorithm>

namespace vestrel {
namespace {

char FoldChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

// Byte offset of the first occurrence of sub, npos when absent or when sub is empty.
std::size_t FindFrom(std::string_view text, std::string_view sub, std::size_t from) {
  if (sub.empty()) return std::string_view::npos;
  return text.find(sub, from);
}

}  // namespace

// ---- Choice and comparison ----

std::uint16_t MinWord(std::uint16_t a, std::uint16_t b) { return std::min(a, b); }

std::int32_t MinInt(std::int32_t a, std::int32_t b) { return std::min(a, b); }

std::string IfThenText(bool flag, const std::string& whenTrue, const std::string& whenFalse) {
  return flag ? whenTrue : whenFalse;
}

std::string BoolToText(bool flag) { return flag ? "TRUE" : "FALSE"; }

std::string TextAtIndex(int index, std::span<const std::string_view> texts) {
  if (index < 0 || static_cast<std::size_t>(index) >= texts.size()) return "n/a";
  return std::string(texts[static_cast<std::size_t>(index)]);
}

int IndexOfText(std::string_view text, std::span<const std::string_view> texts, bool caseSensitive) {
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (caseSensitive ? texts[i] == text : EqualsNoCase(texts[i], text)) return static_cast<int>(i);
  }
  return -1;
}

bool TextInList(std::string_view text, std::span<const std::string_view> texts, bool caseSensitive) {
  return IndexOfText(text, texts, caseSensitive) >= 0;
}

std::string UpperCaseAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = FoldChar(c);
  return upper;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldChar(x) == FoldChar(y); });
}

int PosNoCase(std::string_view sub, std::string_view text) { return Pos(UpperCaseAscii(sub), UpperCaseAscii(text)); }

int PosText(std::string_view sub, std::string_view text, bool caseSensitive) {
  return caseSensitive ? Pos(sub, text) : PosNoCase(sub, text);
}

int Pos(std::string_view sub, std::string_view text) {
  const std::size_t at = FindFrom(text, sub, 0);
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

// ---- Cutting at a marker ----

std::string KeepTextBefore(const std::string& text, std::string_view marker, bool dropMarker) {
  const std::size_t at = FindFrom(text, marker, 0);
  if (at == std::string_view::npos) return text;
  return text.substr(0, dropMarker ? at : at + marker.size());
}

std::string KeepTextAfter(const std::string& text, std::string_view marker, bool dropMarker) {
  const std::size_t at = FindFrom(text, marker, 0);
  if (at == std::string_view::npos) return text;
  return text.substr(dropMarker ? at + marker.size() : at);
}

// ---- Removing characters (the character-list flavours build a set and share the rest) ----

void IncludeChars(CharSet& set, std::string_view chars) {
  for (char c : chars) {
    const auto byte = static_cast<unsigned char>(c);
    set[byte >> 6] |= std::uint64_t{1} << (byte & 63);
  }
}

bool InCharSet(const CharSet& set, unsigned char c) { return (set[c >> 6] >> (c & 63)) & 1; }

std::string DeleteChars(std::string_view text, std::string_view chars) {
  CharSet set{};
  IncludeChars(set, chars);
  std::string kept;
  kept.reserve(text.size());
  for (char c : text) {
    if (!InCharSet(set, static_cast<unsigned char>(c))) kept += c;
  }
  return kept;
}

std::string TrimRightChars(std::string_view text, std::string_view chars) {
  CharSet set{};
  IncludeChars(set, chars);
  return TrimRightCharSet(text, set);
}

std::string TrimLeftChars(std::string_view text, std::string_view chars) {
  CharSet set{};
  IncludeChars(set, chars);
  return TrimLeftCharSet(text, set);
}

std::string TrimRightCharSet(std::string_view text, const CharSet& set) {
  std::size_t end = text.size();
  while (end > 0 && InCharSet(set, static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(0, end));
}

std::string TrimLeftCharSet(std::string_view text, const CharSet& set) {
  std::size_t start = 0;
  while (start < text.size() && InCharSet(set, static_cast<unsigned char>(text[start]))) ++start;
  return std::string(text.substr(start));
}

int CountCharsInSet(std::string_view text, const CharSet& set) {
  return static_cast<int>(
      std::count_if(text.begin(), text.end(), [&set](char c) { return InCharSet(set, static_cast<unsigned char>(c)); }));
}

// ---- Replacing, splitting, joining ----

std::string ReplaceInText(std::string_view text, std::string_view find, std::string_view replacement, bool all,
                          bool caseSensitive) {
  if (find.empty() || find == replacement) return std::string(text);
  // ASCII folding keeps every length, so offsets found in the folded copies hold for text.
  std::string foldedText;
  std::string foldedFind;
  std::string_view searched = text;
  std::string_view sought = find;
  if (!caseSensitive) {
    foldedText = UpperCaseAscii(text);
    foldedFind = UpperCaseAscii(find);
    searched = foldedText;
    sought = foldedFind;
  }
  // One left-to-right scan: the replacement is never searched again, matches never overlap.
  std::string result;
  std::size_t copiedUpTo = 0;
  std::size_t at = searched.find(sought);
  while (at != std::string_view::npos) {
    result.append(text.substr(copiedUpTo, at - copiedUpTo));
    result.append(replacement);
    copiedUpTo = at + find.size();
    if (!all) break;
    at = searched.find(sought, copiedUpTo);
  }
  result.append(text.substr(copiedUpTo));
  return result;
}

void ReplaceInTextVar(std::string& text, std::string_view find, std::string_view replacement, bool all,
                      bool caseSensitive) {
  text = ReplaceInText(text, find, replacement, all, caseSensitive);
}

void SplitText(const std::string& text, std::string_view separator, std::string& head, std::string& tail) {
  // Both parts are built before either output is written: head or tail may be text itself.
  std::string newHead;
  std::string newTail;
  const std::size_t at = FindFrom(text, separator, 0);
  if (at == std::string_view::npos) {
    newHead = text;
  } else {
    newHead = text.substr(0, at);
    newTail = text.substr(at + separator.size());
  }
  head = std::move(newHead);
  tail = std::move(newTail);
}

std::string JoinNonEmpty(const std::string& a, const std::string& b, std::string_view separator) {
  if (a.empty() || b.empty()) return a + b;
  std::string joined = a;
  joined.append(separator);
  joined += b;
  return joined;
}

std::string EnsurePrefix(const std::string& text, std::string_view prefix) {
  if (Pos(prefix, text) == 1) return text;
  std::string prefixed(prefix);
  prefixed += text;
  return prefixed;
}

std::string DoubleQuoted(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

char LastChar(std::string_view text) { return text.empty() ? '\0' : text.back(); }

}  // namespace vestrel
