// The grid writers: a string grid as an XML document, an HTML table or separated text
// (TAB- or comma-separated lines, also what the clipboard and the spreadsheets receive).
// They only produce text; files, clipboard and spreadsheets are the dispatcher's work.
#pragma once

#include <functional>
#include <string>

#include "util/StringGrid.h"

namespace vestrel {

// Every document is a sequence of lines, each one (the last included) followed by CR LF.

// The XML document: one row element per grid row, one cell element per column holding its
// column title and the cell's distinct lines, sorted. Texts are escaped (D_XML's XmlText).
std::string GridToXml(const StringGrid& grid);
// The HTML table; fixed cells are bold, line breaks inside a cell become "<br>".
std::string GridToHtml(const StringGrid& grid);
// One line per grid row (fixed rows and columns included), cells joined by separator;
// a non-empty rowTrailer follows each row as a line of its own.
std::string GridToText(const StringGrid& grid, const std::string& separator, const std::string& rowTrailer);
// One row as separated text, without a line break.
std::string GridRowToText(const StringGrid& grid, int row, const std::string& separator);

// A cell in separated text: trailing line breaks dropped, CR LF turned into LF; a value that
// still has several lines gets its double quotes turned into apostrophes and is enclosed in
// double quotes. A single-line value is used as it is, separator or quotes included.
std::string TextCell(const std::string& cellText);
// The general form of TextCell: trailing CR and LF removed, every lineBreak replaced by
// newLineBreak; when newLineBreak then occurs, every quote becomes quoteReplacement and the
// value is enclosed by quote.
std::string QuoteMultiLine(const std::string& value, const std::string& lineBreak, const std::string& newLineBreak,
                           const std::string& quoteReplacement, const std::string& quote);

// ---- The clock of the XML table line ----
struct LocalDateTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;
  int hour = 0;  // 0..23
  int minute = 0;
  int second = 0;
};
using LocalClock = std::function<LocalDateTime()>;
// The local date and time of the system clock.
LocalDateTime SystemLocalTime();
// The clock GridToXml reads; an empty function restores the system clock. Returns the
// clock it replaces (empty when that was the system clock).
LocalClock SetWriterClock(LocalClock clock);

}  // namespace vestrel
