#include "util/TextCollation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unicode/usetiter.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <numeric>

namespace vestrel {
namespace {

// The POSIX locale's tailoring orders by code point, which is neither case-insensitive
// nor what a user expects, so it falls back to the root collation.
icu::Locale CollationLocale(const icu::Locale& locale) {
  const std::string name = locale.getName();
  const std::string language = locale.getLanguage();
  if (name.empty() || name == "en_US_POSIX" || name == "C" || name == "POSIX" || language.empty() ||
      locale.isBogus()) {
    return icu::Locale::getRoot();
  }
  return locale;
}

std::unique_ptr<icu::Collator> MakeCollator(const icu::Locale& locale) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status) || !collator) return nullptr;
  // Secondary strength: accents count, case does not.
  collator->setStrength(icu::Collator::SECONDARY);
  return collator;
}

const icu::Locale& SharedCollationLocale() {
  static const icu::Locale locale = CollationLocale(icu::Locale::getDefault());
  return locale;
}

// Created once; const use (compare, sort keys) of an ICU collator is thread-safe.
const icu::Collator* SharedCollator() {
  static const std::unique_ptr<icu::Collator> collator = MakeCollator(SharedCollationLocale());
  return collator.get();
}

unsigned char FoldAscii(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }
unsigned char FoldAsciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool IsAscii(std::string_view text) {
  // Eight bytes at a time: their high bits together.
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  std::uint64_t high = 0;
  std::size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, 8);
    high |= word;
  }
  for (; at < text.size(); ++at) high |= static_cast<unsigned char>(text[at]);
  return (high & kHighBits) == 0;
}

bool EqualAsciiNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAsciiLower(static_cast<unsigned char>(a[i])) != FoldAsciiLower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Used only when ICU cannot give a collator at all.
int CompareAsciiNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = FoldAscii(static_cast<unsigned char>(a[i]));
    const unsigned char y = FoldAscii(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string FoldedAscii(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
  return folded;
}

std::string SortKey(const icu::Collator& collator, std::string_view text) {
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

}  // namespace

int CompareTextLocale(std::string_view a, std::string_view b) {
  const icu::Collator* collator = SharedCollator();
  if (!collator) return CompareAsciiNoCase(a, b);
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult result = collator->compareUTF8(icu::StringPiece(a.data(), a.size()),
                                                        icu::StringPiece(b.data(), b.size()), status);
  if (U_FAILURE(status)) return CompareAsciiNoCase(a, b);
  return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

std::string CollationKey(std::string_view text) {
  const icu::Collator* collator = SharedCollator();
  return collator ? SortKey(*collator, text) : FoldedAscii(text);
}

std::string CaseFolded(std::string_view text) {
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

namespace {

// CaseFolded(a) == CaseFolded(b), without building the folded texts for ASCII.
bool SameFolded(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (IsAscii(a) && IsAscii(b)) return EqualAsciiNoCase(a, b);
  return CaseFolded(a) == CaseFolded(b);
}

}  // namespace

bool ListTextsEqual(std::string_view a, std::string_view b) { return CompareTextLocale(a, b) == 0 && SameFolded(a, b); }

std::string ListTextKey(std::string_view text) {
  const std::string collation = CollationKey(text);
  return std::to_string(collation.size()) + ":" + collation + CaseFolded(text);
}

// ---- ASCII weights ----

class AsciiCollationBuilder {
 public:
  static AsciiCollation Build(const icu::Locale& locale, const icu::Collator* collator);

 private:
  static bool EveryAsciiCharacterStandsAlone(const icu::Locale& locale, const icu::Collator& collator);
};

namespace {

struct UCollatorCloser {
  void operator()(UCollator* collator) const { ucol_close(collator); }
};

int CompareChars(const icu::Collator& collator, std::string_view a, std::string_view b) {
  UErrorCode status = U_ZERO_ERROR;
  return static_cast<int>(collator.compareUTF8(icu::StringPiece(a.data(), a.size()), icu::StringPiece(b.data(), b.size()), status));
}

}  // namespace

// Numeric ordering, a case level, expansions of ASCII characters and contractions made of
// ASCII characters all make the order of ASCII texts more than a sequence of weights.
bool AsciiCollationBuilder::EveryAsciiCharacterStandsAlone(const icu::Locale& locale, const icu::Collator& collator) {
  UErrorCode status = U_ZERO_ERROR;
  if (collator.getAttribute(UCOL_NUMERIC_COLLATION, status) != UCOL_OFF ||
      collator.getAttribute(UCOL_CASE_LEVEL, status) != UCOL_OFF || U_FAILURE(status)) {
    return false;
  }
  const std::unique_ptr<UCollator, UCollatorCloser> rules(ucol_open(locale.getName(), &status));
  icu::UnicodeSet contractions;
  icu::UnicodeSet expansions;
  if (rules) ucol_getContractionsAndExpansions(rules.get(), contractions.toUSet(), expansions.toUSet(), true, &status);
  if (!rules || U_FAILURE(status) || expansions.containsSome(0, 0x7F) || contractions.containsSome(0, 0x7F)) return false;
  for (icu::UnicodeSetIterator it(contractions); it.next();) {
    if (!it.isString()) continue;
    const icu::UnicodeString& text = it.getString();
    bool ascii = true;
    for (int32_t i = 0; i < text.length() && ascii; ++i) ascii = text.charAt(i) < 0x80;
    if (ascii) return false;
  }
  return true;
}

AsciiCollation AsciiCollationBuilder::Build(const icu::Locale& locale, const icu::Collator* collator) {
  AsciiCollation table;
  if (collator == nullptr || !EveryAsciiCharacterStandsAlone(locale, *collator)) return table;
  const std::unique_ptr<icu::Collator> primary(collator->clone());
  if (!primary) return table;
  primary->setStrength(icu::Collator::PRIMARY);

  std::vector<std::string> characters;  // those the collation does not ignore
  for (int c = 0; c < 128; ++c) {
    std::string character(1, static_cast<char>(c));
    if (CompareChars(*collator, character, "") != 0) characters.push_back(std::move(character));
  }
  std::stable_sort(characters.begin(), characters.end(), [&collator](const std::string& a, const std::string& b) {
    return CompareChars(*collator, a, b) < 0;
  });
  std::uint8_t weight = 0;
  for (std::size_t i = 0; i < characters.size(); ++i) {
    const bool sameAsBefore = i > 0 && CompareChars(*collator, characters[i - 1], characters[i]) == 0;
    // Characters told apart only after the primary level would order texts by their
    // first primary difference before any such difference: no single weight says that.
    if (i > 0 && sameAsBefore != (CompareChars(*primary, characters[i - 1], characters[i]) == 0)) return table;
    if (!sameAsBefore) ++weight;
    table.weights_[static_cast<unsigned char>(characters[i][0])] = weight;
  }
  table.usable_ = true;
  return table;
}

AsciiCollation AsciiCollation::ForLocale(const std::string& localeName) {
  const icu::Locale locale = CollationLocale(icu::Locale(localeName.c_str()));
  const std::unique_ptr<icu::Collator> collator = MakeCollator(locale);
  return AsciiCollationBuilder::Build(locale, collator.get());
}

int AsciiCollation::Compare(std::string_view a, std::string_view b) const {
  std::size_t i = 0;
  std::size_t j = 0;
  for (;;) {
    while (i < a.size() && Weight(a[i]) == 0) ++i;
    while (j < b.size() && Weight(b[j]) == 0) ++j;
    if (i == a.size() || j == b.size()) return (i < a.size()) - (j < b.size());
    if (Weight(a[i]) != Weight(b[j])) return Weight(a[i]) < Weight(b[j]) ? -1 : 1;
    ++i;
    ++j;
  }
}

namespace {

const AsciiCollation& SharedAsciiCollation() {
  static const AsciiCollation table = AsciiCollationBuilder::Build(SharedCollationLocale(), SharedCollator());
  return table;
}

}  // namespace

// ---- Sorting ----

namespace {

// Up to this many texts sort by comparing the texts themselves; more by their keys.
constexpr std::size_t kFewTexts = 8;
// Runs of equal-ranking texts longer than this are searched for duplicates by hashing.
constexpr std::size_t kLongRun = 16;

// The eight bytes of key from `from` on as one big-endian number, zeros past its end.
std::uint64_t KeyWord(std::string_view key, std::size_t from) {
  unsigned char bytes[8] = {};
  if (from < key.size()) std::memcpy(bytes, key.data() + from, std::min<std::size_t>(key.size() - from, 8));
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, 8);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
}

}  // namespace

const std::vector<std::uint32_t>& TextSorter::Sort(std::span<const std::string_view> texts, bool dropDuplicates) {
  order_.resize(texts.size());
  std::iota(order_.begin(), order_.end(), std::uint32_t{0});
  if (texts.size() < 2) return order_;
  const AsciiCollation& table = SharedAsciiCollation();
  const bool ascii = table.Usable() && std::all_of(texts.begin(), texts.end(), IsAscii);
  rankedWithPrevious_.assign(texts.size(), false);
  if (texts.size() <= kFewTexts)
    SortFew(texts, ascii ? &table : nullptr);
  else
    SortByKeys(texts, ascii ? &table : nullptr);
  if (dropDuplicates) DropDuplicates(texts);
  return order_;
}

// An insertion sort, which keeps equal-ranking texts in their order.
void TextSorter::SortFew(std::span<const std::string_view> texts, const AsciiCollation* ascii) {
  const auto compare = [texts, ascii](std::uint32_t a, std::uint32_t b) {
    return ascii ? ascii->Compare(texts[a], texts[b]) : CompareTextLocale(texts[a], texts[b]);
  };
  for (std::size_t i = 1; i < order_.size(); ++i) {
    const std::uint32_t moving = order_[i];
    std::size_t at = i;
    for (; at > 0 && compare(order_[at - 1], moving) > 0; --at) order_[at] = order_[at - 1];
    order_[at] = moving;
  }
  for (std::size_t p = 1; p < order_.size(); ++p) rankedWithPrevious_[p] = compare(order_[p - 1], order_[p]) == 0;
}

void TextSorter::MakeCollationKeys(std::span<const std::string_view> texts) {
  keySpans_.resize(texts.size());
  keys_.clear();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::size_t offset = keys_.size();
    const std::string key = CollationKey(texts[i]);
    keys_.insert(keys_.end(), key.begin(), key.end());
    keySpans_[i] = {offset, keys_.size() - offset};
  }
}

// The order of two texts whose first sixteen key bytes are alike: that of the rest.
int TextSorter::CompareWhole(const Entry& a, const Entry& b) const {
  if (ascii_) return ascii_->Compare(texts_[a.index].substr(a.restAt), texts_[b.index].substr(b.restAt));
  return KeyOf(a.index).compare(KeyOf(b.index));
}

// Equal-ranking texts fall back to their own order, which makes the sort stable.
bool TextSorter::EntryLess(const Entry& a, const Entry& b) const {
  if (a.high != b.high) return a.high < b.high;
  if (a.low != b.low) return a.low < b.low;
  const int whole = CompareWhole(a, b);
  return whole != 0 ? whole < 0 : a.index < b.index;
}

// A radix sort on the sixteen bytes held in the entries, from the first byte in which
// they differ: long common beginnings (the lines of one cell) cost one pass. Small groups,
// and entries alike in all sixteen bytes, are sorted by comparison.
void TextSorter::SortEntries(Entry* first, Entry* last) {
  constexpr std::ptrdiff_t kComparisonSort = 64;
  int at = 16;
  if (last - first > kComparisonSort) {
    std::uint64_t highBits = 0;
    std::uint64_t lowBits = 0;
    for (const Entry* entry = first; entry != last; ++entry) {
      highBits |= entry->high ^ first->high;
      lowBits |= entry->low ^ first->low;
    }
    if (highBits != 0)
      at = std::countl_zero(highBits) / 8;
    else if (lowBits != 0)
      at = 8 + std::countl_zero(lowBits) / 8;
  }
  if (at == 16) {
    std::sort(first, last, [this](const Entry& a, const Entry& b) { return EntryLess(a, b); });
    return;
  }
  const auto byteAt = [at](const Entry& entry) {
    const std::uint64_t word = at < 8 ? entry.high : entry.low;
    return static_cast<std::size_t>((word >> (56 - 8 * (at % 8))) & 0xFF);
  };
  const auto count = static_cast<std::size_t>(last - first);
  std::array<std::size_t, 256> counts{};
  for (const Entry* entry = first; entry != last; ++entry) ++counts[byteAt(*entry)];
  // Entries go to their byte's group in spare_, in order, and come back.
  std::array<std::size_t, 256> starts{};
  for (std::size_t byte = 1; byte < 256; ++byte) starts[byte] = starts[byte - 1] + counts[byte - 1];
  for (const Entry* entry = first; entry != last; ++entry) spare_[starts[byteAt(*entry)]++] = *entry;
  std::copy(spare_.begin(), spare_.begin() + static_cast<std::ptrdiff_t>(count), first);
  Entry* group = first;
  for (std::size_t byte = 0; byte < 256; ++byte) {
    if (counts[byte] > 1) SortEntries(group, group + counts[byte]);
    group += counts[byte];
  }
}

// By keys: the weights of the ASCII characters (the collation ignores those of weight
// 0), or the collation's own sort keys. An entry holds the first sixteen key bytes; when
// those are alike, ASCII texts compare the rest of the texts, others their whole keys.
void TextSorter::SortByKeys(std::span<const std::string_view> texts, const AsciiCollation* ascii) {
  texts_ = texts;
  ascii_ = ascii;
  if (!ascii) MakeCollationKeys(texts);
  entries_.clear();
  entries_.reserve(texts.size());
  for (std::uint32_t i = 0; i < texts.size(); ++i) {
    if (!ascii) {
      entries_.push_back(Entry{KeyWord(KeyOf(i), 0), KeyWord(KeyOf(i), 8), i, 0});
      continue;
    }
    char held[16] = {};
    std::size_t length = 0;
    std::size_t at = 0;
    for (; at < texts[i].size() && length < sizeof held; ++at) {
      if (const std::uint8_t weight = ascii->Weight(texts[i][at])) held[length++] = static_cast<char>(weight);
    }
    const std::string_view key(held, length);
    // A text too long for a 32-bit position is compared from its start.
    const auto restAt = static_cast<std::uint32_t>(at <= UINT32_MAX ? at : 0);
    entries_.push_back(Entry{KeyWord(key, 0), KeyWord(key, 8), i, restAt});
  }
  spare_.resize(entries_.size());
  SortEntries(entries_.data(), entries_.data() + entries_.size());
  for (std::size_t p = 0; p < entries_.size(); ++p) {
    order_[p] = entries_[p].index;
    rankedWithPrevious_[p] = p > 0 && SameRank(entries_[p - 1], entries_[p]);
  }
}

// Equal texts rank equal: they lie in one run of equal-ranking texts, in their own order;
// the first of each stays. Runs are short but for texts that differ only in what the
// collation ignores, so a long run is searched by hashing.
void TextSorter::DropDuplicates(std::span<const std::string_view> texts) {
  std::size_t kept = 0;
  for (std::size_t runStart = 0; runStart < order_.size();) {
    std::size_t runEnd = runStart + 1;
    while (runEnd < order_.size() && rankedWithPrevious_[runEnd]) ++runEnd;
    const std::size_t keptBefore = kept;
    const bool longRun = runEnd - runStart > kLongRun;
    if (longRun) foldedInRun_.clear();
    for (std::size_t p = runStart; p < runEnd; ++p) {
      const std::string_view text = texts[order_[p]];
      bool seen = false;
      if (longRun) {
        seen = !foldedInRun_.insert(CaseFolded(text)).second;
      } else {
        for (std::size_t k = keptBefore; k < kept && !seen; ++k) seen = SameFolded(texts[order_[k]], text);
      }
      if (!seen) order_[kept++] = order_[p];
    }
    runStart = runEnd;
  }
  order_.resize(kept);
}

}  // namespace vestrel
