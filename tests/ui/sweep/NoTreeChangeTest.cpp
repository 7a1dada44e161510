// A window that changed no tree at start-up (its saved tree is no longer connected) still
// has a context on the client's preferred tree: its scans list that tree's objects with
// names relative to their contexts, and those rows open the details dialog.
#include <QDir>
#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

#include "RecordingUi.h"
#include "TempConfigHome.h"
#include "app/Vestrel_data.h"
#include "app/Vestrel_main.h"
#include "details/Vestrel_detail.h"
#include "directory/D_NW.h"
#include "platform/nwclient/NwTestHooks.h"
#include "settings/D_Ini.h"

namespace vestrel::sweep {
namespace {

class NoTreeChangeTest : public ::testing::Test {
 protected:
  NoTreeChangeTest() {
    nwtest::Reset();
    ClientConnection = kNoClientConnection;
    MainContext = 0;
    EXPECT_EQ(nwtest::ConnectTreeFile(std::string(VESTREL_TEST_TREES) + "/acme.json", "admin.ACME", true), "");
    // The last run chose a tree this workstation is no longer connected to.
    QDir().mkpath(QString::fromStdString(config.Path()));
    QFile settings(QString::fromStdString(SettingsFilePath()));
    EXPECT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[Settings]\r\nComboBoxTrees=GONE_TREE\r\n");
  }
  ~NoTreeChangeTest() override {
    DlgDetails = nullptr;
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
  }

  static int RowNamed(const StringGrid& grid, const std::string& name) {
    for (int row = 1; row < grid.RowCount(); ++row)
      if (grid.Cell(1, row) == name) return row;
    return -1;
  }

  testing::TempConfigHome config;
  testing::RecordingUi ui;
};

TEST_F(NoTreeChangeTest, ScansListNamesRelativeToTheirContextsAndTheRowsOpenTheDetails) {
  TMainForm form;
  auto* dialog = new TDlgDetails(&form);
  DlgDetails = dialog;
  form.show();
  ASSERT_EQ(form.ComboBoxTrees->currentIndex(), -1);
  ASSERT_EQ(form.EditMyName->text(), "EditMyName");  // no tree change ran

  form.BitBtnSrvClick();
  const StringGrid& servers = form.StringGridSrv->Grid();
  const int fs1 = RowNamed(servers, "FS1");
  ASSERT_GE(fs1, 1) << servers.Cell(1, 1);
  EXPECT_EQ(servers.Cell(2, fs1), ".HQ.ACME");
  for (int row = 1; row < servers.RowCount(); ++row) EXPECT_EQ(servers.Cell(1, row).find('='), std::string::npos);

  form.BitBtnPartClick();
  const StringGrid& partitions = form.StringGridPart->Grid();
  const int sales = RowNamed(partitions, "Sales");
  ASSERT_GE(sales, 1);
  EXPECT_EQ(partitions.Cell(2, sales), ".ACME");
  EXPECT_EQ(partitions.Cell(3, sales).find("CN="), std::string::npos) << partitions.Cell(3, sales);

  // The server's row opens its partitions.
  form.StringGridSrv->SetCurrentCell(1, fs1);
  bool opened = false;
  QObject scope;
  QTimer::singleShot(0, &scope, [&] {
    QCoreApplication::processEvents();
    opened = dialog->isVisible();
    EXPECT_GE(dialog->ListBoxSrvPart->count(), 1);
    dialog->reject();
  });
  form.StringGridDblClick(form.StringGridSrv);
  EXPECT_TRUE(opened);
  EXPECT_TRUE(ui.boxes.empty()) << ui.boxes.front().text;
  form.close();
}

}  // namespace
}  // namespace vestrel::sweep
