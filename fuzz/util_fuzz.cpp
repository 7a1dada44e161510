// Feeds untrusted bytes to the text helpers that take directory or file data.
// The first byte picks the helper; the rest is its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "util/D_Util.h"
#include "util/TextList.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void FuzzHexToBytes(std::string_view text) {
  // A count byte first, so the cap by count is exercised too.
  const int requested = text.empty() ? 0 : static_cast<unsigned char>(text.front()) * 300;
  if (!text.empty()) text.remove_prefix(1);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(requested));
  int count = requested;
  const bool ok = vestrel::HexToBytes(text, count, buffer.data());
  Check(ok ? (count >= 0 && count <= requested) : count == requested);
  if (ok && count > 0) Check(vestrel::HexToBytes(vestrel::BytesToHex(buffer.data(), static_cast<std::uint16_t>(count)), count, buffer.data()));
}

void FuzzReplaceInText(std::string_view input) {
  // A length byte, then find (0 to 3 bytes), replacement (up to 2 bytes) and the text.
  const std::size_t findLength = input.empty() ? 0 : static_cast<unsigned char>(input.front()) % 4;
  if (!input.empty()) input.remove_prefix(1);
  const std::string_view find = input.substr(0, findLength);
  input.remove_prefix(find.size());
  const std::string_view replacement = input.substr(0, 2);
  input.remove_prefix(replacement.size());
  for (bool caseSensitive : {true, false}) {
    const std::string all = vestrel::ReplaceInText(input, find, replacement, true, caseSensitive);
    const std::string first = vestrel::ReplaceInText(input, find, replacement, false, caseSensitive);
    if (!find.empty() && find != replacement && vestrel::PosText(find, input, caseSensitive) == 0) {
      Check(all == input && first == input);
    }
    // Removing every single-byte match leaves none behind.
    if (find.size() == 1) Check(vestrel::PosText(find, vestrel::ReplaceInText(input, find, "", true, caseSensitive), caseSensitive) == 0);
  }
}

void FuzzBufferToLines(std::string_view input) {
  if (input.size() < 4) return;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
  const std::size_t offset = bytes[0] | (bytes[1] << 8);
  const std::size_t length = bytes[2] | (bytes[3] << 8);
  input.remove_prefix(4);
  // An exactly sized copy, so a read past its end is caught by the address sanitizer.
  const std::vector<std::uint8_t> buffer(input.begin(), input.end());
  const std::string lines = vestrel::BufferToLines(buffer.data(), buffer.size(), offset, length);
  const std::string text = vestrel::BufferToText(buffer.data(), buffer.size(), offset, length);
  Check(text.size() <= vestrel::kTextBufferSize - 1);
  Check(lines.size() <= 2 * (vestrel::kTextBufferSize - 1));
  Check(lines.find('\t') == std::string::npos && lines.find('\0') == std::string::npos);
}

// The lines of a cell sorted as the XML writer sorts them: a permutation in collation
// order, duplicates dropped only where they are equal.
void FuzzSortLines(std::string_view text) {
  vestrel::LargeVector<std::string_view> lines;
  vestrel::SplitTextLines(text, lines);
  vestrel::TextSorter sorter;
  const std::vector<std::uint32_t> all = sorter.Sort(lines, false);
  Check(all.size() == lines.size());
  std::vector<bool> seen(lines.size(), false);
  for (std::size_t i = 0; i < all.size(); ++i) {
    Check(all[i] < lines.size() && !seen[all[i]]);
    seen[all[i]] = true;
    if (i > 0) Check(vestrel::CompareTextLocale(lines[all[i - 1]], lines[all[i]]) <= 0);
  }
  const std::vector<std::uint32_t>& distinct = sorter.Sort(lines, true);
  for (std::size_t i = 1; i < distinct.size(); ++i) Check(!vestrel::ListTextsEqual(lines[distinct[i - 1]], lines[distinct[i]]));
}

void FuzzTextToIntDef(std::string_view text) {
  const std::int32_t value = vestrel::TextToIntDef(text, 12345);
  if (value != 12345) Check(vestrel::TextToIntDef(std::to_string(value), 12345 + 1) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0: FuzzHexToBytes(input); break;
    case 1: FuzzReplaceInText(input); break;
    case 2: FuzzBufferToLines(input); break;
    case 3: FuzzSortLines(input); break;
    default: FuzzTextToIntDef(input); break;
  }
  return 0;
}
