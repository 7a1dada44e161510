// What a newcomer meets walking through the window and the details dialog on the demo
// trees, offscreen: results of one tree never carried into another, a readable red status
// cell, progress text that is not cut short, the focus where the next choice is made, and
// a tab order that follows the layout.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "RecordingUi.h"
#include "TempConfigHome.h"
#include "app/Vestrel_data.h"
#include "app/Vestrel_main.h"
#include "details/Vestrel_detail.h"
#include "directory/D_NW.h"
#include "platform/nwclient/NwTestHooks.h"

namespace vestrel {
namespace {

std::string DemoTree(const char* file) { return std::string(VESTREL_TEST_TREES) + "/" + file; }

// The widgets a Tab press visits, in order, starting after the window itself.
std::vector<QWidget*> TabChain(QWidget& window) {
  std::vector<QWidget*> chain;
  QWidget* widget = &window;
  for (int guard = 0; guard < 1000; ++guard) {
    widget = widget->nextInFocusChain();
    if (widget == &window) break;
    if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() && widget->isVisibleTo(&window))
      chain.push_back(widget);
  }
  return chain;
}

// Where each of the given widgets stands in the chain (-1 when absent).
std::vector<int> PlacesIn(const std::vector<QWidget*>& chain, std::initializer_list<QWidget*> widgets) {
  std::vector<int> places;
  for (QWidget* widget : widgets) {
    const auto found = std::find(chain.begin(), chain.end(), widget);
    places.push_back(found == chain.end() ? -1 : static_cast<int>(found - chain.begin()));
  }
  return places;
}

bool Ascending(const std::vector<int>& places) {
  for (std::size_t i = 0; i < places.size(); ++i) {
    if (places[i] < 0 || (i > 0 && places[i] <= places[i - 1])) return false;
  }
  return true;
}

// Dark pixels (text) in the rectangle of an image.
int InkPixels(const QImage& image, const QRect& area) {
  int ink = 0;
  for (int y = area.top(); y <= area.bottom() && y < image.height(); ++y)
    for (int x = area.left(); x <= area.right() && x < image.width(); ++x) ink += qRed(image.pixel(x, y)) < 128 ? 1 : 0;
  return ink;
}

// The demo trees, as the program finds them: ACME_TREE primary, LAB_TREE beside it; the
// window and both dialogs exist as at start-up.
class WalkthroughTest : public ::testing::Test {
 protected:
  WalkthroughTest() {
    nwtest::Reset();
    ClientConnection = kNoClientConnection;
    EXPECT_EQ(nwtest::ConnectTreeFile(DemoTree("acme.json"), "admin.ACME", true), "");
    EXPECT_EQ(nwtest::ConnectTreeFile(DemoTree("lab.json"), "admin.LAB", false), "");
    form = std::make_unique<TMainForm>();
    DlgDetails = new TDlgDetails(form.get());
    OKBottomDlg = new TOKBottomDlg(form.get());
  }
  ~WalkthroughTest() override {
    DlgDetails = nullptr;
    OKBottomDlg = nullptr;
    form.reset();
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
  }

  void ShowForm(int width = 769, int height = 679) {
    form->resize(width, height);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }

  void ChooseTree(const char* tree) {
    form->ComboBoxTrees->setCurrentIndex(form->ComboBoxTrees->findText(QString::fromLatin1(tree)));
    form->ChangeTree();
  }

  // Opens the details dialog by a double-click on the row's name, runs check while it is
  // shown, then closes it.
  void OpenDetails(StringGridView* grid, int row, const std::function<void()>& check) {
    bool shown = false;
    QTimer::singleShot(0, [&] {
      shown = DlgDetails->isVisible();
      if (shown) check();
      DlgDetails->accept();
    });
    grid->SetCurrentCell(1, row);
    form->StringGridDblClick(grid);
    QCoreApplication::processEvents();  // the timer's turn when nothing was opened
    ASSERT_TRUE(shown);
  }

  int RowNamed(const StringGrid& grid, const std::string& name) {
    for (int row = 1; row < grid.RowCount(); ++row)
      if (grid.Cell(1, row) == name) return row;
    ADD_FAILURE() << "no row " << name;
    return 1;
  }

  testing::TempConfigHome config;
  testing::RecordingUi ui;
  std::unique_ptr<TMainForm> form;
};

// ---- Another tree ----

TEST_F(WalkthroughTest, ChoosingAnotherTreeDropsTheResultsOfTheOldOne) {
  ShowForm();
  form->BitBtnSrvClick();
  form->BitBtnPartClick();
  form->StringGridPart->SetCurrentCell(4, 4);  // a click leaves the cell's hint on the grid
  ASSERT_NE(form->StringGridPart->Hint(), "");
  ASSERT_GT(form->StringGridSrv->Grid().RowCount(), 2);
  ASSERT_GT(form->StringGridPart->Grid().RowCount(), 2);

  // Choosing the tree already shown keeps what was found.
  ChooseTree("ACME_TREE");
  EXPECT_EQ(form->StringGridPart->Grid().Cell(1, 1), "[Root]");
  EXPECT_TRUE(form->BitBtnExpPart->isEnabled());

  // In LAB_TREE the ACME rows would be exported as LAB_TREE_*.* and their names opened
  // against the wrong tree: nothing of ACME_TREE is left to export or to open.
  ChooseTree("LAB_TREE");
  EXPECT_EQ(form->EditMyName->text(), "admin.LAB");
  for (StringGridView* view : {form->StringGridSrv, form->StringGridPart}) {
    const StringGrid& grid = view->Grid();
    EXPECT_EQ(grid.RowCount(), 2);
    for (int col = 0; col < grid.ColCount(); ++col) {
      EXPECT_EQ(grid.Cell(col, 0), "");
      EXPECT_EQ(grid.Cell(col, 1), "");
    }
    EXPECT_EQ(view->Hint(), "");
  }
  EXPECT_FALSE(form->BitBtnExpSrv->isEnabled());
  EXPECT_FALSE(form->BitBtnExpPart->isEnabled());
  bool opened = false;
  QTimer::singleShot(0, [&] {
    opened = DlgDetails->isVisible();
    if (opened) DlgDetails->reject();
  });
  form->StringGridPart->SetCurrentCell(1, 1);
  form->StringGridDblClick(form->StringGridPart);
  EXPECT_FALSE(opened);
  EXPECT_EQ(DlgDetails->PartitionList->Count(), 0);
  QCoreApplication::processEvents();  // the timer's turn when nothing was opened

  // The new tree's own scan fills the grid and the export again.
  form->BitBtnPartClick();
  EXPECT_EQ(form->StringGridPart->Grid().Cell(1, 1), "[Root]");
  EXPECT_NE(form->StringGridPart->Grid().Cell(3, 1).find(".LAB"), std::string::npos);
  EXPECT_TRUE(form->BitBtnExpPart->isEnabled());
  EXPECT_TRUE(ui.boxes.empty()) << ui.Texts().front();
}

// ---- The details dialog's opening ----

// The server view's partition listing lets window messages run; the user acts on the main
// window then.
TEST_F(WalkthroughTest, WhileTheDetailsDialogOpensTheWindowIgnoresItsCommands) {
  ShowForm();
  form->PageControl->setCurrentWidget(form->TabSheetServers);
  form->BitBtnSrvClick();
  StringGridView& grid = *form->StringGridSrv;
  const int row = RowNamed(grid.Grid(), "FS1");
  const std::uint64_t searches = nwtest::CallCount("DSSearchStep");
  bool acted = false;
  ui.onProcessMessages = [&] {
    if (std::exchange(acted, true)) return;
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(1, row).center());
    QTest::mouseClick(form->BitBtnSrv, Qt::LeftButton);
    QTest::keyClick(form->ComboBoxTrees, Qt::Key_Down);  // LAB_TREE
  };
  OpenDetails(&grid, row, [] { EXPECT_EQ(DlgDetails->ListBoxSrvPart->count(), 5); });
  ui.onProcessMessages = nullptr;
  ASSERT_TRUE(acted);
  EXPECT_EQ(nwtest::CallCount("DSSearchStep"), searches);  // no scan
  EXPECT_EQ(form->ComboBoxTrees->currentText(), "ACME_TREE");
  EXPECT_EQ(ContextTreeName(MainContext), "ACME_TREE");
  EXPECT_TRUE(form->ComboBoxTrees->isEnabled());
  EXPECT_TRUE(ui.boxes.empty());
  // Later openings and commands work as before.
  OpenDetails(&grid, RowNamed(grid.Grid(), "FS2"),
              [] { EXPECT_EQ(DlgDetails->windowTitle(), "Sync Server: \".FS2.HQ.ACME\""); });
  form->BitBtnSrvClick();
  EXPECT_GT(nwtest::CallCount("DSSearchStep"), searches);
}

TEST_F(WalkthroughTest, AWindowClosedWhileTheDetailsDialogOpensClosesOnceTheOpeningIsOver) {
  ShowForm();
  form->PageControl->setCurrentWidget(form->TabSheetServers);
  form->BitBtnSrvClick();
  bool closed = false;
  bool visibleAfterClose = false;
  ui.onProcessMessages = [&] {
    if (std::exchange(closed, true)) return;
    form->close();
    visibleAfterClose = form->isVisible();
  };
  // Should the dialog stay open, it is closed here and the test fails.
  QTimer watchdog;
  watchdog.setSingleShot(true);
  bool leftOpen = false;
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    leftOpen = true;
    DlgDetails->reject();
  });
  watchdog.start(5000);
  form->StringGridSrv->SetCurrentCell(1, RowNamed(form->StringGridSrv->Grid(), "FS1"));
  form->StringGridDblClick(form->StringGridSrv);
  ui.onProcessMessages = nullptr;
  ASSERT_TRUE(closed);
  EXPECT_FALSE(leftOpen);
  EXPECT_TRUE(visibleAfterClose);
  // The listing ran to its end on a live context; then the dialog and the window closed.
  EXPECT_EQ(DlgDetails->ListBoxSrvPart->count(), 5);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(DlgDetails->isVisible());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(nwtest::OpenContexts(), 0u);
}

// ---- The red status cell ----

TEST(FontFittingLine, TakesTheLargestSizeWhoseLineFits) {
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(15);
  const int designed = QFontMetrics(font).height();
  EXPECT_EQ(FontFittingLine(font, designed).pixelSize(), 15);
  EXPECT_EQ(FontFittingLine(font, 100).pixelSize(), 15);

  const int room = designed - 3;
  const QFont fitting = FontFittingLine(font, room);
  EXPECT_LE(QFontMetrics(fitting).height(), room);
  EXPECT_LT(fitting.pixelSize(), 15);
  QFont larger = fitting;
  larger.setPixelSize(fitting.pixelSize() + 1);
  EXPECT_GT(QFontMetrics(larger).height(), room);
  EXPECT_EQ(fitting.families(), font.families());

  // A font given in points is measured in pixels all the same; no room leaves the least size.
  QFont points;
  points.setPointSize(30);
  EXPECT_LE(QFontMetrics(FontFittingLine(points, 20)).height(), 20);
  EXPECT_EQ(FontFittingLine(font, 0).pixelSize(), kSmallestFittingPixelSize);
}

TEST_F(WalkthroughTest, TheRedStatusCellShowsItsWholeTextFromTwoPixelsIn) {
  ShowForm(1200, 600);
  form->PageControl->setCurrentWidget(form->TabSheetPart);
  form->BitBtnPartClick();
  StringGridView& view = *form->StringGridPart;
  const int row = RowNamed(view.Grid(), "Legacy");
  ASSERT_NE(view.Grid().Cell(4, row).find("err"), std::string::npos);
  view.scrollTo(view.GridModel().IndexOfCell(4, row));
  QCoreApplication::processEvents();
  const QImage shown = view.viewport()->grab().toImage();
  const QRect cell = view.CellRect(4, row);
  ASSERT_FALSE(cell.isEmpty());

  // The same text, as large as it is drawn, with room below it: nothing of it may lie
  // below the cell, and the cell must show all of it.
  const QFont font = FontFittingLine(view.font(), cell.height() - 2);
  QImage whole(cell.width(), cell.height() * 4, QImage::Format_RGB32);
  whole.fill(QColor(255, 0, 0));
  {
    QPainter painter(&whole);
    painter.setFont(font);
    painter.setPen(view.palette().text().color());
    painter.drawText(QRect(2, 2, cell.width() - 2, whole.height() - 2), Qt::AlignLeft | Qt::AlignTop,
                     view.DisplayedText(4, row));
  }
  const int inkInside = InkPixels(whole, QRect(0, 0, cell.width(), cell.height()));
  EXPECT_GT(inkInside, 0);
  EXPECT_EQ(InkPixels(whole, QRect(0, cell.height(), cell.width(), whole.height())), 0);
  const int inkShown = InkPixels(shown, cell);
  EXPECT_NEAR(inkShown, inkInside, inkInside / 20 + 2);
  // Still red around the text, and the text starts two pixels in.
  EXPECT_EQ(shown.pixel(cell.left(), cell.top()), qRgb(255, 0, 0));
  EXPECT_EQ(InkPixels(shown, QRect(cell.left(), cell.top(), cell.width(), 2)), 0);
  EXPECT_EQ(InkPixels(shown, QRect(cell.left(), cell.top(), 2, cell.height())), 0);
}

// ---- Progress ----

TEST_F(WalkthroughTest, ProgressTextUsesTheRoomOfTheStatusBar) {
  ShowForm(1000, 679);
  form->PageControl->setCurrentWidget(form->TabSheetPart);
  form->StatusInfo(3956, 6001, "OU03955.Berlin.Sales.ACME");
  QCoreApplication::processEvents();
  QLabel* panel = form->StatusBar1->Panel(kProgressPanel);
  EXPECT_EQ(panel->text(), "[3956/6001] OU03955.Berlin.Sales.ACME");
  EXPECT_GE(panel->width(), panel->sizeHint().width());
  EXPECT_TRUE(form->ProgressBarP->isVisible());
  EXPECT_EQ(form->ProgressBarP->value(), 3956);

  // However narrow the window, the panel keeps its designed width and the address its own.
  form->resize(500, 679);
  QCoreApplication::processEvents();
  EXPECT_GE(panel->width(), 150);
  EXPECT_GE(form->StatusBar1->Panel(kWebPanel)->width(), 250);
}

// ---- Focus and tab order ----

TEST_F(WalkthroughTest, TheDetailsDialogOpensWithTheFocusOnItsList) {
  ShowForm();
  form->PageControl->setCurrentWidget(form->TabSheetPart);
  form->BitBtnPartClick();
  OpenDetails(form->StringGridPart, RowNamed(form->StringGridPart->Grid(), "Legacy"), [] {
    QCoreApplication::processEvents();
    EXPECT_EQ(DlgDetails->focusWidget(), DlgDetails->ListBoxPartServers);
    // Having the focus chooses nothing: no server until the user picks one.
    EXPECT_EQ(DlgDetails->ListBoxPartServers->currentRow(), -1);
    EXPECT_EQ(DlgDetails->ServerName, "");
    // Leave the focus on a button of this view and in the delay fields.
    DlgDetails->ListBoxPartServers->setCurrentRow(1);
    DlgDetails->BitBtnSyncPart2->setFocus();
  });

  form->PageControl->setCurrentWidget(form->TabSheetServers);
  form->BitBtnSrvClick();
  OpenDetails(form->StringGridSrv, RowNamed(form->StringGridSrv->Grid(), "FS1"), [] {
    QCoreApplication::processEvents();
    EXPECT_EQ(DlgDetails->focusWidget(), DlgDetails->ListBoxSrvPart);
    EXPECT_EQ(DlgDetails->ListBoxSrvPart->currentRow(), -1);
    EXPECT_EQ(DlgDetails->PartitionName, "");
    EXPECT_EQ(DlgDetails->windowTitle(), "Sync Server: \".FS1.HQ.ACME\"");
    DlgDetails->SpinEditS->setFocus();
  });
  OpenDetails(form->StringGridSrv, RowNamed(form->StringGridSrv->Grid(), "FS2"), [] {
    EXPECT_EQ(DlgDetails->focusWidget(), DlgDetails->ListBoxSrvPart);
  });
}

TEST_F(WalkthroughTest, TheFocusAloneChoosesNoServerAClickOrAnArrowKeyDoes) {
  ShowForm();
  form->PageControl->setCurrentWidget(form->TabSheetPart);
  form->BitBtnPartClick();
  OpenDetails(form->StringGridPart, RowNamed(form->StringGridPart->Grid(), "Berlin"), [] {
    TDlgDetails& d = *DlgDetails;
    // Keys reach the dialog once it is the focus window.
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == d.windowHandle(); }));
    QListWidget& holders = *d.ListBoxPartServers;
    QTest::mouseClick(holders.viewport(), Qt::LeftButton, {}, holders.visualItemRect(holders.item(2)).center());
    ASSERT_EQ(d.SourceServer, ".SALES-FS1.Sales.ACME");

    // Tab from the source list into the target list: nothing is chosen there.
    d.PageControl->setCurrentWidget(d.TabSheetSyncReplica);
    d.ListBoxServer1->setFocus(Qt::TabFocusReason);
    QTest::keyClick(d.ListBoxServer1, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), d.ListBoxServer2);
    EXPECT_EQ(d.TargetServer, "");
    EXPECT_FALSE(d.BitBtnSyncReplica->isEnabled());
    EXPECT_TRUE(d.LabelSyncReplicaInfo->text().isEmpty());
    // The first arrow key chooses the first entry; Ctrl+Space cannot take the choice away.
    QTest::keyClick(d.ListBoxServer2, Qt::Key_Down);
    EXPECT_EQ(d.TargetServer, ".BER-FS1.Berlin.Sales.ACME");
    EXPECT_TRUE(d.BitBtnSyncReplica->isEnabled());
    QTest::keyClick(d.ListBoxServer2, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(d.ListBoxServer2->selectedItems().size(), 1);
    EXPECT_TRUE(d.BitBtnSyncReplica->isEnabled());
  });
}

TEST_F(WalkthroughTest, TabOrderFollowsTheLayout) {
  ShowForm();
  form->PageControl->setCurrentWidget(form->TabSheetPart);
  form->BitBtnPartClick();
  std::vector<QWidget*> chain = TabChain(*form);
  EXPECT_TRUE(Ascending(PlacesIn(chain, {form->ComboBoxTrees, form->EditMyName, form->PageControl->tabBar(),
                                         form->BitBtnPart, form->BitBtnExpPart, form->ComboBoxTypeP,
                                         form->StringGridPart})));

  OpenDetails(form->StringGridPart, RowNamed(form->StringGridPart->Grid(), "Legacy"), [] {
    TDlgDetails& d = *DlgDetails;
    d.ListBoxPartServers->setCurrentRow(1);  // every button of the column enabled
    const std::vector<QWidget*> dialogChain = TabChain(d);
    EXPECT_TRUE(Ascending(PlacesIn(dialogChain, {d.ListBoxPartServers, d.BitBtnSyncSchema2, d.BitBtnSyncPart2,
                                                 d.BitBtnPartSendAll2, d.BitBtnPartRcvAll2, d.BitBtnPartJoin2,
                                                 d.BitBtnPartDel2, d.BitBtnReplicaDel2, d.BitBtnRepairTimeStamps2,
                                                 d.OKBtn, d.SpinEditH, d.SpinEditM, d.SpinEditS})));
    d.ListBoxServer2->setCurrentRow(0);
    d.PageControl->setCurrentWidget(d.TabSheetSyncReplica);
    const std::vector<QWidget*> replicaChain = TabChain(d);
    EXPECT_TRUE(Ascending(PlacesIn(replicaChain, {d.ListBoxServer1, d.ListBoxServer2, d.BitBtnSyncReplica,
                                                  d.CheckBoxAllObjects, d.OKBtn, d.SpinEditH})));
    // The arrow between the lists takes no focus.
    EXPECT_EQ(PlacesIn(replicaChain, {d.BtnSend1to2}).front(), -1);
  });
}

}  // namespace
}  // namespace vestrel
