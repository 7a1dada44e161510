// Whole runs in-process: the scans' documents byte for byte against the main window's
// file export, the health check on the demo trees and on small trees for each rule and
// threshold, and every way a run can fail.
#include <unistd.h>

#include "CheckTestSupport.h"
#include "directory/D_NW.h"
#include "export/ExportTargets.h"
#include "export/GridWriters.h"
#include "scan/Scans.h"

namespace vestrel::check::testing {
namespace {

// A connections file with both demo trees (ACME_TREE primary).
std::string DemoConnections(const TempDir& dir) {
  const json connections = {{"connections", json::array({{{"tree", DemoTree("acme.json")}, {"primary", true}},
                                                         {{"tree", DemoTree("lab.json")}}})}};
  const fs::path path = dir / "connections.json";
  WriteFile(path, connections.dump());
  return path.string();
}

class CheckRun : public CheckRunTest {
 protected:
  void SetUp() override {
    CheckRunTest::SetUp();
    previousClock_ = SetWriterClock([] { return LocalDateTime{2024, 5, 6, 10, 11, 12}; });
  }
  void TearDown() override {
    SetWriterClock(previousClock_);
    // Every run gives back what it took from the library.
    EXPECT_EQ(nwtest::OpenContexts(), 0u);
    EXPECT_EQ(nwtest::OpenBuffers(), 0u);
    EXPECT_EQ(nwtest::OpenIterations(), 0u);
    CheckRunTest::TearDown();
  }

  // What the main window's export button writes for a scan of tree: the window's grid,
  // filled by the same scan on a context set as its tree change sets it, exported to a file.
  std::string WindowExport(const std::string& tree, bool servers, const std::string& fileName) {
    NWDSContextHandle context = 0;
    EXPECT_EQ(DSContextCreate(&context), 0);
    EXPECT_EQ(DSChangeCurrentTree(context, tree, false), 0);
    ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
    EXPECT_EQ(SetNameContext(context, "[Root]"), 0);
    StringGrid grid(servers ? 5 : 6, 2, 1, 1);
    if (servers)
      ScanServers(context, grid, {});
    else
      ScanPartitions(context, grid, {});
    DSContextFree(context);
    const fs::path previous = fs::current_path();
    fs::current_path(dir.Path());
    EXPECT_EQ(ExportGridToFile(grid, "", fileName), ExportResult::FileWritten);
    fs::current_path(previous);
    return ReadFile(dir / fileName);
  }

 private:
  LocalClock previousClock_;
};

TEST_F(CheckRun, ScanDocumentsAreByteForByteTheWindowsExport) {
  const std::string connections = DemoConnections(dir);
  struct Case {
    const char* format;
    const char* fileName;
  };
  for (const char* tree : {"ACME_TREE", "LAB_TREE"}) {
    for (bool servers : {true, false}) {
      for (const Case& c : {Case{"txt", "expected.txt"}, Case{"csv", "expected.csv"}, Case{"html", "expected.html"},
                            Case{"xml", "expected.xml"}}) {
        SCOPED_TRACE(std::string(tree) + (servers ? " servers " : " partitions ") + c.format);
        FreshProgram();
        const RunOutput run = Run({"--connections", connections, "--tree", tree, servers ? "--servers" : "--partitions",
                                   "--format", c.format});
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const std::string expected = WindowExport(tree, servers, c.fileName);
        EXPECT_EQ(run.out, expected);
        EXPECT_GT(expected.size(), 200u);
      }
    }
  }
}

TEST_F(CheckRun, OutputFileIsWrittenWholeAndReplaced) {
  const std::string connections = DemoConnections(dir);
  const fs::path target = dir / "partitions.xml";
  WriteFile(target, "old content");
  RunOutput run = Run({"--connections", connections, "--partitions", "--format=xml", "--output", target.string()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "");
  const std::string written = ReadFile(target);
  EXPECT_EQ(written, WindowExport("ACME_TREE", false, "expected.xml"));
  EXPECT_NE(written.find("Legacy"), std::string::npos);
  // No temporary file stays behind.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path())) files += entry.path().filename().string()[0] == '.';
  EXPECT_EQ(files, 0);

  // A folder that does not exist: exit 3, nothing written anywhere.
  FreshProgram();
  run = Run({"--connections", connections, "--servers", "--output", (dir / "missing" / "s.txt").string()});
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("cannot write the file"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(CheckRun, DemoTreeHealthIsCriticalAndNamesThePartitionWithReplicaErrors) {
  now = kDemoClock;
  const RunOutput run = Run({"--connections", DemoConnections(dir), "--health"});
  EXPECT_EQ(run.code, 2) << run.out << run.err;
  EXPECT_EQ(run.out.rfind("VESTREL CRITICAL - 5 partitions, 14 replicas, 6 critical, 2 warnings: Legacy.ACME | "
                          "partitions=5 replicas=14 replicas_with_errors=2 oldest_sync_age=553620s\n",
                          0),
            0u)
      << run.out;
  for (const char* line : {
           "CRITICAL: Legacy.ACME: Replica on server \"FS1.HQ.ACME\" has errors: 1: 0xFFFFFD8F; 2: 0xFFFFFD84; 3: 0xFFFFFD8F\n",
           "CRITICAL: Legacy.ACME: Replica on server \"BER-FS1.Berlin.Sales.ACME\" has errors: 1: 0xFFFFFD84\n",
           "CRITICAL: Legacy.ACME: Partition Status of OLDNW.Legacy.ACME [Master] [Nr: 1] is (local error), error 0xFFFFFD8F\n",
           "CRITICAL: Legacy.ACME: OLDNW.Legacy.ACME [Master] [Nr: 1] last synchronised 6d 9h ago (more than 1d)\n",
           "WARNING: Sales.ACME: only 2 readable replicas (master, secondary, read-only); 3 are recommended\n",
           "WARNING: Berlin.Sales.ACME: only 2 readable replicas (master, secondary, read-only); 3 are recommended\n"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line;
  // The replica errors are those the partition scan's "Inspect Errors" column shows.
  EXPECT_NE(WindowExport("ACME_TREE", false, "p.txt").find("  * 3: 0xFFFFFD8F"), std::string::npos);

  // The other demo tree, chosen by name, has only small rings.
  FreshProgram();
  const RunOutput lab = Run({"--connections", DemoConnections(dir), "--tree", "lab_tree", "--health"});
  EXPECT_EQ(lab.code, 1);
  EXPECT_EQ(lab.out.rfind("VESTREL WARNING - 2 partitions, 4 replicas, 2 warnings: [Root], Test.LAB | ", 0), 0u)
      << lab.out;
}

TEST_F(CheckRun, WithoutAClockAgesAreMeasuredAgainstTheDirectorysOwnTime) {
  // The demo tree's servers keep their own time (the tree's clock), not the workstation's.
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunCheck({"--connections", DemoConnections(dir), "--health"}, out, err), 2) << err.str();
  EXPECT_EQ(out.str().rfind("VESTREL CRITICAL - 5 partitions, 14 replicas, 6 critical, 2 warnings: Legacy.ACME | "
                            "partitions=5 replicas=14 replicas_with_errors=2 oldest_sync_age=5536",
                            0),
            0u)
      << out.str();
}

TEST_F(CheckRun, AHealthyTreeIsOkAndQuietSaysNothing) {
  const std::string tree = SmallTree(HealthyRing(now), HealthyRing(now));
  RunOutput run = Health(tree);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "VESTREL OK - 2 partitions, 6 replicas | partitions=2 replicas=6 replicas_with_errors=0 "
                     "oldest_sync_age=80s\n");
  EXPECT_EQ(run.err, "");
  run = Health(tree, {"--quiet"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "");
  // Quiet still reports a problem.
  json sales = HealthyRing(now);
  sales[1]["lastSync"] = now - 5 * 3600;
  run = Health(SmallTree(HealthyRing(now), sales), {"--quiet"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find("WARNING: Sales.ORG: S2.ORG [Secondary] [Nr: 2] last synchronised 5h ago (more than 4h)"),
            std::string::npos);
}

TEST_F(CheckRun, EachRuleOnASmallTree) {
  struct Case {
    const char* name;
    std::function<void(json&)> change;
    int code;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"sync errors", [&](json& r) { r[1]["errors"] = {-625, -636}; }, 2,
       "CRITICAL: Sales.ORG: Replica on server \"S2.ORG\" has errors: 1: 0xFFFFFD8F; 2: 0xFFFFFD84"},
      {"more errors than a reply holds", [&](json& r) { r[0]["errors"] = std::vector<int>(40, -625); }, 2,
       "CRITICAL: Sales.ORG: Replica on server \"S1.ORG\" has 40 errors (more than one report holds)"},
      {"local error", [&](json& r) { r[2]["state"] = "local error"; }, 2,
       "CRITICAL: Sales.ORG: Partition Status of S3.ORG [Read-Only] [Nr: 3] is (local error)"},
      {"remote error", [&](json& r) { r[1].update({{"state", "remote error"}, {"statusError", -636}}); }, 2,
       "CRITICAL: Sales.ORG: Partition Status of S2.ORG [Secondary] [Nr: 2] is (remote error), error 0xFFFFFD84"},
      {"no master", [&](json& r) { r[0]["type"] = "Secondary"; }, 2, "CRITICAL: Sales.ORG: the ring has no master replica"},
      {"two masters", [&](json& r) { r[1]["type"] = "Master"; }, 2,
       "CRITICAL: Sales.ORG: the ring has 2 master replicas: S1.ORG, S2.ORG"},
      {"same number", [&](json& r) { r[2]["number"] = 2; }, 2,
       "CRITICAL: Sales.ORG: replica number 2 is used by 2 replicas: S2.ORG, S3.ORG"},
      {"two readable replicas", [&](json& r) { r[2]["type"] = "Subordinate Reference"; }, 1,
       "WARNING: Sales.ORG: only 2 readable replicas (master, secondary, read-only); 3 are recommended"},
      {"old sync", [&](json& r) { r[0]["lastSync"] = now - 4 * 3600 - 1; }, 1,
       "WARNING: Sales.ORG: S1.ORG [Master] [Nr: 1] last synchronised 4h 0m ago (more than 4h)"},
      {"very old sync", [&](json& r) { r[0]["lastSync"] = now - 24 * 3600 - 1; }, 2,
       "CRITICAL: Sales.ORG: S1.ORG [Master] [Nr: 1] last synchronised 1d 0h ago (more than 1d)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json sales = HealthyRing(now);
    c.change(sales);
    const RunOutput run = Health(SmallTree(HealthyRing(now), sales));
    EXPECT_EQ(run.code, c.code);
    EXPECT_NE(run.out.find("\n" + c.line + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" - 2 partitions, "), std::string::npos) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
  }
}

TEST_F(CheckRun, ThresholdsComeFromTheCommandLine) {
  json sales = HealthyRing(now);
  sales[0]["lastSync"] = now - 3 * 3600;
  const std::string tree = SmallTree(HealthyRing(now), sales);
  EXPECT_EQ(Health(tree).code, 0);
  EXPECT_EQ(Health(tree, {"--warn-age", "2h"}).code, 1);
  EXPECT_EQ(Health(tree, {"--warn-age=10800"}).code, 0);  // exactly the age: not older
  EXPECT_EQ(Health(tree, {"--warn-age=10799s"}).code, 1);
  const RunOutput run = Health(tree, {"--warn-age", "1m", "--crit-age", "179m"});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.out.find("S1.ORG [Master] [Nr: 1] last synchronised 3h ago (more than 2h 59m)"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("oldest_sync_age=10800s"), std::string::npos);
  EXPECT_EQ(Health(tree, {"--crit-age", "1d", "--warn-age", "1d"}).code, 0);
}

TEST_F(CheckRun, ArgumentProblemsExitThreeWithAUsageHint) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--health", "--frobnicate"}, "unknown option \"--frobnicate\""},
      {{"--health", "--warn-age", "4x"}, "bad duration \"4x\""},
      {{"--health", "--tree-file", (dir / "absent.json").string()}, "cannot read the file"},
      {{"--servers", "--connections", dir.Path().string() + "/none.json"}, "No such file or directory"},
      {{"--health", "--tree-file", dir.Path().string()}, "it is a folder"},
      {{"--health", "--connections", DemoConnections(dir), "--tree", "NO_SUCH_TREE"},
       "unknown tree \"NO_SUCH_TREE\" (connected trees: ACME_TREE, LAB_TREE)"},
      {{}, "choose one of --servers, --partitions and --health"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FreshProgram();
    const RunOutput run = Run(c.arguments);
    EXPECT_EQ(run.code, 3);
    EXPECT_NE(run.err.find("vestrel-check: "), std::string::npos);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Try 'vestrel-check --help' for more information."), std::string::npos);
    // The health check states UNKNOWN on standard output, where monitoring systems look.
    const bool health = std::find(c.arguments.begin(), c.arguments.end(), "--health") != c.arguments.end();
    EXPECT_EQ(run.out.rfind("VESTREL UNKNOWN - ", 0) == 0, health) << run.out;
  }
  FreshProgram();
  RunOutput help = Run({"--health", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out, HelpText());
  help = Run({"--version"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("vestrel-check ", 0), 0u);
}

TEST_F(CheckRun, ATreeThatCannotBeReachedOrScannedIsUnknown) {
  // A tree file that is no tree: no connection at all.
  RunOutput run = Health("{ \"tree\": ");
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.out.rfind("VESTREL UNKNOWN - the directory client cannot connect: ", 0), 0u) << run.out;

  const std::string tree = SmallTree(HealthyRing(now), HealthyRing(now));
  FreshProgram();
  nwtest::FailOperation("DSSearchStep", ERR_TRANSPORT_FAILURE);
  run = Run({"--tree-file", TreeFile(tree), "--health"});
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.out, "VESTREL UNKNOWN - the partitions cannot be listed: 0xFFFFFD8F\n");

  // Every read fails: each ring is unknown.
  FreshProgram();
  nwtest::FailOperation("DSReadStep", ERR_TRANSPORT_FAILURE);
  run = Run({"--tree-file", TreeFile(tree), "--health"});
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.out,
            "VESTREL UNKNOWN - 2 partitions, 0 replicas, 2 unknown: [Root], Sales.ORG | partitions=2 replicas=0 "
            "replicas_with_errors=0 oldest_sync_age=0s\n"
            "UNKNOWN: [Root]: the replica ring cannot be read: 0xFFFFFD8F\n"
            "UNKNOWN: Sales.ORG: the replica ring cannot be read: 0xFFFFFD8F\n");

  // The tree cannot be chosen.
  FreshProgram();
  nwtest::FailOperation("DSContextSetValue", ERR_TRANSPORT_FAILURE);
  run = Run({"--tree-file", TreeFile(tree), "--servers"});
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("the tree SMALL_TREE cannot be reached"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace vestrel::check::testing
