// Steps both scans share: the progress callback, the busy guard that keeps a second scan
// (or a command reading the grid) out while one runs or the details dialog opens, the
// hourglass, and the row texts built from the search result alone.
#pragma once

#include <functional>
#include <string>

#include "directory/NTypes.h"
#include "util/StringGrid.h"
#include "util/TextList.h"
#include "util/UiSeam.h"

namespace vestrel {

// Progress of a scan: item position of total and its name before each item; 0, 0, ""
// when the scan is done (the window's StatusInfo).
using ScanProgress = std::function<void(int position, int total, const std::string& text)>;
// Called once the rows are complete, before the progress is cleared: whether the grid
// holds rows worth exporting.
using ScanFinished = std::function<void(bool hasRows)>;

// Reads of a scan that were lost to the link (the server gone or silent, an answer that
// could not be read): their cells stay empty like those of reads the directory refused,
// but a report must not pass them off as values the tree does not have.
struct LostReads {
  int count = 0;
  NWRCODE firstCode = 0;
  std::string firstObject;  // the object the first lost read was for
};

struct ScanResult {
  bool started = false;  // false: another scan was running and nothing was touched
  int rows = 0;          // object rows written; the grid has rows + 1 rows
  // The search's completion code: the rows are what it found before it failed. The
  // window shows them as they are; a report without a window must not pass them off
  // as the whole tree.
  NWRCODE searchCode = 0;
  LostReads lost;
  bool stopped = false;  // asked to stop: the rows after the last one done keep their names
};

// True while a scan runs (or the window's details dialog opens). Both let window messages
// run, so a click can arrive meanwhile; commands that start a scan, read a result grid or
// open the dialog check this first and ignore the click, so a grid never shows a mix of
// two scans and nothing changes under the dialog's opening.
bool ScanRunning();

// Claims the one scan slot for its lifetime when it is free; Claimed() tells whether it did.
class ScanGuard {
 public:
  ScanGuard();
  ~ScanGuard();
  ScanGuard(const ScanGuard&) = delete;
  ScanGuard& operator=(const ScanGuard&) = delete;
  bool Claimed() const { return claimed_; }
  // The reads of this scan lost to the link so far.
  const LostReads& Lost() const { return lost_; }

 private:
  bool claimed_;
  LostReads lost_;
};

// Notes the code of a read of the running scan (nothing when no scan runs).
void NoteRead(NWRCODE code, const std::string& object);

// True while ScanServers or ScanPartitions runs (ScanRunning is also true while the
// details dialog opens).
bool ScanInProgress();
// Asks the running scan to stop at its next wait: the rows done stay, the others keep
// the names of the first pass. Nothing when no scan runs.
void RequestScanStop();

// Marks a scan in progress for its lifetime and clears a stop asked of an earlier one;
// Stopped() tells whether a stop was asked meanwhile.
class RunningScan {
 public:
  RunningScan();
  ~RunningScan();
  RunningScan(const RunningScan&) = delete;
  RunningScan& operator=(const RunningScan&) = delete;
  bool Stopped() const;
};

// What the window lets run while the directory client waits for a server: during a scan
// every window message (commands meet the scan's guards; Stop, Esc or a close ask the
// scan to stop, which gives the waiting request up); otherwise only repaints, so no command starts in
// the middle of another. Returns whether to go on waiting.
bool LetWindowRunWhileWaiting();

// Shows the hourglass for its lifetime; the remembered cursor comes back even when a
// step throws.
class HourglassCursor {
 public:
  HourglassCursor();
  ~HourglassCursor();
  HourglassCursor(const HourglassCursor&) = delete;
  HourglassCursor& operator=(const HourglassCursor&) = delete;

 private:
  CursorKind saved_ = CursorKind::Default;
};

// Calls progress when there is one.
void ReportProgress(const ScanProgress& progress, int position, int total, const std::string& text);

// The scans read names without type prefixes and split them at their dots. A tree change
// sets that on the window's context; a window that changed no tree (its saved tree is no
// longer connected, or no tree is preferred) still works on the client's preferred tree,
// and would get typed names that do not match their contexts. Sets it on context.
void UseNamesWithoutTypes(NWDSContextHandle context);

// Names found by the search below "[Root]" with filter (whole subtree) appended to names,
// which is then sorted ignoring case in the user's locale. Returns the search's code (not
// shown: whatever was found is sorted and used).
NWRCODE SearchSortedNames(NWDSContextHandle context, const std::string& filter, TextList& names);

// Column 0 width 30, rows for every name plus the header row, the headers from column 1
// on. The grid gets max(wideCount, colCount) columns before the headers are written and
// colCount after.
void WriteScanHeaders(StringGrid& grid, int nameCount, const char* const* headers, int colCount, int wideCount = 0);

// The first pass: row numbers, and each name split at its first dot into column 1 (the
// part before it) and column 2 (the part after it); a name without a dot goes whole into
// both. The whole list is visible before any attribute is read.
void WriteProvisionalRows(StringGrid& grid, const TextList& names);

// The lines of attrName of object (CR LF between them) into one cell, only when the read
// succeeds; a failed read leaves the cell as it is. Returns the read's code (noted).
NWRCODE ReadAttrCell(NWDSContextHandle context, const std::string& object, const std::string& attrName,
                     StringGrid& grid, int col, int row);

// An object's name without its context (the first occurrence, ignoring case; the name
// unchanged when context is empty).
std::string NameWithoutContext(const std::string& name, const std::string& context);

}  // namespace vestrel
