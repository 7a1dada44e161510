// The window started with a connections file that names a local slapd loaded with
// ACME_TREE: the tree in the selector, the signed-in name, both scans through the
// buttons. With VESTREL_LDAP_SHOTS set to a folder, the pages are saved there as PNGs.
#include <QTest>

#include "LdapWindowTest.h"

namespace vestrel {
namespace {

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
