#include "scan/ScanSteps.h"

#include <algorithm>

#include "directory/D_NW_Errors.h"
#include "directory/D_NW_Read.h"
#include "directory/D_NW_Search.h"
#include "directory/D_NW_Session.h"
#include "util/D_Util.h"

namespace vestrel {

namespace {

// One user-interface thread: a plain flag is enough.
bool scanRunning = false;
LostReads* runningScanLosses = nullptr;
bool scanInProgress = false;
bool stopRequested = false;

constexpr nuint32 kWholeSubtree = 2;
constexpr int kRowNumberWidth = 30;

}  // namespace

bool ScanRunning() { return scanRunning; }

ScanGuard::ScanGuard() : claimed_(!scanRunning) {
  if (!claimed_) return;
  scanRunning = true;
  runningScanLosses = &lost_;
}

ScanGuard::~ScanGuard() {
  if (!claimed_) return;
  scanRunning = false;
  runningScanLosses = nullptr;
}

bool ScanInProgress() { return scanInProgress; }

void RequestScanStop() {
  if (scanInProgress) stopRequested = true;
}

RunningScan::RunningScan() {
  scanInProgress = true;
  stopRequested = false;
}

RunningScan::~RunningScan() {
  scanInProgress = false;
  stopRequested = false;
}

bool RunningScan::Stopped() const { return stopRequested; }

bool LetWindowRunWhileWaiting() {
  if (!scanInProgress) {
    ProcessPaintMessages();
    return true;
  }
  ProcessMessages();
  return !stopRequested;
}

void NoteRead(NWRCODE code, const std::string& object) {
  if (!runningScanLosses || !IsLinkFailure(code)) return;
  if (runningScanLosses->count++ == 0) {
    runningScanLosses->firstCode = code;
    runningScanLosses->firstObject = object;
  }
}

HourglassCursor::HourglassCursor() { SaveCursorShowHourglass(saved_); }

HourglassCursor::~HourglassCursor() { RestoreCursor(saved_); }

void ReportProgress(const ScanProgress& progress, int position, int total, const std::string& text) {
  if (progress) progress(position, total, text);
}

void UseNamesWithoutTypes(NWDSContextHandle context) { ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES); }

NWRCODE SearchSortedNames(NWDSContextHandle context, const std::string& filter, TextList& names) {
  const NWRCODE code = SearchNames(context, "[Root]", filter, &names, kWholeSubtree);
  names.Sort();
  return code;
}

void WriteScanHeaders(StringGrid& grid, int nameCount, const char* const* headers, int colCount, int wideCount) {
  grid.SetColWidth(0, kRowNumberWidth);
  grid.SetRowCount(nameCount + 1);
  // Writes outside the grid are lost, so the grid is at least as wide as the headers first.
  grid.SetColCount(std::max(wideCount, colCount));
  for (int col = 1; col < colCount; ++col) grid.SetCell(col, 0, headers[col]);
  grid.SetColCount(colCount);
}

void WriteProvisionalRows(StringGrid& grid, const TextList& names) {
  for (int row = 1; row <= names.Count(); ++row) {
    const std::string& name = names[row - 1];
    grid.SetCell(0, row, Format("%d", row));
    grid.SetCell(1, row, KeepTextBefore(name, "."));
    grid.SetCell(2, row, KeepTextAfter(name, "."));
  }
}

NWRCODE ReadAttrCell(NWDSContextHandle context, const std::string& object, const std::string& attrName,
                     StringGrid& grid, int col, int row) {
  std::string text;
  const NWRCODE code = ReadAttrLines(context, object, attrName, text);
  NoteRead(code, object);
  if (code == 0) grid.SetCell(col, row, text);
  return code;
}

std::string NameWithoutContext(const std::string& name, const std::string& context) {
  if (context.empty()) return name;
  return ReplaceInText(name, context, "", false, false);
}

}  // namespace vestrel
