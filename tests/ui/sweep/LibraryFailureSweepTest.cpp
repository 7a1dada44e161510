// Every client library operation the program calls, made to fail on every user path that
// reaches it: nothing crashes or hangs, the boxes are exactly the ones the program shows
// for that failure, the grids and the dialog keep only what could be read, and no file is
// left half written.
//
// The matrix below lists, per operation, the paths where its failure has a visible
// outcome (boxes, emptied cells, a dialog that closes). Every other pair that a path
// reaches must look like the path without the failure, apart from cells that a failed
// read leaves empty. Each reached operation runs twice: failing from its first call, and
// failing from the middle of the path on.
#include <algorithm>
#include <functional>
#include <iostream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "SweepRun.h"
#include "directory/D_NW.h"
#include "util/D_Util.h"

namespace vestrel::testing {
// Boxes read as their kind and text in failure messages.
void PrintTo(const RecordedBox& box, std::ostream* out) { *out << "[" << static_cast<int>(box.kind) << "] " << box.text; }
}  // namespace vestrel::testing

namespace vestrel::sweep {
namespace {

using testing::RecordedBox;
using Boxes = std::vector<RecordedBox>;
using P = UserPath;

constexpr NWRCODE kForcedCode = ERR_NO_SUCH_ENTRY;  // -601, shown as 0xFFFFFDA7

RecordedBox ErrorBox(const std::string& label, NWRCODE code) {
  return {DialogKind::Error, label + " returned error " + ErrorText(code), DialogButtons::Ok};
}
RecordedBox WarningBox(const std::string& text) { return {DialogKind::Warning, text, DialogButtons::OkCancel}; }
const RecordedBox kAreYouSure{DialogKind::Confirmation, "Are you sure?", DialogButtons::OkAbort};

int DataRows(const GridCells& grid) { return std::max(0, static_cast<int>(grid.size()) - 1); }

// ---- Outcomes of one failing operation on one path ----

struct Outcome {
  std::string name;
  // Every box the failing run shows, in order.
  std::function<Boxes(P path, const RunResult& baseline)> boxes;
  // What the window shows afterwards, beyond the checks every run gets.
  std::function<void(P path, const RunResult& baseline, const RunResult& run)> state;
};

// No box beyond what the path shows anyway.
Boxes SameBoxes(P, const RunResult& baseline) { return baseline.boxes; }

// ---- Start-up and tree change ----

RecordedBox SavedBox(const std::string& name) { return {DialogKind::Information, "Saved as " + name, DialogButtons::Ok}; }

// After a start-up without a main context, what the next commands show: both scans find
// nothing but "[Root]", whose details cannot be read, and only the partition page exports.
Boxes WithoutContextAfterwards(const std::string& tree) {
  return {ErrorBox("Get Partition Replica", ERR_BAD_CONTEXT), WarningBox("No Servers found that host Partition [Root]\""),
          SavedBox(tree + "_Partition.TXT")};
}

void NothingButRootFound(P path, const RunResult&, const RunResult& run) {
  if (path != P::CommandsAfterStartUp) return;
  EXPECT_EQ(DataRows(run.servers), 0);
  ASSERT_EQ(DataRows(run.partitions), 1);
  EXPECT_EQ(run.partitions[1][1], "[Root]");
  for (std::size_t col = 3; col < run.partitions[1].size(); ++col) EXPECT_EQ(run.partitions[1][col], "");
}

// The scans after the start-up found what they find without the failure.
void ScansAsWithoutTheFailure(P path, const RunResult& baseline, const RunResult& run) {
  if (path != P::CommandsAfterStartUp) return;
  EXPECT_EQ(run.servers, baseline.servers);
  EXPECT_EQ(run.partitions, baseline.partitions);
}

// The client does not start: the start-up's own box, then the generic one with the code's
// low word; the window opens without a session and nothing is restored.
Outcome ClientDoesNotStart() {
  return {"client does not start",
          [](P path, const RunResult&) {
            Boxes boxes{ErrorBox("Could not find server/tree connection. InitNetWare", kForcedCode),
                        ErrorBox("InitNetWare", kForcedCode & 0xFFFF)};
            if (path == P::CommandsAfterStartUp) {
              for (const RecordedBox& box : WithoutContextAfterwards("")) boxes.push_back(box);
            }
            return boxes;
          },
          [](P path, const RunResult& baseline, const RunResult& run) {
            EXPECT_TRUE(run.trees.empty());
            EXPECT_EQ(run.editMyName, "EditMyName");  // no tree change was attempted
            if (path != P::CommandsAfterStartUp) {
              EXPECT_EQ(run.typeS, "XLS");
              EXPECT_EQ(run.typeP, "XLS");
            }
            NothingButRootFound(path, baseline, run);
          }};
}

// The context could not be created; its code is ignored, so the tree change fails on it.
Outcome NoMainContext() {
  return {"no main context",
          [](P path, const RunResult&) {
            Boxes boxes{ErrorBox("DSChangeCurrentTree", ERR_BAD_CONTEXT)};
            if (path == P::CommandsAfterStartUp) {
              for (const RecordedBox& box : WithoutContextAfterwards("ACME_TREE")) boxes.push_back(box);
            }
            return boxes;
          },
          [](P path, const RunResult& baseline, const RunResult& run) {
            EXPECT_EQ(run.trees, baseline.trees);
            EXPECT_EQ(run.editMyName, "");
            NothingButRootFound(path, baseline, run);
          }};
}

// The tree change fails; what the commands after it find is read from the tree the
// context is on, with names as after a good tree change.
Outcome TreeChangeFails() {
  return {"tree change fails",
          [](P, const RunResult& baseline) {
            Boxes boxes{ErrorBox("DSChangeCurrentTree", kForcedCode)};
            boxes.insert(boxes.end(), baseline.boxes.begin(), baseline.boxes.end());
            return boxes;
          },
          [](P path, const RunResult& baseline, const RunResult& run) {
            EXPECT_EQ(run.trees, baseline.trees);
            EXPECT_EQ(run.selectedTree, baseline.selectedTree);
            ScansAsWithoutTheFailure(path, baseline, run);
          }};
}

// No tree is selected, so none is changed to; the context still works on the client's
// preferred tree, and the export files carry no tree name.
Boxes ExportsWithoutATreeName(P path, const RunResult& baseline) {
  if (path != P::CommandsAfterStartUp) return baseline.boxes;
  return {SavedBox("_Servers.TXT"), SavedBox("_Partition.TXT")};
}

Outcome NoTreeListed() {
  return {"no tree listed", ExportsWithoutATreeName, [](P path, const RunResult& baseline, const RunResult& run) {
            EXPECT_TRUE(run.trees.empty());
            EXPECT_EQ(run.selectedTree, "");
            EXPECT_EQ(run.editMyName, "EditMyName");
            ScansAsWithoutTheFailure(path, baseline, run);
          }};
}

// Without the primary connection no tree is preferred: nothing is selected unless the
// settings restore a tree.
Outcome NoPreferredTree() {
  return {"no preferred tree",
          [](P path, const RunResult& baseline) {
            return path == P::SettingsCloseAndReopen ? baseline.boxes : ExportsWithoutATreeName(path, baseline);
          },
          [](P path, const RunResult& baseline, const RunResult& run) {
            EXPECT_EQ(run.trees, baseline.trees);
            if (path == P::SettingsCloseAndReopen) {
              EXPECT_EQ(run.selectedTree, baseline.selectedTree);
              EXPECT_EQ(run.editMyName, baseline.editMyName);
            } else {
              EXPECT_EQ(run.selectedTree, "");
              EXPECT_EQ(run.editMyName, "EditMyName");
            }
            ScansAsWithoutTheFailure(path, baseline, run);
          }};
}

Outcome NoUserName() {
  return {"no user name", SameBoxes, [](P path, const RunResult& baseline, const RunResult& run) {
            EXPECT_EQ(run.selectedTree, baseline.selectedTree);
            EXPECT_EQ(run.editMyName, "");
            ScansAsWithoutTheFailure(path, baseline, run);
          }};
}

// ---- Scans ----

const GridCells& ScannedGrid(P path, const RunResult& result) {
  return IsServerScan(path) ? result.servers : result.partitions;
}

// The search cannot run: no rows; the partition grid still has its "[Root]" row.
Outcome SearchFails() {
  return {"search fails", SameBoxes, [](P path, const RunResult&, const RunResult& run) {
            if (IsServerScan(path)) {
              EXPECT_EQ(DataRows(run.servers), 0);
              EXPECT_FALSE(run.exportServersEnabled);
            } else {
              ASSERT_EQ(DataRows(run.partitions), 1);
              EXPECT_EQ(run.partitions[1][1], "[Root]");
              EXPECT_TRUE(run.exportPartitionsEnabled);
            }
          }};
}

// Every object of the result is unreadable: one box each, with an empty label, and no row.
Outcome ObjectsUnreadable() {
  return {"objects unreadable",
          [](P path, const RunResult& baseline) {
            const int objects = DataRows(ScannedGrid(path, baseline)) - (IsPartitionScan(path) ? 1 : 0);
            return Boxes(objects, ErrorBox("", kForcedCode));
          },
          [](P path, const RunResult& baseline, const RunResult& run) {
            SearchFails().state(path, baseline, run);
          }};
}

// Every name is listed; no value column could be read.
Outcome ValuesUnreadable() {
  return {"values unreadable", SameBoxes, [](P path, const RunResult& baseline, const RunResult& run) {
            const GridCells& grid = ScannedGrid(path, run);
            ASSERT_EQ(grid.size(), ScannedGrid(path, baseline).size());
            for (std::size_t row = 1; row < grid.size(); ++row)
              for (std::size_t col = 3; col < grid[row].size(); ++col)
                EXPECT_EQ(grid[row][col], "") << "row " << row << " col " << col;
          }};
}

// No parent can be read: the name column holds the whole name, the context column nothing.
Outcome ContextsUnreadable() {
  return {"contexts unreadable", SameBoxes, [](P path, const RunResult& baseline, const RunResult& run) {
            const GridCells& grid = ScannedGrid(path, run);
            const GridCells& before = ScannedGrid(path, baseline);
            ASSERT_EQ(grid.size(), before.size());
            for (std::size_t row = 1; row < grid.size(); ++row) {
              EXPECT_EQ(grid[row][1], RelativeName(JoinContextName(before[row][2], before[row][1])));
              EXPECT_EQ(grid[row][2], "");
            }
          }};
}

// Names and contexts are unreadable and so is every value.
Outcome NothingButNamesReadable() {
  return {"nothing but names readable", SameBoxes, [](P path, const RunResult& baseline, const RunResult& run) {
            ContextsUnreadable().state(path, baseline, run);
            ValuesUnreadable().state(path, baseline, run);
          }};
}

// No replica reports its errors: the "Inspect Errors" column stays empty, the rest is read.
Outcome ErrorReportsMissing() {
  return {"error reports missing", SameBoxes, [](P, const RunResult& baseline, const RunResult& run) {
            ASSERT_EQ(run.partitions.size(), baseline.partitions.size());
            bool someReport = false;
            for (std::size_t row = 1; row < run.partitions.size(); ++row) {
              someReport = someReport || !baseline.partitions[row][8].empty();
              EXPECT_EQ(run.partitions[row][8], "") << "row " << row;
              for (int col = 1; col < 8; ++col) EXPECT_EQ(run.partitions[row][col], baseline.partitions[row][col]);
            }
            EXPECT_TRUE(someReport);  // the demo tree does report errors
          }};
}

// ---- Details dialog ----

void ClosedEmpty(P, const RunResult&, const RunResult& run) {
  EXPECT_FALSE(run.dialogOpened);
  EXPECT_TRUE(run.dialogItems.empty());
}

Outcome ListingFails() {
  return {"listing fails",
          [](P, const RunResult&) {
            return Boxes{ErrorBox("Get Server Partitions", kForcedCode),
                         WarningBox("No Partitions Detected on Server \".FS1.HQ.ACME\"")};
          },
          [](P path, const RunResult& baseline, const RunResult& run) {
            ClosedEmpty(path, baseline, run);
            EXPECT_EQ(run.dialogLastError, kForcedCode);
          }};
}

// Entries that cannot be read are left out silently; with none left the dialog warns and closes.
Outcome EntriesUnreadable() {
  return {"entries unreadable",
          [](P, const RunResult&) { return Boxes{WarningBox("No Partitions Detected on Server \".FS1.HQ.ACME\"")}; },
          [](P path, const RunResult& baseline, const RunResult& run) {
            ClosedEmpty(path, baseline, run);
            EXPECT_EQ(run.dialogLastError, 0);
          }};
}

Outcome ReplicaReadFails() {
  return {"replica read fails",
          [](P, const RunResult&) {
            return Boxes{ErrorBox("Get Partition Replica", kForcedCode),
                         WarningBox("No Servers found that host Partition .Sales.ACME\"")};
          },
          [](P path, const RunResult& baseline, const RunResult& run) {
            ClosedEmpty(path, baseline, run);
            EXPECT_EQ(run.dialogLastError, kForcedCode);
          }};
}

// The request is refused: its call's name in the error box, and the dialog stays open
// whatever a success would have done.
Outcome RequestRefused() {
  return {"request refused",
          [](P path, const RunResult&) {
            const OperationButton button = ButtonOf(path);
            Boxes boxes;
            if (button.confirmed) boxes.push_back(kAreYouSure);
            boxes.push_back(ErrorBox(button.libraryCall, kForcedCode));
            return boxes;
          },
          [](P path, const RunResult& baseline, const RunResult& run) {
            EXPECT_TRUE(run.dialogOpenAfterCommand);
            EXPECT_EQ(run.dialogLastError, kForcedCode);
            EXPECT_EQ(run.dialogItems, baseline.dialogItems);
            if (ButtonOf(path).closesOnSuccess && baseline.dialogLastError == 0) {
              EXPECT_FALSE(baseline.dialogOpenAfterCommand);
            }
          }};
}

// ---- The matrix ----

struct Expectation {
  const char* operation;
  std::vector<P> paths;
  Outcome outcome;
};

const std::vector<P> kStarts{P::StartUp, P::CommandsAfterStartUp, P::SettingsCloseAndReopen};
const std::vector<P> kTreeChanges{P::StartUp, P::CommandsAfterStartUp, P::TreeChange, P::SettingsCloseAndReopen};
const std::vector<P> kScans{P::ServerScan, P::PartitionScan, P::LargeServerScan, P::LargePartitionScan};
const std::vector<P> kPartitionScans{P::PartitionScan, P::LargePartitionScan};

const std::vector<Expectation>& Matrix() {
  static const std::vector<Expectation> matrix = {
      // Client start-up (FormCreate: InitNetWare, the context, the tree list).
      {"ClientInitialize", kStarts, ClientDoesNotStart()},
      {"ConnScanNext", kStarts, ClientDoesNotStart()},
      {"ConnOpenByReference", kStarts, ClientDoesNotStart()},
      {"ConnPrimaryReference", kStarts, NoPreferredTree()},
      {"ConnReferenceInfo", kStarts, NoTreeListed()},
      {"DSContextCreate", kStarts, NoMainContext()},
      // Tree change (FormShow and the tree selector) and the session's helpers.
      {"DSContextSetValue", kTreeChanges, TreeChangeFails()},
      {"DSWhoAmI", kTreeChanges, NoUserName()},
      // The scans' search.
      {"DSFilterCursorAlloc", kScans, SearchFails()},
      {"DSFilterAddToken", kScans, SearchFails()},
      {"DSAttrSyntaxId", kPartitionScans, SearchFails()},
      {"DSFilterStore", kScans, SearchFails()},
      {"DSSearchStep", kScans, SearchFails()},
      {"DSResultObjectCount", kScans, SearchFails()},
      {"DSBufferInit", kScans, SearchFails()},
      {"DSBufferAlloc", kScans, SearchFails()},
      {"DSResultNextObject", kScans, ObjectsUnreadable()},
      // The scans' reads.
      {"DSRequestAddAttrName", kScans, ValuesUnreadable()},
      {"DSReadStep", kScans, ValuesUnreadable()},
      {"DSResultAttrCount", kScans, ValuesUnreadable()},
      {"DSResultNextAttr", kScans, ValuesUnreadable()},
      {"DSResultValueSize", kScans, ValuesUnreadable()},
      {"DSResultNextValue", kScans, ValuesUnreadable()},
      {"DSObjectInfoRead", kScans, ContextsUnreadable()},
      {"DSObjectInfoField", kScans, ContextsUnreadable()},
      {"DSContextClone", kScans, NothingButNamesReadable()},
      {"DSReplicaSyncErrors", kPartitionScans, ErrorReportsMissing()},
      // Opening the details dialog.
      {"DSBufferAlloc", {P::ServerDetails}, ListingFails()},
      {"DSServerPartitionsList", {P::ServerDetails}, ListingFails()},
      {"DSResultServerName", {P::ServerDetails}, ListingFails()},
      {"DSResultNextPartition", {P::ServerDetails}, EntriesUnreadable()},
      {"DSBufferAlloc", {P::PartitionDetails}, ReplicaReadFails()},
      {"DSContextClone", {P::PartitionDetails}, ReplicaReadFails()},
      {"DSBufferInit", {P::PartitionDetails}, ReplicaReadFails()},
      {"DSRequestAddAttrName", {P::PartitionDetails}, ReplicaReadFails()},
      {"DSReadStep", {P::PartitionDetails}, ReplicaReadFails()},
      {"DSResultAttrCount", {P::PartitionDetails}, ReplicaReadFails()},
      {"DSResultNextAttr", {P::PartitionDetails}, ReplicaReadFails()},
      {"DSResultValueSize", {P::PartitionDetails}, ReplicaReadFails()},
      {"DSResultNextValue", {P::PartitionDetails}, ReplicaReadFails()},
      // The ten operations.
      {"NWDSSyncSchema", {P::SyncSchema}, RequestRefused()},
      {"NWDSSyncPartition", {P::SyncPartition}, RequestRefused()},
      {"NWDSPartitionSendAllUpdates", {P::SendAllUpdates}, RequestRefused()},
      {"NWDSPartitionReceiveAllUpdates", {P::ReceiveAllUpdates}, RequestRefused()},
      {"NWDSSyncReplicaToServer", {P::SyncReplica}, RequestRefused()},
      {"NWDSJoinPartitions", {P::JoinPartitions}, RequestRefused()},
      {"NWDSRemovePartition", {P::RemovePartition}, RequestRefused()},
      {"NWDSRemoveReplica", {P::RemoveReplica}, RequestRefused()},
      {"NWDSRepairTimeStamps", {P::RepairTimeStamps}, RequestRefused()},
      {"NWDSReloadDS", {P::ReloadDS}, RequestRefused()},
      // Every other reached pair (the releasing calls, the session helpers the scans use
      // for names, the export and settings paths, which reach no operation of their own)
      // must look like the path without the failure.
  };
  return matrix;
}

// Operations no user path calls, and operations a path calls only after another one
// failed (the path, the operation that must fail first).
const std::set<std::string> kNeverCalledByTheWindow{
    "ClientPrimaryLoadProblem",  // which tree could not be loaded as the preferred one: vestrel-check's
    "ConnServerTime",         // the server's clock, read by other programs
    "ConnLinkFailure",        // the words of a failed link: only after a scan whose reads failed
    "DSContextCopy",          // creation and modification times: no scan column shows them
    "DSTreeMakePreferred",    // the window never makes a tree preferred
    "NWDSGetAttrValFlags",    // value details: no caller asks for them
    "NWDSGetAttrValModTime",  //
    "DSStreamOpen",           // no column reads a stream attribute
};
// The dialog's ring changes: no path of the sweep presses them, since a change rebuilds the
// partition page and so reaches most of the library again. The details dialog tests press
// each of them over both kinds of tree and check what a refusal shows.
const std::set<std::string> kRingChangesPressedElsewhere{"NWDSAddReplica", "NWDSChangeReplicaType",
                                                         "NWDSSplitPartition", "NWDSAbortPartitionOperation"};
struct ReachedBehind {
  std::string operation;
  P path;
  std::string failingFirst;
  std::uint64_t succeedingCallsFirst = 0;  // calls of failingFirst that succeed before it fails
};
const std::vector<ReachedBehind> kReachedBehind{
    // Searches are never abandoned (no abort, no maximum); a server's partition listing
    // that stops half-way is.
    {"DSIterationEnd", P::ServerDetails, "DSServerPartitionsList", 1},
    {"DSFilterFree", P::ServerScan, "DSFilterStore"},
    {"DSFilterFree", P::PartitionScan, "DSFilterStore"},
};

const Outcome* ExpectedOutcome(const std::string& operation, P path) {
  for (const Expectation& expectation : Matrix()) {
    if (operation == expectation.operation &&
        std::find(expectation.paths.begin(), expectation.paths.end(), path) != expectation.paths.end())
      return &expectation.outcome;
  }
  return nullptr;
}

// Operations that release what the library handed out: when they fail, what they should
// have released stays open.
bool ReleasesLibraryObjects(const std::string& operation) {
  return operation == "DSBufferFree" || operation == "DSContextFree" || operation == "DSIterationEnd" ||
         operation == "DSFilterFree";
}

std::string Describe(const Boxes& boxes) {
  std::ostringstream text;
  for (const RecordedBox& box : boxes) text << "\n  [" << static_cast<int>(box.kind) << "] " << box.text;
  return boxes.empty() ? "(none)" : text.str();
}

// ---- Checks every run gets ----

std::string WithoutLeadingDot(const std::string& name) { return name.rfind('.', 0) == 0 ? name.substr(1) : name; }

// A grid row's object: its name joined with its context.
std::string RowObject(const std::vector<std::string>& row) {
  return WithoutLeadingDot(JoinContextName(row[2], row[1]));
}

// A failure may leave cells empty, never fill them with anything the path without the
// failure would not show: rows are objects the search found, names and contexts are the
// read ones, or the whole name with an empty context, or the first pass's split; value
// cells are the read text or empty; an error report lists only reports of that partition.
void CheckGrid(const GridCells& baseline, const GridCells& run, bool partitions) {
  const bool scanned = baseline.size() > 1 && !baseline[1][1].empty();
  if (!scanned) return;  // the path never fills this grid
  ASSERT_FALSE(run.empty());
  EXPECT_EQ(run[0], baseline[0]) << "header row";
  EXPECT_LE(run.size(), baseline.size());
  std::map<std::string, const std::vector<std::string>*> byObject;
  for (std::size_t row = 1; row < baseline.size(); ++row) byObject[RowObject(baseline[row])] = &baseline[row];
  if (partitions && baseline.size() > 1) {
    ASSERT_GE(run.size(), 2u) << "the [Root] row is always there";
    EXPECT_EQ(run[1][1], "[Root]");
  }
  for (std::size_t row = 1; row < run.size(); ++row) {
    const std::vector<std::string>& cells = run[row];
    ASSERT_EQ(cells.size(), baseline[0].size());
    const std::string object = RowObject(cells);
    auto found = byObject.find(object);
    ASSERT_NE(found, byObject.end()) << "row " << row << " shows an object never found: " << object;
    const std::vector<std::string>& before = *found->second;
    EXPECT_EQ(cells[0], Format("%d", static_cast<int>(row)));
    // Error reports stand only beside a transitive vector that could be read.
    if (partitions && cells[7].empty() && !before[7].empty()) {
      EXPECT_EQ(cells[8], "") << "row " << row;
    }
    const bool asRead = cells[1] == before[1] && cells[2] == before[2];
    const bool wholeName = cells[1] == object && cells[2].empty();
    const bool firstPass = cells[1] == KeepTextBefore(object, ".") && cells[2] == KeepTextAfter(object, ".");
    EXPECT_TRUE(asRead || wholeName || firstPass) << "row " << row << ": " << cells[1] << " | " << cells[2];
    for (std::size_t col = 3; col < cells.size(); ++col) {
      if (cells[col].empty() || cells[col] == before[col]) continue;
      if (partitions && col == 8) {
        // Replicas whose servers could not be asked are left out of the report.
        TextList lines;
        lines.SetText(cells[col]);
        for (int i = 0; i < lines.Count(); ++i)
          EXPECT_NE(before[col].find(lines[i]), std::string::npos) << "row " << row << ": " << lines[i];
        continue;
      }
      ADD_FAILURE() << "row " << row << " col " << col << " holds \"" << cells[col] << "\" instead of \""
                    << before[col] << "\" or nothing";
    }
  }
}

void CheckEveryRun(P path, const std::string& operation, const RunResult& baseline, const RunResult& run) {
  EXPECT_FALSE(run.modalLeftOpen) << "a modal dialog is still up";
  // After a scan the progress panel is empty, or says why the scan's reads failed.
  static const std::regex outcome(R"((Search failed|\d+ reads? failed): .+)");
  EXPECT_TRUE(run.progressText.empty() || std::regex_match(run.progressText, outcome))
      << "the progress of a finished scan is still shown: " << run.progressText;
  EXPECT_TRUE(run.cursorRestored) << "the hourglass stayed";
  EXPECT_FALSE(run.scanStillRunning);
  if (!ReleasesLibraryObjects(operation)) {
    EXPECT_LE(run.contextsWhileOpen, baseline.contextsWhileOpen) << "contexts left open";
    EXPECT_EQ(run.buffersWhileOpen, 0u) << "buffers left open";
    EXPECT_EQ(run.iterationsWhileOpen, 0u) << "iterations left open while the window is open";
    EXPECT_EQ(run.openContexts, 0u) << "contexts left open";
    EXPECT_EQ(run.openBuffers, 0u) << "buffers left open";
    EXPECT_EQ(run.openIterations, 0u) << "iterations left open";
  }
  for (const auto& [name, content] : run.files) {
    EXPECT_EQ(name.find(".tmp-"), std::string::npos) << "a temporary file is left: " << name;
  }
  for (const auto& [name, content] : run.settingsFiles) {
    EXPECT_TRUE(name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0) << "a temporary settings file is left: " << name;
  }
  // A scan enables its export button exactly when it found rows ("[Root]" is always one).
  if (IsServerScan(path)) {
    EXPECT_EQ(run.exportServersEnabled, DataRows(run.servers) > 0);
  }
  if (IsPartitionScan(path)) {
    EXPECT_TRUE(run.exportPartitionsEnabled);
  }
  {
    SCOPED_TRACE("servers grid");
    CheckGrid(baseline.servers, run.servers, false);
  }
  {
    SCOPED_TRACE("partitions grid");
    CheckGrid(baseline.partitions, run.partitions, true);
  }
  if (path == P::ServerDetails || path == P::PartitionDetails || IsOperationPath(path)) {
    // An opened view lists what could be read; one that closed again warned first.
    for (const std::string& item : run.dialogItems)
      EXPECT_NE(std::find(baseline.dialogItems.begin(), baseline.dialogItems.end(), item), baseline.dialogItems.end())
          << item;
    if (!run.dialogOpened) {
      EXPECT_TRUE(std::any_of(run.boxes.begin(), run.boxes.end(),
                              [](const RecordedBox& box) { return box.kind == DialogKind::Warning; }));
    }
  }
  if (!ExportTypeOf(path).empty()) {
    // The export reaches no library operation: the same documents, the same clipboard.
    EXPECT_EQ(run.files, baseline.files);
    EXPECT_EQ(run.clipboard, baseline.clipboard);
  }
  if (path == P::SettingsCloseAndReopen && run.trees == baseline.trees && !run.trees.empty()) {
    EXPECT_EQ(run.typeS, baseline.typeS);
    EXPECT_EQ(run.typeP, baseline.typeP);
    EXPECT_EQ(run.selectedTree, baseline.selectedTree);
  }
}

// ---- The sweep, one test per user path ----

class LibraryFailureSweep : public ::testing::TestWithParam<P> {};

std::uint64_t CallsOf(const RunResult& result, const std::string& operation) {
  auto found = result.calls.find(operation);
  return found == result.calls.end() ? 0 : found->second;
}

// Fails `operation` on `path` from its first call and from the middle of the path on.
void SweepOperation(P path, const std::string& operation, const RunResult& baseline, const std::string& failingFirst) {
  const std::uint64_t calls = CallsOf(baseline, operation);
  if (calls == 0) return;
  SCOPED_TRACE(operation + " failing on " + PathName(path));
  const Outcome* outcome = ExpectedOutcome(operation, path);
  const Boxes expected = outcome ? outcome->boxes(path, baseline) : baseline.boxes;

  const RunResult always = RunPath(path, {operation, kForcedCode, 0, failingFirst});
  EXPECT_EQ(always.boxes, expected) << "shown:" << Describe(always.boxes) << "\nexpected:" << Describe(expected);
  CheckEveryRun(path, operation, baseline, always);
  if (outcome) {
    SCOPED_TRACE(outcome->name);
    outcome->state(path, baseline, always);
  }

  if (calls < 2) return;
  SCOPED_TRACE("from call " + std::to_string(calls / 2 + 1) + " of " + std::to_string(calls) + " on");
  const RunResult midway = RunPath(path, {operation, kForcedCode, calls / 2, failingFirst});
  // Only boxes this failure (or the path itself) shows, no others.
  for (const RecordedBox& box : midway.boxes) {
    const bool known = std::find(expected.begin(), expected.end(), box) != expected.end() ||
                       std::find(baseline.boxes.begin(), baseline.boxes.end(), box) != baseline.boxes.end();
    EXPECT_TRUE(known) << "unexpected box: " << box.text;
  }
  CheckEveryRun(path, operation, baseline, midway);
}

TEST_P(LibraryFailureSweep, EveryOperationThePathReachesFails) {
  const P path = GetParam();
  const RunResult baseline = RunPath(path, {});
  for (const std::string& operation : DeclaredLibraryOperations()) SweepOperation(path, operation, baseline, "");
  // Operations the path reaches only once another operation has failed.
  for (const ReachedBehind& behind : kReachedBehind) {
    if (behind.path != path) continue;
    const RunResult failedFirst = RunPath(path, {behind.failingFirst, kForcedCode, behind.succeedingCallsFirst, ""});
    ASSERT_GT(CallsOf(failedFirst, behind.operation), 0u) << behind.operation << " behind " << behind.failingFirst;
    SweepOperation(path, behind.operation, failedFirst, behind.failingFirst);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, LibraryFailureSweep, ::testing::ValuesIn(AllUserPaths()),
                         [](const ::testing::TestParamInfo<P>& info) { return PathName(info.param); });

// ---- The matrix itself ----

TEST(LibraryFailureMatrix, CoversEveryDeclaredOperationAndNamesOnlyPairsThatHappen) {
  const std::vector<std::string> declared = DeclaredLibraryOperations();
  ASSERT_GE(declared.size(), 51u);  // the headers were read
  // The boxes name the error with its message.
  EXPECT_EQ(ErrorText(kForcedCode).rfind("0xFFFFFDA7 (", 0), 0u) << ErrorText(kForcedCode);
  std::map<P, RunResult> baselines;
  std::set<std::string> reached;
  for (P path : AllUserPaths()) {
    baselines[path] = RunPath(path, {});
    for (const auto& [operation, calls] : baselines[path].calls) reached.insert(operation);
  }
  for (const ReachedBehind& behind : kReachedBehind) reached.insert(behind.operation);

  // The matrix as this build runs it: each operation with the paths that reach it, and the
  // outcome expected where its failure shows.
  std::cout << "Library failure matrix (operation: path [outcome] ...):\n";
  for (const std::string& operation : declared) {
    std::cout << "  " << operation << ":";
    for (P path : AllUserPaths()) {
      if (CallsOf(baselines[path], operation) == 0) continue;
      const Outcome* outcome = ExpectedOutcome(operation, path);
      std::cout << " " << PathName(path) << (outcome ? " [" + outcome->name + "]" : "");
    }
    for (const ReachedBehind& behind : kReachedBehind)
      if (behind.operation == operation) std::cout << " " << PathName(behind.path) << " [behind " << behind.failingFirst << "]";
    if (kNeverCalledByTheWindow.count(operation)) std::cout << " (never called by the window)";
    std::cout << "\n";
  }

  for (const std::string& operation : declared) {
    const bool never =
        kNeverCalledByTheWindow.count(operation) > 0 || kRingChangesPressedElsewhere.count(operation) > 0;
    EXPECT_NE(reached.count(operation) > 0, never)
        << operation << (never ? " is reached now: sweep it (drop it from the never-called list)"
                               : " is reached by no user path of the sweep");
  }
  for (const Expectation& expectation : Matrix()) {
    EXPECT_NE(std::find(declared.begin(), declared.end(), expectation.operation), declared.end())
        << expectation.operation;
    for (P path : expectation.paths)
      EXPECT_GT(CallsOf(baselines[path], expectation.operation), 0u)
          << expectation.operation << " is not reached by " << PathName(path);
  }
  // The baselines themselves: a plain run shows only what the path is for.
  EXPECT_TRUE(baselines[P::StartUp].boxes.empty()) << Describe(baselines[P::StartUp].boxes);
  EXPECT_TRUE(baselines[P::ServerScan].boxes.empty());
  EXPECT_TRUE(baselines[P::PartitionScan].boxes.empty());
  EXPECT_TRUE(baselines[P::ServerDetails].dialogOpened);
  EXPECT_TRUE(baselines[P::PartitionDetails].dialogOpened);
  EXPECT_EQ(baselines[P::SettingsCloseAndReopen].typeS, "HTML");
  EXPECT_EQ(baselines[P::SettingsCloseAndReopen].typeP, "TXT");
  EXPECT_EQ(baselines[P::SettingsCloseAndReopen].selectedTree, "LAB_TREE");
  // Exports replace the older file of the same name and say so; a spreadsheet export
  // writes none and leaves the grid on the clipboard.
  for (P path : {P::ExportXml, P::ExportHtml, P::ExportTxt}) {
    const RunResult& run = baselines[path];
    Boxes saved;
    for (bool servers : {true, false}) {
      const std::string name = ExportFileName(path, servers);
      saved.push_back({DialogKind::Information, "Saved as " + name, DialogButtons::Ok});
      ASSERT_EQ(run.files.count(name), 1u) << name;
      EXPECT_NE(run.files.at(name), kOlderFileContent);
      EXPECT_NE(run.files.at(name).find(servers ? "FS1" : "Sales"), std::string::npos) << name;
    }
    EXPECT_EQ(run.boxes, saved);
    EXPECT_EQ(run.files.size(), 2u);
  }
  const RunResult& xls = baselines[P::ExportXls];
  EXPECT_EQ(xls.boxes, Boxes(2, RecordedBox{DialogKind::Plain,
                                            "Error saving to Excel (Invalid class string) - Results are in clipboard",
                                            DialogButtons::Ok}));
  for (bool servers : {true, false}) EXPECT_EQ(xls.files.at(ExportFileName(P::ExportXls, servers)), kOlderFileContent);
  EXPECT_NE(xls.clipboard.find("Sales"), std::string::npos);
}

}  // namespace
}  // namespace vestrel::sweep
