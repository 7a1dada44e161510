// The export dispatcher: a string grid and an export type word in, the grid delivered to
// an HTML, XML or text file, to the clipboard, or through the clipboard into a new sheet of
// a spreadsheet application (automation seam, export/Automation.h).
#pragma once

#include <string>

#include "util/StringGrid.h"

namespace vestrel {

// The export target kinds. 1 to 3 are the file kinds, 4 to 6 the clipboard kinds.
enum TExportKind : int {
  ekNone = 0,        // any other word: "Invalid target"
  ekHtml = 1,        // "HTML", "HTM"
  ekXml = 2,         // "XML"
  ekText = 3,        // "TXT", "DOC", "ASCII", "CSV"
  ekQuattroPro = 4,  // "QP", "WB3"
  ekExcel = 5,       // "XLS", "EXCEL"
  ekClipboard = 6,   // "CLIPBOARD"
};

// What an export did, so the caller reports "Saved as " only for a file it wrote.
enum class ExportResult {
  NothingDone,        // refused (message box shown) or no grid
  FileWritten,        // the file was written completely and replaced any old one
  CopiedToClipboard,  // the grid is on the clipboard (also after a failed spreadsheet paste)
};

// The kind of a type word, compared whole after ASCII upper-casing; no trimming.
TExportKind ExportKindOf(const std::string& typeWord);

// Delivers grid (nullptr: nothing happens). An empty type word means the file name's
// extension; leading blanks and dots of the type word are ignored. Refusals are shown as
// error boxes: "Invalid target" (unknown kind), "Invalid target path" (file kinds with a
// name under 3 characters or one that would leave the current folder), "Cannot create file %s"
// (the file could not be written: an old file of that name is left as it was). Files are
// written by ReplaceFileContent (util/ReplaceFile.h).
ExportResult ExportGrid(const StringGrid* grid, const std::string& typeWord, const std::string& fileName,
                        const std::string& separator, const std::string& rowTrailer);
// ExportGrid with TAB as separator, or "," when the file name's extension is ".csv" in any case.
ExportResult ExportGridToFile(const StringGrid& grid, const std::string& typeWord, const std::string& fileName);

// The clipboard's text becomes GridToText of the whole grid (multi-line values keep their LF).
void CopyGridToClipboard(const StringGrid& grid, const std::string& separator, const std::string& rowTrailer);
// Paste the clipboard into a new Excel workbook / QuattroPro notebook through the automation
// seam; a failure shows "Error saving to Excel (%s) - Results are in clipboard" (or "... QP ...").
void PasteIntoExcel();
void PasteIntoQuattroPro();

// ---- Files ----
// The extension of a file name: from its last "." after the last "/", dot included.
std::string FileExtension(const std::string& fileName);
// A name an export may write: at least 3 characters, a plain name in the current folder
// (no "/", not "." or "..", no NUL).
bool IsValidTargetName(const std::string& fileName);
// The document as file lines: split at CR LF, lone CR or lone LF, each line followed by CR LF.
std::string WithCrLfLines(const std::string& document);

}  // namespace vestrel
