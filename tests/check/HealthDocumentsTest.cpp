// The health check as documents: the JSON document against the text report of the same
// tree, the metrics read back by prometheus_client's parser, names that need escaping,
// a check that cannot be made, and the Grafana dashboard against the metrics it reads.
#include <cmath>
#include <regex>
#include <set>

#include "CheckDocuments.h"
#include "CheckTestSupport.h"
#include "util/D_Util.h"

namespace vestrel::check::testing {
namespace {

using vestrel::testing::ExpectMetricsOfDocument;
using vestrel::testing::ExpectWellFormedMetrics;
using vestrel::testing::FindingLines;
using vestrel::testing::Metrics;
using vestrel::testing::MetricValue;
using vestrel::testing::ReadMetrics;
using vestrel::testing::SampleCount;

const json& PartitionNamed(const json& document, const std::string& name) {
  for (const json& partition : document["partitions"])
    if (partition["name"] == name) return partition;
  static const json none;
  ADD_FAILURE() << "no partition " << name;
  return none;
}

class HealthDocuments : public CheckRunTest {
 protected:
  RunOutput Check(const std::string& tree, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {"--connections", connections, "--tree", tree, "--health"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    FreshProgram();
    return Run(arguments);
  }

  std::string connections = DemoConnections(dir);
};

TEST_F(HealthDocuments, JsonOfBothDemoTreesSaysWhatTheTextSays) {
  now = kDemoClock;
  json acme;
  for (const char* tree : {"ACME_TREE", "LAB_TREE"}) {
    SCOPED_TRACE(tree);
    const RunOutput text = Check(tree);
    const RunOutput run = Check(tree, {"--format", "json"});
    EXPECT_EQ(run.code, text.code);
    EXPECT_EQ(run.err, "");
    const json document = json::parse(run.out);
    EXPECT_EQ(document["schema"], 1);
    EXPECT_EQ(document["tree"], tree);
    EXPECT_EQ(text.out.rfind("VESTREL " + document["status"].get<std::string>() + " - ", 0), 0u) << text.out;
    EXPECT_EQ(document["exit_code"], text.code);
    EXPECT_EQ(document["success"], true);
    EXPECT_EQ(document["checked_at"], "2024-05-06T08:00:00Z");
    EXPECT_EQ(document["checked_at_seconds"], kDemoClock);
    EXPECT_EQ(FindingLines(document), FindingLines(text.out));
    const json& totals = document["totals"];
    EXPECT_NE(text.out.find(Format("| partitions=%d replicas=%d replicas_with_errors=%d oldest_sync_age=%llds ",
                                   totals["partitions"].get<int>(), totals["replicas"].get<int>(),
                                   totals["replicas_with_errors"].get<int>(),
                                   totals["oldest_sync_age_seconds"].get<long long>())),
              std::string::npos)
        << text.out;
    EXPECT_EQ(document["partitions"].size(), totals["partitions"].get<std::size_t>());
    EXPECT_EQ(document["unchecked"], json::array());
    if (document["tree"] == "ACME_TREE") acme = document;
  }

  // The ring of Legacy.ACME as the tree file gives it, in the words scripts read.
  const json& legacy = PartitionNamed(acme, "Legacy.ACME");
  EXPECT_EQ(legacy["ring"], "read");
  EXPECT_EQ(legacy["oldest_sync_age_seconds"], 553620);
  EXPECT_EQ(legacy["sync_errors"], 4);  // OLDNW does not answer for its errors
  EXPECT_EQ(legacy["replicas"][0], (json{{"server", "OLDNW.Legacy.ACME"},
                                         {"type", "master"},
                                         {"number", 1},
                                         {"state", "local-error"},
                                         {"last_sync", "2024-04-29T22:13:00Z"},
                                         {"last_sync_seconds", kDemoClock - 553620},
                                         {"last_sync_age_seconds", 553620},
                                         {"last_error", -625},
                                         {"last_error_text", nullptr},  // the tests run without the error texts
                                         {"sync_errors", nullptr}}));
  // Each finding names its rule, and the replica's server where it is about one replica.
  std::vector<std::string> rules;
  for (const json& finding : acme["findings"])
    rules.push_back(finding["rule"].get<std::string>() + " " + finding["server"].dump());
  EXPECT_EQ(rules, (std::vector<std::string>{"sync-errors \"FS1.HQ.ACME\"", "sync-errors \"BER-FS1.Berlin.Sales.ACME\"",
                                             "replica-state \"OLDNW.Legacy.ACME\"", "replica-state \"FS1.HQ.ACME\"",
                                             "replica-state \"BER-FS1.Berlin.Sales.ACME\"",
                                             "sync-age \"OLDNW.Legacy.ACME\"", "readable-count null",
                                             "readable-count null"}));
}

TEST_F(HealthDocuments, MetricsOfBothDemoTreesPassAnIndependentParser) {
  now = kDemoClock;
  for (const char* tree : {"ACME_TREE", "LAB_TREE"}) {
    SCOPED_TRACE(tree);
    const fs::path file = dir / "vestrel.prom";
    WriteFile(file, "stale\n");
    const RunOutput run = Check(tree, {"--format", "prometheus", "--output", file.string()});
    EXPECT_EQ(run.code, Check(tree).code);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const Metrics metrics = ReadMetrics(ReadFile(file));
    ExpectWellFormedMetrics(metrics);
    const json document = json::parse(Check(tree, {"--format", "json"}).out);
    ExpectMetricsOfDocument(metrics, document);
    EXPECT_EQ(MetricValue(metrics, "vestrel_check_rules_unchecked", {{"tree", tree}}), 0);
    EXPECT_EQ(SampleCount(metrics, "vestrel_replica_state"), document["totals"]["replicas"].get<std::size_t>());
  }
}

// Names hold whatever the directory allows: double quotes, backslashes, line breaks. The
// documents carry them as they are; the summary line keeps them on one line.
TEST_F(HealthDocuments, NamesThatNeedEscapingComeBackAsTheyAre) {
  const std::string unit = "Q\"uo\\te\nLine";
  // A backslash before an n: written unescaped, a parser would read a line break.
  const std::string server = "S\"1\\n\ny";
  json tree = json::parse(SmallTree(HealthyRing(now), HealthyRing(now)));
  tree["objects"].push_back({{"name", unit + ".ORG"}, {"class", "Organizational Unit"}});
  tree["servers"][0]["name"] = server + ".ORG";
  tree["partitions"].push_back({{"root", unit + ".ORG"}, {"replicas", HealthyRing(now)}});
  for (json& partition : tree["partitions"]) partition["replicas"][0]["server"] = server + ".ORG";
  const std::string file = TreeFile(tree.dump());

  FreshProgram();
  const Metrics metrics = ReadMetrics(Run({"--tree-file", file, "--health", "--format", "prometheus"}).out);
  ExpectWellFormedMetrics(metrics);
  const json labels = {{"tree", "SMALL_TREE"}, {"partition", unit + ".ORG"}, {"server", server + ".ORG"},
                       {"type", "master"}};
  EXPECT_EQ(MetricValue(metrics, "vestrel_replica_state", labels), RS_IN_SYNC);
  EXPECT_EQ(MetricValue(metrics, "vestrel_partition_replicas", {{"partition", unit + ".ORG"}}), 3);

  FreshProgram();
  const json document = json::parse(Run({"--tree-file", file, "--health", "--format", "json"}).out);
  EXPECT_EQ(PartitionNamed(document, unit + ".ORG")["replicas"][0]["server"], server + ".ORG");

  FreshProgram();
  const RunOutput text = Run({"--tree-file", file, "--health"});
  EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 1) << text.out;
  EXPECT_NE(text.out.find(" 'Q\"uo\\te Line.ORG oldest_sync_age'=80s 'Q\"uo\\te Line.ORG sync_errors'=0 "),
            std::string::npos)
      << text.out;
}

// A collector must never serve the last run's values as current: a check that cannot be
// made replaces them with UNKNOWN, and says why on the error stream.
TEST_F(HealthDocuments, ACheckThatCannotBeMadeStillWritesItsDocument) {
  const std::string broken = TreeFile("{ \"tree\": ", "broken.json");
  const std::string healthy = TreeFile(SmallTree(HealthyRing(now), HealthyRing(now)));
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    const char* failingCall;
    json tree;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"broken tree file", {"--tree-file", broken}, nullptr, nullptr, "the tree file cannot be loaded: " + broken},
      {"unknown tree", {"--connections", connections, "--tree", "NO_SUCH_TREE"}, nullptr, "NO_SUCH_TREE",
       "unknown tree \"NO_SUCH_TREE\""},
      {"search fails", {"--tree-file", healthy}, "DSSearchStep", "SMALL_TREE",
       "the partitions of the tree SMALL_TREE cannot be listed: 0xFFFFFD8F"},
  };
  for (const Case& c : cases) {
    for (const char* format : {"json", "prometheus"}) {
      SCOPED_TRACE(std::string(c.name) + " " + format);
      const fs::path file = dir / "out";
      WriteFile(file, "the last run's values\n");
      std::vector<std::string> arguments = c.arguments;
      arguments.insert(arguments.end(), {"--health", "--format", format, "--output", file.string()});
      FreshProgram();
      if (c.failingCall) nwtest::FailOperation(c.failingCall, ERR_TRANSPORT_FAILURE);
      const RunOutput run = Run(arguments);
      EXPECT_EQ(run.code, 3);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err.rfind("vestrel-check: " + c.reason, 0), 0u) << run.err;
      const std::string written = ReadFile(file);
      if (std::string(format) == "json") {
        const json document = json::parse(written);
        EXPECT_EQ(document["status"], "UNKNOWN");
        EXPECT_EQ(document["exit_code"], 3);
        EXPECT_EQ(document["success"], false);
        EXPECT_EQ(document["tree"], c.tree);
        EXPECT_EQ(document["failure"].get<std::string>().rfind(c.reason, 0), 0u) << document["failure"];
        EXPECT_EQ(document["findings"], json::array());
        EXPECT_EQ(document["checked_at_seconds"], now);
      } else {
        const Metrics metrics = ReadMetrics(written);
        ExpectWellFormedMetrics(metrics);
        EXPECT_EQ(MetricValue(metrics, "vestrel_check_success", json::object()), 0);
        EXPECT_EQ(MetricValue(metrics, "vestrel_check_status", json::object()), 3);
        EXPECT_EQ(SampleCount(metrics, "vestrel_replica_state"), 0u);
      }
    }
  }
  // Where the document itself cannot go, the run says so once; nothing else is written.
  FreshProgram();
  const RunOutput run = Run({"--tree-file", broken, "--health", "--format", "json", "--output",
                             (dir / "missing" / "out.json").string()});
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("vestrel-check: the tree file cannot be loaded"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("vestrel-check: cannot write the file"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

// The dashboard shipped in dist/ reads only metrics that vestrel-check writes.
TEST_F(HealthDocuments, TheGrafanaDashboardReadsTheMetricsThatAreWritten) {
  now = kDemoClock;
  const Metrics metrics = ReadMetrics(Check("ACME_TREE", {"--format", "prometheus"}).out);
  std::set<std::string> written;
  for (const json& family : metrics.families) written.insert(family["name"]);
  const json dashboard = json::parse(ReadFile(VESTREL_GRAFANA_DASHBOARD));
  std::set<std::string> read;
  const std::regex metricName("vestrel_[a-z_]+");
  std::function<void(const json&)> collect = [&](const json& node) {
    if (node.is_object() && node.contains("expr")) {
      const std::string expr = node["expr"];
      for (auto it = std::sregex_iterator(expr.begin(), expr.end(), metricName); it != std::sregex_iterator(); ++it)
        read.insert(it->str());
    }
    if (node.is_structured())
      for (const json& child : node) collect(child);
  };
  collect(dashboard);
  EXPECT_GE(read.size(), 8u);
  for (const std::string& name : read) EXPECT_EQ(written.count(name), 1u) << name;
}

}  // namespace
}  // namespace vestrel::check::testing
