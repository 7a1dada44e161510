// The window's sign-in to an LDAP connection that names a bind DN and no password: the
// password dialog is answered through the UI seam; the right password shows the tree and
// the signed-in name, a wrong one is asked for again with the server's words (three tries
// in all), Cancel leaves the tree out. The password is found in no file the program
// writes and in nothing it prints.
#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "RecordingUi.h"
#include "TempConfigHome.h"
#include "app/Vestrel_main.h"
#include "directory/D_NW.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"
#include "tools/ldap-testbed/SlapdServer.h"
#include "tools/ldif/TreeToLdif.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "Qz7-sign-in-only";  // found nowhere else in the project

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class SignInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto tree = nw::LoadTreeFile(std::string(VESTREL_TEST_TREES) + "/acme.json");
    testbed::SlapdOptions options;
    options.rootPassword = kPassword;
    ASSERT_EQ(server_.Start(ldif::TreeToLdif(*tree).text, options), "") << "slapd must start for this test";
    const std::string connections = folder_.Path() + "/connections.json";
    std::ofstream(connections) << R"({ "connections": [ { "ldap": ")" << server_.Url()
                               << R"(", "tree": "ACME_TREE", "bindDn": "cn=admin,o=ACME", "primary": true } ] })";
    fs::create_directories(WorkFolder());
    savedFolder_ = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(WorkFolder()));  // the exports are written here
    nwtest::ResetToDefaults();  // the program's own start: connections load at the first call
    ClientConnection = kNoClientConnection;
  }
  void TearDown() override {
    QDir::setCurrent(savedFolder_);
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
    server_.Stop();
  }

  std::string WorkFolder() const { return folder_.Path() + "/work"; }
  std::string Connection() const { return server_.Url() + " (ACME_TREE)"; }

  testing::TempFolder folder_{"vestrel-sign-in"};
  testing::ScopedEnvironment connections_{"VESTREL_CONNECTIONS", (folder_.Path() + "/connections.json").c_str()};
  testing::ScopedEnvironment noPassword_{"VESTREL_LDAP_PASSWORD", nullptr};
  testing::TempConfigHome config_;
  testing::RecordingUi ui_;
  testbed::SlapdServer server_;
  QString savedFolder_;
};

TEST_F(SignInTest, TheRightPasswordSignsInAndIsWrittenNowhere) {
  ui_.QueuePassword(kPassword);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  {
    TMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_EQ(ui_.passwordRequests.size(), 1u);
    EXPECT_EQ(ui_.passwordRequests[0].connection, Connection());
    EXPECT_EQ(ui_.passwordRequests[0].account, "cn=admin,o=ACME");
    ASSERT_EQ(form.ComboBoxTrees->count(), 1);
    EXPECT_EQ(form.ComboBoxTrees->currentText().toStdString(), "ACME_TREE");
    EXPECT_EQ(form.EditMyName->text().toStdString(), "admin.ACME");

    // Both scans and an export of each kind, then the window closes and keeps its settings.
    form.PageControl->setCurrentWidget(form.TabSheetServers);
    form.BitBtnSrv->click();
    form.PageControl->setCurrentWidget(form.TabSheetPart);
    form.BitBtnPart->click();
    EXPECT_EQ(form.StringGridPart->Grid().Cell(1, 4), "Legacy");
    for (const char* type : {"HTML", "XML", "TXT"}) {
      form.ComboBoxTypeS->setCurrentIndex(form.ComboBoxTypeS->findText(QString::fromLatin1(type)));
      form.BitBtnExpSrv->click();
      form.ComboBoxTypeP->setCurrentIndex(form.ComboBoxTypeP->findText(QString::fromLatin1(type)));
      form.BitBtnExpPart->click();
    }
    form.close();
  }
  const std::string printed = ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(ui_.passwordRequests.size(), 1u);  // asked once, at start
  int files = 0;
  int exports = 0;
  for (const std::string& folder : {config_.Path(), WorkFolder()}) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      ++files;
      exports += entry.path().parent_path() == WorkFolder();
      EXPECT_EQ(FileText(entry.path()).find(kPassword), std::string::npos) << entry.path();
    }
  }
  EXPECT_EQ(exports, 6);
  EXPECT_GT(files, exports);  // the settings file too
  EXPECT_EQ(printed.find(kPassword), std::string::npos);
  for (const std::string& text : ui_.Texts()) EXPECT_EQ(text.find(kPassword), std::string::npos) << text;
}

// A refused password is asked for again with the server's words, three tries in all; the
// tree is left out with the start-up box of a failed sign-in when none was right or the
// user cancelled after a refusal, and with the cancelled sign-in when the first asking was
// cancelled.
TEST_F(SignInTest, ARefusedPasswordIsAskedForAgainThreeTimesInAllAndCancelLeavesTheTreeOut) {
  const std::string refused = "sign-in as cn=admin,o=ACME failed: Invalid credentials";
  struct Case {
    const char* name;
    std::vector<std::optional<std::string>> answers;
    std::size_t requests;
    std::string problem;  // empty: the tree is there
  };
  const std::string wrong = "not the password";
  const Case cases[] = {
      {"three wrong", {wrong, wrong + "2", wrong + "3"}, 3, ": " + refused},
      {"wrong, then right", {wrong, kPassword}, 2, ""},
      {"wrong, then cancel", {wrong, std::nullopt}, 2, ": " + refused},
      {"cancel at once", {std::nullopt}, 1, ": the sign-in as cn=admin,o=ACME was cancelled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
    ui_.boxes.clear();
    ui_.passwordRequests.clear();
    for (const auto& answer : c.answers) ui_.QueuePassword(answer);
    TMainForm form;
    ASSERT_EQ(ui_.passwordRequests.size(), c.requests);
    for (std::size_t i = 0; i < c.requests; ++i) {
      EXPECT_EQ(ui_.passwordRequests[i].connection, Connection());
      EXPECT_EQ(ui_.passwordRequests[i].refusal, i == 0 ? "" : refused) << i;
    }
    for (const std::string& text : ui_.Texts()) EXPECT_EQ(text.find(wrong), std::string::npos) << text;
    if (c.problem.empty()) {
      EXPECT_TRUE(ui_.boxes.empty());
      EXPECT_EQ(form.ComboBoxTrees->currentText().toStdString(), "ACME_TREE");
      continue;
    }
    // The usual start-up error: the connection and why it was left out, first of the boxes.
    ASSERT_FALSE(ui_.boxes.empty());
    EXPECT_EQ(ui_.boxes[0].kind, DialogKind::Error);
    const std::string& text = ui_.boxes[0].text;
    EXPECT_NE(text.find("connections.json: connections[0]"), std::string::npos) << text;
    EXPECT_NE(text.find(c.problem), std::string::npos) << text;
    EXPECT_EQ(form.ComboBoxTrees->findText(QStringLiteral("ACME_TREE")), -1);
  }
}

}  // namespace
}  // namespace vestrel
