// Both scans over the hostile tree, the grids they fill written as XML, HTML and text,
// and a server holding 10,000 partitions listed whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "HostileTree.h"
#include "export/ExportTargets.h"
#include "export/GridWriters.h"
#include "scan/Scans.h"

namespace vestrel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kPartitionErrorsCol = 8;

class HostileScansTest : public HostileTreeTest {
 protected:
  // The row whose name and context cells (".Servers.HOSTILE") join to the full name.
  int RowOf(const std::string& fullName) const {
    for (int row = 1; row < grid.RowCount(); ++row)
      if (grid.Cell(1, row) + grid.Cell(2, row) == fullName) return row;
    return -1;
  }

  StringGrid grid{5, 2};
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

bool IsPureAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

TEST_F(HostileScansTest, ServerScanListsEveryServerWhateverItsNameAndValues) {
  const ScanResult result = ScanServers(context, grid, {});
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.rows, 5);
  const int fs1 = RowOf("FS1.Servers.HOSTILE");
  const int markup = RowOf("A<b>&\"q'/x.Servers.HOSTILE");
  const int bytes = RowOf(kNonUtf8Name + ".Servers.HOSTILE");
  ASSERT_GT(fs1, 0);
  ASSERT_GT(markup, 0);
  ASSERT_GT(bytes, 0);
  EXPECT_EQ(grid.Cell(3, fs1), std::string(1024, 'A'));
  EXPECT_EQ(grid.Cell(4, fs1), "-1");
  // Address type 1 and 10 to 19 are hidden; every other short address stays.
  EXPECT_EQ(grid.Cell(5, fs1),
            "(0) 0A0B:\r\n(7) 10.0.0.1:0\r\n(8) 10.0.0.0:524\r\n(9) 0.0.0.0:0\r\n(20) [010203040506070809101112]\r\n"
            "(-1) [AB]\r\n(2) [02]\r\n(3) []\r\n(4) [0405]\r\n(5) [05]\r\n(6) [06]\r\n");
  EXPECT_EQ(grid.Cell(3, bytes), "Version \xFE\xFF");
  // Values of an unexpected syntax show as that syntax shows them.
  EXPECT_EQ(grid.Cell(3, markup), "Range check error");
  EXPECT_EQ(grid.Cell(4, markup), "FF");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(HostileScansTest, PartitionScanShowsRangeFailuresAndLeavesTheRowWithFortyErrorsWithoutReport) {
  const ScanResult result = ScanPartitions(context, grid, {});
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.rows, 6);
  const int errors = RowOf("Errors.HOSTILE");
  const int limit = RowOf("Limit.HOSTILE");
  const int negative = RowOf("NegState.HOSTILE");
  const int octets = RowOf("Status.Octets.HOSTILE");
  ASSERT_GT(errors, 0);
  ASSERT_GT(limit, 0);
  ASSERT_GT(negative, 0);
  ASSERT_GT(octets, 0);

  // 40 codes do not fit a reply's 32: the row's report stays empty, its other cells fill.
  EXPECT_EQ(grid.Cell(kPartitionErrorsCol, errors), "");
  EXPECT_NE(grid.Cell(kPartitionStatusCol, errors).find("(local error) / Error FFFFFD8F"), std::string::npos);
  // Exactly 32 codes fit; an error code no text knows still gets a line.
  const std::string report = grid.Cell(kPartitionErrorsCol, limit);
  EXPECT_TRUE(report.starts_with("Replica on server \"FS2.Servers.HOSTILE\" has errors:\r\n")) << report;
  EXPECT_NE(report.find("  * 32: "), std::string::npos);
  EXPECT_EQ(report.find("  * 33: "), std::string::npos);
  EXPECT_NE(report.find("Replica on server \"A<b>&\"q'/x.Servers.HOSTILE\" has errors:\r\n  * 1: "), std::string::npos);

  EXPECT_TRUE(grid.Cell(kPartitionStatusCol, negative).starts_with("Range check error\r\n"))
      << grid.Cell(kPartitionStatusCol, negative);
  EXPECT_TRUE(IsFailingStatusCell(kPartitionStatusCol, negative, grid.Cell(kPartitionStatusCol, negative)));
  const std::string rawStatus = grid.Cell(kPartitionStatusCol, octets);
  EXPECT_NE(rawStatus.find("\r\nRange check error\r\nA / Replica -7 / "), std::string::npos) << rawStatus;
  EXPECT_EQ(grid.Cell(7, octets), "(FFFFFFFF/  1A/   0) AB");

  // A partition whose replica values have unexpected syntaxes: each cell as its syntax
  // shows it, and a replica line that names no server gives no report.
  const int odd = RowOf("Odd.HOSTILE");
  ASSERT_GT(odd, 0);
  EXPECT_EQ(grid.Cell(3, odd), "465331205B");
  EXPECT_EQ(grid.Cell(kPartitionStatusCol, odd), "-1");
  EXPECT_FALSE(IsFailingStatusCell(kPartitionStatusCol, odd, grid.Cell(kPartitionStatusCol, odd)));
  EXPECT_EQ(grid.Cell(5, odd), "Range check error");
  EXPECT_EQ(grid.Cell(7, odd), "AOT FILE (29 bytes) (0/0/0 0/0)AB\r\nC");
  EXPECT_EQ(grid.Cell(kPartitionErrorsCol, odd), "");
  EXPECT_TRUE(ui.boxes.empty());
}

class HostileExportTest : public HostileScansTest {
 protected:
  void SetUp() override {
    HostileScansTest::SetUp();
    folder_ = fs::temp_directory_path() / ("vestrel-hostile-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    saved_ = fs::current_path();
    fs::current_path(folder_);
    SetWriterClock([] { return LocalDateTime{2024, 5, 6, 8, 0, 0}; });
  }
  void TearDown() override {
    SetWriterClock({});
    fs::current_path(saved_);
    fs::remove_all(folder_);
    HostileScansTest::TearDown();
  }

  // Both grids of the tree, each written as every file kind.
  void ExportBothGrids() {
    StringGrid servers{5, 2};
    ScanServers(context, servers, {});
    ScanPartitions(context, grid, {});
    for (const auto& [page, g] : {std::pair<std::string, const StringGrid*>{"Servers", &servers}, {"Partition", &grid}})
      for (const char* type : {"XML", "HTML", "TXT"})
        ASSERT_EQ(ExportGridToFile(*g, type, "HOSTILE_TREE_" + page + "." + type), ExportResult::FileWritten);
  }

  fs::path folder_;
  fs::path saved_;
};

TEST_F(HostileExportTest, GridsOfHostileValuesExportAsWellFormedXmlEscapedHtmlAndText) {
  ExportBothGrids();
  for (const char* page : {"Servers", "Partition"}) {
    SCOPED_TRACE(page);
    const std::string xml = ReadFile(std::string("HOSTILE_TREE_") + page + ".XML");
    const std::string html = ReadFile(std::string("HOSTILE_TREE_") + page + ".HTML");
    // Markup and bytes that are not UTF-8 never reach the documents raw.
    EXPECT_TRUE(IsPureAscii(xml));
    EXPECT_TRUE(IsPureAscii(html));
    EXPECT_NE(xml.find("A&lt;b&gt;&amp;"), std::string::npos);
    EXPECT_NE(html.find("A&lt;b&gt;&amp;"), std::string::npos);
    EXPECT_EQ(xml.find("A<b>"), std::string::npos);
    EXPECT_EQ(html.find("A<b>"), std::string::npos);
    EXPECT_NE(xml.find("&#65533;"), std::string::npos);
#ifdef VESTREL_XMLLINT
    const std::string command = std::string(VESTREL_XMLLINT) + " --noout HOSTILE_TREE_" + page + ".XML";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
#endif
  }
  const std::string text = ReadFile("HOSTILE_TREE_Servers.TXT");
  EXPECT_NE(text.find("A<b>&\"q'/x"), std::string::npos);
  EXPECT_NE(text.find(std::string(1024, 'A')), std::string::npos);
}

// A server that holds 10,000 partitions (and [Root]) lists every one of them, in order,
// in well under the time a user would wait.
TEST(HostileListTest, ServerHoldingTenThousandPartitionsListsThemAll) {
  nwtest::Reset();
  nwtest::TreeShape shape;
  shape.treeName = "MANY_TREE";
  shape.servers = 1;
  shape.partitions = 10000;
  shape.replicasPerPartition = 1;
  shape.objectsPerPartition = 0;
  shape.errorsEvery = 0;
  ASSERT_EQ(nwtest::ConnectTreeJson(nwtest::GenerateTreeJson(shape), "", true), "");
  NWDSContextHandle context = 0;
  ASSERT_EQ(DSContextCreate(&context), 0);
  ASSERT_EQ(DSChangeCurrentTree(context, "MANY_TREE", false), 0);
  ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
  ASSERT_EQ(SetNameContext(context, "[Root]"), 0);

  TextList names;
  TextList rows;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetServerPartitions(context, "SRV1.Servers.BENCH", names, rows), 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(names.Count(), 10001);
  ASSERT_EQ(rows.Count(), 10001);
  EXPECT_EQ(names[0], "[Root]");
  EXPECT_EQ(names[1], "OU1.BENCH");
  EXPECT_EQ(names[10000], "OU10000.BENCH");
  EXPECT_TRUE(rows[10000].starts_with("OU10000.BENCH")) << rows[10000];
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count(), 20);
  EXPECT_EQ(nwtest::OpenBuffers(), 0u);
  EXPECT_EQ(nwtest::OpenIterations(), 0u);
  DSContextFree(context);
  nwtest::Reset();
}

}  // namespace
}  // namespace vestrel::testing
