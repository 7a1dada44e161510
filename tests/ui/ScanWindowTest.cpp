// The scan commands in the window, offscreen: the grids filled through the buttons, the
// export buttons enabled, failing partition status cells painted red (never the header),
// and commands that arrive while a scan lets messages run are ignored.
#include <QHeaderView>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <vector>

#include "RecordingUi.h"
#include "app/Vestrel_main.h"
#include "directory/D_NW.h"
#include "directory/NTypes.h"
#include "platform/nwclient/NwTestHooks.h"

namespace vestrel {
namespace {

// One partition below the root whose second replica is in remote error.
constexpr const char* kRedTree = R"({
  "tree": "RED_TREE",
  "objects": [ { "name": "ORG", "class": "Organization" }, { "name": "Sales.ORG", "class": "Organizational Unit" },
               { "name": "admin.ORG", "class": "User" } ],
  "servers": [ { "name": "FS1.ORG", "version": "eDirectory 9.2", "dsRevision": 40204 },
               { "name": "FS2.ORG", "version": "eDirectory 9.2", "dsRevision": 40204 } ],
  "partitions": [
    { "root": "[Root]", "replicas": [ { "server": "FS1.ORG" }, { "server": "FS2.ORG" } ] },
    { "root": "Sales.ORG", "replicas": [ { "server": "FS1.ORG" },
                                         { "server": "FS2.ORG", "state": "remote error", "errors": [-636] } ] } ]
})";

bool IsRed(QRgb pixel) { return qRed(pixel) == 255 && qGreen(pixel) == 0 && qBlue(pixel) == 0; }

class ScanWindowTest : public ::testing::Test {
 protected:
  ScanWindowTest() {
    savedConfig_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    nwtest::Reset();
    ClientConnection = kNoClientConnection;
    EXPECT_EQ(nwtest::ConnectTreeJson(kRedTree, "admin.ORG", true), "");
  }
  ~ScanWindowTest() override {
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
    qputenv("XDG_CONFIG_HOME", savedConfig_);
  }

  void ShowPartitionPage(TMainForm& form) {
    form.resize(1200, 600);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.PageControl->setCurrentWidget(form.TabSheetPart);
  }

  testing::RecordingUi ui;

 private:
  QTemporaryDir config_;
  QByteArray savedConfig_;
};

TEST_F(ScanWindowTest, ScanButtonsFillTheGridsAndEnableExport) {
  TMainForm form;
  ShowPartitionPage(form);
  form.BitBtnSrv->click();
  EXPECT_EQ(form.StringGridSrv->Grid().RowCount(), 3);
  EXPECT_EQ(form.StringGridSrv->Grid().Cell(1, 1), "FS1");
  EXPECT_TRUE(form.BitBtnExpSrv->isEnabled());
  form.BitBtnPart->click();
  ASSERT_EQ(form.StringGridPart->Grid().RowCount(), 3);
  EXPECT_EQ(form.StringGridPart->Grid().Cell(1, 1), "[Root]");
  EXPECT_TRUE(form.BitBtnExpPart->isEnabled());
  // Progress is cleared when done: the bar hidden, the hint shown.
  EXPECT_TRUE(form.ProgressBarP->isHidden());
  EXPECT_FALSE(form.LabelInfoScanPart->isHidden());
  EXPECT_EQ(ui.Cursor(), CursorKind::Default);
}

TEST_F(ScanWindowTest, FailingStatusCellIsPaintedRedAndTheHeaderIsNot) {
  TMainForm form;
  ShowPartitionPage(form);
  form.BitBtnPartClick();
  StringGridView& view = *form.StringGridPart;
  ASSERT_NE(view.Grid().Cell(4, 2).find("(remote error)"), std::string::npos);
  ASSERT_EQ(view.Grid().Cell(4, 1).find("err"), std::string::npos);
  view.scrollTo(view.GridModel().IndexOfCell(4, 2));
  QCoreApplication::processEvents();

  const QImage image = view.viewport()->grab().toImage();
  const QRect failing = view.CellRect(4, 2);
  const QRect healthy = view.CellRect(4, 1);
  ASSERT_FALSE(failing.isEmpty());
  // Corners of the cell are outside the text drawn at (left + 2, top + 2).
  EXPECT_TRUE(IsRed(image.pixel(failing.right() - 2, failing.bottom() - 2)));
  EXPECT_TRUE(IsRed(image.pixel(failing.left() + 1, failing.top() + 1)));
  EXPECT_FALSE(IsRed(image.pixel(healthy.right() - 2, healthy.bottom() - 2)));
  // Another column of the failing row stays as drawn by default.
  const QRect replica = view.CellRect(3, 2);
  EXPECT_FALSE(IsRed(image.pixel(replica.right() - 2, replica.bottom() - 2)));

  // The header cell of the status column is not red anywhere.
  QHeaderView* header = view.horizontalHeader();
  const QImage headerImage = header->grab().toImage();
  const int section = view.GridModel().IndexOfCell(4, 2).column();
  const int left = header->sectionViewportPosition(section);
  int redPixels = 0;
  for (int x = left; x < left + header->sectionSize(section) && x < headerImage.width(); ++x)
    for (int y = 0; y < headerImage.height(); ++y) redPixels += IsRed(headerImage.pixel(x, y)) ? 1 : 0;
  EXPECT_EQ(redPixels, 0);
}

TEST_F(ScanWindowTest, CommandsArrivingWhileAScanRunsAreIgnored) {
  TMainForm form;
  ShowPartitionPage(form);
  form.BitBtnSrvClick();
  const std::string serverCell = form.StringGridSrv->Grid().Cell(1, 1);
  form.StringGridSrv->Grid().SetCell(1, 1, "before");
  int nested = 0;
  bool treeSelectorLocked = false;
  ui.onProcessMessages = [&] {
    if (nested++ > 0) return;
    treeSelectorLocked = !form.ComboBoxTrees->isEnabled();
    form.BitBtnSrvClick();
    form.StringGridDblClick(form.StringGridPart);
    form.BitBtnExpClick(form.BitBtnExpPart);
  };
  form.BitBtnPartClick();
  ui.onProcessMessages = nullptr;
  EXPECT_GT(nested, 1);
  EXPECT_TRUE(treeSelectorLocked);  // no tree change can mix two trees in one grid
  EXPECT_TRUE(form.ComboBoxTrees->isEnabled());
  EXPECT_EQ(form.StringGridSrv->Grid().Cell(1, 1), "before");  // no server scan ran
  EXPECT_EQ(form.StringGridPart->Grid().ColCount(), 9);
  EXPECT_EQ(form.StringGridPart->Grid().RowCount(), 3);
  EXPECT_TRUE(ui.boxes.empty());  // no export, no dialog
  EXPECT_FALSE(serverCell.empty());
}

// A scan that lost reads to the link, or whose search failed, says so in the status bar
// after it: a dead server must never pass for an empty tree. Reads refused by the
// directory itself (no right, no such value) are no link failure and say nothing.
TEST_F(ScanWindowTest, AfterAScanTheStatusBarSaysHowManyReadsTheLinkLostAndWhy) {
  struct Case {
    const char* operation;
    NWRCODE code;
    const char* status;  // a pattern
  } cases[] = {
      {"DSReadStep", ERR_UNREACHABLE_SERVER, R"(\d+ reads failed: .+)"},
      {"DSSearchStep", ERR_TRANSPORT_FAILURE, R"(Search failed: .+)"},
      {"DSReadStep", ERR_NO_ACCESS, ""},
  };
  TMainForm form;
  ShowPartitionPage(form);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(c.code));
    nwtest::FailOperation(c.operation, c.code);
    form.BitBtnPartClick();
    nwtest::ClearFailures();
    EXPECT_TRUE(std::regex_match(form.StatusBar1->PanelText(kProgressPanel), std::regex(c.status)))
        << form.StatusBar1->PanelText(kProgressPanel);
  }
  form.BitBtnPartClick();
  EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "") << "a whole scan clears what the last one said";
  EXPECT_TRUE(ui.boxes.empty());
}

// The running scan's button (which says "Stop" meanwhile) or Esc stops it at its next
// wait: the rows not done keep their names, and the status bar says so.
TEST_F(ScanWindowTest, TheScanButtonOrEscStopsTheScanAtItsNextWait) {
  TMainForm form;
  ShowPartitionPage(form);
  const QString caption = form.BitBtnPart->text();
  const std::vector<std::function<void()>> stops = {
      [&] { form.BitBtnPart->click(); },
      [&] { QTest::keyClick(&form, Qt::Key_Escape); },
  };
  for (std::size_t how = 0; how < stops.size(); ++how) {
    SCOPED_TRACE(how == 0 ? "button" : "Esc");
    QString captionDuringScan;
    ui.onProcessMessages = [&] {
      const StringGrid& grid = form.StringGridPart->Grid();
      if (!captionDuringScan.isEmpty() || grid.RowCount() < 3 || grid.Cell(1, 2).empty()) return;
      captionDuringScan = form.BitBtnPart->text();
      stops[how]();
    };
    form.BitBtnPart->click();
    ui.onProcessMessages = nullptr;
    EXPECT_EQ(captionDuringScan.toStdString(), "Stop");
    EXPECT_EQ(form.BitBtnPart->text(), caption);
    const StringGrid& grid = form.StringGridPart->Grid();
    EXPECT_EQ(grid.Cell(1, 2), "Sales") << "a row not done keeps its name";
    EXPECT_EQ(grid.Cell(4, 2), "") << "and nothing else";
    EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "Scan stopped");
  }
  form.BitBtnPart->click();
  EXPECT_NE(form.StringGridPart->Grid().Cell(4, 2), "") << "the next scan runs whole";
  EXPECT_EQ(form.StatusBar1->PanelText(kProgressPanel), "");
  EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
}  // namespace vestrel
