#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ExportTestSupport.h"
#include "RecordingUi.h"
#include "export/Automation.h"
#include "export/Clipboard.h"
#include "export/ExportTargets.h"
#include "export/GridWriters.h"

namespace vestrel {
namespace {

using testing::ReadFile;
using testing::RecordedBox;
using testing::RecordingUi;
using testing::SampleServerGrid;
using testing::ScratchFolder;
using testing::WriteFile;

// ---- An automation server that records every call ----

class RecordingAutomation;

class RecordedObject : public AutomationObject {
 public:
  RecordedObject(RecordingAutomation& server, std::string name) : server_(server), name_(std::move(name)) {}
  ~RecordedObject() override;
  std::shared_ptr<AutomationObject> Invoke(const std::string& member, InvokeKind kind, const AutomationArgs& args) override;

 private:
  RecordingAutomation& server_;
  std::string name_;
};

std::string ArgText(const AutomationArg& arg) {
  if (std::holds_alternative<OmittedArg>(arg)) return "<omitted>";
  if (const bool* flag = std::get_if<bool>(&arg)) return *flag ? "true" : "false";
  return "'" + std::get<std::string>(arg) + "'";
}

// Calls are recorded as "object.Member kind(args)"; a call to a member named in failures
// throws that message.
class RecordingAutomation : public AutomationServer {
 public:
  RecordingAutomation() { InstallAutomationServer(this); }
  ~RecordingAutomation() override { InstallAutomationServer(nullptr); }

  void InitializeThread() override { calls.push_back("init"); }
  std::shared_ptr<AutomationObject> CreateObject(const std::string& className) override {
    calls.push_back("create " + className);
    FailIfAsked(className);
    ++liveObjects;
    return std::make_shared<RecordedObject>(*this, "app");
  }

  std::shared_ptr<AutomationObject> Record(const std::string& object, const std::string& member, InvokeKind kind,
                                           const AutomationArgs& args) {
    std::string call = object + "." + member + (kind == InvokeKind::Method ? " call(" : kind == InvokeKind::PropertyGet ? " get(" : " put(");
    for (std::size_t i = 0; i < args.size(); ++i) call += (i ? ", " : "") + ArgText(args[i]);
    calls.push_back(call + ")");
    // The n-th time a member is asked for may fail.
    FailIfAsked(member + "#" + std::to_string(++uses_[member]));
    FailIfAsked(member);
    return kind == InvokeKind::PropertyGet ? std::make_shared<RecordedObject>(*this, member) : nullptr;
  }

  void FailIfAsked(const std::string& what) {
    const auto failure = failures.find(what);
    if (failure != failures.end()) throw AutomationError(failure->second);
  }

  std::map<std::string, std::string> failures;  // member or class (or "member#n") -> message
  std::vector<std::string> calls;
  int liveObjects = 0;

 private:
  std::map<std::string, int> uses_;
};

RecordedObject::~RecordedObject() { --server_.liveObjects; }

std::shared_ptr<AutomationObject> RecordedObject::Invoke(const std::string& member, InvokeKind kind,
                                                         const AutomationArgs& args) {
  auto result = server_.Record(name_, member, kind, args);
  if (result) ++server_.liveObjects;
  return result;
}

class ClipboardFixture : public ::testing::Test {
 protected:
  ClipboardFixture() { InstallClipboard(&clipboard); }
  ~ClipboardFixture() override { InstallClipboard(nullptr); }
  MemoryClipboard clipboard;
  RecordingUi ui;
};

const std::vector<std::string> kExcelCalls{"init",
                                           "create Excel.Application",
                                           "app.Visible put(true)",
                                           "app.Workbooks get()",
                                           "Workbooks.Add call()",
                                           "app.ActiveSheet get()",
                                           "ActiveSheet.Paste call()",
                                           "app.Cells get()",
                                           "Cells.Select call()",
                                           "app.Selection get()",
                                           "Selection.Columns get()",
                                           "Columns.AutoFit call()",
                                           "app.Selection get()",
                                           "Selection.Rows get()",
                                           "Rows.AutoFit call()"};

const std::vector<std::string> kQuattroProCalls{"init",
                                                "create QuattroPro.PerfectScript",
                                                "app.FileNew call()",
                                                "app.SelectBlock call('A:A1')",
                                                "app.EditPaste call(<omitted>)",
                                                "app.SelectBlock call('A:')",
                                                "app.Setproperty call('Font.Point_Size', '8')",
                                                "app.Setproperty call('Column_Width', 'Auto Width;;1')",
                                                "app.SelectBlock call('A:A1')"};

// ---- Kinds ----

TEST(ExportKinds, TypeWordsSelectTheirKinds) {
  EXPECT_EQ(ExportKindOf("html"), ekHtml);
  EXPECT_EQ(ExportKindOf("Xml"), ekXml);
  EXPECT_EQ(ExportKindOf("csv"), ekText);
  EXPECT_EQ(ExportKindOf("doc"), ekText);
  EXPECT_EQ(ExportKindOf("ascii"), ekText);
  EXPECT_EQ(ExportKindOf("wb3"), ekQuattroPro);
  EXPECT_EQ(ExportKindOf("excel"), ekExcel);
  EXPECT_EQ(ExportKindOf("clipboard"), ekClipboard);
  EXPECT_EQ(ExportKindOf("xlsx"), ekNone);
  EXPECT_EQ(ExportKindOf(" .htm"), ekNone);  // trimming is the dispatcher's
  EXPECT_EQ(static_cast<int>(ekClipboard), 6);
}

// ---- Dispatching to files ----

class ExportToFiles : public ClipboardFixture {
 protected:
  ScratchFolder folder;
  testing::FixedWriterClock clock;
  StringGrid grid = SampleServerGrid();
};

TEST_F(ExportToFiles, TrimmedTypeWordsAndExtensionsChooseTheFormat) {
  EXPECT_EQ(ExportGrid(&grid, " .htm", "a.out", "\t", ""), ExportResult::FileWritten);
  EXPECT_EQ(ReadFile("a.out"), GridToHtml(grid));
  EXPECT_EQ(ExportGrid(&grid, "", "report.htm", "\t", ""), ExportResult::FileWritten);
  EXPECT_EQ(ReadFile("report.htm"), GridToHtml(grid));
  EXPECT_EQ(ExportGridToFile(grid, "XML", "t.xml"), ExportResult::FileWritten);
  EXPECT_EQ(ReadFile("t.xml"), GridToXml(grid));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(clipboard.Text(), "");  // file kinds leave the clipboard alone
}

TEST_F(ExportToFiles, TextFilesUseCommasOnlyForCsvNames) {
  ASSERT_EQ(ExportGridToFile(grid, "TXT", "grid.CSV"), ExportResult::FileWritten);
  // The line break inside the quoted value becomes CR LF in the file.
  EXPECT_EQ(ReadFile("grid.CSV"), ",Server,Network Address\r\n1,FS1,\"10.1.1.9\r\n10.1.1.5\"\r\n2,A&B,\r\n");
  ASSERT_EQ(ExportGridToFile(grid, "TXT", "MYTREE_Servers.TXT"), ExportResult::FileWritten);
  EXPECT_EQ(ReadFile("MYTREE_Servers.TXT"), "\tServer\tNetwork Address\r\n1\tFS1\t\"10.1.1.9\r\n10.1.1.5\"\r\n2\tA&B\t\r\n");
}

TEST_F(ExportToFiles, UnknownTypesAndBadNamesWriteNothing) {
  EXPECT_EQ(ExportGridToFile(grid, "xlsx", "t.xlsx"), ExportResult::NothingDone);
  EXPECT_EQ(ExportGridToFile(grid, "TXT", "ab"), ExportResult::NothingDone);
  EXPECT_EQ(ExportGridToFile(grid, "TXT", "../escape.txt"), ExportResult::NothingDone);
  EXPECT_EQ(ExportGridToFile(grid, "TXT", "sub/x.txt"), ExportResult::NothingDone);
  EXPECT_EQ(ExportGridToFile(grid, "TXT", std::string("a\0b.txt", 7)), ExportResult::NothingDone);
  EXPECT_EQ(ExportGrid(nullptr, "TXT", "t.txt", "\t", ""), ExportResult::NothingDone);
  const std::vector<RecordedBox> expected{{DialogKind::Error, "Invalid target", DialogButtons::Ok},
                                          {DialogKind::Error, "Invalid target path", DialogButtons::Ok},
                                          {DialogKind::Error, "Invalid target path", DialogButtons::Ok},
                                          {DialogKind::Error, "Invalid target path", DialogButtons::Ok},
                                          {DialogKind::Error, "Invalid target path", DialogButtons::Ok}};
  EXPECT_EQ(ui.boxes, expected);
  EXPECT_EQ(folder.Listing(), "");

  EXPECT_EQ(ExportGridToFile(grid, "TXT", "a.x"), ExportResult::FileWritten);  // 3 characters pass
  EXPECT_EQ(folder.Listing(), "a.x");
}

TEST_F(ExportToFiles, ExportingTwiceReplacesTheFile) {
  WriteFile("t.txt", std::string(10000, 'x'));
  ASSERT_EQ(ExportGridToFile(grid, "TXT", "t.txt"), ExportResult::FileWritten);
  ASSERT_EQ(ExportGridToFile(grid, "TXT", "t.txt"), ExportResult::FileWritten);
  EXPECT_EQ(ReadFile("t.txt"), WithCrLfLines(GridToText(grid, "\t", "")));
  EXPECT_EQ(folder.Listing(), "t.txt");
}

TEST_F(ExportToFiles, AFileThatCannotBeCreatedIsReportedAndTheOldOneKept) {
  std::filesystem::create_directory("taken.txt");  // a folder cannot be replaced by a file
  EXPECT_EQ(ExportGridToFile(grid, "TXT", "taken.txt"), ExportResult::NothingDone);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0], (RecordedBox{DialogKind::Error, "Cannot create file taken.txt", DialogButtons::Ok}));
  EXPECT_EQ(folder.Listing(), "taken.txt");  // no temporary file left behind
  EXPECT_TRUE(std::filesystem::is_directory("taken.txt"));
}

TEST_F(ExportToFiles, AReadOnlyFileIsReportedAndKeptAndALinkStays) {
  WriteFile("kept.txt", "kept");
  std::filesystem::permissions("kept.txt", std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
  EXPECT_EQ(ExportGridToFile(grid, "TXT", "kept.txt"), ExportResult::NothingDone);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Cannot create file kept.txt"});
  EXPECT_EQ(ReadFile("kept.txt"), "kept");

  // An export through a link writes the file the link points to.
  std::filesystem::create_symlink("kept.txt", "link.txt");
  std::filesystem::permissions("kept.txt", std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  EXPECT_EQ(ExportGridToFile(grid, "TXT", "link.txt"), ExportResult::FileWritten);
  EXPECT_TRUE(std::filesystem::is_symlink("link.txt"));
  EXPECT_EQ(ReadFile("kept.txt"), WithCrLfLines(GridToText(grid, "\t", "")));
  EXPECT_EQ(folder.Listing(), "kept.txt link.txt");
}

TEST_F(ExportToFiles, AWriteThatFailsHalfwayLeavesTheOldFileIntact) {
  WriteFile("big.xml", "old content");
  StringGrid large(3, 2000, 1, 1);
  for (int r = 0; r < large.RowCount(); ++r) large.SetCell(1, r, "value " + std::to_string(r));

  // Files may grow to 4 KiB only: the write fails with EFBIG partway through.
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  ::getrlimit(RLIMIT_FSIZE, &previous);
  rlimit small = previous;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const ExportResult result = ExportGridToFile(large, "XML", "big.xml");
  ::setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(result, ExportResult::NothingDone);
  EXPECT_EQ(ReadFile("big.xml"), "old content");
  EXPECT_EQ(folder.Listing(), "big.xml");
  ASSERT_EQ(ui.Texts(), std::vector<std::string>{"Cannot create file big.xml"});
}

TEST(FileLines, EveryBreakKindBecomesCrLfAndTheLastLineGetsOne) {
  EXPECT_EQ(WithCrLfLines("a\r\nb\rc\nd"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(WithCrLfLines("a\n\nb\r\n"), "a\r\n\r\nb\r\n");
  EXPECT_EQ(WithCrLfLines("\r\r\n"), "\r\n\r\n");
  EXPECT_EQ(WithCrLfLines(""), "");
}

TEST(FileNames, ExtensionsAndTargetNames) {
  EXPECT_EQ(FileExtension("MYTREE_Servers.HTML"), ".HTML");
  EXPECT_EQ(FileExtension("a.b/c"), "");
  EXPECT_EQ(FileExtension("noext"), "");
  EXPECT_TRUE(IsValidTargetName("..."));
  EXPECT_FALSE(IsValidTargetName(".."));
  EXPECT_FALSE(IsValidTargetName("/tmp/x.txt"));
}

// ---- Clipboard and spreadsheets ----

class ExportToSpreadsheets : public ClipboardFixture {
 protected:
  StringGrid grid = SampleServerGrid();
};

TEST_F(ExportToSpreadsheets, WithoutASpreadsheetTheGridStaysOnTheClipboard) {
  EXPECT_EQ(ExportGridToFile(grid, "XLS", "MYTREE_Servers.XLS"), ExportResult::CopiedToClipboard);
  EXPECT_EQ(clipboard.Text(), "\tServer\tNetwork Address\r\n1\tFS1\t\"10.1.1.9\n10.1.1.5\"\r\n2\tA&B\t\r\n");
  EXPECT_EQ(ExportGridToFile(grid, "QP", "q"), ExportResult::CopiedToClipboard);  // no path check
  const std::vector<RecordedBox> expected{
      {DialogKind::Plain, "Error saving to Excel (Invalid class string) - Results are in clipboard", DialogButtons::Ok},
      {DialogKind::Plain, "Error saving to QP (Invalid class string) - Results are in clipboard", DialogButtons::Ok}};
  EXPECT_EQ(ui.boxes, expected);
}

TEST_F(ExportToSpreadsheets, ClipboardKindWritesNoFile) {
  ScratchFolder folder;
  EXPECT_EQ(ExportGrid(&grid, "clipboard", "x.txt", ";", ""), ExportResult::CopiedToClipboard);
  EXPECT_EQ(clipboard.Text(), GridToText(grid, ";", ""));
  EXPECT_EQ(folder.Listing(), "");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ExportToSpreadsheets, ExcelReceivesItsCallsInOrder) {
  RecordingAutomation automation;
  EXPECT_EQ(ExportGridToFile(grid, "EXCEL", ""), ExportResult::CopiedToClipboard);
  EXPECT_EQ(automation.calls, kExcelCalls);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(automation.liveObjects, 0);  // every reference released
}

TEST_F(ExportToSpreadsheets, AFailingExcelStepSkipsTheRest) {
  RecordingAutomation automation;
  automation.failures["Paste"] = "Paste method of Worksheet class failed";
  PasteIntoExcel();
  EXPECT_EQ(automation.calls, std::vector<std::string>(kExcelCalls.begin(), kExcelCalls.begin() + 7));
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Error saving to Excel (Paste method of Worksheet class failed) - "
                                                 "Results are in clipboard"});
  EXPECT_EQ(automation.liveObjects, 0);
}

TEST_F(ExportToSpreadsheets, QuattroProReceivesItsCallsInOrder) {
  RecordingAutomation automation;
  EXPECT_EQ(ExportGridToFile(grid, "wb3", ""), ExportResult::CopiedToClipboard);
  EXPECT_EQ(automation.calls, kQuattroProCalls);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ExportToSpreadsheets, QuattroProFormattingFailuresAreSilent) {
  RecordingAutomation automation;
  automation.failures["Setproperty#1"] = "no such property";
  PasteIntoQuattroPro();
  EXPECT_EQ(automation.calls, std::vector<std::string>(kQuattroProCalls.begin(), kQuattroProCalls.begin() + 7));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ExportToSpreadsheets, AFailingQuattroProPasteIsReported) {
  RecordingAutomation automation;
  automation.failures["EditPaste"] = "Clipboard empty";
  PasteIntoQuattroPro();
  EXPECT_EQ(automation.calls, std::vector<std::string>(kQuattroProCalls.begin(), kQuattroProCalls.begin() + 5));
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Error saving to QP (Clipboard empty) - Results are in clipboard"});
}

}  // namespace
}  // namespace vestrel
