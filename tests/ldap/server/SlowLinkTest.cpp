// The test bed's slow link, which the LDAP bench measures through: each message, either
// way, takes half the delay, so a request and its answer take the whole delay, and
// requests in flight overlap instead of queueing behind each other. The upper bounds
// leave room for a loaded machine and the sanitizer build, yet a link that handled one
// request at a time could never meet them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "LdapServerTest.h"
#include "platform/nwclient/ldap/Ber.h"
#include "platform/nwclient/ldap/LdapExtOps.h"
#include "platform/nwclient/ldap/LdapHolders.h"
#include "tools/ldap-testbed/ExtOpDouble.h"
#include "tools/ldap-testbed/LdapProxy.h"
#include "tools/ldap-testbed/LdapWire.h"

namespace vestrel::testing {
namespace {

namespace ldap = nw::ldap;
namespace wire = testbed::wire;
using Clock = std::chrono::steady_clock;

constexpr auto kDelay = std::chrono::milliseconds(200);
constexpr double kDelaySeconds = 0.2;
constexpr double kHalf = kDelaySeconds / 2;
constexpr double kOverlapBound = 1.5 * kDelaySeconds;  // two in a row take twice the delay

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// ---- Raw sockets on both sides of the proxy ----

// Waits up to five seconds for fd to become readable.
bool Readable(int fd) {
  pollfd ready{fd, POLLIN, 0};
  return poll(&ready, 1, 5000) == 1;
}

// The ids of `count` whole messages read from fd, and when the first of them arrived.
std::vector<std::int64_t> ReadMessages(int fd, std::size_t count, Clock::time_point& firstAt) {
  std::vector<std::int64_t> ids;
  std::string bytes;
  while (ids.size() < count && Readable(fd)) {
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    if (bytes.empty() && ids.empty()) firstAt = Clock::now();
    bytes.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t size; wire::MessageSize(bytes, size) && size > 0;) {
      wire::Request message;
      ids.push_back(wire::ParseRequest(bytes.substr(0, size), message) ? message.id : -1);
      bytes.erase(0, size);
    }
  }
  return ids;
}

std::string BindRequest(std::int64_t id) {
  const std::string simple("\x80\x00", 2);  // [0] an empty password
  return wire::Message(id, wire::kBindRequest, ldap::BerWriter().Integer(3).OctetString("").Bytes() + simple);
}

TEST(SlowLink, EachWayTakesHalfTheDelayAndMessagesKeepTheirOrder) {
  int serverPort = 0;
  const int listener = wire::ListenOnLoopback(serverPort);
  ASSERT_GE(listener, 0);
  testbed::LdapProxy proxy(serverPort);
  ASSERT_TRUE(proxy.Listening());
  proxy.DelayMessages(kDelay);
  const int client = wire::ConnectLoopback(proxy.Port());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Readable(listener));
  const int server = accept(listener, nullptr, nullptr);
  ASSERT_GE(server, 0);

  const std::string requests = BindRequest(1) + BindRequest(2) + BindRequest(3);
  const Clock::time_point sent = Clock::now();
  ASSERT_EQ(write(client, requests.data(), requests.size()), static_cast<ssize_t>(requests.size()));
  Clock::time_point arrived;
  EXPECT_EQ(ReadMessages(server, 3, arrived), (std::vector<std::int64_t>{1, 2, 3}));
  const double there = std::chrono::duration<double>(arrived - sent).count();
  EXPECT_GE(there, kHalf);
  EXPECT_LT(there, kDelaySeconds);

  const std::string answers = wire::BindResponse(1) + wire::BindResponse(2) + wire::BindResponse(3);
  const Clock::time_point answered = Clock::now();
  ASSERT_EQ(write(server, answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
  EXPECT_EQ(ReadMessages(client, 3, arrived), (std::vector<std::int64_t>{1, 2, 3}));
  const double back = std::chrono::duration<double>(arrived - answered).count();
  EXPECT_GE(back, kHalf);
  EXPECT_LT(back, kDelaySeconds);

  for (int fd : {client, server, listener}) close(fd);
}

// ---- libldap through the proxy to slapd and the double ----

class SlowLinkToSlapd : public LdapServerTest {
 protected:
  void TearDown() override {
    ld.reset();
    proxy.reset();
    operations.reset();
    LdapServerTest::TearDown();
  }
  // slapd with the demo tree behind a proxy with the delay and the double; a session
  // through it, signed in as the administrator.
  void StartSlowLink() {
    StartServer();
    operations = std::make_unique<testbed::ExtOpDouble>(server.Url(), kAdminDn, kPassword);
    proxy = std::make_unique<testbed::LdapProxy>(server.Port(), operations.get());
    ASSERT_TRUE(proxy->Listening());
    proxy->DelayMessages(kDelay);
    LDAP* raw = nullptr;
    ASSERT_EQ(ldap_initialize(&raw, proxy->Url().c_str()), LDAP_SUCCESS);
    ld.reset(raw);
    const int version = LDAP_VERSION3;
    ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
    berval password{std::char_traits<char>::length(kPassword), const_cast<char*>(kPassword)};
    ASSERT_EQ(ldap_sasl_bind_s(raw, kAdminDn, LDAP_SASL_SIMPLE, &password, nullptr, nullptr, nullptr), LDAP_SUCCESS);
  }
  int Search(const char* base) {
    int id = -1;
    ldap_search_ext(ld.get(), base, LDAP_SCOPE_BASE, "(objectClass=*)", nullptr, 0, nullptr, nullptr, nullptr, 0, &id);
    return id;
  }
  // eDirectory's list of the partitions a server holds replicas of, answered by the double.
  int ListReplicas(const char* serverDn) {
    const std::string value = ldap::BerWriter().OctetString(serverDn).Bytes();
    berval data{value.size(), const_cast<char*>(value.data())};
    int id = -1;
    ldap_extended_operation(ld.get(), ldap::ExtOpName(ldap::kListReplicasOp).c_str(), &data, nullptr, nullptr, &id);
    return id;
  }
  // Waits for the whole answer to each request; the seconds from start until the last came.
  double SecondsUntilAnswered(const std::vector<int>& ids, Clock::time_point start) {
    for (int id : ids) {
      timeval timeout{10, 0};
      LDAPMessage* raw = nullptr;
      EXPECT_GT(ldap_result(ld.get(), id, LDAP_MSG_ALL, &timeout, &raw), 0) << id;
      const ldap::Message result(raw);
      int code = -1;
      if (result) ldap_parse_result(ld.get(), result.get(), &code, nullptr, nullptr, nullptr, nullptr, 0);
      EXPECT_EQ(code, LDAP_SUCCESS) << id;
    }
    return SecondsSince(start);
  }

  std::unique_ptr<testbed::ExtOpDouble> operations;
  std::unique_ptr<testbed::LdapProxy> proxy;
  ldap::Session ld;
};

// One request takes the delay, whether slapd or the double answers it; two in flight
// together take it once, not twice.
TEST_F(SlowLinkToSlapd, ARequestTakesTheDelayAndRequestsInFlightOverlap) {
  StartSlowLink();
  const std::vector<std::function<int()>> requests = {[&] { return Search("o=ACME"); },
                                                      [&] { return ListReplicas("cn=FS1,ou=HQ,o=ACME"); }};
  for (const auto& request : requests) {
    const Clock::time_point start = Clock::now();
    const double one = SecondsUntilAnswered({request()}, start);
    EXPECT_GE(one, kDelaySeconds);
    EXPECT_LT(one, kOverlapBound);
  }
  const Clock::time_point start = Clock::now();
  const std::vector<int> both = {requests[1](), requests[0]()};
  const double two = SecondsUntilAnswered(both, start);
  EXPECT_GE(two, kDelaySeconds);
  EXPECT_LT(two, kOverlapBound);
  EXPECT_EQ(operations->Requests().size(), 2u);
}

}  // namespace
}  // namespace vestrel::testing
