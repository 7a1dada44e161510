// The window started with a connections file that names a local slapd loaded with
// ACME_TREE: the tree in the selector, the signed-in name, both scans through the
// buttons. With VESTREL_LDAP_SHOTS set to a folder, the pages are saved there as PNGs.
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

class LdapWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vestrel-ldap-window-XXXXXX";
    folder_ = mkdtemp(pattern);
    const auto tree = nw::LoadTreeFile(std::string(VESTREL_TEST_TREES) + "/acme.json");
    ASSERT_EQ(server_.Start(ldif::TreeToLdif(*tree).text), "") << "slapd must start for this test";
    std::ofstream(folder_ + "/admin.pw") << "secret";
    chmod((folder_ + "/admin.pw").c_str(), 0600);
    std::ofstream(folder_ + "/connections.json")
        << R"({ "connections": [ { "ldap": ")" << server_.Url()
        << R"(", "tree": "ACME_TREE", "bindDn": "cn=admin,o=ACME", "passwordFile": "admin.pw", "primary": true } ] })";
    setenv("VESTREL_CONNECTIONS", (folder_ + "/connections.json").c_str(), 1);
    // The program's own start: the client reads the connections file at its first call.
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
  }
  void TearDown() override {
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
    unsetenv("VESTREL_CONNECTIONS");
    server_.Stop();
    std::filesystem::remove_all(folder_);
  }

  // Saves a picture of the window when a folder for pictures is named.
  static void Shoot(TMainForm& form, const std::string& name) {
    const char* shots = std::getenv("VESTREL_LDAP_SHOTS");
    if (!shots || !*shots) return;
    std::filesystem::create_directories(shots);
    EXPECT_TRUE(form.grab().save(QString::fromStdString(std::string(shots) + "/" + name + ".png")));
  }

  testing::TempConfigHome config_;
  testing::RecordingUi ui_;
  testbed::SlapdServer server_;
  std::string folder_;
};

TEST_F(LdapWindowTest, ShowsTheTreeTheSignedInNameAndBothScans) {
  TMainForm form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(ui_.boxes.size(), 0u) << (ui_.boxes.empty() ? "" : ui_.boxes.front().text);
  ASSERT_EQ(form.ComboBoxTrees->count(), 1);
  EXPECT_EQ(form.ComboBoxTrees->currentText().toStdString(), "ACME_TREE");
  EXPECT_EQ(form.EditMyName->text().toStdString(), "admin.ACME");

  form.PageControl->setCurrentWidget(form.TabSheetServers);
  form.BitBtnSrv->click();
  const StringGrid& servers = form.StringGridSrv->Grid();
  ASSERT_EQ(servers.RowCount(), 7);
  EXPECT_EQ(servers.Cell(1, 1), "BER-FS1");
  EXPECT_EQ(servers.Cell(2, 1), ".Berlin.Sales.ACME");
  EXPECT_TRUE(form.BitBtnExpSrv->isEnabled());
  Shoot(form, "servers");

  form.PageControl->setCurrentWidget(form.TabSheetPart);
  form.BitBtnPart->click();
  const StringGrid& partitions = form.StringGridPart->Grid();
  ASSERT_EQ(partitions.RowCount(), 6);
  EXPECT_EQ(partitions.Cell(1, 1), "[Root]");
  EXPECT_EQ(partitions.Cell(1, 4), "Legacy");
  EXPECT_NE(partitions.Cell(4, 4).find("(remote error)"), std::string::npos);
  EXPECT_TRUE(form.BitBtnExpPart->isEnabled());
  Shoot(form, "partitions");
  EXPECT_TRUE(ui_.boxes.empty());
}

}  // namespace
}  // namespace vestrel
