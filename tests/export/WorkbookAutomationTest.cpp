// Spreadsheet exports on this desktop: the grid travels through the clipboard and comes out
// as an .xlsx workbook (read back by a reader that is not the writer) that is handed to the
// desktop's opener; failures reach the user as the spreadsheet's error box.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ExportTestSupport.h"
#include "RecordingUi.h"
#include "WorkbookReader.h"
#include "export/Clipboard.h"
#include "export/ExportTargets.h"
#include "export/GridWriters.h"
#include "export/WorkbookAutomation.h"
#include "export/XlsxWorkbook.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

using testing::DesktopOpenerStub;
using testing::ReadFile;
using testing::ReadWorkbook;
using testing::SampleServerGrid;
using testing::Workbook;

using Rows = SheetRows;

// ---- The clipboard's text read back ----

TEST(SeparatedText, TheClipboardFormReadsBackCellForCell) {
  StringGrid grid(4, 3, 1, 1);
  grid.SetCell(1, 0, "Server");
  grid.SetCell(2, 0, "Note");
  grid.SetCell(3, 0, "Address");
  grid.SetCell(0, 1, "1");
  grid.SetCell(1, 1, "\"quoted\" on one line");
  grid.SetCell(2, 1, "say \"hi\"\r\n\tthen\r\nbye\r\n");  // quotes, a TAB and a trailing break
  grid.SetCell(3, 1, "\"open");
  grid.SetCell(0, 2, "2");
  grid.SetCell(1, 2, "a\rb");  // a lone CR is no line break
  grid.SetCell(2, 2, "x\ny");  // a lone LF is one
  const Rows expected{{"", "Server", "Note", "Address"},
                      {"1", "\"quoted\" on one line", "say 'hi'\n\tthen\nbye", "\"open"},
                      {"2", "a\rb", "x\ny", ""}};
  EXPECT_EQ(CellsOfSeparatedText(GridToText(grid, "\t", "")), expected);

  EXPECT_EQ(CellsOfSeparatedText(""), Rows{});
  EXPECT_EQ(CellsOfSeparatedText("\r\n\r\n"), (Rows{{""}, {""}}));
  EXPECT_EQ(CellsOfSeparatedText("a\tb\nc\t"), (Rows{{"a", "b"}, {"c", ""}}));
  // A quote that does not end its field, or holds no line break, is text.
  EXPECT_EQ(CellsOfSeparatedText("\"a\nb\"c\t\"d\"\r\n"), (Rows{{"\"a"}, {"b\"c", "\"d\""}}));
}

TEST(SeparatedText, FieldsThatOnlyLookQuotedAreReadInOnePass) {
  // Every field opens a quote, and the one line break is at the very end.
  std::string text;
  constexpr int kFields = 200000;
  for (int i = 0; i < kFields; ++i) text += i ? "\t\"a" : "\"a";
  text += "\r\n";
  const auto start = std::chrono::steady_clock::now();
  const Rows rows = CellsOfSeparatedText(text);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].size(), static_cast<std::size_t>(kFields));
  EXPECT_EQ(rows[0].back(), "\"a");
  EXPECT_LT(elapsed, std::chrono::seconds(2));  // a quadratic read takes minutes
}

// ---- Names ----

TEST(WorkbookNames, SheetsAreNamedAfterTheExportWithinTheSpreadsheetsRules) {
  EXPECT_EQ(SheetNameFor("ACME_TREE_Servers.XLS"), "ACME_TREE_Servers");
  EXPECT_EQ(SheetNameFor("a[b]:c*d?e/f\\g\th.QP"), "a_b__c_d_e_f_g_h");
  EXPECT_EQ(SheetNameFor("'quoted'.XLS"), "quoted");
  EXPECT_EQ(SheetNameFor(""), "Sheet1");
  EXPECT_EQ(SheetNameFor("''.XLS"), "Sheet1");
  EXPECT_EQ(SheetNameFor("history.XLS"), "history_");
  // At most 31 characters, counted as the spreadsheet counts them (a character beyond
  // U+FFFF counts twice), never cutting one in half.
  EXPECT_EQ(SheetNameFor("VERY_LONG_PRODUCTION_TREE_NAME_Partition.XLS"), "VERY_LONG_PRODUCTION_TREE_NAME_");
  EXPECT_EQ(SheetNameFor("Zürich_Zürich_Zürich_Zürich_Zürich.XLS"), "Zürich_Zürich_Zürich_Zürich_Zür");
  EXPECT_EQ(SheetNameFor(std::string(29, 'x') + "\xF0\x9F\x8C\xB2\xF0\x9F\x8C\xB2.XLS"), std::string(29, 'x') + "\xF0\x9F\x8C\xB2");
  EXPECT_EQ(SheetNameFor("bad\xFFutf8.XLS"), "bad\xEF\xBF\xBDutf8");

  EXPECT_EQ(WorkbookStemFor("ACME_TREE_Servers"), "ACME_TREE_Servers");
  EXPECT_EQ(WorkbookStemFor("Zürich & Sons' $(tree)"), "Z_rich___Sons____tree_");
}

// ---- Exports ----

class WorkbookExport : public ::testing::Test {
 protected:
  WorkbookExport() {
    InstallClipboard(&clipboard);
    InstallAutomationServer(&automation);
  }
  ~WorkbookExport() override {
    InstallAutomationServer(nullptr);
    InstallClipboard(nullptr);
  }

  std::string Folder() const { return cache.Path() + "/vestrel"; }
  std::string InFolder(const std::string& name) const { return Folder() + "/" + name; }

  std::string FolderListing() const { return testing::FolderListing(Folder()); }

  testing::TempCacheHome cache;
  testing::RecordingUi ui;
  MemoryClipboard clipboard;
  WorkbookAutomation automation;
  StringGrid grid = SampleServerGrid();
};

TEST_F(WorkbookExport, ExcelAndQuattroProPastesBecomeNewWorkbooksHandedToTheOpener) {
  const DesktopOpenerStub opener;
  ASSERT_EQ(ExportGridToFile(grid, "XLS", "ACME_TREE_Servers.XLS"), ExportResult::CopiedToClipboard);
  EXPECT_TRUE(ui.boxes.empty()) << ui.Texts()[0];
  const std::string first = InFolder("ACME_TREE_Servers.xlsx");
  ASSERT_EQ(opener.Calls(), std::vector<std::vector<std::string>>{{first}});

  const Workbook book = ReadWorkbook(first);
  ASSERT_EQ(book.failure, "");
  EXPECT_EQ(book.sheets, std::vector<std::string>{"ACME_TREE_Servers"});
  for (int r = 0; r < grid.RowCount(); ++r) {
    for (int c = 0; c < grid.ColCount(); ++c) {
      EXPECT_EQ(book.Text(r, c), ReplaceInText(grid.Cell(c, r), "\r\n", "\n")) << "row " << r << " col " << c;
    }
  }
  EXPECT_EQ(book.cells.size(), 9u);
  // Cells are text, the header row is bold; the two-line cell wraps in a row two lines tall.
  EXPECT_EQ(book.cells.at({1, 0}).type, "s");
  EXPECT_TRUE(book.cells.at({0, 1}).bold);
  EXPECT_FALSE(book.cells.at({1, 1}).bold);
  EXPECT_TRUE(book.cells.at({1, 2}).wrap);
  EXPECT_EQ(book.heights, (std::map<int, double>{{1, 30.0}}));
  // Columns as wide as their longest line: "Network Address" outgrows "10.1.1.9".
  ASSERT_EQ(book.widths.size(), 3u);
  EXPECT_LT(book.widths.at(0), book.widths.at(1));
  EXPECT_LT(book.widths.at(1), book.widths.at(2));
  EXPECT_GE(book.widths.at(2), 15.0);

  // A second export of the same name never replaces the first workbook.
  const std::string firstBytes = ReadFile(first);
  grid.SetCell(1, 1, "FS2");
  ASSERT_EQ(ExportGridToFile(grid, "QP", "ACME_TREE_Servers.QP"), ExportResult::CopiedToClipboard);
  EXPECT_TRUE(ui.boxes.empty());
  const std::string second = InFolder("ACME_TREE_Servers-2.xlsx");
  EXPECT_EQ(opener.Calls(), (std::vector<std::vector<std::string>>{{first}, {second}}));
  EXPECT_EQ(ReadFile(first), firstBytes);
  EXPECT_EQ(ReadWorkbook(second).Text(1, 1), "FS2");
  EXPECT_EQ(FolderListing(), "ACME_TREE_Servers-2.xlsx ACME_TREE_Servers.xlsx");
}

TEST_F(WorkbookExport, CellsKeepTheirTextsAsTheyAre) {
  const DesktopOpenerStub opener;
  StringGrid odd(4, 1, 0, 0);
  odd.SetCell(0, 0, std::string("bell\x07 nul\0.", 11));
  odd.SetCell(1, 0, "_x0041_ is no A, _x005F_ no _");
  odd.SetCell(2, 0, "bad \xFF byte");
  odd.SetCell(3, 0, "0012");
  ExportGridToFile(odd, "XLS", "odd.XLS");
  const Workbook book = ReadWorkbook(InFolder("odd.xlsx"));
  ASSERT_EQ(book.failure, "");
  EXPECT_EQ(book.Text(0, 0), "bell\x07 nul\uFFFD.");
  EXPECT_EQ(book.Text(0, 1), "_x0041_ is no A, _x005F_ no _");
  EXPECT_EQ(book.Text(0, 2), "bad \uFFFD byte");
  EXPECT_EQ(book.Text(0, 3), "0012");  // text, not the number 12
  EXPECT_EQ(book.cells.at({0, 3}).type, "s");
}

TEST_F(WorkbookExport, WithoutAnOpenerTheBoxSaysSoAndTheGridStaysOnTheClipboard) {
  const DesktopOpenerStub noOpener(0, false);
  ExportGridToFile(grid, "XLS", "ACME_TREE_Servers.XLS");
  const std::string workbook = InFolder("ACME_TREE_Servers.xlsx");
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Error saving to Excel (The workbook was saved as " + workbook +
                                                 ", but no application could open it: xdg-open was not found)"
                                                 " - Results are in clipboard"});
  EXPECT_EQ(clipboard.Text(), GridToText(grid, "\t", ""));
  EXPECT_EQ(ReadWorkbook(workbook).Text(0, 1), "Server");  // written, for opening by hand
}

TEST_F(WorkbookExport, AnOpenerThatFailsIsReportedWithItsStatus) {
  const DesktopOpenerStub failing(3);
  ExportGridToFile(grid, "WB3", "LAB_TREE_Partition.WB3");
  const std::string workbook = InFolder("LAB_TREE_Partition.xlsx");
  EXPECT_EQ(failing.Calls(), std::vector<std::vector<std::string>>{{workbook}});
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Error saving to QP (The workbook was saved as " + workbook +
                                                 ", but no application could open it: xdg-open ended with "
                                                 "status 3) - Results are in clipboard"});
  EXPECT_EQ(ReadWorkbook(workbook).Text(0, 1), "Server");
  EXPECT_EQ(clipboard.Text(), GridToText(grid, "\t", ""));
}

TEST_F(WorkbookExport, AnOpenerStillBusyAfterThePatienceIsTakenAsOpening) {
  const DesktopOpenerStub slow(0, true, 1);
  WorkbookAutomation patient(200);
  InstallAutomationServer(&patient);
  const auto start = std::chrono::steady_clock::now();
  ExportGridToFile(grid, "XLS", "ACME_TREE_Servers.XLS");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(ui.boxes.empty());
  InstallAutomationServer(&automation);
}

TEST_F(WorkbookExport, AWorkbookThatCannotBeWrittenIsReportedAndNothingIsOpened) {
  const DesktopOpenerStub opener;
  // A cell longer than a sheet cell holds: nothing is left behind.
  grid.SetCell(1, 1, std::string(40000, 'x'));
  ExportGridToFile(grid, "XLS", "ACME_TREE_Servers.XLS");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Error saving to Excel (Cannot write " + InFolder("ACME_TREE_Servers.xlsx") +
                                  ": cell B2 holds more than 32767 characters) - Results are in clipboard");
  EXPECT_EQ(FolderListing(), "");

  // A cache folder that cannot be made.
  testing::WriteFile(cache.Path() + "/blocker", "");
  const testing::ScopedEnvironment blocked("XDG_CACHE_HOME", (cache.Path() + "/blocker").c_str());
  ExportGridToFile(grid, "XLS", "ACME_TREE_Servers.XLS");
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_TRUE(ui.boxes[1].text.starts_with("Error saving to Excel (Cannot create the folder " + cache.Path() +
                                           "/blocker/vestrel: "))
      << ui.boxes[1].text;
  EXPECT_TRUE(opener.Calls().empty());
  EXPECT_EQ(clipboard.Text(), GridToText(grid, "\t", ""));
}

}  // namespace
}  // namespace vestrel
