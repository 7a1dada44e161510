// A scan lets window messages run; a click that starts another scan meanwhile is ignored,
// so the grid shows one scan only.
#include <gtest/gtest.h>

#include "ScanTestTrees.h"

namespace vestrel::testing {
namespace {

class ScanGuardTest : public ScanTest {};

TEST_F(ScanGuardTest, ScansStartedWhileOneRunsAreIgnoredAndTouchNothing) {
  StringGrid other{5, 2};
  other.SetCell(1, 1, "untouched");
  std::vector<ScanResult> nested;
  bool runningSeen = false;
  ui.onProcessMessages = [&] {
    runningSeen = runningSeen || ScanRunning();
    if (nested.size() >= 4) return;
    nested.push_back(ScanServers(context, grid, {}));
    nested.push_back(ScanPartitions(context, other, {}));
  };
  const ScanResult result = ScanPartitions(context, grid, Recorder(), FinishRecorder());
  ui.onProcessMessages = nullptr;

  EXPECT_TRUE(result.started);
  EXPECT_TRUE(runningSeen);
  ASSERT_EQ(nested.size(), 4u);
  for (const ScanResult& r : nested) EXPECT_FALSE(r.started);
  EXPECT_EQ(other.Cell(1, 1), "untouched");
  EXPECT_EQ(grid.ColCount(), 9);
  EXPECT_EQ(grid.Cell(3, 0), "Replica");
  EXPECT_EQ(finished, std::vector<bool>{true});
  EXPECT_FALSE(ScanRunning());

  // Once done, the next scan runs.
  EXPECT_TRUE(ScanServers(context, grid, {}).started);
  EXPECT_EQ(grid.ColCount(), 6);
}

TEST_F(ScanGuardTest, GuardIsReleasedWhenAStepThrowsAndTheCursorComesBack) {
  EXPECT_THROW(ScanServers(context, grid, [](int, int, const std::string&) { throw std::runtime_error("x"); }),
               std::runtime_error);
  EXPECT_FALSE(ScanRunning());
  EXPECT_EQ(ui.Cursor(), CursorKind::Default);
  // The partition scan's rows swallow the same failure and the scan completes.
  int calls = 0;
  const ScanResult result = ScanPartitions(context, grid, [&](int position, int, const std::string&) {
    ++calls;
    if (position > 0) throw std::runtime_error("x");
  });
  EXPECT_TRUE(result.started);
  EXPECT_EQ(calls, 4);
  // Each row stopped before its second pass wrote anything: the first pass's texts stay.
  EXPECT_EQ(grid.Cell(1, 2), "East");
  EXPECT_EQ(grid.Cell(2, 2), "Sales.ORG");
  EXPECT_EQ(grid.Cell(3, 2), "");
}

TEST_F(ScanGuardTest, GuardClaimsTheSlotOnce) {
  ScanGuard outer;
  EXPECT_TRUE(outer.Claimed());
  EXPECT_TRUE(ScanRunning());
  {
    ScanGuard inner;
    EXPECT_FALSE(inner.Claimed());
  }
  EXPECT_TRUE(ScanRunning());
}

}  // namespace
}  // namespace vestrel::testing
