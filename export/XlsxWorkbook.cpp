#include "export/XlsxWorkbook.h"

#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "export/D_XML.h"
#include "export/ExportTargets.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

// ---- Reading separated text ----

// Walks the text field by field. The next quote and the next LF are remembered, so a text
// full of fields that only look quoted is still read in one pass.
class SeparatedTextReader {
 public:
  explicit SeparatedTextReader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }

  // The field at the current position; stops at the TAB or line break after it.
  std::string NextField() {
    if (text_[pos_] == '"') {
      const std::size_t close = NextAfter('"', pos_ + 1, nextQuote_);
      if (close != std::string_view::npos && NextAfter('\n', pos_ + 1, nextLf_) < close && EndsField(close + 1)) {
        std::string value(text_.substr(pos_ + 1, close - pos_ - 1));
        pos_ = close + 1;
        return value;
      }
    }
    std::size_t end = std::min(text_.find_first_of("\t\n", pos_), text_.size());
    if (end < text_.size() && text_[end] == '\n' && end > pos_ && text_[end - 1] == '\r') --end;
    std::string value(text_.substr(pos_, end - pos_));
    pos_ = end;
    return value;
  }

  // Moves past a TAB; false at a line break or the end.
  bool SkipTab() {
    if (AtEnd() || text_[pos_] != '\t') return false;
    ++pos_;
    return true;
  }

  void SkipLineBreak() {
    if (text_.substr(pos_).starts_with("\r\n")) pos_ += 2;
    else if (!AtEnd() && text_[pos_] == '\n') ++pos_;
  }

 private:
  bool EndsField(std::size_t pos) const {
    return pos == text_.size() || text_[pos] == '\t' || text_[pos] == '\n' || text_.substr(pos).starts_with("\r\n");
  }

  // The position of c at or after from, found through the remembered one when it still lies ahead.
  std::size_t NextAfter(char c, std::size_t from, std::size_t& remembered) const {
    if (remembered == kUnknown || (remembered != std::string_view::npos && remembered < from)) {
      remembered = text_.find(c, from);
    }
    return remembered;
  }

  static constexpr std::size_t kUnknown = std::string_view::npos - 1;
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t nextQuote_ = kUnknown;
  std::size_t nextLf_ = kUnknown;
};

// ---- Characters ----

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// A UTF-16 unit count, as the spreadsheet counts the characters of a sheet name.
std::size_t Utf16Units(char32_t c) { return c >= 0x10000 ? 2 : 1; }

// text with every byte that is not UTF-8, and NUL (which would end the text for the file
// writer), as U+FFFD.
std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    const char32_t c = NextCodePoint(text, pos);
    const bool replaced = c == kReplacementChar && text.substr(start, pos - start) != kReplacementUtf8;
    out += (replaced || c == 0) ? kReplacementUtf8 : text.substr(start, pos - start);
  }
  return out;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool IsEscapeLookalikeAt(std::string_view text, std::size_t pos) {
  return text.size() - pos >= 7 && text[pos] == '_' && text[pos + 1] == 'x' &&
         std::all_of(text.begin() + pos + 2, text.begin() + pos + 6, IsHexDigit) && text[pos + 6] == '_';
}

// A reader takes "_xHHHH_" in a cell as the escape of the character HHHH (the file writer
// writes control characters so), so such a text of the cell's own gets its "_" escaped.
std::string KeepEscapeLookalikes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (IsEscapeLookalikeAt(text, pos)) out += "_x005F";  // with the text's own "_" after it
    out += text[pos];
  }
  return out;
}

// ---- The sheet ----

constexpr double kRowHeightPerLine = LXW_DEF_ROW_HEIGHT;
constexpr double kMaxRowHeight = 409;
constexpr double kMaxColumnWidth = 255;
constexpr double kColumnPadding = 2;

struct CellShape {
  std::size_t longestLine = 0;  // characters
  std::size_t lines = 1;
};

CellShape ShapeOf(std::string_view text) {
  CellShape shape;
  std::size_t line = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (NextCodePoint(text, pos) == '\n') {
      ++shape.lines;
      line = 0;
    } else {
      shape.longestLine = std::max(shape.longestLine, ++line);
    }
  }
  return shape;
}

struct WorkbookCloser {
  void operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }
};
using WorkbookHandle = std::unique_ptr<lxw_workbook, WorkbookCloser>;

std::string CellName(lxw_row_t row, lxw_col_t col) {
  char name[LXW_MAX_CELL_NAME_LENGTH] = {};
  lxw_rowcol_to_cell(name, row, col);
  return name;
}

lxw_format* TextFormat(lxw_workbook* workbook, bool bold) {
  lxw_format* format = workbook_add_format(workbook);
  if (bold) format_set_bold(format);
  format_set_text_wrap(format);
  format_set_align(format, LXW_ALIGN_VERTICAL_TOP);
  // "@": the cells are text, so a value that looks like a number or a date stays as it is.
  format_set_num_format(format, "@");
  return format;
}

void WriteCells(lxw_workbook* workbook, lxw_worksheet* sheet, const SheetRows& rows) {
  lxw_format* header = TextFormat(workbook, true);
  lxw_format* body = TextFormat(workbook, false);
  std::vector<std::size_t> widths;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::size_t lines = 1;
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      const std::string text = ValidUtf8(rows[r][c]);
      const CellShape shape = ShapeOf(text);
      if (widths.size() <= c) widths.resize(c + 1, 0);
      widths[c] = std::max(widths[c], shape.longestLine);
      lines = std::max(lines, shape.lines);
      const auto row = static_cast<lxw_row_t>(r);
      const auto col = static_cast<lxw_col_t>(c);
      const lxw_error error =
          worksheet_write_string(sheet, row, col, KeepEscapeLookalikes(text).c_str(), r == 0 ? header : body);
      if (error == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED) {
        throw WorkbookError(Format("cell %s holds more than 32767 characters", CellName(row, col)));
      }
      if (error != LXW_NO_ERROR) throw WorkbookError(Format("cell %s: %s", CellName(row, col), lxw_strerror(error)));
    }
    if (lines > 1) {
      const double height = std::min(kMaxRowHeight, kRowHeightPerLine * static_cast<double>(lines));
      worksheet_set_row(sheet, static_cast<lxw_row_t>(r), height, nullptr);
    }
  }
  for (std::size_t c = 0; c < widths.size(); ++c) {
    if (widths[c] == 0) continue;  // an empty column keeps the default width
    const double width = std::min(kMaxColumnWidth, static_cast<double>(widths[c]) + kColumnPadding);
    worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), width, nullptr);
  }
}

void CheckSize(const SheetRows& rows) {
  if (rows.size() > LXW_ROW_MAX) throw WorkbookError(Format("the grid has more than %d rows", LXW_ROW_MAX));
  for (const std::vector<std::string>& row : rows) {
    if (row.size() > LXW_COL_MAX) throw WorkbookError(Format("the grid has more than %d columns", LXW_COL_MAX));
  }
}

void WriteWorkbook(const std::string& path, const std::string& sheetName, const SheetRows& rows) {
  CheckSize(rows);
  WorkbookHandle workbook(workbook_new(path.c_str()));
  if (!workbook) throw WorkbookError("out of memory");
  lxw_worksheet* sheet = workbook_add_worksheet(workbook.get(), sheetName.c_str());
  if (!sheet) throw WorkbookError(Format("the sheet name \"%s\" is not allowed", sheetName));
  WriteCells(workbook.get(), sheet, rows);
  // Closing writes the file and frees the workbook, whatever the outcome.
  const lxw_error error = workbook_close(workbook.release());
  if (error != LXW_NO_ERROR) throw WorkbookError(lxw_strerror(error));
}

void CreateFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder)) {
    throw WorkbookError(Format("Cannot create the folder %s: %s", folder, error ? error.message() : "not a folder"));
  }
}

// Creates an empty file under the first free name, so that no other export (of this
// program or another instance) can take it; returns its path.
std::string ReserveNewFile(const std::string& folder, const std::string& stem) {
  constexpr int kMaxTries = 10000;
  for (int n = 1; n <= kMaxTries; ++n) {
    const std::string path = folder + "/" + stem + (n > 1 ? "-" + std::to_string(n) : "") + ".xlsx";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) throw WorkbookError(Format("Cannot create %s: %s", path, std::strerror(errno)));
  }
  throw WorkbookError(Format("Cannot create a workbook in %s: every name for %s is taken", folder, stem));
}

bool IsSheetNameBreaker(char32_t c) {
  return c < 0x20 || c == 0x7F || c == '[' || c == ']' || c == ':' || c == '*' || c == '?' || c == '/' || c == '\\';
}

bool IsPlainFileNameChar(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.';
}

}  // namespace

SheetRows CellsOfSeparatedText(std::string_view text) {
  SheetRows rows;
  SeparatedTextReader reader(text);
  while (!reader.AtEnd()) {
    std::vector<std::string>& row = rows.emplace_back();
    do {
      row.push_back(reader.AtEnd() ? std::string() : reader.NextField());
    } while (reader.SkipTab());
    reader.SkipLineBreak();
  }
  return rows;
}

std::string SheetNameFor(const std::string& exportName) {
  constexpr std::size_t kMaxUnits = 31;
  const std::string_view stem =
      std::string_view(exportName).substr(0, exportName.size() - FileExtension(exportName).size());
  std::string name;
  std::size_t units = 0;
  std::size_t pos = 0;
  while (pos < stem.size()) {
    const std::size_t start = pos;
    const char32_t c = NextCodePoint(stem, pos);
    if (units + Utf16Units(c) > kMaxUnits) break;
    units += Utf16Units(c);
    if (IsSheetNameBreaker(c)) name += '_';
    else if (c == kReplacementChar) name += kReplacementUtf8;
    else name += stem.substr(start, pos - start);
  }
  name = TrimRightChars(TrimLeftChars(name, "'"), "'");
  // "History" is the name of the spreadsheet's own change log.
  if (name.empty()) return "Sheet1";
  return EqualsNoCase(name, "History") ? name + "_" : name;
}

std::string WorkbookStemFor(const std::string& sheetName) {
  std::string stem;
  std::size_t pos = 0;
  while (pos < sheetName.size()) {
    const char32_t c = NextCodePoint(sheetName, pos);
    stem += IsPlainFileNameChar(c) ? static_cast<char>(c) : '_';
  }
  return stem;
}

std::string WriteNewWorkbook(const std::string& folder, const std::string& stem, const std::string& sheetName,
                             const SheetRows& rows) {
  CreateFolder(folder);
  const std::string path = ReserveNewFile(folder, stem);
  try {
    WriteWorkbook(path, sheetName, rows);
  } catch (const WorkbookError& failure) {
    ::unlink(path.c_str());
    throw WorkbookError(Format("Cannot write %s: %s", path, failure.what()));
  }
  return path;
}

}  // namespace vestrel
