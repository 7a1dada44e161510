// When the link to the server goes wrong: wrong credentials, a server that never answers,
// one that closes the connection in the middle of a search, one that stops answering
// later. Each gives the client's codes within the timeouts, and the message the user
// sees names what happened. The upper time bounds leave room for a loaded machine and
// the sanitizer build: they tell a timeout per read from one timeout in all.
#include <chrono>

#include "LdapServerTest.h"
#include "directory/calwin32.h"
#include "directory/clxwin32.h"
#include "scan/Scans.h"
#include "tools/ldap-testbed/LdapProxy.h"

namespace vestrel::testing {
namespace {

using Clock = std::chrono::steady_clock;

class LinkFailure : public LdapServerTest {
 protected:
  void SetUp() override {
    LdapServerTest::SetUp();
    SetErrorTextLibraryPath(VESTREL_NWERR_LIBRARY);  // the texts the user reads
  }
  // The entry with short timeouts, through url.
  nlohmann::json QuickEntry(const std::string& url) const {
    nlohmann::json entry = Entry(url);
    entry["connectTimeout"] = 1;
    entry["requestTimeout"] = 1;
    return entry;
  }
  static double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
  static int Connections() {
    nuint32 iterator = 0;
    NWCONN_REF ref = 0;
    int count = 0;
    while (ConnScanNext(&iterator, &ref) == 0) ++count;
    return count;
  }
};

TEST_F(LinkFailure, WrongCredentialsLeaveTheTreeOutAndTheStartUpBoxSaysWhy) {
  StartServer();
  std::ofstream(folder + "/admin.pw", std::ios::trunc) << "not the password";
  const std::string problem = Connect(Entry(server.Url()));
  EXPECT_EQ(problem, "connections text: connections[0]: " + server.Url() +
                         " (ACME_TREE): sign-in as cn=admin,o=ACME failed: Invalid credentials");
  EXPECT_EQ(TreeLoadProblemsText(), problem);
  EXPECT_EQ(Connections(), 0);
  EXPECT_EQ(problem.find("not the password"), std::string::npos);
}

TEST_F(LinkFailure, AServerThatNeverAnswersIsGivenUpAfterTheTimeout) {
  testbed::LdapProxy silent(0);  // accepts and never answers
  ASSERT_TRUE(silent.Listening());
  const Clock::time_point start = Clock::now();
  const std::string problem = Connect(QuickEntry(silent.Url()));
  EXPECT_LT(SecondsSince(start), 8.0);
  EXPECT_EQ(problem, "connections text: connections[0]: " + silent.Url() + " (ACME_TREE): no answer within 1 s");
  EXPECT_EQ(silent.Accepted(), 1);
  EXPECT_EQ(Connections(), 0);
  // Nothing listens at all: the connect itself fails.
  const int closedPort = testbed::FreeLoopbackPort();
  EXPECT_NE(Connect(QuickEntry("ldap://127.0.0.1:" + std::to_string(closedPort))).find("cannot connect: Can't contact LDAP server"),
            std::string::npos);
}

TEST_F(LinkFailure, AConnectionClosedInTheMiddleOfASearchEndsItWithATransportFailure) {
  StartServer();
  testbed::LdapProxy proxy(server.Port());
  ASSERT_EQ(Connect(Entry(proxy.Url())), "");
  const NWDSContextHandle context = Context();
  proxy.CloseAfterEntries(2);  // two servers arrive, then the link is gone

  StringGrid grid(5, 2, 1, 1);
  const Clock::time_point start = Clock::now();
  TextList names;
  EXPECT_EQ(SearchNames(context, "[Root]", kServerFilter, &names, DS_SEARCH_SUBTREE), ERR_TRANSPORT_FAILURE);
  EXPECT_EQ(names.Count(), 2);
  // The scan shows what came; the reads after the loss fail at once, not per timeout.
  EXPECT_EQ(ScanServers(context, grid, {}).rows, 0);
  EXPECT_LT(SecondsSince(start), 10.0);
  // The details dialog shows the listing's failure in its box.
  TextList partitions, rows;
  ReportError(GetServerPartitions(context, "FS1.HQ.ACME", partitions, rows), "Get Server Partitions");
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Get Server Partitions returned error 0xFFFFFD8F (Transport failure)"});

  // Once the link has rested, the next request connects again.
  nwtest::SetLdapRetryPause(std::chrono::milliseconds(0));
  EXPECT_EQ(ScanServers(context, grid, {}).rows, 6);
  for (int row = 1; row <= 6; ++row) EXPECT_NE(grid.Cell(3, row), "") << row;
  EXPECT_EQ(proxy.Accepted(), 2);
}

TEST_F(LinkFailure, AConnectionTheServerClosedWhileIdleIsOpenedAgainForTheNextRead) {
  StartServer();
  testbed::LdapProxy proxy(server.Port());
  ASSERT_EQ(Connect(Entry(proxy.Url())), "");
  const NWDSContextHandle context = Context();
  proxy.DropConnections();
  std::string version;
  EXPECT_EQ(ReadAttrLines(context, "FS1.HQ.ACME", "Version", version), 0);
  EXPECT_EQ(version, "Novell NetWare 6.5 SP8");
  EXPECT_EQ(proxy.Accepted(), 2);
}

TEST_F(LinkFailure, AServerThatStopsAnsweringTimesOutOnceAndTheScanEndsQuickly) {
  StartServer();
  testbed::LdapProxy proxy(server.Port());
  ASSERT_EQ(Connect(QuickEntry(proxy.Url())), "");
  const NWDSContextHandle context = Context();
  StringGrid grid(5, 2, 1, 1);
  ASSERT_EQ(ScanServers(context, grid, {}).rows, 6);

  proxy.StopAnswering(true);
  const Clock::time_point start = Clock::now();
  std::string value;  // one the scan did not bring: it is asked of the server
  const NWRCODE code = ReadAttrLines(context, "FS1.HQ.ACME", "Description", value);
  EXPECT_EQ(code, -748);
  EXPECT_EQ(ErrorText(code), "0xFFFFFD14 (Connection timeout)");
  EXPECT_GE(SecondsSince(start), 0.9);
  EXPECT_LT(SecondsSince(start), 8.0);
  // The scan ends without waiting out a timeout per read; the window stays usable.
  EXPECT_EQ(ScanPartitions(context, grid, {}).rows, 1);  // [Root] only
  EXPECT_LT(SecondsSince(start), 15.0);
  EXPECT_EQ(CurrentUserName(context), "");  // not signed in while the link rests
}

}  // namespace
}  // namespace vestrel::testing
