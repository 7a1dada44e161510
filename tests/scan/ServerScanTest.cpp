// The server scan over the embedded directory: rows in name order, the columns of each
// server, dropped address types, progress and cursor, and what a second scan leaves.
#include <gtest/gtest.h>

#include "ScanTestTrees.h"

namespace vestrel::testing {
namespace {

using Cells = std::vector<std::string>;

class ServerScanTest : public ScanTest {};

TEST_F(ServerScanTest, ListsEveryServerSortedWithContextVersionRevisionAndAddresses) {
  const ScanResult result = ScanServers(context, grid, Recorder(), FinishRecorder());
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.rows, 3);
  EXPECT_EQ(result.searchCode, 0);
  ASSERT_EQ(grid.ColCount(), 6);
  ASSERT_EQ(grid.RowCount(), 4);
  EXPECT_EQ(grid.ColWidth(0), 30);
  EXPECT_EQ(Row(grid, 0), (Cells{"", "Server", "Context", "Version", "DS Revision", "Network Address"}));
  // 'b.ORG' comes before 'A.ORG' from the directory; the sort ignores case.
  EXPECT_EQ(Row(grid, 1), (Cells{"1", "A", ".ORG", "Novell NetWare 6.5", "20217",
                                 "(9) 10.0.0.1:524\r\n(0) 0000CAFE:000000000001\r\n"}));
  EXPECT_EQ(Row(grid, 2), (Cells{"2", "b", ".ORG", "eDirectory 9.2", "40204", ""}));
  EXPECT_EQ(Row(grid, 3), (Cells{"3", "OLD", ".Sales.ORG", "NetWare 5.1", "879", ""}));
  EXPECT_EQ(finished, std::vector<bool>{true});
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ServerScanTest, ReportsProgressPerServerAndShowsTheHourglassMeanwhile) {
  std::vector<CursorKind> cursorDuringProgress;
  ScanServers(context, grid, [&](int position, int total, const std::string& text) {
    progress.push_back({position, total, text});
    cursorDuringProgress.push_back(ui.Cursor());
  });
  EXPECT_EQ(progress, (std::vector<ProgressCall>{{1, 3, "A.ORG"}, {2, 3, "b.ORG"}, {3, 3, "OLD.Sales.ORG"}, {0, 0, ""}}));
  EXPECT_EQ(cursorDuringProgress, std::vector<CursorKind>(4, CursorKind::Hourglass));
  EXPECT_EQ(ui.Cursor(), CursorKind::Default);
  EXPECT_GT(ui.processMessagesCalls, 3);
}

TEST_F(ServerScanTest, FirstPassShowsTheSplitNamesBeforeAnyAttributeIsRead) {
  Cells atFirstProgress;
  ScanServers(context, grid, [&](int position, int, const std::string&) {
    if (position == 1) atFirstProgress = Row(grid, 3);
  });
  EXPECT_EQ(atFirstProgress, (Cells{"3", "OLD", "Sales.ORG", "", "", ""}));
}

TEST_F(ServerScanTest, DropsAddressTypeOneAndTenToNineteenKeepsOthersAndEmptiesAnAllDroppedCell) {
  TextList lines;
  lines.SetText("(1) 10.0.0.1:524\r\n(9) 10.0.0.1:524\r\n(10) a\r\n(19) [0A]\r\n(0) 0000:00\r\n(13) host");
  DropAddressLines(lines, "(1", false);
  EXPECT_EQ(lines.ToVector(), (Cells{"(9) 10.0.0.1:524", "(0) 0000:00"}));

  TextList keep;
  keep.SetText("(9) A\r\n(1) a\r\nX");
  DropAddressLines(keep, "(9) a", true);  // keeps the lines that contain the text, ignoring case
  EXPECT_EQ(keep.ToVector(), Cells{"(9) A"});

  TextList all;
  all.SetText("(1) x\r\n(11) y");
  DropAddressLines(all, "(1", false);
  EXPECT_TRUE(all.Empty());
  EXPECT_EQ(all.Text(), "");
}

TEST_F(ServerScanTest, NoServersLeavesOnlyTheHeaderRowAndNothingToExport) {
  ScanServers(context, grid, {});
  UseTree("OTHER_TREE");
  FailFromNowOn("DSSearchStep", ERR_NO_ACCESS);
  const ScanResult result = ScanServers(context, grid, Recorder(), FinishRecorder());
  EXPECT_EQ(result.rows, 0);
  EXPECT_EQ(result.searchCode, ERR_NO_ACCESS);
  EXPECT_EQ(grid.RowCount(), 1);
  EXPECT_EQ(Row(grid, 0), (Cells{"", "Server", "Context", "Version", "DS Revision", "Network Address"}));
  EXPECT_EQ(finished, std::vector<bool>{false});
  EXPECT_EQ(progress, (std::vector<ProgressCall>{{0, 0, ""}}));
}

// A second scan of another tree with fewer servers shrinks the grid; cells whose read
// fails are empty, not what the earlier scan had put there.
TEST_F(ServerScanTest, SecondScanShrinksTheGridAndFailedReadsLeaveEmptyCells) {
  ScanServers(context, grid, {});
  ASSERT_EQ(grid.RowCount(), 4);
  UseTree("OTHER_TREE");
  ScanServers(context, grid, {});
  EXPECT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(Row(grid, 1), (Cells{"1", "Z", ".OTHER", "eDirectory 9.2", "40204", "(9) 10.9.9.9:524\r\n"}));

  UseTree("SCAN_TREE");
  ScanServers(context, grid, {});
  UseTree("OTHER_TREE");
  FailFromNowOn("DSReadStep", ERR_NO_ACCESS);
  FailFromNowOn("DSObjectInfoRead", ERR_NO_ACCESS);
  ScanServers(context, grid, {});
  ASSERT_EQ(grid.RowCount(), 2);
  // An unreadable context leaves the full name in column 1.
  EXPECT_EQ(Row(grid, 1), (Cells{"1", "Z.OTHER", "", "", "", ""}));
  EXPECT_EQ(grid.Cell(1, 2), "");
}

TEST_F(ServerScanTest, OneServersFailedReadLeavesOnlyItsCellsEmpty) {
  // The three reads of the first row succeed; the first read of the second row fails.
  nwtest::FailOperation("DSReadStep", ERR_NO_ACCESS, 3, 1);
  ScanServers(context, grid, {});
  EXPECT_EQ(Row(grid, 2), (Cells{"2", "b", ".ORG", "", "40204", ""}));
  EXPECT_EQ(grid.Cell(3, 1), "Novell NetWare 6.5");
  EXPECT_EQ(grid.Cell(3, 3), "NetWare 5.1");
}

TEST_F(ServerScanTest, ReadsEachServerOnceForContextAndOncePerAttribute) {
  ScanServers(context, grid, {});
  EXPECT_EQ(nwtest::CallCount("DSObjectInfoRead"), 3u);
  EXPECT_EQ(nwtest::CallCount("DSReadStep"), 9u);
}

}  // namespace
}  // namespace vestrel::testing
