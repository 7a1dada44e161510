// The partition scan over the embedded directory: "[Root]" always first, the attribute
// columns by their header names, replica error reports (numbered, left out, overflowing),
// the per-row guard, library calls per row and what a second scan leaves.
#include <gtest/gtest.h>

#include <cstring>

#include "ScanTestTrees.h"
#include "platform/nwclient/Model.h"

namespace vestrel::testing {
namespace {

using Cells = std::vector<std::string>;

class PartitionScanTest : public ScanTest {
 protected:
  // Row of a partition by its name column.
  int RowOf(const std::string& name) const {
    for (int row = 1; row < grid.RowCount(); ++row)
      if (grid.Cell(1, row) == name) return row;
    return -1;
  }
};

const Cells kHeaders = {"",
                        "Name",
                        "Context",
                        "Replica",
                        "Partition Status",
                        "Local Received Up To",
                        "Purge Vector",
                        "Transitive Vector",
                        "Inspect Errors"};

TEST_F(PartitionScanTest, ListsRootFirstThenEveryPartitionWithItsAttributes) {
  const ScanResult result = ScanPartitions(context, grid, Recorder(), FinishRecorder());
  EXPECT_TRUE(result.started);
  ASSERT_EQ(result.rows, 3);
  ASSERT_EQ(grid.ColCount(), 9);
  ASSERT_EQ(grid.RowCount(), 4);
  EXPECT_EQ(grid.ColWidth(0), 30);
  EXPECT_EQ(Row(grid, 0), kHeaders);
  EXPECT_EQ(Column(grid, 0), (Cells{"", "1", "2", "3"}));
  EXPECT_EQ(Column(grid, 1), (Cells{"Name", "[Root]", "East", "Sales"}));
  EXPECT_EQ(Column(grid, 2), (Cells{"Context", "", ".Sales.ORG", ".ORG"}));
  EXPECT_EQ(progress, (std::vector<ProgressCall>{
                          {1, 3, "[Root]"}, {2, 3, "East.Sales.ORG"}, {3, 3, "Sales.ORG"}, {0, 0, ""}}));
  EXPECT_EQ(finished, std::vector<bool>{true});
  EXPECT_EQ(ui.Cursor(), CursorKind::Default);
  EXPECT_TRUE(ui.boxes.empty());

  // Columns 3 to 7 hold the attribute named by the header, lines joined by CR LF.
  for (int col = 3; col <= 7; ++col) {
    std::string expected;
    ASSERT_EQ(ReadAttrLines(context, "Sales.ORG", kHeaders[col], expected), 0) << kHeaders[col];
    EXPECT_EQ(grid.Cell(col, 3), expected) << kHeaders[col];
    EXPECT_FALSE(expected.empty());
  }
  EXPECT_EQ(grid.Cell(3, 1), "A.ORG [Master] [Nr: 1]\r\nb.ORG [Secondary] [Nr: 2]");
  EXPECT_NE(grid.Cell(4, 3).find("(remote error)"), std::string::npos);
}

TEST_F(PartitionScanTest, ReportsEachErroringReplicaWithNumberedErrorsAndLeavesOutSilentServers) {
  ScanPartitions(context, grid, {});
  // b reports three errors; A none; OLD does not answer and is left out.
  const std::string expected = "Replica on server \"b.ORG\" has errors:\r\n"
                               "  * 1: " + ErrorText(-625) + "\r\n"
                               "  * 2: " + ErrorText(-636) + "\r\n"
                               "  * 3: " + ErrorText(-625) + "\r\n";
  EXPECT_EQ(grid.Cell(8, RowOf("Sales")), expected);
  EXPECT_EQ(ErrorText(-625).rfind("0xFFFFFD8F", 0), 0u);
  EXPECT_EQ(grid.Cell(8, RowOf("[Root]")), "");
  EXPECT_EQ(InspectReplicaErrors(context, "Sales.ORG"), expected);
}

// A server reporting more than 32 errors fails that row's inspection: its report stays
// empty, the row's other cells and the other rows are complete, no buffer is left over.
TEST_F(PartitionScanTest, MoreThanThirtyTwoErrorsLeaveOnlyThatRowsReportEmpty) {
  ScanPartitions(context, grid, Recorder());
  const int east = RowOf("East");
  EXPECT_EQ(grid.Cell(8, east), "");
  EXPECT_EQ(grid.Cell(3, east), "A.ORG [Master] [Nr: 1]\r\nb.ORG [Secondary] [Nr: 2]");
  EXPECT_FALSE(grid.Cell(7, east).empty());
  EXPECT_FALSE(grid.Cell(8, RowOf("Sales")).empty());
  EXPECT_EQ(progress.back(), (ProgressCall{0, 0, ""}));
  EXPECT_THROW(InspectReplicaErrors(context, "East.Sales.ORG"), RangeCheckError);
  EXPECT_EQ(nwtest::OpenBuffers(), 0u);
}

TEST_F(PartitionScanTest, UnreadableTransitiveVectorKeepsTheErrorReportEmpty) {
  // "[Root]" first: reads 1 to 4 of its row succeed, the fifth (Transitive Vector) fails.
  nwtest::FailOperation("DSReadStep", ERR_NO_ACCESS, 4, 1);
  ScanPartitions(context, grid, {});
  EXPECT_EQ(grid.Cell(7, 1), "");
  EXPECT_FALSE(grid.Cell(6, 1).empty());
  UseTree("SCAN_TREE");
  nwtest::ClearFailures();

  // The same for the partition whose server does report errors.
  ScanPartitions(context, grid, {});
  ASSERT_FALSE(grid.Cell(8, 3).empty());
  nwtest::FailOperation("DSReadStep", ERR_NO_ACCESS, nwtest::CallCount("DSReadStep") + 2 * 6 + 4, 1);
  ScanPartitions(context, grid, {});
  EXPECT_EQ(grid.Cell(1, 3), "Sales");
  EXPECT_EQ(grid.Cell(7, 3), "");
  EXPECT_EQ(grid.Cell(8, 3), "");
  EXPECT_FALSE(grid.Cell(6, 3).empty());
}

TEST_F(PartitionScanTest, RootRowStaysFirstWhenEveryReadFails) {
  FailFromNowOn("DSSearchStep", ERR_NO_ACCESS);
  FailFromNowOn("DSReadStep", ERR_NO_ACCESS);
  FailFromNowOn("DSObjectInfoRead", ERR_NO_ACCESS);
  FailFromNowOn("DSReplicaSyncErrors", ERR_NO_ACCESS);
  const ScanResult result = ScanPartitions(context, grid, {}, FinishRecorder());
  EXPECT_EQ(result.rows, 1);
  EXPECT_EQ(result.searchCode, ERR_NO_ACCESS);  // handed back; the grid shows what there is
  ASSERT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(Row(grid, 0), kHeaders);
  EXPECT_EQ(Row(grid, 1), (Cells{"1", "[Root]", "", "", "", "", "", "", ""}));
  EXPECT_EQ(finished, std::vector<bool>{true});
}

TEST_F(PartitionScanTest, RootSortsBeforeNamesStartingWithPunctuationDigitsAndLetters) {
  TextList names;
  names.Add("[Root]");
  for (const char* name : {"zeta.ORG", "0day.ORG", "Alpha.ORG", "a.ORG", "Zulu.ORG"}) names.Add(name);
  names.Sort();
  EXPECT_EQ(names[0], "[Root]");
}

TEST_F(PartitionScanTest, TreeWithoutPartitionsBelowTheRootShowsOneRowAndCanBeExported) {
  UseTree("OTHER_TREE");
  const ScanResult result = ScanPartitions(context, grid, {}, FinishRecorder());
  EXPECT_EQ(result.rows, 1);
  ASSERT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(grid.Cell(1, 1), "[Root]");
  EXPECT_EQ(grid.Cell(3, 1), "Z.OTHER [Master] [Nr: 1]");
  EXPECT_EQ(finished, std::vector<bool>{true});
}

// A failed read leaves an empty cell, also after a scan of another tree whose row was
// filled there.
TEST_F(PartitionScanTest, FailedReadsLeaveEmptyCellsAfterAnEarlierScanOfAnotherTree) {
  ScanPartitions(context, grid, {});
  ASSERT_FALSE(grid.Cell(4, 1).empty());
  UseTree("OTHER_TREE");
  FailFromNowOn("DSReadStep", ERR_NO_ACCESS);
  ScanPartitions(context, grid, {});
  ASSERT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(Row(grid, 1), (Cells{"1", "[Root]", "", "", "", "", "", "", ""}));
  EXPECT_EQ(grid.Cell(4, 2), "");
  EXPECT_EQ(grid.Cell(8, 3), "");
}

TEST_F(PartitionScanTest, IssuesOneParentReadFiveAttributeReadsOneReplicaListAndOneRequestPerReplica) {
  // Without the overflowing reply, which ends its row's requests early.
  nw::Tree* tree = nwtest::FindTree("SCAN_TREE");
  ASSERT_NE(tree, nullptr);
  tree->Find("East.Sales.ORG")->partition->ring[0].errors.clear();
  ScanPartitions(context, grid, {});
  const std::uint64_t rows = 3;
  const std::uint64_t replicas = 2 + 2 + 3;
  EXPECT_EQ(nwtest::CallCount("DSObjectInfoRead"), rows);
  EXPECT_EQ(nwtest::CallCount("DSReadStep"), rows * (5 + 1));
  EXPECT_EQ(nwtest::CallCount("DSReplicaSyncErrors"), replicas);
  EXPECT_EQ(nwtest::CallCount("DSBufferAlloc"), nwtest::CallCount("DSBufferFree"));
}

// ---- The error reply and the red status rule ----

std::vector<std::uint8_t> ErrorReply(std::uint32_t count, std::vector<std::int32_t> codes) {
  std::vector<std::uint8_t> bytes(kReplicaErrorBytes, 0);
  std::memcpy(bytes.data() + 4, &count, 4);
  for (std::size_t i = 0; i < codes.size() && i < 32; ++i) std::memcpy(bytes.data() + 8 + 4 * i, &codes[i], 4);
  return bytes;
}

TEST(ReplicaErrorReportTest, ReadsCountAndCodesWithinTheReplyOnly) {
  SetErrorTextLibraryPath("/nonexistent/libnwerr32.so");
  auto reply = ErrorReply(2, {-625, -636});
  EXPECT_EQ(ReplicaErrorReport("S.ORG", reply.data(), reply.size()),
            "Replica on server \"S.ORG\" has errors:\r\n  * 1: " + ErrorText(-625) + "\r\n  * 2: " +
                ErrorText(-636) + "\r\n");
  EXPECT_EQ(ReplicaErrorReport("S.ORG", ErrorReply(0, {-625}).data(), kReplicaErrorBytes), "");
  // A short data area: the missing bytes count as zero (nothing beyond it is read).
  EXPECT_EQ(ReplicaErrorReport("S.ORG", reply.data(), 4), "");
  EXPECT_EQ(ReplicaErrorReport("S.ORG", reply.data(), 12),
            "Replica on server \"S.ORG\" has errors:\r\n  * 1: " + ErrorText(-625) + "\r\n  * 2: " +
                ErrorText(0) + "\r\n");
  EXPECT_EQ(ReplicaErrorReport("S.ORG", nullptr, 136), "");
  SetErrorTextLibraryPath("");
}

TEST(ReplicaErrorReportTest, ThirtyTwoErrorsFitAndThirtyThreeFail) {
  const std::vector<std::int32_t> codes(32, -625);
  const std::string report = ReplicaErrorReport("S", ErrorReply(32, codes).data(), kReplicaErrorBytes);
  EXPECT_NE(report.find("  * 32: "), std::string::npos);
  EXPECT_THROW(ReplicaErrorReport("S", ErrorReply(33, codes).data(), kReplicaErrorBytes), RangeCheckError);
  EXPECT_THROW(ReplicaErrorReport("S", ErrorReply(0xFFFFFFFFu, codes).data(), kReplicaErrorBytes), RangeCheckError);
}

TEST(FailingStatusCellTest, OnlyStatusCellsBelowTheHeaderWithErrInTheirText) {
  EXPECT_TRUE(IsFailingStatusCell(4, 1, "A.ORG / Replica 1 / Last Sync:  x/ (remote error) "));
  EXPECT_TRUE(IsFailingStatusCell(4, 7, "A / (in sync) \r\nB / (local error) "));
  EXPECT_TRUE(IsFailingStatusCell(4, 2, "Terra.ORG / Replica 1 / (in sync) "));  // any "err"
  EXPECT_FALSE(IsFailingStatusCell(4, 1, "A / (in sync) / Error  2D5"));       // case-sensitive
  EXPECT_FALSE(IsFailingStatusCell(4, 1, ""));
  EXPECT_FALSE(IsFailingStatusCell(3, 1, "(remote error)"));
  EXPECT_FALSE(IsFailingStatusCell(8, 1, "(remote error)"));
  EXPECT_FALSE(IsFailingStatusCell(4, 0, "Partition Status"));
  EXPECT_FALSE(IsFailingStatusCell(4, 0, "error"));  // the header row is never red
}

}  // namespace
}  // namespace vestrel::testing
