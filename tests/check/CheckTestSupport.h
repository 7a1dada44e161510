// Shared pieces of the vestrel-check tests: small tree files built around a clock,
// temporary folders, and a fixture that runs the program in-process against the
// embedded directory the way the built program reaches it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "check/CheckRun.h"
#include "directory/D_NW_Errors.h"
#include "directory/D_NW_Session.h"
#include "platform/nwclient/NwTestHooks.h"

namespace vestrel::check::testing {

namespace fs = std::filesystem;
using nlohmann::json;

inline std::string DemoTree(const std::string& file) { return std::string(VESTREL_TEST_TREES) + "/" + file; }

// 2024-05-06T08:00:00Z: the demo trees' clock.
inline constexpr std::int64_t kDemoClock = 1714982400;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ = fs::temp_directory_path() /
            ("vestrel-check-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code error;
    fs::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// A replica of a small tree: server (below ORG), type name, number, seconds since its
// last sync at `now`, and optional extras (state, errors, ...).
inline json Replica(const std::string& server, const std::string& type, int number, std::int64_t age,
                    std::int64_t now, json extra = json::object()) {
  json replica = {{"server", server + ".ORG"}, {"type", type}, {"number", number}, {"lastSync", now - age}};
  replica.update(extra);
  return replica;
}

// The usual healthy ring: a master, a secondary and a read-only replica, synced a minute ago.
inline json HealthyRing(std::int64_t now) {
  return json::array({Replica("S1", "Master", 1, 60, now), Replica("S2", "Secondary", 2, 70, now),
                      Replica("S3", "Read-Only", 3, 80, now)});
}

// SMALL_TREE with four servers S1..S4 in ORG and the partitions [Root] and Sales.ORG (plus
// East.Sales.ORG when given). Without a "clock" the library's clock is the system time.
inline std::string SmallTree(const json& rootRing, const json& salesRing, const json& eastRing = nullptr) {
  json objects = json::array({{{"name", "ORG"}, {"class", "Organization"}},
                              {{"name", "Sales.ORG"}, {"class", "Organizational Unit"}},
                              {{"name", "East.Sales.ORG"}, {"class", "Organizational Unit"}}});
  json servers = json::array();
  for (const char* name : {"S1", "S2", "S3", "S4"})
    servers.push_back({{"name", std::string(name) + ".ORG"}, {"version", "eDirectory 9.2"}, {"dsRevision", 40204}});
  json partitions = json::array({{{"root", "[Root]"}, {"replicas", rootRing}}, {{"root", "Sales.ORG"}, {"replicas", salesRing}}});
  if (!eastRing.is_null()) partitions.push_back({{"root", "East.Sales.ORG"}, {"replicas", eastRing}});
  json tree = {{"tree", "SMALL_TREE"}, {"objects", objects}, {"servers", servers}, {"partitions", partitions}};
  return tree.dump(2);
}

// A connections file with both demo trees (ACME_TREE primary).
inline std::string DemoConnections(const TempDir& dir) {
  const json connections = {{"connections", json::array({{{"tree", DemoTree("acme.json")}, {"primary", true}},
                                                         {{"tree", DemoTree("lab.json")}}})}};
  const fs::path path = dir / "connections.json";
  WriteFile(path, connections.dump());
  return path.string();
}

struct RunOutput {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs the program in-process. The engine starts as the program finds it (nothing
// loaded), so --tree-file and --connections take effect through the environment.
class CheckRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VESTREL_TREE_FILE");
    unsetenv("VESTREL_CONNECTIONS");
    SetErrorTextLibraryPath("/nonexistent/libnwerr32.so");
    FreshProgram();
  }
  void TearDown() override {
    unsetenv("VESTREL_TREE_FILE");
    unsetenv("VESTREL_CONNECTIONS");
    SetErrorTextLibraryPath("");
    ClientConnection = kNoClientConnection;
    nwtest::Reset();
  }

  // As if the program started again: nothing loaded, no connection open.
  static void FreshProgram() {
    ClientConnection = kNoClientConnection;
    nwtest::ResetToDefaults();
  }

  RunOutput Run(const std::vector<std::string>& arguments) {
    std::ostringstream out;
    std::ostringstream err;
    RunOutput result;
    result.code = RunCheck(arguments, out, err, [this] { return now; });
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  // A tree file in the test's folder.
  std::string TreeFile(const std::string& text, const std::string& name = "tree.json") {
    const fs::path path = dir / name;
    WriteFile(path, text);
    return path.string();
  }

  RunOutput Health(const std::string& treeText, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {"--tree-file", TreeFile(treeText), "--health"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    FreshProgram();
    return Run(arguments);
  }

  std::int64_t now = 1'800'000'000;
  TempDir dir;
};

}  // namespace vestrel::check::testing
