// Both scans over slapd loaded with ACME_TREE fill their grids with the cells the tree
// file gives, except where LDAP cannot carry a value; a scan makes no more requests than
// the library reads it issues; names and the signed-in user as over a tree file.
#include <map>
#include <set>
#include <tuple>

#include "LdapServerTest.h"
#include "directory/NETWIN32.h"
#include "directory/clxwin32.h"
#include "directory/D_NW_Search.h"
#include "scan/Scans.h"

namespace vestrel::testing {
namespace {

struct Scanned {
  StringGrid servers{5, 2, 1, 1};
  StringGrid partitions{5, 2, 1, 1};
};

// Both scans with a context as the main window keeps it.
Scanned ScanBoth(NWDSContextHandle context) {
  Scanned scanned;
  EXPECT_TRUE(ScanServers(context, scanned.servers, {}).started);
  EXPECT_TRUE(ScanPartitions(context, scanned.partitions, {}).started);
  return scanned;
}

using Cell = std::tuple<std::string, std::string>;  // row name (column 1), column title

// The cells of two grids of the same shape that differ, named by row and column.
std::set<Cell> Differences(const StringGrid& expected, const StringGrid& actual) {
  std::set<Cell> cells;
  EXPECT_EQ(actual.RowCount(), expected.RowCount());
  EXPECT_EQ(actual.ColCount(), expected.ColCount());
  for (int row = 0; row < std::min(expected.RowCount(), actual.RowCount()); ++row)
    for (int col = 0; col < std::min(expected.ColCount(), actual.ColCount()); ++col)
      if (expected.Cell(col, row) != actual.Cell(col, row)) cells.insert({expected.Cell(1, row), expected.Cell(col, 0)});
  return cells;
}

class ScanOverLdap : public LdapServerTest {};

TEST_F(ScanOverLdap, BothScansShowTheTreeFilesCellsButWhatLdapCannotCarry) {
  ASSERT_EQ(nwtest::ConnectTreeFile(DemoTreeFile("acme.json"), "admin.ACME", true), "");
  const Scanned file = ScanBoth(Context());
  nwtest::Reset();
  // Cells show times as dates: the server holds the file's own times to show the same.
  StartServer("", ldif::TreeTimes::AsInFile);
  ConnectServer();
  const Scanned ldap = ScanBoth(Context());

  EXPECT_EQ(ldap.servers.RowCount(), 7);  // six servers
  EXPECT_EQ(Differences(file.servers, ldap.servers), std::set<Cell>{});
  // The tree root is the root DSE over LDAP, which holds no replica values: those cells show
  // what a failed read shows. No request gives a replica's list of sync errors: each
  // replica's Partition Status value tells its last error, the master's too, whose server
  // cannot be asked for its list.
  const std::set<Cell> expected = {
      {"[Root]", "Replica"},          {"[Root]", "Partition Status"}, {"[Root]", "Local Received Up To"},
      {"[Root]", "Purge Vector"},     {"[Root]", "Transitive Vector"}, {"Legacy", "Inspect Errors"}};
  EXPECT_EQ(Differences(file.partitions, ldap.partitions), expected);
  for (int col = 3; col <= 7; ++col) EXPECT_EQ(ldap.partitions.Cell(col, 1), "");
  EXPECT_EQ(ldap.partitions.Cell(8, 4),
            "Replica on server \"OLDNW.Legacy.ACME\" has errors:\r\n  * 1: 0xFFFFFD8F\r\n"
            "Replica on server \"FS1.HQ.ACME\" has errors:\r\n  * 1: 0xFFFFFD8F\r\n"
            "Replica on server \"BER-FS1.Berlin.Sales.ACME\" has errors:\r\n  * 1: 0xFFFFFD84\r\n");
  EXPECT_EQ(ldap.partitions.Cell(1, 4), "Legacy");
  EXPECT_NE(ldap.partitions.Cell(4, 4).find("(remote error)"), std::string::npos);
  EXPECT_TRUE(ui.boxes.empty());
}

// A server the connection names no URL for is reached at its own network address, with
// the tree connection's scheme and port and under the same rules: plain LDAP to another
// machine is refused before anything is sent. A scan opens no server's connection.
TEST_F(ScanOverLdap, AServerIsReachedAtItsOwnAddressUnderTheTreeConnectionsRules) {
  StartServer();
  ConnectServer();
  const NWDSContextHandle context = Context();
  StringGrid grid(5, 2, 1, 1);
  const std::uint64_t before = Requests();
  ScanServers(context, grid, {});
  const std::uint64_t scanned = Requests() - before;
  EXPECT_EQ(NWDSPartitionSendAllUpdates(context, "Legacy.ACME", "BER-FS1.Berlin.Sales.ACME"), ERR_UNREACHABLE_SERVER);
  nuint32 iterator = 0;
  NWCONN_REF connection = 0;
  ASSERT_EQ(ConnScanNext(&iterator, &connection), 0);
  std::string words;
  ASSERT_EQ(ConnLinkFailure(connection, words), 0);
  EXPECT_EQ(words, "BER-FS1.Berlin.Sales.ACME: plain ldap:// to 10.4.0.41 would send names and the password "
                   "unencrypted; use ldaps:// or \"startTls\": true (or \"allowPlaintext\": true to accept that)");
  EXPECT_EQ(Requests() - before, scanned + 1);  // its address was read; nothing was sent to it
}

// The scans' search brings the values the rows read: a few pages of requests for the
// whole tree, not a round trip per cell.
TEST_F(ScanOverLdap, AScanMakesAFewRequestsForAWholeTree) {
  nwtest::TreeShape shape;
  shape.treeName = "ACME_TREE";
  shape.servers = 300;
  shape.partitions = 300;
  shape.objectsPerPartition = 1;
  const auto tree = nw::LoadTreeText(nwtest::GenerateTreeJson(shape), "generated tree");
  testbed::SlapdOptions options;
  options.rootDn = "cn=admin,o=BENCH";
  ASSERT_EQ(server.Start(ldif::TreeToLdif(*tree).text, options), "") << "slapd must start for this test";
  nlohmann::json entry = Entry(server.Url());
  entry["bindDn"] = "cn=admin,o=BENCH";
  ASSERT_EQ(Connect(entry), "");
  const NWDSContextHandle context = Context();
  for (auto scan : {&ScanServers, &ScanPartitions}) {
    StringGrid grid(5, 2, 1, 1);
    const std::uint64_t before = Requests();
    const int rows = scan(context, grid, {}, {}).rows;
    const std::uint64_t requests = Requests() - before;
    EXPECT_GE(rows, 300);
    EXPECT_LE(static_cast<double>(requests) / rows, 0.02) << requests << " requests for " << rows << " rows";
    EXPECT_NE(grid.Cell(3, rows), "");  // the rows hold their values all the same
  }
}

// What another client changed between two scans shows in the second: the values a scan
// brought are not kept beyond it.
TEST_F(ScanOverLdap, ASecondScanShowsWhatChangedSinceTheFirst) {
  StartServer();
  ConnectServer();
  const NWDSContextHandle context = Context();
  StringGrid grid(5, 2, 1, 1);
  ScanPartitions(context, grid, {});
  EXPECT_NE(grid.Cell(4, 4).find("(remote error)"), std::string::npos) << grid.Cell(4, 4);  // Legacy
  ASSERT_EQ(server.Replace("ou=Legacy,o=ACME", "partitionStatus", {}), "");
  ScanPartitions(context, grid, {});
  EXPECT_EQ(grid.Cell(1, 4), "Legacy");
  EXPECT_EQ(grid.Cell(4, 4), "");  // its status values are gone
}

TEST_F(ScanOverLdap, NamesResolveLevelByLevelOnlyWhenTheSourceHasNotSeenThem) {
  StartServer();
  ConnectServer();
  const NWDSContextHandle context = Context();
  EXPECT_EQ(CurrentUserName(context), "admin.ACME");
  // Never seen: the server is asked one level at a time below the known ACME.
  std::uint64_t before = Requests();
  std::string version;
  ASSERT_EQ(ReadAttrLines(context, "ENG-FS1.Engineering.ACME", "Version", version), 0);
  EXPECT_EQ(version, "eDirectory 8.8 SP8");
  EXPECT_EQ(Requests() - before, 3u);  // Engineering, ENG-FS1, then the read
  before = Requests();
  ASSERT_EQ(ReadAttrLines(context, "eng-fs1.ENGINEERING.acme", "DS Revision", version), 0);
  EXPECT_EQ(version, "20218");
  EXPECT_EQ(Requests() - before, 1u);  // known now, in any case
  EXPECT_EQ(ReadAttrLines(context, "NOBODY.Engineering.ACME", "Version", version), ERR_NO_SUCH_ENTRY);
  NWRCODE code = -1;
  EXPECT_EQ(ObjectParentName(context, "ENG-FS1.Engineering.ACME"), ".Engineering.ACME");
  EXPECT_EQ(ObjectBaseClass(context, "ENG-FS1.Engineering.ACME", code), "NCP Server");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ObjectParentName(context, "ACME"), "[Root]");
  EXPECT_EQ(ObjectParentName(context, "[Root]", code), "");
  EXPECT_EQ(code, 0);
  // Typed names in the context's form when it asks for them.
  char canonical[MAX_DN_BYTES];
  ModifyContextFlags(context, '-', DCV_TYPELESS_NAMES);
  ASSERT_EQ(DSNameCanonical(context, "ENG-FS1.Engineering.ACME", canonical), 0);
  EXPECT_STREQ(canonical, "CN=ENG-FS1.OU=Engineering.O=ACME");
}

// An alias carries eDirectory's alias class: a search finds it flagged as an alias, as
// over the tree file.
TEST_F(ScanOverLdap, AnAliasIsFoundAsAnAliasAsOverTheTreeFile) {
  const auto aliases = [](NWDSContextHandle context) {
    std::map<std::string, bool> found;
    std::int32_t counter = 0;
    const auto note = [&](SearchState& object, std::int32_t) { found[object.objectName] = object.objectInfo.objectFlags & 1; };
    EXPECT_EQ(SearchObjects(context, "Sales.ACME", "", 0, SearchAbort, note, counter, 0, "", nullptr,
                            DS_SEARCH_SUBORDINATES),
              0);
    return found;
  };
  ASSERT_EQ(nwtest::ConnectTreeFile(DemoTreeFile("acme.json"), "admin.ACME", true), "");
  const std::map<std::string, bool> file = aliases(Context());
  nwtest::Reset();
  StartServer();
  ConnectServer();
  const std::map<std::string, bool> ldap = aliases(Context());
  EXPECT_EQ(ldap, file);
  EXPECT_TRUE(ldap.at("Administrator.Sales.ACME"));
}

TEST_F(ScanOverLdap, AServersPartitionsComeFromThePartitionRootsWhenTheListRequestIsRefused) {
  ASSERT_EQ(nwtest::ConnectTreeFile(DemoTreeFile("acme.json"), "admin.ACME", true), "");
  TextList fileNames, fileRows;
  ASSERT_EQ(GetServerPartitions(Context(), "FS1.HQ.ACME", fileNames, fileRows), 0);
  nwtest::Reset();
  StartServer();
  ConnectServer();
  TextList names, rows;
  ASSERT_EQ(GetServerPartitions(Context(), "FS1.HQ.ACME", names, rows), 0);  // slapd refuses the request
  // Every partition but the tree root's, with its replica type, in the tree's order.
  ASSERT_EQ(fileRows[0], "[Root] | FS1.HQ.ACME [Master]");
  EXPECT_EQ(rows.Count(), fileRows.Count() - 1);
  for (int i = 1; i < fileRows.Count(); ++i) EXPECT_EQ(rows[i - 1], fileRows[i]);
}

TEST_F(ScanOverLdap, AGivenUpSearchReleasesItsPagesAtTheServer) {
  // More objects than one page of the search brings.
  std::string users;
  for (int i = 0; i < 600; ++i)
    users += "dn: cn=u" + std::to_string(i) + ",ou=HQ,o=ACME\nobjectClass: inetOrgPerson\ncn: u" + std::to_string(i) +
             "\nsn: u\n\n";
  StartServer(users);
  ConnectServer();
  const NWDSContextHandle context = Context();
  std::int32_t counter = 0;
  TextList names;
  std::uint64_t before = Requests();
  // A maximum of one object ends the search after its first page: the rest is given up.
  ASSERT_EQ(SearchObjects(context, "[Root]", "(Object Class#PRESENT#)", 0, SearchAbort, nullptr, counter, 1, "#NAME#",
                          &names, DS_SEARCH_SUBTREE),
            0);
  EXPECT_EQ(names.Count(), 1);
  EXPECT_EQ(Requests() - before, 2u);  // the first page, and the release of the rest
  EXPECT_EQ(nwtest::OpenIterations(), 0u);
}

}  // namespace
}  // namespace vestrel::testing
