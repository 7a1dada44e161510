// Window tests over LDAP: each test starts its own slapd on 127.0.0.1 loaded with the demo
// tree ACME_TREE, its times moved to now (and, when asked, the extended-operation double
// in front of it with an endpoint per server) and points the program at it with a
// connections file, as a user would. A test fails when slapd cannot start.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

#include "RecordingUi.h"
#include "TempConfigHome.h"
#include "app/Vestrel_main.h"
#include "directory/D_NW.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"
#include <nlohmann/json.hpp>

#include "tools/ldap-testbed/SlapdServer.h"
#include "tools/ldap-testbed/TreeBed.h"
#include "tools/ldif/TreeToLdif.h"

namespace vestrel {

inline constexpr const char* kAdminDn = "cn=admin,o=ACME";
inline constexpr const char* kAdminPassword = "secret";

class LdapWindowTest : public ::testing::Test {
 protected:
  // withOperations: the extended-operation double answers in front of slapd.
  explicit LdapWindowTest(bool withOperations = false) : withOperations_(withOperations) {}

  void SetUp() override {
    char pattern[] = "/tmp/vestrel-ldap-window-XXXXXX";
    folder_ = mkdtemp(pattern);
    std::ofstream(folder_ + "/admin.pw") << kAdminPassword;
    chmod((folder_ + "/admin.pw").c_str(), 0600);
    StartServers();
  }
  void TearDown() override {
    StopServers();
    std::filesystem::remove_all(folder_);
  }

  // slapd with a fresh copy of the demo tree (with the double and an endpoint per server
  // when asked), and the program's client pointed at them as at its first start.
  void StartServers() {
    const auto tree = nw::LoadTreeFile(std::string(VESTREL_TEST_TREES) + "/acme.json");
    nlohmann::json entry = {{"tree", "ACME_TREE"}, {"bindDn", kAdminDn}, {"passwordFile", "admin.pw"}, {"primary", true}};
    if (withOperations_) {
      ASSERT_EQ(bed_.Start(*tree, kAdminDn, kAdminPassword), "") << "slapd must start for this test";
      operations_ = &bed_.Operations();
      entry["ldap"] = bed_.TreeUrl();
      entry["servers"] = nlohmann::json::object();
      for (const auto& [name, url] : bed_.ServerUrls()) entry["servers"][name] = url;
    } else {
      ldif::MoveTimes(*tree, ldif::SecondsToNow(*tree, std::time(nullptr)));
      ASSERT_EQ(server_.Start(ldif::TreeToLdif(*tree).text), "") << "slapd must start for this test";
      entry["ldap"] = server_.Url();
    }
    std::ofstream(folder_ + "/connections.json") << nlohmann::json{{"connections", {entry}}}.dump();
    environment_ = std::make_unique<testing::ScopedEnvironment>("VESTREL_CONNECTIONS",
                                                               (folder_ + "/connections.json").c_str());
    // The program's own start: the client reads the connections file at its first call.
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
  }
  void StopServers() {
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
    environment_.reset();
    operations_ = nullptr;
    bed_.Stop();
    server_.Stop();
  }

  // Saves a picture of a window when a folder for pictures is named (VESTREL_LDAP_SHOTS).
  static void Shoot(QWidget& window, const std::string& name) {
    const char* shots = std::getenv("VESTREL_LDAP_SHOTS");
    if (!shots || !*shots) return;
    std::filesystem::create_directories(shots);
    EXPECT_TRUE(window.grab().save(QString::fromStdString(std::string(shots) + "/" + name + ".png")));
  }

  testing::TempConfigHome config_;
  testing::RecordingUi ui_;
  testbed::SlapdServer server_;       // without the double
  testbed::TreeBed bed_;              // with the double
  testbed::ExtOpDouble* operations_ = nullptr;
  std::string folder_;

 private:
  bool withOperations_;
  std::unique_ptr<testing::ScopedEnvironment> environment_;
};

}  // namespace vestrel
