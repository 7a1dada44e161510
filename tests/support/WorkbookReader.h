// Spreadsheet exports as a user's desktop meets them: an "xdg-open" of the test's own that
// records what it is handed, and a reader of .xlsx workbooks that is not the writer
// (python3's zipfile and XML parser, read_workbook.py).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "TempConfigHome.h"

namespace vestrel::testing {

// While this lives, PATH holds only a folder with an "xdg-open" that records each call's
// arguments and ends with exitStatus after sleepSeconds, or, when present is false, no
// opener at all.
class DesktopOpenerStub {
 public:
  explicit DesktopOpenerStub(int exitStatus = 0, bool present = true, int sleepSeconds = 0);
  // The arguments of each call, in order.
  std::vector<std::vector<std::string>> Calls() const;

 private:
  TempFolder folder_;
  ScopedEnvironment path_;
};

struct WorkbookCell {
  std::string text;
  std::string type;  // "s": a shared string
  bool bold = false;
  bool wrap = false;
};

struct Workbook {
  std::string failure;  // what the reader said when it could not read the workbook
  std::vector<std::string> sheets;
  std::map<std::pair<int, int>, WorkbookCell> cells;  // by (row, col), counted from 0
  std::map<int, double> widths;                       // by column, where one is set
  std::map<int, double> heights;                      // by row, where one is set

  // The cell's text; empty for a cell the sheet does not hold.
  std::string Text(int row, int col) const;
};

// What the reader finds in the workbook at path.
Workbook ReadWorkbook(const std::string& path);

}  // namespace vestrel::testing
