// A grid as an .xlsx workbook of one sheet, built from the separated text that travels
// through the clipboard (GridToText with TAB), for the desktop's spreadsheet application.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

using SheetRows = std::vector<std::vector<std::string>>;

// The cells of separated text as GridToText writes it: rows end at CR LF (or LF), cells
// end at TAB. A value enclosed in double quotes that holds a line break is one cell with
// its line breaks (LF); any other text is taken as it stands, quotes included.
SheetRows CellsOfSeparatedText(std::string_view text);

// The sheet name for an export file name ("ACME_TREE_Servers.XLS" gives "ACME_TREE_Servers"):
// without the extension, "[]:*?/\" and control characters replaced by "_", no apostrophe
// at either end, at most 31 characters; "Sheet1" when nothing is left.
std::string SheetNameFor(const std::string& exportName);
// A file name stem for a sheet name that any program can be handed safely: letters,
// digits, "_", "-" and "." are kept, every other character becomes "_".
std::string WorkbookStemFor(const std::string& sheetName);

class WorkbookError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Creates folder (and its parents) when missing and writes rows as a new workbook there,
// named stem + ".xlsx", or stem + "-2.xlsx" and so on when that name is taken: no file is
// ever overwritten. Every cell is text; the first row is bold; multi-line cells wrap;
// columns are as wide and rows as tall as their content. Returns the workbook's path;
// throws WorkbookError saying what went wrong (nothing is left behind then).
std::string WriteNewWorkbook(const std::string& folder, const std::string& stem, const std::string& sheetName,
                             const SheetRows& rows);

}  // namespace vestrel
