// The XLS export of both scans on the demo tree, with the spreadsheet server the window
// installs at start: each grid becomes a workbook that a reader other than the writer
// opens with the grid's cells, handed to the desktop's opener; without an opener the
// failure box names the workbook and the desktop's clipboard holds the grid.
#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

#include "RecordingUi.h"
#include "TempConfigHome.h"
#include "WorkbookReader.h"
#include "app/QtClipboard.h"
#include "app/Vestrel_main.h"
#include "directory/D_NW.h"
#include "export/Clipboard.h"
#include "export/GridWriters.h"
#include "export/WorkbookAutomation.h"
#include "platform/nwclient/NwTestHooks.h"
#include "util/D_Util.h"

namespace vestrel::testing {
namespace {

// A grid cell as a sheet cell holds it after travelling through the clipboard: line breaks
// as LF, none at the end; a value of several lines has apostrophes for double quotes.
std::string AsSheetCell(const std::string& cell) {
  const std::string text = ReplaceInText(TrimRightChars(cell, "\r\n"), "\r\n", "\n");
  return text.find('\n') == std::string::npos ? text : ReplaceInText(text, "\"", "'");
}

void ExpectSameCells(const Workbook& book, const StringGrid& grid) {
  ASSERT_EQ(book.failure, "");
  for (int r = 0; r < grid.RowCount(); ++r) {
    for (int c = 0; c < grid.ColCount(); ++c) {
      EXPECT_EQ(book.Text(r, c), AsSheetCell(grid.Cell(c, r))) << "row " << r << " col " << c;
    }
  }
  EXPECT_EQ(book.cells.size(), static_cast<std::size_t>(grid.RowCount() * grid.ColCount()));
}

class SpreadsheetExportTest : public ::testing::Test {
 protected:
  SpreadsheetExportTest() {
    nwtest::Reset();
    ClientConnection = kNoClientConnection;
    EXPECT_EQ(nwtest::ConnectTreeFile(std::string(VESTREL_TEST_TREES) + "/acme.json", "admin.ACME", true), "");
    InstallClipboard(&clipboard);
    clipboard.SetText("");
    InstallAutomationServer(&spreadsheets);
    form = std::make_unique<TMainForm>();
    form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->BitBtnSrv->click();
    form->BitBtnPart->click();
  }
  ~SpreadsheetExportTest() override {
    form.reset();
    InstallAutomationServer(nullptr);
    InstallClipboard(nullptr);
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
  }

  std::string WorkbookPath(const std::string& name) const { return cache.Path() + "/vestrel/" + name; }

  TempConfigHome config;
  TempCacheHome cache;
  RecordingUi ui;
  QtClipboard clipboard;
  WorkbookAutomation spreadsheets;
  std::unique_ptr<TMainForm> form;
};

TEST_F(SpreadsheetExportTest, BothScansOpenAsWorkbooksWithTheGridsCells) {
  const DesktopOpenerStub opener;
  const StringGrid& servers = form->StringGridSrv->Grid();
  const StringGrid& partitions = form->StringGridPart->Grid();
  ASSERT_GT(servers.RowCount(), 2);
  ASSERT_GT(partitions.RowCount(), 2);
  ASSERT_EQ(form->ComboBoxTypeS->currentText(), "XLS");
  ASSERT_EQ(form->ComboBoxTypeP->currentText(), "XLS");

  form->BitBtnExpSrv->click();
  form->BitBtnExpPart->click();
  form->BitBtnExpSrv->click();
  EXPECT_TRUE(ui.boxes.empty()) << ui.Texts().front();
  const std::vector<std::vector<std::string>> opened{{WorkbookPath("ACME_TREE_Servers.xlsx")},
                                                     {WorkbookPath("ACME_TREE_Partition.xlsx")},
                                                     {WorkbookPath("ACME_TREE_Servers-2.xlsx")}};
  EXPECT_EQ(opener.Calls(), opened);

  const Workbook serverBook = ReadWorkbook(WorkbookPath("ACME_TREE_Servers.xlsx"));
  EXPECT_EQ(serverBook.sheets, std::vector<std::string>{"ACME_TREE_Servers"});
  ExpectSameCells(serverBook, servers);
  const Workbook partitionBook = ReadWorkbook(WorkbookPath("ACME_TREE_Partition.xlsx"));
  EXPECT_EQ(partitionBook.sheets, std::vector<std::string>{"ACME_TREE_Partition"});
  ExpectSameCells(partitionBook, partitions);
  // The partition grid's cells hold several lines each: their rows are as tall as those lines.
  EXPECT_FALSE(partitionBook.heights.empty());
  EXPECT_TRUE(partitionBook.cells.at({0, 1}).bold);
  EXPECT_FALSE(partitionBook.cells.at({1, 1}).bold);
  ExpectSameCells(ReadWorkbook(WorkbookPath("ACME_TREE_Servers-2.xlsx")), servers);
}

TEST_F(SpreadsheetExportTest, WithoutAnOpenerTheFailureBoxShowsAndTheClipboardHoldsTheGrid) {
  const DesktopOpenerStub noOpener(0, false);
  form->BitBtnExpPart->click();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Plain);
  // The workbook is there: the box says where, and that nothing could open it.
  const std::string workbook = WorkbookPath("ACME_TREE_Partition.xlsx");
  EXPECT_EQ(ui.boxes[0].text, "Error saving to Excel (The workbook was saved as " + workbook +
                                  ", but no application could open it: xdg-open was not found) - Results are in "
                                  "clipboard");
  EXPECT_TRUE(std::filesystem::is_regular_file(workbook));
  const std::string grid = GridToText(form->StringGridPart->Grid(), "\t", "");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(grid));
}

}  // namespace
}  // namespace vestrel::testing
