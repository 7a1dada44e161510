#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "util/StringGrid.h"

namespace vestrel {
namespace {

using Event = std::tuple<StringGrid::Change, int, int>;

void FillByPosition(StringGrid& grid) {
  for (int row = 0; row < grid.RowCount(); ++row) {
    for (int col = 0; col < grid.ColCount(); ++col) grid.SetCell(col, row, std::to_string(col) + "," + std::to_string(row));
  }
}

TEST(StringGridShape, DefaultsAndCellAccess) {
  StringGrid grid;
  EXPECT_EQ(grid.ColCount(), 5);
  EXPECT_EQ(grid.RowCount(), 5);
  EXPECT_EQ(grid.FixedCols(), 1);
  EXPECT_EQ(grid.FixedRows(), 1);
  grid.SetCell(4, 3, "x");
  EXPECT_EQ(grid.Cell(4, 3), "x");
  EXPECT_EQ(grid.Cell(3, 4), "");
}

TEST(StringGridShape, ResizingKeepsFittingCells) {
  StringGrid grid(3, 3);
  FillByPosition(grid);
  grid.SetColCount(5);
  EXPECT_EQ(grid.Cell(2, 2), "2,2");
  EXPECT_EQ(grid.Cell(0, 1), "0,1");
  EXPECT_EQ(grid.Cell(4, 2), "");
  grid.SetRowCount(2);
  grid.SetColCount(2);
  EXPECT_EQ(grid.Cell(1, 1), "1,1");
  EXPECT_EQ(grid.Cell(2, 1), "");  // outside now
  grid.SetRowCount(4);
  grid.SetColCount(3);
  EXPECT_EQ(grid.Cell(1, 0), "1,0");
  EXPECT_EQ(grid.Cell(2, 1), "");  // dropped cells do not come back
  EXPECT_EQ(grid.Cell(0, 3), "");
}

TEST(StringGridShape, OutsideAccessIsHarmless) {
  StringGrid grid(2, 2);
  grid.SetCell(-1, 0, "x");
  grid.SetCell(2, 0, "x");
  grid.SetCell(0, 2, "x");
  EXPECT_EQ(grid.Cell(-1, -1), "");
  EXPECT_EQ(grid.Cell(99, 0), "");
  grid.SetColCount(-3);
  EXPECT_EQ(grid.ColCount(), 0);
  EXPECT_EQ(grid.FixedCols(), 0);
  EXPECT_EQ(grid.Cell(0, 0), "");
}

TEST(StringGridShape, ClearCellsKeepsCountsAndFixedParts) {
  StringGrid grid(4, 3, 1, 1);
  FillByPosition(grid);
  grid.SetColWidth(2, 120);
  grid.ClearCells();
  EXPECT_EQ(grid.ColCount(), 4);
  EXPECT_EQ(grid.RowCount(), 3);
  EXPECT_EQ(grid.FixedCols(), 1);
  EXPECT_EQ(grid.FixedRows(), 1);
  EXPECT_EQ(grid.ColWidth(2), 120);
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) EXPECT_EQ(grid.Cell(col, row), "");
}

TEST(StringGridShape, ColumnWidthsFollowColumns) {
  StringGrid grid(2, 2);
  EXPECT_EQ(grid.ColWidth(1), grid.DefaultColWidth());
  grid.SetColWidth(1, 200);
  grid.SetColCount(4);
  EXPECT_EQ(grid.ColWidth(1), 200);
  EXPECT_EQ(grid.ColWidth(3), grid.DefaultColWidth());
}

TEST(StringGridObserver, ReportsWhatChanged) {
  StringGrid grid(2, 2);
  std::vector<Event> events;
  grid.SetObserver([&events](StringGrid::Change change, int col, int row) { events.emplace_back(change, col, row); });
  grid.SetCell(1, 0, "a");
  grid.SetRowCount(3);
  grid.SetRowCount(3);  // no change, no report
  grid.ClearCells();
  grid.SetCell(5, 5, "ignored");
  EXPECT_EQ(events, (std::vector<Event>{{StringGrid::Change::Cell, 1, 0},
                                        {StringGrid::Change::Shape, -1, -1},
                                        {StringGrid::Change::All, -1, -1}}));
}

}  // namespace
}  // namespace vestrel
