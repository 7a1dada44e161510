// Whole runs in-process: the scans' documents byte for byte against the main window's
// file export, the health check on the demo trees and on small trees for each rule and
// threshold, and every way a run can fail.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "CheckTestSupport.h"
#include "directory/D_NW.h"
#include "export/ExportTargets.h"
#include "export/GridWriters.h"
#include "scan/Scans.h"
#include "util/D_Util.h"

namespace vestrel::check::testing {
namespace {

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
  EXPECT_EQ(run.out.rfind("VESTREL CRITICAL - ACME_TREE: 5 partitions, 14 replicas, 6 critical, 2 warnings: Legacy.ACME | "
                          "partitions=5 replicas=14 replicas_with_errors=2 oldest_sync_age=553620s "
                          "'[Root] oldest_sync_age'=140s '[Root] sync_errors'=0 "
                          "'Berlin.Sales.ACME oldest_sync_age'=630s 'Berlin.Sales.ACME sync_errors'=0 "
                          "'Engineering.ACME oldest_sync_age'=470s 'Engineering.ACME sync_errors'=0 "
                          "'Legacy.ACME oldest_sync_age'=553620s 'Legacy.ACME sync_errors'=4 "
                          "'Sales.ACME oldest_sync_age'=298s 'Sales.ACME sync_errors'=0\n",
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
  EXPECT_EQ(lab.out.rfind("VESTREL WARNING - LAB_TREE: 2 partitions, 4 replicas, 2 warnings: [Root], Test.LAB | ", 0), 0u)
      << lab.out;
}

TEST_F(CheckRun, WithoutAClockAgesAreMeasuredAgainstTheDirectorysOwnTime) {
  // The demo tree's servers keep their own time (the tree's clock), not the workstation's.
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunCheck({"--connections", DemoConnections(dir), "--health"}, out, err), 2) << err.str();
  EXPECT_EQ(out.str().rfind("VESTREL CRITICAL - ACME_TREE: 5 partitions, 14 replicas, 6 critical, 2 warnings: Legacy.ACME | "
                            "partitions=5 replicas=14 replicas_with_errors=2 oldest_sync_age=5536",
                            0),
            0u)
      << out.str();
}

TEST_F(CheckRun, AHealthyTreeIsOkAndQuietSaysNothing) {
  const std::string tree = SmallTree(HealthyRing(now), HealthyRing(now));
  RunOutput run = Health(tree);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "VESTREL OK - SMALL_TREE: 2 partitions, 6 replicas | partitions=2 replicas=6 replicas_with_errors=0 "
                     "oldest_sync_age=80s '[Root] oldest_sync_age'=80s '[Root] sync_errors'=0 "
                     "'Sales.ORG oldest_sync_age'=80s 'Sales.ORG sync_errors'=0\n");
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
    EXPECT_NE(run.out.find(" - SMALL_TREE: 2 partitions, "), std::string::npos) << run.out;
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
      // --health behind the problem still gets its status line.
      {{"--frobnicate", "--health"}, "unknown option \"--frobnicate\""},
      {{"--servers", "--health"}, "choose one of --servers, --partitions and --health, not --servers and --health"},
      {{"--tree=", "--health"}, "option --tree needs a tree name"},
      {{"--health", "--warn-age", "1d", "--crit-age", "2h"}, "--warn-age 1d is longer than --crit-age 2h"},
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
  // A tree file that is no tree: its name and its problem, not the missing connection.
  RunOutput run = Health("{ \"tree\": ");
  const std::string treeFile = (dir / "tree.json").string();
  EXPECT_EQ(run.code, 3);
  const std::string reason = "the tree file cannot be loaded: " + treeFile + ": not valid JSON: ";
  EXPECT_EQ(run.out.rfind("VESTREL UNKNOWN - " + reason, 0), 0u) << run.out;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
  EXPECT_EQ(run.err.rfind("vestrel-check: " + reason, 0), 0u) << run.err;
  EXPECT_EQ(run.err.find("connection"), std::string::npos) << run.err;

  const std::string tree = SmallTree(HealthyRing(now), HealthyRing(now));
  FreshProgram();
  nwtest::FailOperation("DSSearchStep", ERR_TRANSPORT_FAILURE);
  run = Run({"--tree-file", TreeFile(tree), "--health"});
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.out, "VESTREL UNKNOWN - the partitions of the tree SMALL_TREE cannot be listed: 0xFFFFFD8F\n");

  // Every read fails: each ring is unknown.
  FreshProgram();
  nwtest::FailOperation("DSReadStep", ERR_TRANSPORT_FAILURE);
  run = Run({"--tree-file", TreeFile(tree), "--health"});
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.out,
            "VESTREL UNKNOWN - SMALL_TREE: 2 partitions, 0 replicas, 2 unknown: [Root], Sales.ORG | partitions=2 replicas=0 "
            "replicas_with_errors=0 oldest_sync_age=0s '[Root] oldest_sync_age'=U '[Root] sync_errors'=U "
            "'Sales.ORG oldest_sync_age'=U 'Sales.ORG sync_errors'=U\n"
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

TEST_F(CheckRun, AFailedSearchIsNoReportOfAnEmptyTree) {
  const std::string tree = TreeFile(SmallTree(HealthyRing(now), HealthyRing(now)));
  for (const char* mode : {"--servers", "--partitions"}) {
    SCOPED_TRACE(mode);
    FreshProgram();
    nwtest::FailOperation("DSSearchStep", ERR_TRANSPORT_FAILURE);
    const fs::path output = dir / "scan.txt";
    const RunOutput run = Run({"--tree-file", tree, mode, "--output", output.string()});
    EXPECT_EQ(run.code, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("vestrel-check: the search of the tree SMALL_TREE failed: 0xFFFFFD8F"), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(output));  // no document with a header and nothing else
  }
}

// Reads lost to the link leave empty cells that would pass for values the tree does not
// have: such a scan is no report either. Reads the directory refuses are cells left empty.
TEST_F(CheckRun, AScanWhoseReadsWereLostToTheLinkIsNoReport) {
  const std::string tree = TreeFile(SmallTree(HealthyRing(now), HealthyRing(now)));
  for (const char* mode : {"--servers", "--partitions"}) {
    SCOPED_TRACE(mode);
    FreshProgram();
    nwtest::FailOperation("DSReadStep", ERR_CONNECTION_TIMEOUT, 1);  // the first read succeeds
    const RunOutput lost = Run({"--tree-file", tree, mode});
    EXPECT_EQ(lost.code, 3);
    EXPECT_EQ(lost.out, "");
    EXPECT_NE(lost.err.find(" reads of the tree SMALL_TREE failed, the first for "), std::string::npos) << lost.err;
    EXPECT_NE(lost.err.find(": 0xFFFFFD14"), std::string::npos) << lost.err;
    FreshProgram();
    nwtest::FailOperation("DSReadStep", ERR_NO_ACCESS);
    EXPECT_EQ(Run({"--tree-file", tree, mode}).code, 0);
  }
}

// A connections file whose primary tree file is broken: the second, healthy tree is not
// checked in its place.
TEST_F(CheckRun, APreferredTreeThatCannotBeLoadedIsNeverReplacedByAnother) {
  const std::string broken = TreeFile("{ \"tree\": \"BROKEN_TREE\", ", "broken.json");
  const std::string healthy = TreeFile(SmallTree(HealthyRing(now), HealthyRing(now)), "healthy.json");
  auto connectionsWith = [&](bool primaryFlag) {
    json first = {{"tree", broken}};
    if (primaryFlag) first["primary"] = true;
    const fs::path path = dir / "connections.json";
    WriteFile(path, json{{"connections", json::array({first, {{"tree", healthy}}})}}.dump());
    return path.string();
  };
  for (bool primaryFlag : {true, false}) {  // marked primary, or the first of none marked
    SCOPED_TRACE(primaryFlag ? "primary" : "first");
    const std::string connections = connectionsWith(primaryFlag);
    FreshProgram();
    RunOutput run = Run({"--connections", connections, "--health"});
    EXPECT_EQ(run.code, 3);
    const std::string reason = "the preferred tree cannot be loaded: " + broken + ": not valid JSON";
    EXPECT_EQ(run.out.rfind("VESTREL UNKNOWN - " + reason, 0), 0u) << run.out;
    EXPECT_EQ(run.out.find("SMALL_TREE"), std::string::npos);
    for (const char* mode : {"--servers", "--partitions"}) {
      FreshProgram();
      run = Run({"--connections", connections, mode});
      EXPECT_EQ(run.code, 3) << mode;
      EXPECT_EQ(run.out, "") << mode;
      EXPECT_NE(run.err.find(broken), std::string::npos) << run.err;
    }
  }
  // Named by the command line, the healthy tree is checked; the other one is mentioned.
  FreshProgram();
  RunOutput run = Run({"--connections", connectionsWith(true), "--tree", "SMALL_TREE", "--health"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_EQ(run.out.rfind("VESTREL OK - SMALL_TREE: 2 partitions", 0), 0u) << run.out;
  EXPECT_EQ(run.err.rfind("vestrel-check: " + broken + ": not valid JSON", 0), 0u) << run.err;
  // A tree not among the loaded ones is unknown, and the trees that were not loaded are named.
  FreshProgram();
  run = Run({"--connections", connectionsWith(true), "--tree", "BROKEN_TREE", "--health"});
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.out.rfind("VESTREL UNKNOWN - unknown tree \"BROKEN_TREE\" (connected trees: SMALL_TREE); not loaded: " +
                              broken + ": not valid JSON",
                          0),
            0u)
      << run.out;
}

// The "Partition Status" values of Sales.ORG come in another order than the ring: S2's
// (remote error) first, then S3's (synced 5 hours ago), then S1's.
TEST_F(CheckRun, StatusValuesBlameTheReplicaTheirNumberNames) {
  auto status = [&](nuint32 state, std::int64_t age, nuint32 number, nuint32 error) {
    return json{{"layout", json::array({{{"u32", 0}}, {{"u32", state}}, {{"u32", now - age}}, {{"u32", number}},
                                        {{"u32", error}}, {{"zeros", 8}}})}};
  };
  json tree = json::parse(SmallTree(HealthyRing(now), HealthyRing(now)));
  tree["objects"][1]["attributes"] = {
      {"Partition Status",
       {{"syntax", 9},
        {"values", json::array({status(RS_REMOTE_ERROR, 60, 2, static_cast<nuint32>(-636)),
                                status(RS_IN_SYNC, 5 * 3600, 3, 0), status(RS_IN_SYNC, 60, 1, 0)})}}}};
  const RunOutput run = Health(tree.dump());
  EXPECT_EQ(run.code, 2) << run.out << run.err;
  EXPECT_EQ(run.out.substr(run.out.find('\n') + 1),
            "CRITICAL: Sales.ORG: Partition Status of S2.ORG [Secondary] [Nr: 2] is (remote error), error 0xFFFFFD84\n"
            "WARNING: Sales.ORG: S3.ORG [Read-Only] [Nr: 3] last synchronised 5h ago (more than 4h)\n");

  // A value of a replica the ring does not hold: the states are unknown, not guessed.
  tree["objects"][1]["attributes"]["Partition Status"]["values"][1] = status(RS_IN_SYNC, 60, 7, 0);
  const RunOutput stray = Health(tree.dump());
  EXPECT_NE(stray.out.find("UNKNOWN: Sales.ORG: the Partition Status cannot be read: a Partition Status value is of "
                           "replica number 7, which the ring does not hold"),
            std::string::npos)
      << stray.out;
}

TEST_F(CheckRun, ASyncInTheFutureWarnsOfClockSkew) {
  json sales = HealthyRing(now);
  sales[2]["lastSync"] = now + 3600;
  const RunOutput run = Health(SmallTree(HealthyRing(now), sales));
  EXPECT_EQ(run.code, 1) << run.out;
  EXPECT_NE(run.out.find("\nWARNING: Sales.ORG: S3.ORG [Read-Only] [Nr: 3] last synchronised 1h in the future (clock "
                         "skew of more than 5m)\n"),
            std::string::npos)
      << run.out;
  sales[2]["lastSync"] = now + 300;  // within five minutes: no finding
  EXPECT_EQ(Health(SmallTree(HealthyRing(now), sales)).code, 0);
}

// Spreadsheets' import settings and files kept so far rely on cells as they are.
TEST_F(CheckRun, CsvCellsAreNotQuoted) {
  json tree = json::parse(SmallTree(HealthyRing(now), HealthyRing(now)));
  tree["servers"][0]["version"] = "eDirectory 9.2, \"SP1\"";
  FreshProgram();
  const RunOutput run = Run({"--tree-file", TreeFile(tree.dump()), "--servers", "--format", "csv"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\r\n1,S1,.ORG,eDirectory 9.2, \"SP1\",40204,"), std::string::npos) << run.out;
}

// --output: a regular file is replaced atomically; special files are written through or refused.
class CheckOutput : public CheckRun {
 protected:
  RunOutput Servers(const fs::path& output) {
    FreshProgram();
    return Run({"--connections", connections, "--servers", "--output", output.string()});
  }
  std::string Expected() { return WindowExport("ACME_TREE", true, "expected.txt"); }
  std::string connections = DemoConnections(dir);
};

TEST_F(CheckOutput, ALinkStaysAndTheFileItPointsToIsReplaced) {
  WriteFile(dir / "real.txt", "old");
  fs::create_symlink("real.txt", dir / "link");
  const RunOutput run = Servers(dir / "link");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(ReadFile(dir / "real.txt"), Expected());
}

TEST_F(CheckOutput, AFifoWithAReaderReceivesTheDocument) {
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The reader is there before the program opens the FIFO; a writer of the test's own
  // keeps it from reading an end before the program has written.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const int keepOpen = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(keepOpen, 0);
  ASSERT_EQ(::fcntl(reader, F_SETFL, 0), 0);
  std::string received;
  std::thread drain([&] {
    char chunk[4096];
    for (ssize_t n; (n = ::read(reader, chunk, sizeof chunk)) > 0;) received.append(chunk, static_cast<std::size_t>(n));
  });
  const RunOutput run = Servers(fifo);
  ::close(keepOpen);
  drain.join();
  ::close(reader);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(received, Expected());

  // Without a reader the program does not wait: exit 3, and the FIFO stays.
  const RunOutput alone = Servers(fifo);
  EXPECT_EQ(alone.code, 3);
  EXPECT_NE(alone.err.find("cannot write the file \"" + fifo.string() + "\": it is a FIFO that nobody reads"),
            std::string::npos)
      << alone.err;
  EXPECT_TRUE(fs::is_fifo(fifo));
}

// The one test that needs root: only root can make a device node. It skips, saying so, only
// when not run as root (the tests run as root in CI).
TEST_F(CheckOutput, ACharacterDeviceStaysADevice) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a character device (mknod) needs root";
  const fs::path null = dir / "null";
  ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0) << std::strerror(errno);
  const RunOutput run = Servers(null);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(fs::is_character_file(fs::symlink_status(null)));
}

TEST_F(CheckOutput, LinksToNothingFoldersAndReadOnlyFilesAreRefused) {
  fs::create_symlink("nowhere.txt", dir / "dangling");
  fs::create_directory(dir / "folder");
  WriteFile(dir / "readonly.txt", "kept");
  fs::permissions(dir / "readonly.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  struct Case {
    const char* name;
    const char* problem;
  };
  for (const Case& c : {Case{"dangling", "it is a symbolic link to nothing"}, Case{"folder", "it is a folder"},
                        Case{"readonly.txt", "its permissions forbid writing it"}}) {
    const RunOutput run = Servers(dir / c.name);
    EXPECT_EQ(run.code, 3) << c.name;
    const std::string message =
        Format("vestrel-check: cannot write the file \"%s\": %s", (dir / c.name).string(), c.problem);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
  EXPECT_FALSE(fs::exists(dir / "nowhere.txt"));
  EXPECT_TRUE(fs::is_empty(dir / "folder"));
  EXPECT_EQ(ReadFile(dir / "readonly.txt"), "kept");
}

}  // namespace
}  // namespace vestrel::check::testing
