// Tests against a real LDAP server: each test starts its own slapd on 127.0.0.1 (the
// demo tree ACME_TREE converted into it, its times moved to now as the test bed moves
// them), connects the client library to it through a connections entry, and stops the
// server by its pid. A test fails when slapd cannot start.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "RecordingUi.h"
#include "directory/D_NW.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"
#include "tools/ldap-testbed/SlapdServer.h"
#include "tools/ldif/TreeToLdif.h"

namespace vestrel::testing {

inline std::string DemoTreeFile(const std::string& file) { return std::string(VESTREL_TEST_TREES) + "/" + file; }

// The demo tree as LDIF for the test schema, and extra entries after it.
inline std::string AcmeLdif(const std::string& extra = "", ldif::TreeTimes times = ldif::TreeTimes::MovedToNow) {
  return ldif::TreeFileToLdif(DemoTreeFile("acme.json"), times).text + extra;
}

inline constexpr const char* kAdminDn = "cn=admin,o=ACME";
inline constexpr const char* kPassword = "secret";

class LdapServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nwtest::Reset();
    SetErrorTextLibraryPath("/nonexistent/libnwerr32.so");
    char pattern[] = "/tmp/vestrel-ldap-test-XXXXXX";
    folder = mkdtemp(pattern);
    std::ofstream(folder + "/admin.pw") << kPassword;
    chmod((folder + "/admin.pw").c_str(), 0600);
  }
  void TearDown() override {
    for (NWDSContextHandle c : contexts_) DSContextFree(c);
    nwtest::Reset();
    SetErrorTextLibraryPath("");
    server.Stop();
    std::filesystem::remove_all(folder);
  }

  // Starts slapd with the demo tree (and extra LDIF entries).
  void StartServer(const std::string& extra = "", ldif::TreeTimes times = ldif::TreeTimes::MovedToNow) {
    const std::string problem = server.Start(AcmeLdif(extra, times));
    ASSERT_EQ(problem, "") << "slapd must start for this test";
  }

  // A connections entry for url signed in as the tree's administrator.
  nlohmann::json Entry(const std::string& url) const {
    return {{"ldap", url}, {"tree", "ACME_TREE"}, {"bindDn", kAdminDn}, {"passwordFile", "admin.pw"}, {"primary", true}};
  }
  // Loads the connections; "" or the problem the client keeps for the window.
  std::string Connect(const nlohmann::json& entry) {
    return nwtest::LoadConnectionsJson(nlohmann::json{{"connections", {entry}}}.dump(), folder);
  }
  void ConnectServer() { ASSERT_EQ(Connect(Entry(server.Url())), ""); }

  // A context as the main window keeps it after choosing the tree.
  NWDSContextHandle Context(const std::string& tree = "ACME_TREE") {
    NWDSContextHandle c = 0;
    EXPECT_EQ(DSContextCreate(&c), 0);
    EXPECT_EQ(DSChangeCurrentTree(c, tree, false), 0);
    ModifyContextFlags(c, '+', DCV_TYPELESS_NAMES);
    EXPECT_EQ(SetNameContext(c, "[Root]"), 0);
    contexts_.push_back(c);
    return c;
  }

  std::uint64_t Requests() const { return nwtest::ServerRequests("ACME_TREE"); }

  testbed::SlapdServer server;
  std::string folder;
  RecordingUi ui;

 private:
  std::vector<NWDSContextHandle> contexts_;
};

}  // namespace vestrel::testing
