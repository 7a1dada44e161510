#include "export/GridWriters.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>

#include "export/D_XML.h"
#include "util/D_Util.h"
#include "util/LargeBuffer.h"
#include "util/TextList.h"

namespace vestrel {
namespace {

using namespace std::string_view_literals;

// A document under construction: its lines, joined once at the end.
class DocumentLines {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  std::string Join() const {
    std::size_t size = 0;
    for (const std::string& line : lines_) size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& line : lines_) {
      text += line;
      text += "\r\n";
    }
    return text;
  }

 private:
  std::vector<std::string> lines_;
};

// The text of a document, grown in large steps and asking for huge pages (LargeBuffer.h):
// written into fresh 4 KiB pages, a document of tens of megabytes would spend more time
// in page faults than in being written.
class DocumentText {
 public:
  explicit DocumentText(std::size_t expectedSize) { Reserve(expectedSize); }
  // The text, with room for at least `bytes` more appended without moving it.
  std::string& Room(std::size_t bytes) {
    if (text_.capacity() - text_.size() < bytes) Reserve(std::max(2 * text_.capacity(), text_.size() + bytes));
    return text_;
  }
  std::string Take() { return std::move(text_); }

 private:
  void Reserve(std::size_t capacity) {
    text_.reserve(capacity);
    AskForHugePages(text_.data(), text_.capacity());
  }

  std::string text_;
};

// The most bytes a text takes as character data or cell text: "&#65533;" for every byte.
constexpr std::size_t kMostPerByte = 8;

// The document size if every cell took `perCell` bytes and every line `perLine` bytes
// around its text, and the text twice its own size.
std::size_t ExpectedSize(const StringGrid& grid, std::size_t perCell, std::size_t perLine) {
  std::size_t size = 4096;
  for (int r = 0; r < grid.RowCount(); ++r) {
    for (int c = 0; c < grid.ColCount(); ++c) {
      const std::string& text = grid.Cell(c, r);
      const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
      size += perCell + 2 * text.size() + perLine * lines;
    }
  }
  return size;
}

LocalClock& InstalledClock() {
  static LocalClock clock;
  return clock;
}

LocalDateTime Now() {
  const LocalClock& clock = InstalledClock();
  return clock ? clock() : SystemLocalTime();
}

// value as at least `digits` decimal digits, zero-padded.
std::string Digits(int value, int digits) {
  std::string text = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  return value < 0 ? "-" + text : text;
}

// The date and time come from one reading of the clock, so a write at midnight cannot
// pair one day's date with the next day's time.
std::string TableLine(const StringGrid& grid) {
  const LocalDateTime now = Now();
  const std::string date = Digits(now.year, 4) + "-" + Digits(now.month, 2) + "-" + Digits(now.day, 2);
  const std::string time = Digits(now.hour, 2) + ":" + Digits(now.minute, 2) + ":" + Digits(now.second, 2);
  return Format("<table rowCount=\"%d\" colCount=\"%d\" fixedRows=\"%d\" fixedCols=\"%d\" date=\"%s\" time=\"%s\"/>",
                grid.RowCount(), grid.ColCount(), grid.FixedRows(), grid.FixedCols(), date, time);
}

void AppendDecimal(std::string& out, std::size_t value) {
  if (value < 10) {
    out += static_cast<char>('0' + value);
    return;
  }
  std::array<char, 24> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  out.append(digits.data(), result.ptr);
}

// "<name>text</name>" with the text escaped, or "<name/>" for an empty text.
void AppendXmlElement(std::string& out, std::string_view name, std::string_view text) {
  out += '<';
  out += name;
  if (text.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  AppendXmlText(out, text);
  out += "</";
  out += name;
  out += '>';
}

// The value elements of the cells: "<value index="i">line</value>" for each distinct line
// of a cell, in sorted order. One line list and one sorter serve every cell.
class CellValues {
 public:
  void Append(DocumentText& document, std::string_view cellText) {
    SplitTextLines(cellText, lines_);
    const std::vector<std::uint32_t>& order = sorter_.Sort(lines_, true);
    for (std::size_t i = 0; i < order.size(); ++i) {
      const std::string_view line = lines_[order[i]];
      std::string& out = document.Room(48 + kMostPerByte * line.size());
      out += "<value index=\""sv;
      AppendDecimal(out, i);
      out += "\">"sv;
      AppendXmlText(out, line);
      out += "</value>"sv;
    }
  }

 private:
  LargeVector<std::string_view> lines_;
  TextSorter sorter_;
};

// Browsers read the references &#128; to &#159; as windows-1252 characters (a control
// character would show as a dash or a quote), so those stand as U+FFFD.
char32_t HtmlReferable(char32_t c) { return c >= 0x80 && c <= 0x9F ? kReplacementChar : c; }

// Bytes an HTML cell shows as they are: ASCII but markup characters, quotes and CR.
constexpr PlainBytes kPlainHtmlBytes = [] {
  PlainBytes plain{};
  for (int byte = 0; byte < 0x80; ++byte) plain[byte] = true;
  plain['&'] = plain['<'] = plain['>'] = plain['\''] = plain['"'] = plain['\r'] = false;
  return plain;
}();

// The text of an HTML cell: markup characters as entities, CR LF as "<br>", characters
// outside ASCII as numeric references; lone CR or LF stay as they are.
void AppendHtmlText(std::string& out, std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = PlainRunEnd(text, pos, kPlainHtmlBytes);
    out.append(text, pos, end - pos);
    pos = end;
    if (pos >= text.size()) break;
    switch (text[pos]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      case '\r':
        if (pos + 1 < text.size() && text[pos + 1] == '\n') {
          out += "<br>";
          ++pos;
        } else {
          out += '\r';
        }
        break;
      default:
        AppendCharRef(out, HtmlReferable(NextCodePoint(text, pos)));
        continue;  // NextCodePoint moved pos already
    }
    ++pos;
  }
}

void AppendHtmlCellLine(DocumentText& document, const StringGrid& grid, int col, int row) {
  const std::string& text = grid.Cell(col, row);
  std::string& out = document.Room(32 + kMostPerByte * text.size());
  if (text.empty()) {
    out += "<td><br></td>\r\n"sv;
    return;
  }
  const bool bold = col < grid.FixedCols() || row < grid.FixedRows();
  out += bold ? "<td><b>"sv : "<td>"sv;
  AppendHtmlText(out, text);
  out += bold ? "</b></td>\r\n"sv : "</td>\r\n"sv;
}

}  // namespace

LocalDateTime SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

LocalClock SetWriterClock(LocalClock clock) { return std::exchange(InstalledClock(), std::move(clock)); }

// The documents are written straight into one text, line by line, each line followed by
// CR LF.
std::string GridToXml(const StringGrid& grid) {
  // The col element of a column is the same in every row.
  std::vector<std::string> colElements;
  std::size_t longestColElement = 0;
  for (int c = 0; c < grid.ColCount(); ++c) {
    colElements.push_back(XmlElement("col", XmlText(grid.Cell(c, 0))));
    longestColElement = std::max(longestColElement, colElements.back().size());
  }

  DocumentText document(ExpectedSize(grid, longestColElement + 48, 32));
  std::string& head = document.Room(512);
  head += "<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>\r\n"sv;
  head += "<document>\r\n"sv;
  head += TableLine(grid);
  head += "\r\n"sv;

  CellValues values;
  for (int r = 0; r < grid.RowCount(); ++r) {
    const std::string& title = grid.Cell(0, r);
    std::string& rowHead = document.Room(64 + kMostPerByte * title.size());
    rowHead += "<row value=\""sv;
    AppendDecimal(rowHead, static_cast<std::size_t>(r));
    rowHead += "\">\r\n"sv;
    AppendXmlElement(rowHead, "row", title);
    rowHead += "\r\n"sv;
    if (grid.ColCount() > 1) {
      for (int c = 0; c < grid.ColCount(); ++c) {
        const std::string& colElement = colElements[static_cast<std::size_t>(c)];
        std::string& out = document.Room(8 + colElement.size());
        out += "<cell>"sv;
        out += colElement;
        values.Append(document, grid.Cell(c, r));
        document.Room(16) += "</cell>\r\n"sv;
      }
    }
    document.Room(16) += "</row>\r\n"sv;
  }
  document.Room(16) += "</document>\r\n"sv;
  return document.Take();
}

std::string GridToHtml(const StringGrid& grid) {
  DocumentText document(ExpectedSize(grid, 16, 4));
  document.Room(64) += "<html><body>\r\n<table border=1>\r\n"sv;
  for (int r = 0; r < grid.RowCount(); ++r) {
    document.Room(8) += "<tr>\r\n"sv;
    for (int c = 0; c < grid.ColCount(); ++c) AppendHtmlCellLine(document, grid, c, r);
    document.Room(8) += "</tr>\r\n"sv;
  }
  document.Room(32) += "</table>\r\n</body></html>\r\n"sv;
  return document.Take();
}

std::string QuoteMultiLine(const std::string& value, const std::string& lineBreak, const std::string& newLineBreak,
                           const std::string& quoteReplacement, const std::string& quote) {
  std::string text = ReplaceInText(TrimRightChars(value, "\r\n"), lineBreak, newLineBreak);
  if (newLineBreak.empty() || Pos(newLineBreak, text) == 0) return text;
  ReplaceInTextVar(text, quote, quoteReplacement);
  return quote + text + quote;
}

std::string TextCell(const std::string& cellText) { return QuoteMultiLine(cellText, "\r\n", "\n", "'", "\""); }

std::string GridRowToText(const StringGrid& grid, int row, const std::string& separator) {
  std::string line;
  for (int c = 0; c < grid.ColCount(); ++c) {
    if (c > 0) line += separator;
    line += TextCell(grid.Cell(c, row));
  }
  return line;
}

std::string GridToText(const StringGrid& grid, const std::string& separator, const std::string& rowTrailer) {
  DocumentLines lines;
  for (int r = 0; r < grid.RowCount(); ++r) {
    lines.Add(GridRowToText(grid, r, separator));
    if (!rowTrailer.empty()) lines.Add(rowTrailer);
  }
  return lines.Join();
}

}  // namespace vestrel
