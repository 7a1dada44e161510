#include "SweepRun.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/resource.h>

#include "TempConfigHome.h"
#include "app/Vestrel_data.h"
#include "app/Vestrel_main.h"
#include "details/Vestrel_detail.h"
#include "directory/D_NW.h"
#include "export/Clipboard.h"
#include "export/GridWriters.h"
#include "platform/nwclient/NwTestHooks.h"
#include "scan/ScanSteps.h"

namespace vestrel::sweep {

namespace {

constexpr nuint32 kClock = 1714982400;  // 2024-05-06 08:00:00 UTC

// More servers and partitions than one search step returns (50), so searches continue
// over several steps; the last server's "Version" and the last partition's "Purge Vector"
// need several read replies.
const std::string& LargeTreeJson() {
  static const std::string json = [] {
    nwtest::TreeShape shape;
    shape.treeName = "BIG_TREE";
    shape.servers = 120;
    shape.partitions = 110;
    shape.objectsPerPartition = 1;
    nlohmann::json tree = nlohmann::json::parse(nwtest::GenerateTreeJson(shape));
    nlohmann::json versions = nlohmann::json::array();
    for (char letter : {'a', 'b', 'c'}) versions.push_back(std::string(40000, letter));
    tree["objects"].push_back({{"name", kLastLargeServer}, {"class", "NCP Server"}, {"attributes", {{"Version", versions}}}});
    nlohmann::json purge = nlohmann::json::array();
    for (int i = 0; i < 6000; ++i) purge.push_back({{"seconds", 1714000000 + i}, {"replica", 1}, {"event", i}});
    for (nlohmann::json& object : tree["objects"])
      if (object["name"] == kLastLargePartition) object["attributes"] = {{"Purge Vector", purge}};
    return tree.dump();
  }();
  return json;
}

// Ends the test program when a run does not come back in time: a hang is a finding, and
// nothing after it could be trusted.
class Watchdog {
 public:
  Watchdog(std::string what, std::chrono::seconds limit)
      : thread_([this, what = std::move(what), limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!finished_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "\nsweep: %s did not finish within %lld s\n", what.c_str(),
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    finished_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
  std::thread thread_;  // last: it starts once the rest is there
};

std::vector<std::string> Items(const QListWidget& list) {
  std::vector<std::string> items;
  for (int i = 0; i < list.count(); ++i) items.push_back(list.item(i)->text().toStdString());
  return items;
}

GridCells Cells(const StringGrid& grid) {
  GridCells cells(grid.RowCount());
  for (int row = 0; row < grid.RowCount(); ++row)
    for (int col = 0; col < grid.ColCount(); ++col) cells[row].push_back(grid.Cell(col, row));
  return cells;
}

int RowNamed(const StringGrid& grid, const std::string& name) {
  for (int row = 1; row < grid.RowCount(); ++row)
    if (grid.Cell(1, row) == name) return row;
  return -1;
}

bool Choose(QListWidget& list, const std::string& prefix) {
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->text().toStdString().rfind(prefix, 0) == 0) {
      list.setCurrentRow(i);
      return true;
    }
  }
  return false;
}

std::string ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

void WriteFile(const std::string& name, const std::string& content) {
  std::ofstream(name, std::ios::binary) << content;
}

// Files of the process cannot grow beyond `bytes` while it lives (-1 = no change); a write
// past it fails instead of stopping the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(long bytes) : active_(bytes >= 0) {
    if (!active_) return;
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    if (!active_) return;
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  bool active_;
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

// One run of the program: its own settings folder, current folder, user interface and
// trees; the main window with its two dialogs as main() makes them.
class ProgramRun {
 public:
  explicit ProgramRun(const ForcedFailure& failure) : failure_(failure) {
    savedFolder_ = QDir::currentPath();
    QDir::setCurrent(work_.path());
    nwtest::Reset();
    EXPECT_EQ(nwtest::ConnectTreeFile(std::string(VESTREL_TEST_TREES) + "/acme.json", "admin.ACME", true), "");
    EXPECT_EQ(nwtest::ConnectTreeFile(std::string(VESTREL_TEST_TREES) + "/lab.json", "admin.LAB", false), "");
    EXPECT_EQ(nwtest::ConnectTreeJson(LargeTreeJson(), "admin.BENCH", false), "");
    nwtest::SetClock(kClock);
    Clipboard().SetText("");
    // The XML table line carries the export time: every run's document is the same.
    savedWriterClock_ = SetWriterClock([] { return LocalDateTime{2024, 5, 6, 10, 0, 0}; });
  }
  ~ProgramRun() {
    nwtest::ClearFailures();
    if (form_) Close();
    SetWriterClock(savedWriterClock_);
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
    QDir::setCurrent(savedFolder_);
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // A program start: nothing of an earlier run's session is left.
  void Start() {
    ClientConnection = kNoClientConnection;
    MainContext = 0;
    LastDSError = 0;
    form_ = std::make_unique<TMainForm>();
    MainForm = form_.get();
    DlgDetails = new TDlgDetails(form_.get());
    OKBottomDlg = new TOKBottomDlg(form_.get());
    form_->show();
    QCoreApplication::processEvents();
  }
  const std::string& SettingsFolder() const { return config_.Path(); }
  void Close() {
    form_->close();
    QCoreApplication::processEvents();
    DlgDetails = nullptr;
    OKBottomDlg = nullptr;
    MainForm = nullptr;
    form_.reset();
  }
  TMainForm& Form() { return *form_; }
  const ForcedFailure& Failure() const { return failure_; }

  // From here on the path's own commands run: calls are counted and the failure applies.
  void Arm() {
    nwtest::ResetCallCounts();
    nwtest::ClearFailures();
    ui.boxes.clear();
    if (!failure_.alsoFailing.empty()) nwtest::FailOperation(failure_.alsoFailing, failure_.code);
    if (!failure_.operation.empty())
      nwtest::FailOperation(failure_.operation, failure_.code, failure_.afterCalls, failure_.times);
    armed_ = true;
    armedOnce_ = true;
  }
  void Disarm(RunResult& result) {
    if (!armed_) return;
    for (const std::string& operation : DeclaredLibraryOperations()) {
      if (const std::uint64_t calls = nwtest::CallCount(operation)) result.calls[operation] = calls;
    }
    nwtest::ClearFailures();
    armed_ = false;
  }
  bool WasArmed() const { return armedOnce_; }

  void Scan(bool servers) {
    Form().PageControl->setCurrentWidget(servers ? Form().TabSheetServers : Form().TabSheetPart);
    (servers ? Form().BitBtnSrv : Form().BitBtnPart)->click();
  }

  // Double-clicks the name cell of the row; `inside` runs while the details dialog it
  // opened is up (not at all when the opening closed it again), then the dialog is closed.
  void DoubleClick(bool serversGrid, const std::string& rowName, RunResult& result,
                   const std::function<void(TDlgDetails&)>& inside) {
    StringGridView* view = serversGrid ? Form().StringGridSrv : Form().StringGridPart;
    const int row = RowNamed(view->Grid(), rowName);
    ASSERT_GE(row, 1) << "no row " << rowName;
    view->SetCurrentCell(1, row);
    QObject scope;  // a callback that never ran dies with it
    QTimer::singleShot(0, &scope, [&] {
      QCoreApplication::processEvents();  // a close requested by the opening comes first
      TDlgDetails& dialog = *DlgDetails;
      if (!dialog.isVisible()) return;
      result.dialogOpened = true;
      if (inside) inside(dialog);
      if (dialog.isVisible()) dialog.reject();
    });
    Form().StringGridDblClick(view);
    TDlgDetails& dialog = *DlgDetails;
    result.dialogItems = Items(dialog.ServerList->Count() == 1 ? *dialog.ListBoxSrvPart : *dialog.ListBoxPartServers);
    result.dialogLastError = dialog.LastError;
  }

  testing::RecordingUi ui;

 private:
  ForcedFailure failure_;
  testing::TempConfigHome config_;
  QTemporaryDir work_;
  QString savedFolder_;
  std::unique_ptr<TMainForm> form_;
  LocalClock savedWriterClock_;
  bool armed_ = false;
  bool armedOnce_ = false;
};

// The button of an operation path in the view the path opens.
QPushButton* OperationButtonIn(TDlgDetails& dialog, UserPath path) {
  switch (path) {
    case UserPath::SyncSchema: return dialog.BitBtnSyncSchema;
    case UserPath::SyncPartition: return dialog.BitBtnSyncPart;
    case UserPath::SendAllUpdates: return dialog.BitBtnPartSendAll;
    case UserPath::ReceiveAllUpdates: return dialog.BitBtnPartRcvAll;
    case UserPath::ReloadDS: return dialog.BitBtnReloadDS;
    // The partition view's twins.
    case UserPath::JoinPartitions: return dialog.BitBtnPartJoin2;
    case UserPath::RemovePartition: return dialog.BitBtnPartDel2;
    case UserPath::RemoveReplica: return dialog.BitBtnReplicaDel2;
    case UserPath::RepairTimeStamps: return dialog.BitBtnRepairTimeStamps2;
    case UserPath::SyncReplica: return dialog.BitBtnSyncReplica;
    default: return nullptr;
  }
}

// Server view of FS1 with Sales.ACME chosen; partition view of Sales.ACME with FS1 chosen;
// the replica page of Berlin.Sales.ACME from SALES-FS1 to BER-FS1.
void RunOperation(ProgramRun& run, UserPath path, RunResult& result) {
  run.Scan(true);
  run.Scan(false);
  const bool serverView = path == UserPath::SyncSchema || path == UserPath::SyncPartition ||
                          path == UserPath::SendAllUpdates || path == UserPath::ReceiveAllUpdates ||
                          path == UserPath::ReloadDS;
  const std::string rowName = serverView ? "FS1" : path == UserPath::SyncReplica ? "Berlin" : "Sales";
  run.DoubleClick(serverView, rowName, result, [&](TDlgDetails& dialog) {
    if (serverView) {
      if (path != UserPath::SyncSchema && path != UserPath::ReloadDS) {
        ASSERT_TRUE(Choose(*dialog.ListBoxSrvPart, "Sales.ACME"));
      }
    } else if (path == UserPath::SyncReplica) {
      ASSERT_TRUE(Choose(*dialog.ListBoxPartServers, "SALES-FS1"));
      ASSERT_TRUE(Choose(*dialog.ListBoxServer2, "BER-FS1"));
    } else {
      ASSERT_TRUE(Choose(*dialog.ListBoxPartServers, "FS1.HQ"));
    }
    QPushButton* button = OperationButtonIn(dialog, path);
    ASSERT_TRUE(button->isEnabled()) << PathName(path);
    // No operation changes the dialog's lists or what is chosen in them.
    auto selection = [&dialog] {
      return std::vector<std::string>{dialog.ServerName, dialog.PartitionName, dialog.SourceServer, dialog.TargetServer};
    };
    auto lists = [&dialog] {
      std::vector<std::vector<std::string>> items;
      for (QListWidget* list : {dialog.ListBoxSrvPart, dialog.ListBoxPartServers, dialog.ListBoxServer1, dialog.ListBoxServer2})
        items.push_back(Items(*list));
      return items;
    };
    const auto listsBefore = lists();
    const std::vector<std::string> chosenBefore = selection();
    run.Arm();
    button->click();
    run.Disarm(result);
    result.dialogOpenAfterCommand = dialog.isVisible();
    EXPECT_EQ(lists(), listsBefore);
    EXPECT_EQ(selection(), chosenBefore);
  });
}

void RunExport(ProgramRun& run, UserPath path, RunResult& result) {
  run.Scan(true);
  run.Scan(false);
  const std::string type = ExportTypeOf(path);
  for (bool servers : {true, false}) WriteFile(ExportFileName(path, servers), kOlderFileContent);
  run.Arm();
  FileSizeLimit limit(run.Failure().exportWriteLimit);
  for (bool servers : {true, false}) {
    QComboBox* types = servers ? run.Form().ComboBoxTypeS : run.Form().ComboBoxTypeP;
    types->setCurrentIndex(types->findText(QString::fromStdString(type)));
    QPushButton* button = servers ? run.Form().BitBtnExpSrv : run.Form().BitBtnExpPart;
    ASSERT_TRUE(button->isEnabled());
    button->click();
  }
  run.Disarm(result);
}

void ChooseType(QComboBox& types, const char* type) { types.setCurrentIndex(types.findText(QString::fromLatin1(type))); }

void RunSettings(ProgramRun& run, RunResult& result) {
  ChooseType(*run.Form().ComboBoxTypeS, "HTML");
  ChooseType(*run.Form().ComboBoxTypeP, "TXT");
  QComboBox& trees = *run.Form().ComboBoxTrees;
  trees.setCurrentIndex(trees.findText("LAB_TREE"));
  run.Form().ChangeTree();
  const long limit = run.Failure().settingsWriteLimit;
  if (limit >= 0) {
    // These selections are kept; the next ones cannot be.
    run.Close();
    run.Start();
    ChooseType(*run.Form().ComboBoxTypeS, "XML");
    ChooseType(*run.Form().ComboBoxTypeP, "XML");
  }
  run.Arm();
  {
    FileSizeLimit diskFull(limit);
    run.Close();
  }
  run.Start();  // the next program start
  run.Disarm(result);
}

// What a user does next in the window, whatever the start-up left: scans, the details of
// the partition grid's first row ("[Root]", always there), the text exports of both pages
// whose button is enabled.
void RunCommandsAfterStartUp(ProgramRun& run, RunResult& result) {
  run.Scan(true);
  run.Scan(false);
  run.DoubleClick(false, "[Root]", result, {});
  TMainForm& form = run.Form();
  for (QComboBox* types : {form.ComboBoxTypeS, form.ComboBoxTypeP}) types->setCurrentIndex(types->findText("TXT"));
  for (QPushButton* button : {form.BitBtnExpSrv, form.BitBtnExpPart})
    if (button->isEnabled()) button->click();
}

void RunCommands(ProgramRun& run, UserPath path, RunResult& result) {
  switch (path) {
    case UserPath::StartUp:
      run.Arm();
      run.Start();
      break;
    case UserPath::CommandsAfterStartUp:
      run.Arm();
      run.Start();
      run.Disarm(result);
      RunCommandsAfterStartUp(run, result);
      break;
    case UserPath::TreeChange: {
      run.Start();
      QComboBox& trees = *run.Form().ComboBoxTrees;
      trees.setCurrentIndex(trees.findText("LAB_TREE"));
      run.Arm();
      run.Form().ChangeTree();
      break;
    }
    case UserPath::ServerScan:
    case UserPath::PartitionScan:
      run.Start();
      run.Arm();
      run.Scan(IsServerScan(path));
      break;
    case UserPath::LargeServerScan:
    case UserPath::LargePartitionScan: {
      run.Start();
      QComboBox& trees = *run.Form().ComboBoxTrees;
      trees.setCurrentIndex(trees.findText("BIG_TREE"));
      run.Form().ChangeTree();
      run.Arm();
      run.Scan(IsServerScan(path));
      break;
    }
    case UserPath::ServerDetails:
    case UserPath::PartitionDetails: {
      run.Start();
      const bool servers = path == UserPath::ServerDetails;
      run.Scan(servers);
      run.Arm();
      run.DoubleClick(servers, servers ? "FS1" : "Sales", result, {});
      break;
    }
    case UserPath::ExportXls:
    case UserPath::ExportXml:
    case UserPath::ExportHtml:
    case UserPath::ExportTxt:
      run.Start();
      RunExport(run, path, result);
      break;
    case UserPath::SettingsCloseAndReopen:
      run.Start();
      RunSettings(run, result);
      break;
    default:
      run.Start();
      RunOperation(run, path, result);
      break;
  }
  run.Disarm(result);
  if (run.WasArmed()) result.boxes = run.ui.boxes;
}

void TakeWindowState(TMainForm& form, RunResult& result) {
  for (int i = 0; i < form.ComboBoxTrees->count(); ++i) result.trees.push_back(form.ComboBoxTrees->itemText(i).toStdString());
  result.selectedTree = form.ComboBoxTrees->currentText().toStdString();
  result.editMyName = form.EditMyName->text().toStdString();
  result.typeS = form.ComboBoxTypeS->currentText().toStdString();
  result.typeP = form.ComboBoxTypeP->currentText().toStdString();
  result.servers = Cells(form.StringGridSrv->Grid());
  result.partitions = Cells(form.StringGridPart->Grid());
  result.exportServersEnabled = form.BitBtnExpSrv->isEnabled();
  result.exportPartitionsEnabled = form.BitBtnExpPart->isEnabled();
  result.progressText = form.StatusBar1->PanelText(kProgressPanel);
}

std::map<std::string, std::string> FilesIn(const QString& path) {
  std::map<std::string, std::string> files;
  const QDir folder(path);
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
    files[name.toStdString()] = ReadFile(folder.filePath(name));
  return files;
}

}  // namespace

std::vector<UserPath> AllUserPaths() {
  std::vector<UserPath> paths;
  for (int p = static_cast<int>(UserPath::StartUp); p <= static_cast<int>(UserPath::SettingsCloseAndReopen); ++p)
    paths.push_back(static_cast<UserPath>(p));
  return paths;
}

std::string PathName(UserPath path) {
  switch (path) {
    case UserPath::StartUp: return "StartUp";
    case UserPath::CommandsAfterStartUp: return "CommandsAfterStartUp";
    case UserPath::TreeChange: return "TreeChange";
    case UserPath::ServerScan: return "ServerScan";
    case UserPath::PartitionScan: return "PartitionScan";
    case UserPath::LargeServerScan: return "LargeServerScan";
    case UserPath::LargePartitionScan: return "LargePartitionScan";
    case UserPath::ServerDetails: return "ServerDetails";
    case UserPath::PartitionDetails: return "PartitionDetails";
    case UserPath::SyncSchema: return "SyncSchema";
    case UserPath::SyncPartition: return "SyncPartition";
    case UserPath::SendAllUpdates: return "SendAllUpdates";
    case UserPath::ReceiveAllUpdates: return "ReceiveAllUpdates";
    case UserPath::SyncReplica: return "SyncReplica";
    case UserPath::JoinPartitions: return "JoinPartitions";
    case UserPath::RemovePartition: return "RemovePartition";
    case UserPath::RemoveReplica: return "RemoveReplica";
    case UserPath::RepairTimeStamps: return "RepairTimeStamps";
    case UserPath::ReloadDS: return "ReloadDS";
    case UserPath::ExportXls: return "ExportXls";
    case UserPath::ExportXml: return "ExportXml";
    case UserPath::ExportHtml: return "ExportHtml";
    case UserPath::ExportTxt: return "ExportTxt";
    case UserPath::SettingsCloseAndReopen: return "SettingsCloseAndReopen";
  }
  return "?";
}

bool IsServerScan(UserPath path) { return path == UserPath::ServerScan || path == UserPath::LargeServerScan; }

bool IsPartitionScan(UserPath path) { return path == UserPath::PartitionScan || path == UserPath::LargePartitionScan; }

bool IsOperationPath(UserPath path) { return *ButtonOf(path).libraryCall != '\0'; }

OperationButton ButtonOf(UserPath path) {
  switch (path) {
    case UserPath::SyncSchema: return {"NWDSSyncSchema", false, false};
    case UserPath::SyncPartition: return {"NWDSSyncPartition", false, false};
    case UserPath::SendAllUpdates: return {"NWDSPartitionSendAllUpdates", false, false};
    case UserPath::ReceiveAllUpdates: return {"NWDSPartitionReceiveAllUpdates", false, false};
    case UserPath::SyncReplica: return {"NWDSSyncReplicaToServer", false, false};
    case UserPath::JoinPartitions: return {"NWDSJoinPartitions", true, true};
    case UserPath::RemovePartition: return {"NWDSRemovePartition", true, true};
    case UserPath::RemoveReplica: return {"NWDSRemoveReplica", true, true};
    case UserPath::RepairTimeStamps: return {"NWDSRepairTimeStamps", true, false};
    case UserPath::ReloadDS: return {"NWDSReloadDS", true, true};
    default: return {"", false, false};
  }
}

std::string ExportTypeOf(UserPath path) {
  switch (path) {
    case UserPath::ExportXls: return "XLS";
    case UserPath::ExportXml: return "XML";
    case UserPath::ExportHtml: return "HTML";
    case UserPath::ExportTxt: return "TXT";
    default: return "";
  }
}

std::string ExportFileName(UserPath path, bool serversPage) {
  return std::string("ACME_TREE") + (serversPage ? "_Servers." : "_Partition.") + ExportTypeOf(path);
}

RunResult RunPath(UserPath path, const ForcedFailure& failure, std::chrono::seconds limit) {
  std::string what = PathName(path) + " with " + (failure.operation.empty() ? "no failure" : failure.operation + " failing");
  if (!failure.alsoFailing.empty()) what += " and " + failure.alsoFailing + " failing";
  Watchdog watchdog(what, limit);
  RunResult result;
  ProgramRun run(failure);
  RunCommands(run, path, result);
  TMainForm& form = run.Form();
  TakeWindowState(form, result);
  result.files = FilesIn(QDir::currentPath());
  result.settingsFiles = FilesIn(QString::fromStdString(run.SettingsFolder()));
  result.clipboard = Clipboard().Text();
  result.cursorRestored = run.ui.Cursor() == CursorKind::Default;
  result.scanStillRunning = ScanRunning();
  result.modalLeftOpen = QApplication::activeModalWidget() != nullptr;
  result.contextsWhileOpen = nwtest::OpenContexts();
  result.buffersWhileOpen = nwtest::OpenBuffers();
  result.iterationsWhileOpen = nwtest::OpenIterations();
  run.Close();
  result.openContexts = nwtest::OpenContexts();
  result.openBuffers = nwtest::OpenBuffers();
  result.openIterations = nwtest::OpenIterations();
  return result;
}

std::vector<std::string> DeclaredLibraryOperations() {
  static const std::vector<std::string> operations = [] {
    std::vector<std::string> names;
    // A declaration starts a line with the result type and the operation's name.
    const std::regex declaration(R"(^\s*(NWRCODE|NWDSContextHandle)\s+(\w+)\s*\()");
    for (const char* header : {"calwin32.h", "clxwin32.h", "NETWIN32.h"}) {
      std::ifstream file(std::string(VESTREL_SOURCE_DIR) + "/directory/" + header);
      EXPECT_TRUE(file.good()) << header;
      std::string line;
      std::smatch match;
      while (std::getline(file, line))
        if (std::regex_search(line, match, declaration)) names.push_back(match[2]);
    }
    return names;
  }();
  return operations;
}

}  // namespace vestrel::sweep
