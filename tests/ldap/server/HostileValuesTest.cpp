// Values from the server that cannot be decoded (a replica pointer cut short, a BER
// length past the end, a time stamp or address without its form, a number too big for
// its field) show as "Range check error" in their cells; the other values of the same
// attribute and the rest of the scan are as they should be.
#include "LdapServerTest.h"
#include "platform/nwclient/ldap/LdapValues.h"
#include "scan/Scans.h"

namespace vestrel::testing {
namespace {

std::string GoodPointer() {
  nw::Value pointer;
  pointer.text = "cn=FS1,ou=HQ,o=ACME";
  pointer.number = RT_MASTER;
  pointer.number2 = 1;
  return nw::ldap::EncodeValue(SYN_REPLICA_POINTER, pointer);
}

// A partition root and a server whose values a server might send broken.
std::string HostileEntries() {
  const std::string good = GoodPointer();
  const std::string cut = good.substr(0, good.size() - 5);
  std::string pastTheEnd = good;
  pastTheEnd[3] = 0x7F;  // the server name's length runs past the value
  return "dn: ou=Hostile,o=ACME\nobjectClass: organizationalUnit\nobjectClass: Partition\nou: Hostile\n"
         "Replica;binary:: " + ldif::Base64(cut) + "\n"
         "Replica;binary:: " + ldif::Base64(pastTheEnd) + "\n"
         "Replica;binary:: " + ldif::Base64(good) + "\n"
         "purgeVector: 1714982100 and more\n"
         "partitionStatus:: AAE=\n\n"
         "dn: cn=BAD,ou=HQ,o=ACME\nobjectClass: ncpServer\ncn: BAD\nversion: broken but text\n"
         "dsRevision: 99999999999\n"
         "networkAddress: no form at all\n"
         "networkAddress:: " + ldif::Base64(std::string("9#\x02\x0C\x0A\x00\x00\x07", 8)) + "\n\n";
}

int RowNamed(const StringGrid& grid, const std::string& name) {
  for (int row = 1; row < grid.RowCount(); ++row)
    if (grid.Cell(1, row) == name) return row;
  return -1;
}

class HostileValues : public LdapServerTest {};

TEST_F(HostileValues, UndecodableValuesShowAsRangeCheckErrorsInTheirCells) {
  StartServer(HostileEntries());
  ConnectServer();
  const NWDSContextHandle context = Context();

  StringGrid partitions(5, 2, 1, 1);
  ASSERT_EQ(ScanPartitions(context, partitions, {}).rows, 6);
  const int hostile = RowNamed(partitions, "Hostile");
  ASSERT_GT(hostile, 0);
  EXPECT_EQ(partitions.Cell(3, hostile), "Range check error\r\nRange check error\r\nFS1.HQ.ACME [Master] [Nr: 1]");
  EXPECT_EQ(partitions.Cell(4, hostile), "Range check error");  // a status of 2 bytes, as vestrel-check --partitions shows it
  EXPECT_EQ(partitions.Cell(6, hostile), "Range check error");
  EXPECT_EQ(partitions.Cell(2, hostile), ".ACME");
  // The other partitions are untouched by their neighbour.
  EXPECT_EQ(partitions.Cell(3, RowNamed(partitions, "Sales")),
            "SALES-FS1.Sales.ACME [Master] [Nr: 1]\r\nFS1.HQ.ACME [Secondary] [Nr: 2]");

  StringGrid servers(5, 2, 1, 1);
  ASSERT_EQ(ScanServers(context, servers, {}).rows, 7);
  const int bad = RowNamed(servers, "BAD");
  ASSERT_GT(bad, 0);
  EXPECT_EQ(servers.Cell(3, bad), "broken but text");
  EXPECT_EQ(servers.Cell(4, bad), "Range check error");
  EXPECT_EQ(servers.Cell(5, bad), "Range check error\r\n(9) 10.0.0.7:524\r\n");
  EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
}  // namespace vestrel::testing
