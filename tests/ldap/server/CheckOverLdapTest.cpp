// vestrel-check on a connection to slapd loaded with ACME_TREE (its times moved to now, as
// the test bed moves them): the scans and the health check report what they report over
// the tree file, ages measured at the server's time as the file's at its clock, except
// what LDAP cannot deliver (each replica's last sync error only; the root DSE's replica
// values, said so in the summary line); the password comes from --password-file only; a
// stopped server is UNKNOWN and named. Over the whole test bed, the JSON document and the
// metrics say what the text says.
#include <algorithm>
#include <ctime>
#include <regex>
#include <set>
#include <sstream>

#include "CheckDocuments.h"
#include "LdapServerTest.h"
#include "check/CheckRun.h"
#include "tools/ldap-testbed/TreeBed.h"

namespace vestrel::testing {
namespace {

constexpr std::int64_t kDemoClock = 1714982400;  // 2024-05-06T08:00:00Z, the demo tree's clock

struct CheckOutput {
  int code = -1;
  std::string out;
  std::string err;
};

// The finding lines of a health report (those after its summary line) without the ones
// that hold any of unwanted.
std::set<std::string> FindingsWithout(const std::string& report, const std::vector<std::string>& unwanted) {
  std::set<std::string> lines;
  std::istringstream in(report);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line))
    if (std::none_of(unwanted.begin(), unwanted.end(),
                     [&](const std::string& part) { return line.find(part) != std::string::npos; }))
      lines.insert(line);
  return lines;
}

class CheckOverLdap : public LdapServerTest {
 protected:
  void SetUp() override {
    LdapServerTest::SetUp();
    unsetenv("VESTREL_TREE_FILE");
    unsetenv("VESTREL_CONNECTIONS");
  }
  void TearDown() override {
    unsetenv("VESTREL_TREE_FILE");
    unsetenv("VESTREL_CONNECTIONS");
    ClientConnection = kNoClientConnection;
    LdapServerTest::TearDown();
  }

  // A connections file naming url, signed in as the administrator with no password source.
  std::string ConnectionsFile(const std::string& url) const {
    nlohmann::json entry = Entry(url);
    entry.erase("passwordFile");
    const std::string path = folder + "/connections.json";
    std::ofstream(path) << nlohmann::json{{"connections", {entry}}}.dump();
    return path;
  }

  // The program started afresh on arguments, its sync ages measured at the demo tree's
  // clock, or with none given at the directory's own time.
  static CheckOutput Run(const std::vector<std::string>& arguments, const check::CheckClock& clock = DemoClock) {
    ClientConnection = kNoClientConnection;
    nwtest::ResetToDefaults();
    std::ostringstream out;
    std::ostringstream err;
    CheckOutput result;
    result.code = check::RunCheck(arguments, out, err, clock);
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  static std::int64_t DemoClock() { return kDemoClock; }

  std::vector<std::string> OverLdap(const std::string& connections, const std::string& mode) const {
    return {"--tree", "ACME_TREE", "--connections", connections, "--password-file", folder + "/admin.pw", mode};
  }
};

TEST_F(CheckOverLdap, EveryModeReportsAsOverTheTreeFileButWhatLdapCannotDeliver) {
  StartServer();
  const std::string connections = ConnectionsFile(server.Url());
  const std::string treeFile = DemoTreeFile("acme.json");

  const CheckOutput fileServers = Run({"--tree-file", treeFile, "--servers"});
  const CheckOutput ldapServers = Run(OverLdap(connections, "--servers"));
  EXPECT_EQ(ldapServers.code, 0) << ldapServers.err;
  EXPECT_EQ(ldapServers.out, fileServers.out);

  const CheckOutput ldapPartitions = Run(OverLdap(connections, "--partitions"));
  EXPECT_EQ(ldapPartitions.code, 0) << ldapPartitions.err;
  EXPECT_NE(ldapPartitions.out.find("\tLegacy\t"), std::string::npos) << ldapPartitions.out;

  const CheckOutput fileHealth = Run({"--tree-file", treeFile, "--health"});
  // Measured at the server's time: the workstation's clock, as slapd does not tell its own.
  const CheckOutput ldapHealth = Run(OverLdap(connections, "--health"), {});
  EXPECT_EQ(ldapHealth.code, 2) << ldapHealth.out << ldapHealth.err;
  // The tree root's ring is not checked: the root DSE does not hold it, and slapd answers
  // no replica list that could name its replicas.
  const std::string summary = "VESTREL CRITICAL - ACME_TREE: 5 partitions, 11 replicas, 7 critical, 2 warnings: "
                              "Legacy.ACME; not checked: the replica ring of [Root] (not available for this tree) | "
                              "partitions=5 replicas=11 replicas_with_errors=3 oldest_sync_age=";
  ASSERT_EQ(ldapHealth.out.rfind(summary, 0), 0u) << ldapHealth.out;
  // The file's oldest age (6d 9h 47m), and the seconds since slapd was loaded.
  const std::int64_t oldestAge = std::stoll(ldapHealth.out.substr(summary.size()));
  EXPECT_GE(oldestAge, 553620);
  EXPECT_LT(oldestAge, 553620 + 300);
  // Each partition's oldest age and sync errors follow the totals; [Root]'s the tree cannot give.
  EXPECT_TRUE(std::regex_search(
      ldapHealth.out,
      std::regex("^[^\\n]*oldest_sync_age=\\d+s '\\[Root\\] oldest_sync_age'=U '\\[Root\\] sync_errors'=U "
                 "'Berlin\\.Sales\\.ACME oldest_sync_age'=\\d+s 'Berlin\\.Sales\\.ACME sync_errors'=0 "
                 "'Engineering\\.ACME oldest_sync_age'=\\d+s 'Engineering\\.ACME sync_errors'=0 "
                 "'Legacy\\.ACME oldest_sync_age'=\\d+s 'Legacy\\.ACME sync_errors'=3 "
                 "'Sales\\.ACME oldest_sync_age'=\\d+s 'Sales\\.ACME sync_errors'=0\\n")))
      << ldapHealth.out;
  // The findings are the tree file's, but for the sync errors: each replica's last one,
  // from its Partition Status value, the master's too, whose server cannot be asked for
  // its list.
  EXPECT_EQ(FindingsWithout(ldapHealth.out, {" has errors: "}), FindingsWithout(fileHealth.out, {" has errors: "}));
  for (const char* lastError : {"\"OLDNW.Legacy.ACME\" has errors: 1: 0xFFFFFD8F",
                                "\"FS1.HQ.ACME\" has errors: 1: 0xFFFFFD8F",
                                "\"BER-FS1.Berlin.Sales.ACME\" has errors: 1: 0xFFFFFD84"})
    EXPECT_NE(ldapHealth.out.find("CRITICAL: Legacy.ACME: Replica on server " + std::string(lastError) + "\n"),
              std::string::npos)
        << lastError;
  EXPECT_NE(ldapHealth.out.find("CRITICAL: Legacy.ACME: Partition Status of OLDNW.Legacy.ACME [Master] [Nr: 1] is "
                                "(local error)"),
            std::string::npos);
  // Nothing the program printed holds the password.
  for (const CheckOutput* run : {&ldapServers, &ldapPartitions, &ldapHealth})
    EXPECT_EQ((run->out + run->err).find(kPassword), std::string::npos);
}

TEST_F(CheckOverLdap, ThePasswordComesFromAPrivateFileAndIsNeverAskedFor) {
  StartServer();
  const std::string connections = ConnectionsFile(server.Url());
  // No password source: UNKNOWN, saying so; nobody is asked.
  const CheckOutput none = Run({"--tree", "ACME_TREE", "--connections", connections, "--health"});
  EXPECT_EQ(none.code, 3);
  EXPECT_EQ(none.out.rfind("VESTREL UNKNOWN - ", 0), 0u) << none.out;
  EXPECT_NE(none.out.find("no password for cn=admin,o=ACME"), std::string::npos) << none.out;

  // A file others may read is refused before anything is connected.
  const std::string shared = folder + "/shared.pw";
  std::ofstream(shared) << kPassword;
  chmod(shared.c_str(), 0640);
  const CheckOutput refused = Run({"--tree", "ACME_TREE", "--connections", connections, "--password-file", shared,
                                   "--health"});
  EXPECT_EQ(refused.code, 3);
  EXPECT_EQ(refused.out, "VESTREL UNKNOWN - --password-file: \"" + shared +
                             "\" may be read by other users; allow only its owner (chmod 600)\n");

  // The file's password wins over an inherited variable with a wrong one.
  setenv("VESTREL_LDAP_PASSWORD", "not the password", 1);
  const CheckOutput signedIn = Run(OverLdap(connections, "--health"));
  unsetenv("VESTREL_LDAP_PASSWORD");
  EXPECT_EQ(signedIn.code, 2) << signedIn.out << signedIn.err;
}

TEST_F(CheckOverLdap, AStoppedServerIsUnknownAndNamedWithItsError) {
  StartServer();
  const std::string url = server.Url();
  const std::string connections = ConnectionsFile(url);
  server.Stop();  // by its pid
  const CheckOutput health = Run(OverLdap(connections, "--health"));
  EXPECT_EQ(health.code, 3);
  EXPECT_EQ(health.out, "VESTREL UNKNOWN - no directory tree is connected; not loaded: " + connections +
                            ": connections[0]: " + url + " (ACME_TREE): cannot connect: Can't contact LDAP server\n");
  const CheckOutput servers = Run(OverLdap(connections, "--servers"));
  EXPECT_EQ(servers.code, 3);
  EXPECT_EQ(servers.out, "");
  EXPECT_NE(servers.err.find(url), std::string::npos) << servers.err;
}

// The whole test bed: the double answers the replica list and information requests, so
// the servers' own lists name [Root]'s replicas; ages are measured at the server's time.
class CheckOverTestBed : public CheckOverLdap {
 protected:
  std::string BedConnections(nw::Tree& tree) {
    EXPECT_EQ(bed.Start(tree, kAdminDn, kPassword), "") << "slapd must start for this test";
    const std::string path = ConnectionsFile(bed.TreeUrl());
    nlohmann::json connections = nlohmann::json::parse(std::ifstream(path));
    for (const auto& [name, url] : bed.ServerUrls()) connections["connections"][0]["servers"][name] = url;
    std::ofstream(path) << connections.dump();
    return path;
  }
  testbed::TreeBed bed;
};

TEST_F(CheckOverTestBed, ATreeWhoseRingsAreAllWellIsOkAsOverItsTreeFile) {
  // Every ring complete and in sync a minute before the tree's clock; [Root]'s too.
  std::string partitions;
  for (const char* root : {"[Root]", "Sales.WELL"})
    partitions += std::string(partitions.empty() ? "" : ",") + R"({ "root": ")" + root + R"(", "replicas": [
      { "server": "A.WELL", "type": "Master", "number": 1, "lastSync": "2024-05-06T07:59:00Z" },
      { "server": "B.WELL", "type": "Secondary", "number": 2, "lastSync": "2024-05-06T07:59:00Z" },
      { "server": "C.WELL", "type": "Read-Only", "number": 3, "lastSync": "2024-05-06T07:59:00Z" } ] })";
  const std::string text = R"({ "tree": "ACME_TREE", "clock": "2024-05-06T08:00:00Z",
    "objects": [ { "name": "WELL", "class": "Organization" }, { "name": "admin.WELL", "class": "User" },
                 { "name": "Sales.WELL", "class": "Organizational Unit" } ],
    "servers": [ { "name": "A.WELL" }, { "name": "B.WELL" }, { "name": "C.WELL" } ],
    "partitions": [ )" + partitions + " ] }";
  const std::string file = folder + "/well.json";
  std::ofstream(file) << text;
  const CheckOutput overFile = Run({"--tree-file", file, "--health"});
  EXPECT_EQ(overFile.code, 0) << overFile.out << overFile.err;

  const auto tree = nw::LoadTreeText(text, "well.json");
  const CheckOutput overLdap = Run(OverLdap(BedConnections(*tree), "--health"), {});
  EXPECT_EQ(overLdap.code, 0) << overLdap.out << overLdap.err;
  EXPECT_EQ(overLdap.out.rfind("VESTREL OK - ACME_TREE: 2 partitions, 6 replicas; not checked: replica numbers, "
                               "states, syncs and sync errors of [Root] (the servers name only its replicas and their "
                               "types) | partitions=2 replicas=6 replicas_with_errors=0 oldest_sync_age=",
                               0),
            0u)
      << overLdap.out;
}

TEST_F(CheckOverTestBed, TheDemoTreeHasItsTreeFilesFindingsButWhatTheServersCannotTell) {
  const CheckOutput overFile = Run({"--tree-file", DemoTreeFile("acme.json"), "--health"});
  auto tree = nw::LoadTreeFile(DemoTreeFile("acme.json"));
  const CheckOutput overLdap = Run(OverLdap(BedConnections(*tree), "--health"), {});
  EXPECT_EQ(overLdap.code, 2) << overLdap.out << overLdap.err;
  EXPECT_NE(overLdap.out.find("; not checked: replica numbers, states, syncs and sync errors of [Root] (the servers "
                              "name only its replicas and their types) |"),
            std::string::npos)
      << overLdap.out;
  EXPECT_EQ(FindingsWithout(overLdap.out, {" has errors: "}), FindingsWithout(overFile.out, {" has errors: "}));
}

// [Root] is known by its holders: the document lists its replicas without the facts the
// servers cannot give and names its rules as not checked; the metrics hold what the
// document holds. Once the servers stop, both documents still come, UNKNOWN.
TEST_F(CheckOverTestBed, DocumentsSayWhatTheTextSaysAndComeWhenTheServersStop) {
  auto tree = nw::LoadTreeFile(DemoTreeFile("acme.json"));
  std::vector<std::string> arguments = OverLdap(BedConnections(*tree), "--health");
  // One time for every run, so ages in the texts agree to the second.
  const std::int64_t at = std::time(nullptr);
  const check::CheckClock clock = [at] { return at; };

  const CheckOutput text = Run(arguments, clock);
  arguments.insert(arguments.end(), {"--format", "json"});
  const CheckOutput json = Run(arguments, clock);
  ASSERT_EQ(json.code, text.code) << json.err;
  const nlohmann::json document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["success"], true);
  EXPECT_EQ(document["tree"], "ACME_TREE");
  EXPECT_EQ(text.out.rfind("VESTREL " + document["status"].get<std::string>() + " - ", 0), 0u) << text.out;
  EXPECT_EQ(FindingLines(document), FindingLines(text.out));
  const nlohmann::json& root = document["partitions"][0];
  EXPECT_EQ(root["name"], "[Root]");
  EXPECT_EQ(root["ring"], "holders-only");
  ASSERT_FALSE(root["replicas"].empty());
  for (const nlohmann::json& replica : root["replicas"]) {
    EXPECT_EQ(replica["number"], nullptr);
    EXPECT_EQ(replica["state"], nullptr);
    EXPECT_EQ(replica["sync_errors"], nullptr);
  }
  ASSERT_EQ(document["unchecked"].size(), 1u);
  EXPECT_EQ(document["unchecked"][0]["partitions"], nlohmann::json::array({"[Root]"}));
  EXPECT_NE(text.out.find("; not checked: " + document["unchecked"][0]["text"].get<std::string>() + " | "),
            std::string::npos)
      << text.out;

  arguments.back() = "prometheus";
  const Metrics metrics = ReadMetrics(Run(arguments, clock).out);
  ExpectWellFormedMetrics(metrics);
  ExpectMetricsOfDocument(metrics, document);
  EXPECT_EQ(MetricValue(metrics, "vestrel_check_rules_unchecked", {{"tree", "ACME_TREE"}}),
            document["unchecked"][0]["rules"].size());

  bed.Stop();
  for (const char* format : {"json", "prometheus"}) {
    SCOPED_TRACE(format);
    arguments.back() = format;
    const CheckOutput stopped = Run(arguments, clock);
    EXPECT_EQ(stopped.code, 3);
    EXPECT_NE(stopped.err.find(bed.TreeUrl()), std::string::npos) << stopped.err;
    if (std::string(format) == "json") {
      const nlohmann::json failed = nlohmann::json::parse(stopped.out);
      EXPECT_EQ(failed["success"], false);
      EXPECT_EQ(failed["status"], "UNKNOWN");
      EXPECT_EQ(failed["tree"], "ACME_TREE");
    } else {
      const Metrics none = ReadMetrics(stopped.out);
      ExpectWellFormedMetrics(none);
      EXPECT_EQ(MetricValue(none, "vestrel_check_success", {{"tree", "ACME_TREE"}}), 0);
      EXPECT_EQ(MetricValue(none, "vestrel_check_status", {{"tree", "ACME_TREE"}}), 3);
    }
  }
}

}  // namespace
}  // namespace vestrel::testing
