// The main window over the embedded directory: start-up with and without a session,
// the tree list and the name field, progress display, page changes and grid hints.
#include "app/Vestrel_main.h"

#include <QFile>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

#include "RecordingUi.h"
#include "TempConfigHome.h"
#include "directory/D_NW.h"
#include "platform/nwclient/NwTestHooks.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

std::string TreeJson(const std::string& tree, const std::string& org) {
  return R"({ "tree": ")" + tree + R"(", "objects": [
      { "name": "O=)" + org + R"(", "class": "Organization" },
      { "name": "admin.)" + org + R"(", "class": "User" },
      { "name": "jdoe.)" + org + R"(", "class": "User" } ] })";
}

std::vector<std::string> TreeItems(const QComboBox& box) {
  std::vector<std::string> items;
  for (int i = 0; i < box.count(); ++i) items.push_back(box.itemText(i).toStdString());
  return items;
}

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() {
    nwtest::Reset();
    ClientConnection = kNoClientConnection;
  }
  ~MainFormTest() override {
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
  }

  // Connects to a tree written to a file, so several connections share one tree.
  void Connect(const std::string& tree, const std::string& org, const std::string& user, bool primary) {
    const std::string path = treeFolder.path().toStdString() + "/" + org + ".json";
    QFile file(QString::fromStdString(path));
    if (!file.exists()) {
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(QByteArray::fromStdString(TreeJson(tree, org)));
      file.close();
    }
    ASSERT_EQ(nwtest::ConnectTreeFile(path, user, primary), "");
  }

  void ShowForm(TMainForm& form) {
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  }

  testing::TempConfigHome config;
  QTemporaryDir treeFolder;
  testing::RecordingUi ui;
};

// ---- Start-up ----

TEST_F(MainFormTest, StartsWithTheSessionCaptionBannerAndInfoPage) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  TMainForm form;
  EXPECT_EQ(form.windowTitle(), "Scan Servers and Partitions. Sync/Change Partitions and Replicas");
  EXPECT_EQ(form.Panel1->text(), "Scan Servers and Partitions. Sync/Change Partitions and Replicas (v1.0.4)");
  EXPECT_EQ(form.PageControl->currentWidget(), form.TabSheet1);
  EXPECT_EQ(form.size(), QSize(769, 679));
  EXPECT_EQ(form.font().pixelSize(), 15);
  EXPECT_EQ(LastDSError, 0);
  EXPECT_TRUE(ui.boxes.empty());
  // The scan pages wait for a scan: nothing to export, no progress shown yet.
  EXPECT_FALSE(form.BitBtnExpSrv->isEnabled());
  EXPECT_FALSE(form.BitBtnExpPart->isEnabled());
  EXPECT_EQ(form.ComboBoxTypeS->currentText(), "XLS");
  EXPECT_EQ(form.ComboBoxTypeP->count(), 4);
  EXPECT_TRUE(form.LabelInfoScanSrv->isHidden());
  EXPECT_EQ(form.ProgressBar, nullptr);
  EXPECT_EQ(form.StatusBar1->PanelText(kWebPanel), kWebAddress);
  EXPECT_EQ(form.StatusBar1->SimpleText(), kWebAddress);
  EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "");
}

TEST_F(MainFormTest, MissingInfoTextNamesThePathItLookedFor) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  TMainForm form;
  EXPECT_EQ(form.Memo1->toPlainText().toStdString(), "Could not find " + ProgramFileWithExt("txt"));
}

TEST(InfoText, LoadsTheFileOrNamesTheMissingPath) {
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  file.write("Vestrel\nline two \xC3\xA9\n");
  file.close();
  QPlainTextEdit memo;
  LoadInfoText(memo, file.fileName().toStdString());
  EXPECT_EQ(memo.toPlainText(), QString::fromUtf8("Vestrel\nline two \xC3\xA9\n"));

  QTemporaryDir folder;
  QPlainTextEdit missing;
  LoadInfoText(missing, folder.path().toStdString() + "/none.txt");
  EXPECT_EQ(missing.toPlainText().toStdString(), "Could not find " + folder.path().toStdString() + "/none.txt");
  QPlainTextEdit directory;
  LoadInfoText(directory, folder.path().toStdString());
  EXPECT_EQ(directory.toPlainText().toStdString(), "Could not find " + folder.path().toStdString());
}

TEST_F(MainFormTest, AFailingClientStartShowsTwoBoxesAndTheWindowStillOpens) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  constexpr NWRCODE kCode = 0x8801;
  nwtest::FailOperation("ClientInitialize", kCode);
  TMainForm form;
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "Could not find server/tree connection. InitNetWare returned error " + ErrorText(kCode));
  EXPECT_EQ(ui.boxes[1].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[1].text, "InitNetWare returned error " + ErrorText(kCode));
  EXPECT_EQ(LastDSError, kCode);
  // No session: no context, no trees, and showing the window changes no tree.
  EXPECT_EQ(nwtest::OpenContexts(), 0u);
  EXPECT_EQ(form.ComboBoxTrees->count(), 0);
  ShowForm(form);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.EditMyName->text(), "EditMyName");
  EXPECT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(nwtest::CallCount("DSContextSetValue"), 0u);
  form.close();
  EXPECT_EQ(nwtest::CallCount("DSContextFree"), 0u);
}

TEST_F(MainFormTest, NoConnectionAtAllIsAFailedStartWithAnEmptyTreeList) {
  TMainForm form;
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text.rfind("InitNetWare returned error ", 0), 0u);
  EXPECT_EQ(form.ComboBoxTrees->count(), 0);
  EXPECT_EQ(form.ComboBoxTrees->currentIndex(), -1);
}

TEST_F(MainFormTest, AnUnloadableTreeFileIsNamedBeforeTheBoxesOfAStartWithoutConnection) {
  const std::string missing = treeFolder.path().toStdString() + "/missing.json";
  ASSERT_EQ(nwtest::ConnectTreeFile(missing, "admin.ALPHA", true), missing + ": cannot be opened");
  TMainForm form;
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_EQ(ui.boxes[0].text, missing + ": cannot be opened");
  EXPECT_EQ(ui.boxes[1].text.rfind("Could not find server/tree connection. InitNetWare returned error ", 0), 0u);
  EXPECT_EQ(ui.boxes[2].text.rfind("InitNetWare returned error ", 0), 0u);
}

// ---- Trees and the name field ----

TEST_F(MainFormTest, ListsEachTreeOnceSelectsThePreferredAndShowsTheName) {
  Connect("ALPHA_TREE", "ALPHA", "jdoe.ALPHA", false);
  Connect("BETA_TREE", "BETA", "admin.BETA", true);
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", false);
  TMainForm form;
  EXPECT_EQ(TreeItems(*form.ComboBoxTrees), (std::vector<std::string>{"ALPHA_TREE", "BETA_TREE"}));
  EXPECT_EQ(form.ComboBoxTrees->currentText(), "BETA_TREE");
  EXPECT_EQ(form.ComboBoxTrees->toolTip(), "Select Current Tree");
  EXPECT_EQ(nwtest::OpenContexts(), 1u);
  // The name appears when the window shows and switches to the selected tree.
  EXPECT_EQ(form.EditMyName->text(), "EditMyName");
  ShowForm(form);
  EXPECT_EQ(form.EditMyName->text(), "admin.BETA");
  EXPECT_EQ(ContextTreeName(MainContext), "BETA_TREE");
  EXPECT_TRUE(ui.boxes.empty());

  // Choosing the other tree switches the context and the name.
  form.ComboBoxTrees->setCurrentIndex(0);
  emit form.ComboBoxTrees->activated(0);
  EXPECT_EQ(ContextTreeName(MainContext), "ALPHA_TREE");
  EXPECT_EQ(form.EditMyName->text(), "jdoe.ALPHA");
  EXPECT_TRUE(ui.boxes.empty());

  form.close();
  EXPECT_EQ(nwtest::OpenContexts(), 0u);
}

TEST_F(MainFormTest, ATreeFileThatCannotBeLoadedIsNamedOnceAndTheOthersOpen) {
  const std::string folder = treeFolder.path().toStdString();
  const auto write = [&](const std::string& name, const std::string& text) {
    QFile file(QString::fromStdString(folder + "/" + name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(text));
  };
  write("good.json", TreeJson("GOOD_TREE", "GOOD"));
  write("bad.json", R"({"tree": "BAD_TREE", "objects": [)");
  write("connections.json", R"({"connections": [
      {"tree": "bad.json"}, {"tree": "good.json", "user": "admin.GOOD", "primary": true}]})");
  setenv("VESTREL_CONNECTIONS", (folder + "/connections.json").c_str(), 1);
  nwtest::ResetToDefaults();
  {
    TMainForm form;
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
    EXPECT_TRUE(ui.boxes[0].text.starts_with(folder + "/bad.json: not valid JSON")) << ui.boxes[0].text;
    EXPECT_EQ(TreeItems(*form.ComboBoxTrees), (std::vector<std::string>{"GOOD_TREE"}));
    form.close();
  }
  unsetenv("VESTREL_CONNECTIONS");
}

TEST_F(MainFormTest, ShippedDemoTreesAreListedOnceWithTheirPrimaryTreeSelected) {
  // No connections file: the demo trees are the workstation's connections.
  QTemporaryDir config;
  const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
  const QByteArray savedConnections = qgetenv("VESTREL_CONNECTIONS");
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  qunsetenv("VESTREL_CONNECTIONS");
  nwtest::ResetToDefaults();
  {
    TMainForm form;
    EXPECT_EQ(TreeItems(*form.ComboBoxTrees), (std::vector<std::string>{"ACME_TREE", "LAB_TREE"}));
    EXPECT_EQ(form.ComboBoxTrees->currentText(), "ACME_TREE");
    ShowForm(form);
    EXPECT_NE(form.EditMyName->text(), "EditMyName");
    EXPECT_FALSE(form.EditMyName->text().isEmpty());
    form.close();
  }
  EXPECT_TRUE(ui.boxes.empty());
  qputenv("XDG_CONFIG_HOME", savedConfig);
  if (!savedConnections.isEmpty()) qputenv("VESTREL_CONNECTIONS", savedConnections);
}

TEST_F(MainFormTest, ConnectionsWithoutATreeNameLeaveTheListEmptyAndTheNameAsDesigned) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  nwtest::FailOperation("ConnReferenceInfo", 0x8801);
  TMainForm form;
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(form.ComboBoxTrees->count(), 0);
  EXPECT_EQ(form.ComboBoxTrees->currentIndex(), -1);
  ShowForm(form);
  EXPECT_EQ(form.EditMyName->text(), "EditMyName");
  EXPECT_EQ(nwtest::CallCount("DSContextSetValue"), 0u);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(MainFormTest, AFailedTreeChangeIsReportedOnceAndTheNameIsStillShown) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  Connect("BETA_TREE", "BETA", "admin.BETA", false);
  TMainForm form;
  ShowForm(form);
  ASSERT_EQ(form.EditMyName->text(), "admin.ALPHA");
  // Only the tree setting fails; the flags and the name context are set after it.
  constexpr NWRCODE kCode = -301;
  nwtest::FailOperation("DSContextSetValue", kCode, 0, 1);
  form.ComboBoxTrees->setCurrentIndex(1);
  emit form.ComboBoxTrees->activated(1);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "DSChangeCurrentTree returned error " + ErrorText(kCode));
  EXPECT_EQ(LastDSError, kCode);
  EXPECT_EQ(ContextTreeName(MainContext), "ALPHA_TREE");
  EXPECT_EQ(form.EditMyName->text(), "admin.ALPHA");
}

// ---- Progress and pages ----

TEST_F(MainFormTest, StatusInfoShowsProgressOnTheBarOfThePageShowing) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  TMainForm form;
  form.PageControl->setCurrentWidget(form.TabSheetServers);
  ASSERT_EQ(form.ProgressBar, form.ProgressBarS);
  EXPECT_FALSE(form.LabelInfoScanSrv->isHidden());
  EXPECT_FALSE(form.LabelInfoScanPart->isHidden());

  form.StatusInfo(3, 10, "SRV1.ORG");
  EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "[3/10] SRV1.ORG");
  EXPECT_FALSE(form.ProgressBarS->isHidden());
  EXPECT_EQ(form.ProgressBarS->minimum(), 1);
  EXPECT_EQ(form.ProgressBarS->maximum(), 10);
  EXPECT_EQ(form.ProgressBarS->value(), 3);
  EXPECT_TRUE(form.LabelInfoScanSrv->isHidden());
  EXPECT_TRUE(form.LabelInfoScanPart->isHidden());

  form.StatusInfo(0, 0, "");
  EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "");
  EXPECT_TRUE(form.ProgressBarS->isHidden());
  EXPECT_FALSE(form.LabelInfoScanSrv->isHidden());
  EXPECT_FALSE(form.LabelInfoScanPart->isHidden());

  // A position without a text moves the bar and leaves the panel empty.
  form.StatusInfo(1, 2, "");
  EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "");
  EXPECT_EQ(form.ProgressBarS->value(), 1);
}

TEST_F(MainFormTest, PageChangesChooseTheBarAndClearTheProgress) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  TMainForm form;
  form.PageControl->setCurrentWidget(form.TabSheetServers);
  form.StatusInfo(2, 5, "SRV2.ORG");
  form.PageControl->setCurrentWidget(form.TabSheetPart);
  EXPECT_EQ(form.ProgressBar, form.ProgressBarP);
  EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "");
  EXPECT_TRUE(form.ProgressBarP->isHidden());
  EXPECT_FALSE(form.LabelInfoScanPart->isHidden());

  form.StatusInfo(1, 4, "ORG");
  EXPECT_FALSE(form.ProgressBarP->isHidden());
  EXPECT_EQ(form.ProgressBarP->maximum(), 4);
  EXPECT_EQ(form.ProgressBarS->maximum(), 5);

  // The Info page keeps the bar of the last scan page.
  form.PageControl->setCurrentWidget(form.TabSheet1);
  EXPECT_EQ(form.ProgressBar, form.ProgressBarP);
  EXPECT_TRUE(form.ProgressBarP->isHidden());
}

TEST_F(MainFormTest, ProgressBeforeAnyPageChangeShowsTheTextAndTheHints) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  TMainForm form;
  // No bar is chosen yet: the designed bars stay as they are.
  form.StatusInfo(1, 3, "SRV1.ORG");
  EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "[1/3] SRV1.ORG");
  EXPECT_EQ(form.ProgressBarS->maximum(), 100);
  EXPECT_FALSE(form.LabelInfoScanSrv->isHidden());
  form.StatusInfo(0, 0, "");
  EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "");
}

// ---- Result grids ----

void FillServerRow(StringGrid& grid) {
  grid.SetColCount(6);
  grid.SetRowCount(3);
  const char* headers[] = {"", "Server", "Context", "Version", "DS Revision", "Network Address"};
  for (int col = 0; col < 6; ++col) grid.SetCell(col, 0, headers[col]);
  grid.SetCell(0, 1, "1");
  grid.SetCell(1, 1, "SRV1");
  grid.SetCell(2, 1, ".ORG");
  grid.SetCell(0, 2, "2");
  grid.SetCell(1, 2, "SRV2");
  grid.SetCell(2, 2, ".SALES.ORG");
  grid.SetCell(5, 2, "IP 10.0.0.2\r\nIPX 0101:000000000001\r\n");
}

TEST_F(MainFormTest, ClickingAGridCellMakesTheHintOfNameTitleAndValue) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  TMainForm form;
  form.PageControl->setCurrentWidget(form.TabSheetServers);
  FillServerRow(form.StringGridSrv->Grid());
  ShowForm(form);
  const QRect cell = form.StringGridSrv->CellRect(5, 2);
  ASSERT_FALSE(cell.isEmpty());
  QTest::mouseClick(form.StringGridSrv->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(form.StringGridSrv->Hint(), "SRV2\r\nNetwork Address\r\n\r\nIP 10.0.0.2\r\nIPX 0101:000000000001\r\n");
  EXPECT_EQ(form.StringGridSrv->toolTip(), "SRV2\nNetwork Address\n\nIP 10.0.0.2\nIPX 0101:000000000001\n");

  // The partitions grid follows the same rule on its own hint.
  form.PageControl->setCurrentWidget(form.TabSheetPart);
  FillServerRow(form.StringGridPart->Grid());
  form.StringGridPart->SetCurrentCell(2, 1);
  EXPECT_EQ(form.StringGridPart->Hint(), "SRV1\r\nContext\r\n\r\n.ORG");
  EXPECT_EQ(form.StringGridSrv->Hint(), "SRV2\r\nNetwork Address\r\n\r\nIP 10.0.0.2\r\nIPX 0101:000000000001\r\n");
}

TEST_F(MainFormTest, TheResultGridsHaveTheirDesignedColumns) {
  Connect("ALPHA_TREE", "ALPHA", "admin.ALPHA", true);
  TMainForm form;
  const std::vector<int> serverWidths{106, 203, 137, 132, 317};
  const std::vector<int> partitionWidths{106, 207, 126, 174, 159, 240};
  for (auto [grid, widths] : {std::pair{form.StringGridSrv, serverWidths}, std::pair{form.StringGridPart, partitionWidths}}) {
    ASSERT_EQ(grid->Grid().ColCount(), static_cast<int>(widths.size()));
    EXPECT_EQ(grid->Grid().RowCount(), 2);
    EXPECT_EQ(grid->Grid().FixedCols(), 1);
    EXPECT_EQ(grid->Grid().FixedRows(), 1);
    EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 18);
    EXPECT_EQ(grid->verticalHeader()->width(), widths[0]);
    for (std::size_t col = 1; col < widths.size(); ++col) {
      EXPECT_EQ(grid->horizontalHeader()->sectionSize(static_cast<int>(col) - 1), widths[col]);
    }
  }
}

TEST(GridCellHint, JoinsNameTitleAndCellAndStaysInsideTheGrid) {
  StringGrid grid(3, 2);
  grid.SetCell(1, 0, "Name");
  grid.SetCell(2, 0, "Context");
  grid.SetCell(1, 1, "[Root]");
  grid.SetCell(2, 1, "");
  EXPECT_EQ(GridCellHint(grid, 1, 1), "[Root]\r\nName\r\n\r\n[Root]");
  EXPECT_EQ(GridCellHint(grid, 2, 1), "[Root]\r\nContext\r\n\r\n");
  EXPECT_EQ(GridCellHint(grid, 7, 9), "\r\n\r\n\r\n");
}

}  // namespace
}  // namespace vestrel
