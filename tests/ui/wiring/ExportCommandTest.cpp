// The export buttons of both pages: the file name built from the tree, the page and the
// type; "Saved as " only for a file this export wrote; the spreadsheet path through the
// desktop's clipboard; nothing while a scan runs.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>

#include "WiringFixture.h"
#include "export/ExportTargets.h"
#include "export/GridWriters.h"
#include "scan/ScanSteps.h"

namespace vestrel::testing {
namespace {

void FillGrid(StringGrid& grid, const std::string& name) {
  grid.SetRowCount(3);
  grid.SetCell(1, 0, "Name");
  grid.SetCell(2, 0, "Context");
  grid.SetCell(1, 1, name);
  grid.SetCell(2, 1, "ORG");
  grid.SetCell(1, 2, "Zürich & <Sons>");
  grid.SetCell(2, 2, "line one\r\nline two");
}

void SelectType(QComboBox& box, const char* type) {
  box.setCurrentIndex(box.findText(QString::fromLatin1(type)));
  ASSERT_EQ(box.currentText(), type);
}

// The work folder's file, relative to the current folder as the export writes it.
bool Exists(const std::string& name) { return QFile::exists(QString::fromStdString(name)); }

class ExportCommandTest : public WiringTest {
 protected:
  void SetUp() override {
    form = NewForm();
    FillGrid(form->StringGridSrv->Grid(), "FS1");
    FillGrid(form->StringGridPart->Grid(), "Sales");
    // The scans enable the buttons when they find rows.
    form->BitBtnExpSrv->setEnabled(true);
    form->BitBtnExpPart->setEnabled(true);
  }

  std::unique_ptr<TMainForm> form;
};

// ---- File names and reports ----

TEST_F(ExportCommandTest, EachPageWritesTheFileNamedAfterTreePageAndTypeAndReportsEveryTime) {
  SelectType(*form->ComboBoxTypeS, "HTML");
  form->BitBtnExpSrv->click();
  form->BitBtnExpSrv->click();
  SelectType(*form->ComboBoxTypeP, "XML");
  form->BitBtnExpPart->click();
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Saved as ALPHA_TREE_Servers.HTML", "Saved as ALPHA_TREE_Servers.HTML",
                                                  "Saved as ALPHA_TREE_Partition.XML"}));
  for (const RecordedBox& box : ui.boxes) EXPECT_EQ(box.kind, DialogKind::Information);
  // Relative names: the files are in the current folder.
  EXPECT_EQ(FileText(WorkFolder().toStdString() + "/ALPHA_TREE_Servers.HTML"),
            WithCrLfLines(GridToHtml(form->StringGridSrv->Grid())));
  EXPECT_NE(FileText("ALPHA_TREE_Partition.XML").find("Sales"), std::string::npos);
  EXPECT_EQ(FileText("ALPHA_TREE_Partition.XML").find("FS1"), std::string::npos);
}

TEST_F(ExportCommandTest, WithoutATreeSelectionTheNameStartsWithThePage) {
  form->ComboBoxTrees->setCurrentIndex(-1);
  SelectType(*form->ComboBoxTypeS, "TXT");
  form->BitBtnExpSrv->click();
  ASSERT_EQ(ui.Texts(), std::vector<std::string>{"Saved as _Servers.TXT"});
  // TAB-separated (the extension is never ".csv" here), CR LF lines.
  EXPECT_EQ(FileText("_Servers.TXT"), WithCrLfLines(GridToText(form->StringGridSrv->Grid(), "\t", "")));
}

TEST_F(ExportCommandTest, TheTreeShownNowNamesTheFile) {
  form->ComboBoxTrees->setCurrentIndex(form->ComboBoxTrees->findText("BETA_TREE"));
  SelectType(*form->ComboBoxTypeP, "TXT");
  form->BitBtnExpPart->click();
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Saved as BETA_TREE_Partition.TXT"});
  EXPECT_TRUE(Exists("BETA_TREE_Partition.TXT"));
}

// ---- The spreadsheet path ----

TEST_F(ExportCommandTest, XlsWithoutASpreadsheetLeavesTheGridOnTheClipboardAndReportsNoFile) {
  // An older file of the name the export would have: still no "Saved as ".
  QFile old(QStringLiteral("ALPHA_TREE_Servers.XLS"));
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("old");
  old.close();
  ASSERT_EQ(form->ComboBoxTypeS->currentText(), "XLS");
  form->BitBtnExpSrv->click();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Plain);
  EXPECT_EQ(ui.boxes[0].text, "Error saving to Excel (Invalid class string) - Results are in clipboard");
  // The desktop's clipboard holds the TAB-separated grid, non-ASCII text intact.
  const std::string expected = GridToText(form->StringGridSrv->Grid(), "\t", "");
  EXPECT_EQ(Clipboard().Text(), expected);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(expected));
  EXPECT_NE(expected.find("Zürich & <Sons>\t"), std::string::npos);
  EXPECT_EQ(FileText("ALPHA_TREE_Servers.XLS"), "old");
}

TEST(QtClipboardTest, CarriesUtf8BothWays) {
  QtClipboard clipboard;
  clipboard.SetText("Zürich\t\xE2\x82\xAC\r\n");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("Zürich\t€\r\n"));
  QGuiApplication::clipboard()->setText(QString::fromUtf8("Straße"));
  EXPECT_EQ(clipboard.Text(), "Straße");
}

// ---- Refusals ----

TEST_F(ExportCommandTest, ATreeNameThatWouldLeaveTheFolderIsRefused) {
  // Tree names come from the directory; one with a path in it writes nowhere.
  form->ComboBoxTrees->addItem(QStringLiteral("../ESCAPE"));
  form->ComboBoxTrees->setCurrentIndex(form->ComboBoxTrees->count() - 1);
  SelectType(*form->ComboBoxTypeS, "HTML");
  form->BitBtnExpSrv->click();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "Invalid target path");
  EXPECT_FALSE(Exists("../ESCAPE_Servers.HTML"));
}

TEST_F(ExportCommandTest, AClickWhileAScanRunsIsIgnored) {
  SelectType(*form->ComboBoxTypeS, "HTML");
  {
    const ScanGuard scan;
    ASSERT_TRUE(scan.Claimed());
    form->BitBtnExpSrv->click();
    form->BitBtnExpClick(form->BitBtnExpPart);
  }
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(Exists("ALPHA_TREE_Servers.HTML"));
  EXPECT_TRUE(Clipboard().Text().empty());
  form->BitBtnExpSrv->click();
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Saved as ALPHA_TREE_Servers.HTML"});
}

}  // namespace
}  // namespace vestrel::testing
