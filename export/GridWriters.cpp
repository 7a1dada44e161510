#include "export/GridWriters.h"

#include <ctime>
#include <string_view>
#include <utility>
#include <vector>

#include "export/D_XML.h"
#include "util/D_Util.h"
#include "util/TextList.h"

namespace vestrel {
namespace {

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

// "<value index="i">line</value>" for each distinct line of the cell, in sorted order.
void AppendValueElements(std::string& out, TextList& workList, const std::string& cellText) {
  workList.SetText(cellText);
  for (int i = 0; i < workList.Count(); ++i) {
    out += "<value index=\"";
    out += std::to_string(i);
    out += "\">";
    AppendXmlText(out, workList[i]);
    out += "</value>";
  }
}

std::string XmlCellLine(const std::string& colElement, TextList& workList, const std::string& cellText) {
  std::string content = colElement;
  AppendValueElements(content, workList, cellText);
  return XmlElement("cell", content);
}

// Browsers read the references &#128; to &#159; as windows-1252 characters (a control
// character would show as a dash or a quote), so those stand as U+FFFD.
char32_t HtmlReferable(char32_t c) { return c >= 0x80 && c <= 0x9F ? kReplacementChar : c; }

// The text of an HTML cell: markup characters as entities, CR LF as "<br>", characters
// outside ASCII as numeric references; lone CR or LF stay as they are.
std::string HtmlCellText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    switch (c) {
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
          out += c;
        }
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x80) {
          out += c;
        } else {
          AppendCharRef(out, HtmlReferable(NextCodePoint(text, pos)));
          continue;  // NextCodePoint moved pos already
        }
    }
    ++pos;
  }
  return out;
}

std::string HtmlCellLine(const StringGrid& grid, int col, int row) {
  const std::string& text = grid.Cell(col, row);
  if (text.empty()) return "<td><br></td>";
  std::string content = HtmlCellText(text);
  if (col < grid.FixedCols() || row < grid.FixedRows()) content = "<b>" + content + "</b>";
  return "<td>" + content + "</td>";
}

}  // namespace

LocalDateTime SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

LocalClock SetWriterClock(LocalClock clock) { return std::exchange(InstalledClock(), std::move(clock)); }

std::string GridToXml(const StringGrid& grid) {
  DocumentLines lines;
  lines.Add("<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>");
  lines.Add("<document>");
  lines.Add(TableLine(grid));

  // One sorted work list, without duplicates, serves every cell.
  TextList workList;
  workList.SetSorted(true);
  workList.SetDuplicates(TextList::Duplicates::Ignore);

  // The col element of a column is the same in every row.
  std::vector<std::string> colElements;
  colElements.reserve(static_cast<std::size_t>(grid.ColCount()));
  for (int c = 0; c < grid.ColCount(); ++c) colElements.push_back(XmlElement("col", XmlText(grid.Cell(c, 0))));

  for (int r = 0; r < grid.RowCount(); ++r) {
    lines.Add("<row value=\"" + std::to_string(r) + "\">");
    lines.Add(XmlElement("row", XmlText(grid.Cell(0, r))));
    if (grid.ColCount() > 1) {
      for (int c = 0; c < grid.ColCount(); ++c) lines.Add(XmlCellLine(colElements[c], workList, grid.Cell(c, r)));
    }
    lines.Add("</row>");
  }
  lines.Add("</document>");
  return lines.Join();
}

std::string GridToHtml(const StringGrid& grid) {
  DocumentLines lines;
  lines.Add("<html><body>");
  lines.Add("<table border=1>");
  for (int r = 0; r < grid.RowCount(); ++r) {
    lines.Add("<tr>");
    for (int c = 0; c < grid.ColCount(); ++c) lines.Add(HtmlCellLine(grid, c, r));
    lines.Add("</tr>");
  }
  lines.Add("</table>");
  lines.Add("</body></html>");
  return lines.Join();
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
