// vestrel-check against servers that misbehave on purpose: broken controls, paging without
// end, TLS that never starts, answers that crawl, replies too big, names too deep, and
// answers that only refer elsewhere. Each run is its own process; it ends by itself within the
// connection's timeouts, says what happened and keeps its memory bounded.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "ProgramRun.h"
#include "TempConfigHome.h"
#include "directory/D_NW_Partitions.h"
#include "directory/D_NW_Session.h"
#include "directory/NETWIN32.h"
#include "directory/calwin32.h"
#include "directory/clxwin32.h"
#include "platform/nwclient/NwTestHooks.h"
#include "platform/nwclient/ldap/LdapSettings.h"
#include "platform/nwclient/ldap/Ber.h"
#include "platform/nwclient/ldap/LdapExtOps.h"
#include "tools/ldap-testbed/HostileServer.h"

namespace vestrel::testing {
namespace {

using testbed::HostileConnection;
using testbed::HostileServer;
using testbed::wire::Request;
namespace wire = testbed::wire;

constexpr long kMemoryLimitKiB = 256 * 1024;

bool IsServerSearch(const Request& r) { return r.operation == wire::kSearchRequest && r.scope == 2; }
bool IsRootDse(const Request& r) { return r.operation == wire::kSearchRequest && r.scope == 0 && r.base.empty(); }

// Three servers, as the server scan finds them.
bool SendServers(HostileConnection& c, const Request& r, std::string_view controls = {}) {
  for (const char* dn : {"cn=S1,o=H", "cn=S2,o=H", "cn=S3,o=H"})
    if (!c.Send(wire::SearchEntry(r.id, dn, {{"objectClass", {"ncpServer"}}}))) return true;
  c.Send(wire::SearchDone(r.id, 0, controls));
  return true;
}

// The root DSE without the paged-results control: every search is one answer.
bool SendUnpagedRootDse(HostileConnection& c, const Request& r) {
  c.Send(wire::SearchEntry(r.id, "", {{"directoryTreeName", {testbed::kHostileTree}}}) + wire::SearchDone(r.id));
  return true;
}

// A message header that declares bytes of content, then the first of them.
std::string DeclaredMessage(std::uint32_t bytes) {
  std::string header = "\x30\x84";
  for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>((bytes >> shift) & 0xFF);
  return header + std::string("\x02\x01\x01", 3);
}

struct Scenario {
  const char* name;
  testbed::HostileScript script;
  std::string expected;  // in the message; "" for a run that succeeds
  nlohmann::json connection = nlohmann::json::object();  // keys over the defaults
  std::vector<std::string> arguments = {"--servers"};
  bool tls = false;  // ldaps://
};

// Scenarios of volume wait longer for each answer, so a loaded machine does not turn
// them into timeouts, and stop at fewer entries than the 100,000 a connection allows by
// default, so they stay short.
const nlohmann::json kVolume = {{"requestTimeout", 10}, {"maxEntries", 5000}};

std::vector<Scenario> Scenarios() {
  const std::string noValue;  // the value of a control whose value is empty
  return {
      {"a paged-results control without a value",
       [](HostileConnection& c, const Request& r) {
         if (r.operation != wire::kSearchRequest) return false;
         const std::string controls = wire::Controls(wire::kPagedResultsOid, nullptr);
         if (!IsRootDse(r)) return SendServers(c, r, controls);
         const std::string root = testbed::PoliteRootDse(r.id);
         c.Send(root.substr(0, root.size() - wire::SearchDone(r.id).size()) + wire::SearchDone(r.id, 0, controls));
         return true;
       },
       "paged results control"},
      {"a paged-results control whose value is empty",
       [noValue](HostileConnection& c, const Request& r) {
         if (r.operation != wire::kSearchRequest) return false;
         const std::string controls = wire::Controls(wire::kPagedResultsOid, &noValue);
         if (!IsRootDse(r)) return SendServers(c, r, controls);
         const std::string root = testbed::PoliteRootDse(r.id);
         c.Send(root.substr(0, root.size() - wire::SearchDone(r.id).size()) + wire::SearchDone(r.id, 0, controls));
         return true;
       },
       "paged results control"},
      {"every page with the same cookie",
       [](HostileConnection& c, const Request& r) {
         return IsServerSearch(r) && SendServers(c, r, wire::PagedControls("same"));
       },
       "repeated"},
      {"new cookies and no entries",
       [](HostileConnection& c, const Request& r) {
         static std::atomic<int> page{0};
         if (!IsServerSearch(r)) return false;
         c.Send(wire::SearchDone(r.id, 0, wire::PagedControls(std::to_string(++page))));
         return true;
       },
       "no entries"},
      {"new cookies and new entries without end",
       [](HostileConnection& c, const Request& r) {
         static std::atomic<int> next{0};
         if (!IsServerSearch(r)) return false;
         std::string page;
         for (int i = 0; i < 50; ++i)
           page += wire::SearchEntry(r.id, "cn=S" + std::to_string(++next) + ",o=H", {{"objectClass", {"ncpServer"}}});
         c.Send(page + wire::SearchDone(r.id, 0, wire::PagedControls(std::to_string(next))));
         return true;
       },
       "more than 5000 entries", kVolume},
      {"ldaps:// to a server that never starts TLS",
       [](HostileConnection& c, const Request&) { return c.Hold(), true; }, "no answer within 1 s", {}, {"--servers"},
       true},
      {"StartTLS accepted and TLS never started",
       [](HostileConnection& c, const Request& r) {
         if (r.operation != wire::kExtendedRequest) return false;
         c.Send(wire::ExtendedResponse(r.id, 0, "", wire::kStartTlsOid));
         c.Hold();
         return true;
       },
       "no answer within 1 s", {{"startTls", true}}},
      {"pages without end, each just under the request timeout",
       [](HostileConnection& c, const Request& r) {
         static std::atomic<int> next{0};
         if (!IsServerSearch(r)) return false;
         std::this_thread::sleep_for(std::chrono::milliseconds(800));
         const std::string dn = "cn=S" + std::to_string(++next) + ",o=H";
         c.Send(wire::SearchEntry(r.id, dn, {{"objectClass", {"ncpServer"}}}) +
                wire::SearchDone(r.id, 0, wire::PagedControls(std::to_string(next))));
         return true;
       },
       "--timeout", {}, {"--servers", "--timeout", "3"}},
      {"a reply that declares 3 GiB",
       [](HostileConnection& c, const Request& r) {
         if (!IsRootDse(r)) return false;
         c.Send(DeclaredMessage(0xC0000000u));
         c.Hold();
         return true;
       },
       "larger than"},
      {"one value of 300 MB",
       [](HostileConnection& c, const Request& r) {
         if (!IsServerSearch(r)) return false;
         const std::string chunk(1 << 20, 'v');
         c.Send(DeclaredMessage(300u << 20));
         for (int i = 0; i < 300 && c.Send(chunk); ++i) {
         }
         return true;
       },
       "larger than", kVolume},
      {"3 million entries in one answer",
       [](HostileConnection& c, const Request& r) {
         if (IsRootDse(r)) return SendUnpagedRootDse(c, r);
         if (!IsServerSearch(r)) return false;
         std::string batch;
         for (int i = 0; i < 3000000; ++i) {
           batch += wire::SearchEntry(r.id, "cn=S" + std::to_string(i) + ",o=H", {{"objectClass", {"ncpServer"}}});
           if (batch.size() > (1 << 16) && !c.Send(std::exchange(batch, {}))) return true;
         }
         c.Send(batch + wire::SearchDone(r.id));
         return true;
       },
       "more than 5000 entries", kVolume},
      {"a name of 9,000 levels",
       [](HostileConnection& c, const Request& r) {
         if (!IsServerSearch(r)) return false;
         std::string dn = "cn=S";
         for (int i = 0; i < 9000; ++i) dn += ",ou=x" + std::to_string(i % 10);
         c.Send(wire::SearchEntry(r.id, dn + ",o=H", {{"objectClass", {"ncpServer"}}}) + wire::SearchDone(r.id));
         return true;
       },
       "longer than 256 characters: cn=S,ou=x0,ou=x1"},
      {"80,000 attributes in one entry",
       [](HostileConnection& c, const Request& r) {
         if (!IsServerSearch(r)) return false;
         std::vector<wire::Attribute> attributes = {{"objectClass", {"ncpServer"}}, {"Version", {"many"}}};
         for (int i = 0; i < 80000; ++i) attributes.push_back({"a" + std::to_string(i), {"v"}});
         c.Send(wire::SearchEntry(r.id, "cn=S1,o=H", attributes) + wire::SearchDone(r.id));
         return true;
       },
       ""},
      {"a name with a NUL character",
       [](HostileConnection& c, const Request& r) {
         if (!IsServerSearch(r)) return false;
         c.Send(wire::SearchEntry(r.id, std::string("cn=S1\0,o=OTHER", 15), {{"objectClass", {"ncpServer"}}}) +
                wire::SearchDone(r.id));
         return true;
       },
       "malformed name"},
      {"only referrals",
       [](HostileConnection& c, const Request& r) {
         if (!IsServerSearch(r)) return false;
         c.Send(wire::Message(r.id, wire::kSearchResultReference,
                              nw::ldap::BerWriter().OctetString("ldap://ldap.example.com/o=H").Bytes()) +
                wire::SearchDone(r.id));
         return true;
       },
       "All referrals failed"},
      {"an answer of an unknown kind",
       [](HostileConnection& c, const Request& r) {
         if (!IsServerSearch(r)) return false;
         c.Send(wire::Message(r.id, 0x7E, "odd"));
         c.Hold();
         return true;
       },
       "unknown kind"},
  };
}

class HostileServerRun : public ::testing::Test {
 protected:
  TempFolder folder{"vestrel-hostile"};

  std::string ConnectionsFile(const std::string& url, const nlohmann::json& keys) {
    nlohmann::json entry = {{"ldap", url}, {"tree", testbed::kHostileTree}, {"connectTimeout", 1},
                            {"requestTimeout", 1}, {"primary", true}};
    for (auto it = keys.begin(); it != keys.end(); ++it) entry[it.key()] = it.value();
    const std::string path = folder.Path() + "/connections.json";
    std::ofstream(path) << nlohmann::json{{"connections", {entry}}}.dump();
    return path;
  }
};

TEST_F(HostileServerRun, EveryScenarioEndsBoundedWithAClearMessage) {
  for (Scenario& scenario : Scenarios()) {
    SCOPED_TRACE(scenario.name);
    HostileServer server(scenario.script);
    ASSERT_TRUE(server.Listening()) << "the hostile server must start for this test";
    std::vector<std::string> arguments = {"--connections",
                                          ConnectionsFile(scenario.tls ? server.TlsUrl() : server.Url(), scenario.connection)};
    arguments.insert(arguments.end(), scenario.arguments.begin(), scenario.arguments.end());
    const ProgramRun run = RunProgram(VESTREL_CHECK_PROGRAM, arguments, std::chrono::seconds(40), {},
                                      {"VESTREL_TREE_FILE", "VESTREL_CONNECTIONS", "VESTREL_LDAP_PASSWORD"});
    server.Stop();
    std::printf("| %s | exit %d%s | %.1f s | %ld MB | %s\n", scenario.name, run.code,
                run.signal ? (" signal " + std::to_string(run.signal)).c_str() : "", run.seconds, run.peakKiB / 1024,
                run.err.c_str());
    EXPECT_FALSE(run.killed) << "still running after 40 s";
    EXPECT_EQ(run.code, scenario.expected.empty() ? 0 : 3) << run.err;
    EXPECT_NE(run.err.find(scenario.expected), std::string::npos) << run.err;
    EXPECT_LT(run.seconds, 20.0);
#if !defined(VESTREL_SANITIZE)
    EXPECT_LT(run.peakKiB, kMemoryLimitKiB);
#endif
  }
}

// The programs the window starts later (the desktop's opener) do not inherit a password.
TEST(HostileServerSecrets, ThePasswordVariableIsGoneOnceTheConnectionsAreLoaded) {
  nwtest::Reset();
  HostileServer server([](HostileConnection&, const Request&) { return false; });  // takes any password
  ASSERT_TRUE(server.Listening());
  ScopedEnvironment password(nw::ldap::kPasswordVariable, "from the environment");
  ASSERT_EQ(nwtest::LoadConnectionsJson(
                nlohmann::json{{"connections", {{{"ldap", server.Url()}, {"bindDn", "cn=admin,o=H"}}}}}.dump(), "/tmp"),
            "");
  EXPECT_EQ(std::getenv(nw::ldap::kPasswordVariable), nullptr);
  nwtest::Reset();
}

// The client connected to the hostile server alone, and a context on its tree as the main
// window keeps one; 0 when either cannot be had.
NWDSContextHandle ConnectedContext(const HostileServer& server) {
  const std::string problem = nwtest::LoadConnectionsJson(
      nlohmann::json{{"connections", {{{"ldap", server.Url()}, {"requestTimeout", 2}, {"primary", true}}}}}.dump(),
      "/tmp");
  EXPECT_EQ(problem, "");
  NWDSContextHandle context = 0;
  if (!problem.empty() || DSContextCreate(&context) != 0) return 0;
  EXPECT_EQ(DSChangeCurrentTree(context, testbed::kHostileTree, false), 0);
  ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
  return context;
}

// The details dialog's listing of a server's partitions, where the server refuses the
// replica list request and pages its partition roots with one cookie over and over.
TEST(HostileServerListing, AServerThatPagesWithoutEndEndsTheListingWithAProtocolFailure) {
  nwtest::Reset();
  HostileServer server([](HostileConnection& c, const Request& r) {
    if (r.operation != wire::kSearchRequest || IsRootDse(r) || r.scope == 0) return false;
    if (r.scope == 1) {  // the names, one level at a time
      c.Send(wire::SearchEntry(r.id, r.base.empty() ? "o=H" : "cn=S1,o=H", {}) + wire::SearchDone(r.id));
      return true;
    }
    c.Send(wire::SearchEntry(r.id, "ou=P,o=H", {{"Replica;binary", {}}}) +
           wire::SearchDone(r.id, 0, wire::PagedControls("again")));
    return true;
  });
  ASSERT_TRUE(server.Listening());
  const NWDSContextHandle context = ConnectedContext(server);
  ASSERT_NE(context, 0);
  TextList partitions, rows;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetServerPartitions(context, "S1.H", partitions, rows), ERR_INVALID_SERVER_RESPONSE);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  DSContextFree(context);
  nwtest::Reset();
}

// What the client said of the last failure on the tree's link.
std::string LinkWords(const std::string& tree) {
  TextList trees;
  ListTrees(trees);
  std::string words;
  const int index = trees.IndexOf(tree);
  if (index >= 0) ConnLinkFailure(static_cast<NWCONN_REF>(trees.Objects(index)), words);
  return words;
}

// Extended answers that are no answer to the request: named for another request, named
// not at all, or with a value that cannot be read. Each is an invalid server response,
// said so in the link's words; none is taken for success.
TEST(HostileServerAnswers, AnExtendedAnswerUnderAnotherNameOrUnreadableIsAProtocolFailure) {
  namespace ldap = nw::ldap;
  struct Case {
    const char* what;
    int request;        // answered as below; the others as eDirectory answers them
    std::string name;   // of the answer
    std::string value;  // of the answer
    bool list;          // the server's partitions are listed (else: sync schema)
    std::string words;
  };
  const std::string listName = ldap::ExtOpName(ldap::kListReplicasOp);
  const Case cases[] = {
      {"sync schema answered under its own request's name", ldap::kSyncSchemaOp, ldap::ExtOpName(ldap::kSyncSchemaOp),
       "", false, "answered as " + ldap::ExtOpName(ldap::kSyncSchemaOp) + ", not as " + ldap::ExtOpName(28)},
      {"sync schema answered without a name", ldap::kSyncSchemaOp, "", "", false,
       "answered without a response name, not as " + ldap::ExtOpName(28)},
      {"the replica list answered as replica information", ldap::kListReplicasOp,
       ldap::ExtOpResponseName(ldap::kReplicaInfoOp), nw::ldap::BerWriter().Sequence(nw::ldap::BerWriter()).Bytes(),
       true, "not as " + ldap::ExtOpName(20)},
      {"a replica list that is no list", ldap::kListReplicasOp, ldap::ExtOpName(20), "\x04\x01x", true,
       "the server's list of replicas cannot be read"},
      {"replica information cut short", ldap::kReplicaInfoOp, ldap::ExtOpName(18), "\x02\x01\x01\x02\x01", true,
       "the server's information on a replica of ou=P,o=H cannot be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    nwtest::Reset();
    HostileServer server([&](HostileConnection& connection, const Request& r) {
      if (r.operation == wire::kSearchRequest && r.scope == 1) {  // the names, one level at a time
        std::string entries = r.base.empty() ? wire::SearchEntry(r.id, "o=H", {})
                                             : wire::SearchEntry(r.id, "cn=S1,o=H", {}) +
                                                   wire::SearchEntry(r.id, "ou=P,o=H", {});
        connection.Send(entries + wire::SearchDone(r.id));
        return true;
      }
      if (r.operation != wire::kExtendedRequest) return false;
      const std::string list = nw::ldap::BerWriter().Sequence(nw::ldap::BerWriter().OctetString("ou=P,o=H")).Bytes();
      const std::string info = nw::ldap::BerWriter().Integer(1).Integer(0).Integer(0).Integer(0).Integer(0)
                                   .OctetString("ou=P,o=H").Integer(RT_MASTER).Integer(0).Bytes();
      if (r.extendedName == ldap::ExtOpName(c.request))
        connection.Send(wire::ExtendedResponse(r.id, 0, "", c.name, c.value));
      else if (r.extendedName == listName)
        connection.Send(wire::ExtendedResponse(r.id, 0, "", ldap::ExtOpName(20), list));
      else
        connection.Send(wire::ExtendedResponse(r.id, 0, "", ldap::ExtOpName(18), info));
      return true;
    });
    ASSERT_TRUE(server.Listening());
    const NWDSContextHandle context = ConnectedContext(server);
    ASSERT_NE(context, 0);
    TextList partitions, rows;
    EXPECT_EQ(c.list ? GetServerPartitions(context, "S1.H", partitions, rows) : NWDSSyncSchema(context, "S1.H", 0),
              ERR_INVALID_SERVER_RESPONSE);
    EXPECT_NE(LinkWords(testbed::kHostileTree).find(c.words), std::string::npos) << LinkWords(testbed::kHostileTree);
    DSContextFree(context);
    nwtest::Reset();
  }
}

}  // namespace
}  // namespace vestrel::testing
