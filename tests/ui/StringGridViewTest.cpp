// The Qt view over a result grid: what it shows, how it follows the grid, and the
// current cell, click and painting hooks the window's handlers rely on.
#include "app/StringGridView.h"

#include <QHeaderView>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace vestrel {
namespace {

class StringGridViewTest : public ::testing::Test {
 protected:
  StringGridViewTest() : view(4, 3) {
    view.resize(700, 300);
    view.Grid().SetCell(1, 0, "Server");
    view.Grid().SetCell(2, 0, "Context");
    view.Grid().SetCell(3, 0, "Version");
    view.Grid().SetCell(0, 1, "1");
    view.Grid().SetCell(0, 2, "2");
    view.Grid().SetCell(1, 1, "SRV1");
    view.Grid().SetCell(2, 1, ".ORG");
    view.Grid().SetCell(1, 2, "SRV2");
  }

  void Show() {
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  }

  void ClickCell(int col, int row) {
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.CellRect(col, row).center());
  }

  StringGridView view;
};

TEST_F(StringGridViewTest, FixedRowAndColumnBecomeTheHeadersAndTheRestTheCells) {
  EXPECT_EQ(view.model()->rowCount(), 2);
  EXPECT_EQ(view.model()->columnCount(), 3);
  EXPECT_EQ(view.DisplayedText(1, 0), "Server");
  EXPECT_EQ(view.DisplayedText(3, 0), "Version");
  EXPECT_EQ(view.DisplayedText(0, 2), "2");
  EXPECT_EQ(view.DisplayedText(1, 1), "SRV1");
  EXPECT_EQ(view.DisplayedText(2, 1), ".ORG");
  EXPECT_EQ(view.DisplayedText(0, 0), "");
  EXPECT_EQ(view.DisplayedText(9, 9), "");
  EXPECT_EQ(view.model()->data(view.model()->index(0, 1)).toString(), ".ORG");
}

TEST_F(StringGridViewTest, CellsHeadersAndMultiLineTextsFollowTheGrid) {
  Show();
  view.Grid().SetCell(2, 2, ".SALES.ORG");
  view.Grid().SetCell(1, 0, "Name");
  view.Grid().SetCell(0, 1, "7");
  view.Grid().SetCell(3, 1, "IP 10.0.0.1\r\nIPX 0101:0000000001\r\n");
  EXPECT_EQ(view.DisplayedText(2, 2), ".SALES.ORG");
  EXPECT_EQ(view.DisplayedText(1, 0), "Name");
  EXPECT_EQ(view.DisplayedText(0, 1), "7");
  // One line in place; the full text stays available.
  EXPECT_EQ(view.DisplayedText(3, 1), "IP 10.0.0.1 | IPX 0101:0000000001");
  EXPECT_EQ(view.model()->data(view.GridModel().IndexOfCell(3, 1), Qt::UserRole).toString(),
            "IP 10.0.0.1\r\nIPX 0101:0000000001\r\n");
}

TEST_F(StringGridViewTest, RowAndColumnCountsFollowTheGridAndKeepTheWidths) {
  view.Grid().SetColWidth(0, 30);
  view.Grid().SetColWidth(2, 203);
  view.Grid().SetRowCount(6);
  EXPECT_EQ(view.model()->rowCount(), 5);
  view.Grid().SetColCount(6);
  EXPECT_EQ(view.model()->columnCount(), 5);
  view.Grid().SetRowCount(2);
  EXPECT_EQ(view.model()->rowCount(), 1);
  EXPECT_EQ(view.DisplayedText(1, 1), "SRV1");
  EXPECT_EQ(view.DisplayedText(1, 2), "");
  EXPECT_EQ(view.horizontalHeader()->sectionSize(1), 203);
  EXPECT_EQ(view.verticalHeader()->width(), 30);
  view.Grid().SetColCount(1);
  EXPECT_EQ(view.model()->columnCount(), 0);
}

TEST_F(StringGridViewTest, WidthsAndRowHeightApplyAndAWidthTheUserDragsIsKept) {
  view.SetDefaultRowHeight(18);
  EXPECT_EQ(view.verticalHeader()->sectionSize(0), 18);
  view.Grid().SetColWidth(1, 106);
  EXPECT_EQ(view.horizontalHeader()->sectionSize(0), 106);
  // Dragging a header section resizes it the same way.
  view.horizontalHeader()->resizeSection(1, 150);
  EXPECT_EQ(view.Grid().ColWidth(2), 150);
  EXPECT_EQ(view.Grid().ColWidth(1), 106);
}

TEST_F(StringGridViewTest, CurrentCellStartsAtTheFirstCellAndIsSetInGridAddressing) {
  EXPECT_EQ(view.Col(), 1);
  EXPECT_EQ(view.Row(), 1);
  view.SetCurrentCell(3, 2);
  EXPECT_EQ(view.Col(), 3);
  EXPECT_EQ(view.Row(), 2);
  // Header cells are no cells to choose.
  view.SetCurrentCell(0, 1);
  EXPECT_EQ(view.Col(), 3);
  EXPECT_EQ(view.Row(), 2);
  // Emptying the cells keeps the choice.
  view.Grid().ClearCells();
  EXPECT_EQ(view.Col(), 3);
  EXPECT_EQ(view.Row(), 2);
  EXPECT_EQ(view.DisplayedText(1, 1), "");
  EXPECT_EQ(view.DisplayedText(1, 0), "");
}

TEST_F(StringGridViewTest, EachClickIsAnnouncedOnceWithTheCellMadeCurrentFirst) {
  Show();
  QSignalSpy clicks(&view, &StringGridView::Click);
  int colAtClick = -1;
  int rowAtClick = -1;
  QObject::connect(&view, &StringGridView::Click, [&] {
    colAtClick = view.Col();
    rowAtClick = view.Row();
  });
  ClickCell(2, 1);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(colAtClick, 2);
  EXPECT_EQ(rowAtClick, 1);
  ClickCell(2, 1);
  EXPECT_EQ(clicks.count(), 2);
  ClickCell(3, 2);
  EXPECT_EQ(clicks.count(), 3);
  EXPECT_EQ(colAtClick, 3);
  EXPECT_EQ(rowAtClick, 2);
  // Moving with the keyboard chooses a cell as well.
  QTest::keyClick(&view, Qt::Key_Left);
  EXPECT_EQ(clicks.count(), 4);
  EXPECT_EQ(colAtClick, 2);

  QSignalSpy doubleClicks(&view, &StringGridView::DblClick);
  // A double-click is a press and release, then the second press.
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.CellRect(1, 2).center());
  QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, view.CellRect(1, 2).center());
  EXPECT_EQ(doubleClicks.count(), 1);
  EXPECT_EQ(view.Col(), 1);
  EXPECT_EQ(view.Row(), 2);
}

TEST_F(StringGridViewTest, ThePaintingHookPaintsOverCellsInGridAddressing) {
  int calls = 0;
  bool headerPainted = false;
  view.SetDrawCellHandler([&](QPainter& canvas, int col, int row, const QRect& rect, DrawCellState) {
    ++calls;
    if (col == 0 || row == 0) headerPainted = true;
    if (col == 2) canvas.fillRect(rect, QColor(255, 0, 0));
  });
  Show();
  const QImage image = view.viewport()->grab().toImage();
  EXPECT_GT(calls, 0);
  EXPECT_FALSE(headerPainted);
  const QRect red = view.CellRect(2, 2);
  const QRect plain = view.CellRect(1, 2);
  EXPECT_EQ(QColor(image.pixel(red.center())), QColor(255, 0, 0));
  EXPECT_NE(QColor(image.pixel(plain.center())), QColor(255, 0, 0));
}

TEST_F(StringGridViewTest, TheHintIsTheToolTipWithLineBreaksForQt) {
  view.SetHint("SRV1\r\nContext\r\n\r\n.ORG");
  EXPECT_EQ(view.Hint(), "SRV1\r\nContext\r\n\r\n.ORG");
  EXPECT_EQ(view.toolTip(), "SRV1\nContext\n\n.ORG");
}

TEST(StringGridViewAlone, OutlivesNoGridObserverAndShowsAGridWithoutFixedParts) {
  StringGridView view(2, 2);
  view.Grid().SetFixedCols(0);
  view.Grid().SetFixedRows(0);
  view.Grid().SetCell(0, 0, "a");
  EXPECT_EQ(view.model()->rowCount(), 2);
  EXPECT_EQ(view.model()->columnCount(), 2);
  EXPECT_EQ(view.DisplayedText(0, 0), "a");
  EXPECT_FALSE(view.horizontalHeader()->isVisibleTo(&view));
}

}  // namespace
}  // namespace vestrel
