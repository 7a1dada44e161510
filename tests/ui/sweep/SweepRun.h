// One user path of the program, driven from a fresh start over the demo trees, with one
// client library operation made to fail while the path's own commands run. What the path
// left behind (boxes, grids, dialog, files, selections, library objects) comes back for
// the checks.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "RecordingUi.h"
#include "directory/NTypes.h"

namespace vestrel::sweep {

// Every way a user reaches the directory (and the export and settings paths, which
// must not reach it at all).
enum class UserPath {
  StartUp,           // creating and showing the main window
  CommandsAfterStartUp,  // a start-up, then both scans, the "[Root]" row's details and
                         // both exports as text, with the failure during the start-up only
  TreeChange,        // choosing the other tree
  ServerScan,        // "&Scan" on the servers page
  PartitionScan,     // "&Scan" on the partitions page
  LargeServerScan,     // the same on a tree whose search takes several steps
  LargePartitionScan,  //
  ServerDetails,     // double-click on a server row
  PartitionDetails,  // double-click on a partition row
  SyncSchema,
  SyncPartition,
  SendAllUpdates,
  ReceiveAllUpdates,
  SyncReplica,
  JoinPartitions,
  RemovePartition,
  RemoveReplica,
  RepairTimeStamps,
  ReloadDS,
  ExportXls,
  ExportXml,
  ExportHtml,
  ExportTxt,
  SettingsCloseAndReopen,
};

std::vector<UserPath> AllUserPaths();
std::string PathName(UserPath path);
// Test names and messages show the path by its name.
inline void PrintTo(UserPath path, std::ostream* out) { *out << PathName(path); }
bool IsServerScan(UserPath path);
bool IsPartitionScan(UserPath path);
// The details dialog's operation paths: one library call behind one button.
bool IsOperationPath(UserPath path);
// The operation's library call, whether it asks "Are you sure?" first and whether a
// success closes the dialog.
struct OperationButton {
  const char* libraryCall;
  bool confirmed;
  bool closesOnSuccess;
};
OperationButton ButtonOf(UserPath path);
// The export type of an export path ("" for other paths).
std::string ExportTypeOf(UserPath path);

// The failure forced on one operation: the first `afterCalls` calls of the path's own
// commands still succeed, every later one fails with `code`. No operation = no failure.
// `alsoFailing` fails on every call as well: an operation some paths reach only when
// another one has failed.
struct ForcedFailure {
  std::string operation;
  NWRCODE code = 0;
  std::uint64_t afterCalls = 0;
  std::string alsoFailing;
  std::int64_t times = -1;  // calls that fail once the failures start (-1 = all)
  // Export files cannot grow beyond this many bytes while the export runs (the disk is
  // full); -1 = no limit.
  long exportWriteLimit = -1;
  // The same for the settings file while the window closes on the settings path; the
  // settings file then exists already (an earlier close wrote it).
  long settingsWriteLimit = -1;
};

using GridCells = std::vector<std::vector<std::string>>;  // [row][col]

struct RunResult {
  std::vector<testing::RecordedBox> boxes;  // every box from the failure's start on
  std::map<std::string, std::uint64_t> calls;  // library calls of the path's commands, by operation

  // Main window after the path (for the settings path: the reopened window).
  std::vector<std::string> trees;
  std::string selectedTree;
  std::string editMyName;
  std::string typeS, typeP;
  GridCells servers, partitions;
  bool exportServersEnabled = false;
  bool exportPartitionsEnabled = false;
  std::string progressText;  // the status bar's progress panel

  // Details dialog (details and operation paths).
  bool dialogOpened = false;           // the dialog was up once its opening was over
  bool dialogOpenAfterCommand = false;  // still up after the operation's button
  std::vector<std::string> dialogItems;  // the list of the opened view
  NWRCODE dialogLastError = 0;

  // The current folder (export folder): every file with its content, hidden ones included.
  std::map<std::string, std::string> files;
  std::string clipboard;
  // The settings folder after the path: every file with its content.
  std::map<std::string, std::string> settingsFiles;

  // Left over after the path, while the window is still open.
  bool cursorRestored = true;
  bool scanStillRunning = false;
  bool modalLeftOpen = false;
  // Library objects open after the path, while the window is still open (its own context
  // among them), and still open once the window is closed.
  std::size_t contextsWhileOpen = 0, buffersWhileOpen = 0, iterationsWhileOpen = 0;
  std::size_t openContexts = 0, openBuffers = 0, openIterations = 0;
};

// Runs the path from a fresh program start; the whole run is bounded by `limit`.
RunResult RunPath(UserPath path, const ForcedFailure& failure,
                  std::chrono::seconds limit = std::chrono::seconds(60));

// The operations the client library declares (directory/calwin32.h, clxwin32.h, NETWIN32.h),
// in the order of the headers.
std::vector<std::string> DeclaredLibraryOperations();

// Contents the export writes before any file is there: a test can tell a replaced file
// from one left alone.
inline constexpr const char* kOlderFileContent = "older export\r\n";
// Last rows of the large tree's scans, whose values travel in several read replies.
inline constexpr const char* kLastLargeServer = "SRV99.Servers.BENCH";
inline constexpr const char* kLastLargePartition = "OU99.BENCH";

// The file an export path writes for a page.
std::string ExportFileName(UserPath path, bool serversPage);

}  // namespace vestrel::sweep
