// Feeds untrusted bytes to what turns a grid into a sheet: the reading of the clipboard's
// separated text and the sheet and file names made from an export's name.
// The first byte picks the helper; the rest is its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "export/D_XML.h"
#include "export/GridWriters.h"
#include "export/XlsxWorkbook.h"
#include "util/D_Util.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Any text reads into rows of cells; a grid whose cells hold no TAB, quote or CR comes back
// cell for cell, line breaks and all.
void FuzzSeparatedText(std::string_view input) {
  (void)vestrel::CellsOfSeparatedText(input);

  // Cells end at 0x1F, rows at 0x1E; the grid is as wide as its first row.
  vestrel::SheetRows cells(1);
  std::string cell;
  for (char c : input) {
    if (c == '\x1F' || c == '\x1E') {
      cells.back().push_back(cell);
      cell.clear();
      if (c == '\x1E') cells.emplace_back();
    } else if (c != '\t' && c != '"' && c != '\r') {
      cell += c;
    }
  }
  cells.back().push_back(cell);
  const int cols = static_cast<int>(cells.front().size());
  if (cells.size() * cells.front().size() > 100000) return;  // a grid of millions of empty cells proves nothing more
  vestrel::StringGrid grid(cols, static_cast<int>(cells.size()), 0, 0);
  vestrel::SheetRows expected;
  for (int r = 0; r < grid.RowCount(); ++r) {
    auto& row = expected.emplace_back();
    for (int c = 0; c < cols; ++c) {
      const std::string text = c < static_cast<int>(cells[r].size()) ? cells[r][c] : std::string();
      grid.SetCell(c, r, text);
      row.push_back(vestrel::TrimRightChars(text, "\n"));
    }
  }
  Check(vestrel::CellsOfSeparatedText(vestrel::GridToText(grid, "\t", "")) == expected);
}

void FuzzNames(std::string_view input) {
  const std::string sheet = vestrel::SheetNameFor(std::string(input));
  Check(!sheet.empty() && sheet.front() != '\'' && sheet.back() != '\'');
  std::size_t units = 0;
  std::size_t pos = 0;
  while (pos < sheet.size()) {
    const char32_t c = vestrel::NextCodePoint(sheet, pos);
    Check(c >= 0x20 && std::u32string_view(U"[]:*?/\\").find(c) == std::u32string_view::npos);
    units += c >= 0x10000 ? 2 : 1;
  }
  Check(units <= 31);
  const std::string stem = vestrel::WorkbookStemFor(sheet);
  Check(!stem.empty() && stem.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.") ==
                             std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) FuzzSeparatedText(input);
  else FuzzNames(input);
  return 0;
}
