// Failures the matrix does not reach by failing an operation from some call on: a read
// that stops between two of its replies, an export whose file cannot be written, and a
// client that reports it cannot start at all.
#include <gtest/gtest.h>

#include "SweepRun.h"
#include "directory/D_NW.h"

namespace vestrel::sweep {
namespace {

using testing::RecordedBox;
using Boxes = std::vector<RecordedBox>;

constexpr NWRCODE kForcedCode = ERR_NO_SUCH_ENTRY;

int RowOf(const GridCells& grid, const std::string& name) {
  for (std::size_t row = 1; row < grid.size(); ++row)
    if (grid[row][1] == name) return static_cast<int>(row);
  return -1;
}

// ---- A read that stops between its replies ----

class StoppedRead : public ::testing::TestWithParam<UserPath> {};

// The last row's big attribute is read in k replies and is followed by two one-reply
// reads in that row; failing the second reply of it leaves that one cell empty, nothing
// else, and no box.
TEST_P(StoppedRead, LeavesOnlyItsCellEmpty) {
  const UserPath path = GetParam();
  const bool servers = IsServerScan(path);
  const RunResult baseline = RunPath(path, {});
  const GridCells& before = servers ? baseline.servers : baseline.partitions;
  const int rows = static_cast<int>(before.size()) - 1;
  const int readsPerRow = servers ? 3 : 6;  // three columns; five columns and the replica list
  const std::uint64_t total = baseline.calls.at("DSReadStep");
  const std::uint64_t replies = total - static_cast<std::uint64_t>(readsPerRow * rows) + 1;
  ASSERT_GE(replies, 2u) << "the big value travels in one reply";
  const std::uint64_t secondReply = total - replies;  // 1-based call number

  ForcedFailure failure{"DSReadStep", kForcedCode, secondReply - 1, ""};
  failure.times = 1;
  const RunResult run = RunPath(path, failure);
  EXPECT_TRUE(run.boxes.empty());
  const GridCells& after = servers ? run.servers : run.partitions;
  ASSERT_EQ(after.size(), before.size());
  const int bigRow = RowOf(before, servers ? "SRV99" : "OU99");
  const int bigCol = servers ? 3 : 6;  // "Version", "Purge Vector"
  ASSERT_EQ(bigRow, rows) << "the big object is the last row";
  ASSERT_FALSE(before[bigRow][bigCol].empty());
  for (std::size_t row = 1; row < after.size(); ++row) {
    for (std::size_t col = 0; col < after[row].size(); ++col) {
      if (static_cast<int>(row) == bigRow && static_cast<int>(col) == bigCol) {
        EXPECT_EQ(after[row][col], "") << "a half-read value is shown";
      } else {
        EXPECT_EQ(after[row][col], before[row][col]) << "row " << row << " col " << col;
      }
    }
  }
  EXPECT_EQ(run.iterationsWhileOpen, 0u);
  EXPECT_EQ(run.buffersWhileOpen, 0u);
}

INSTANTIATE_TEST_SUITE_P(LargeScans, StoppedRead, ::testing::Values(UserPath::LargeServerScan, UserPath::LargePartitionScan),
                         [](const ::testing::TestParamInfo<UserPath>& info) { return PathName(info.param); });

// ---- An export whose file cannot be written ----

class RefusedExportWrite : public ::testing::TestWithParam<UserPath> {};

// The disk takes no more than a few bytes: each page's export says it cannot create its
// file, the older file of that name is kept whole, and no temporary file is left.
TEST_P(RefusedExportWrite, KeepsTheOlderFileAndSaysSo) {
  const UserPath path = GetParam();
  ForcedFailure failure;
  failure.exportWriteLimit = 8;
  const RunResult run = RunPath(path, failure);
  Boxes expected;
  for (bool servers : {true, false})
    expected.push_back({DialogKind::Error, "Cannot create file " + ExportFileName(path, servers), DialogButtons::Ok});
  EXPECT_EQ(run.boxes.size(), expected.size());
  EXPECT_TRUE(run.boxes == expected);
  EXPECT_EQ(run.files.size(), 2u);  // nothing but the two older files
  for (bool servers : {true, false}) {
    ASSERT_EQ(run.files.count(ExportFileName(path, servers)), 1u);
    EXPECT_EQ(run.files.at(ExportFileName(path, servers)), kOlderFileContent);
  }
}

INSTANTIATE_TEST_SUITE_P(FileTypes, RefusedExportWrite,
                         ::testing::Values(UserPath::ExportXml, UserPath::ExportHtml, UserPath::ExportTxt),
                         [](const ::testing::TestParamInfo<UserPath>& info) { return PathName(info.param); });

// ---- Settings the disk refuses ----

// The window closes on a full disk: one box says the settings file cannot be written, the
// file keeps what the earlier close stored (the next start restores that), and no
// temporary file is left beside it.
TEST(RefusedSettingsWrite, KeepsTheEarlierSettingsAndSaysSo) {
  ForcedFailure failure;
  failure.settingsWriteLimit = 8;
  const RunResult run = RunPath(UserPath::SettingsCloseAndReopen, failure);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(run.boxes[0].text.rfind("Unable to write to ", 0), 0u) << run.boxes[0].text;
  ASSERT_EQ(run.settingsFiles.size(), 1u);
  const std::string& name = run.settingsFiles.begin()->first;
  EXPECT_NE(run.boxes[0].text.find(name), std::string::npos) << name;
  EXPECT_EQ(run.typeS, "HTML");
  EXPECT_EQ(run.typeP, "TXT");
  EXPECT_EQ(run.selectedTree, "LAB_TREE");
}

// ---- A client that cannot start ----

TEST(ClientStart, AClientThatCannotInitializeSaysSoTwice) {
  const RunResult run = RunPath(UserPath::StartUp, {"ClientInitialize", ERR_CLIENT_NOT_INITIALIZED, 0, ""});
  const Boxes expected{
      {DialogKind::Error, "Could not initialize NetWare Client. InitNetWare returned error " + ErrorText(0xFFFF),
       DialogButtons::Ok},
      {DialogKind::Error, "InitNetWare returned error " + ErrorText(0xFFFF), DialogButtons::Ok}};
  EXPECT_TRUE(run.boxes == expected);
  EXPECT_TRUE(run.trees.empty());
}

}  // namespace
}  // namespace vestrel::sweep
