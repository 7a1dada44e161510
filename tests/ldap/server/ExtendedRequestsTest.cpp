// The extended requests as a server built like eDirectory takes them, through the test
// bed's double in front of slapd: 32-bit fields of 2^31 and more arrive as the four-byte
// signed integers its decoder reads, and a replica's information carries the replica's
// state, not its Partition Status flag; the ring changes refused with eDirectory's codes.
#include <memory>

#include "LdapServerTest.h"
#include "directory/NETWIN32.h"
#include "platform/nwclient/ldap/LdapExtOps.h"
#include "tools/ldap-testbed/ExtOpDouble.h"
#include "tools/ldap-testbed/LdapProxy.h"

namespace vestrel::testing {
namespace {

namespace ldap = nw::ldap;
using namespace std::string_literals;

class ExtendedRequests : public LdapServerTest {
 protected:
  void TearDown() override {
    proxy.reset();
    operations.reset();
    LdapServerTest::TearDown();
  }
  // slapd with the demo tree and the double answering in front of it.
  void StartDouble() {
    StartServer();
    operations = std::make_unique<testbed::ExtOpDouble>(server.Url(), kAdminDn, kPassword);
    proxy = std::make_unique<testbed::LdapProxy>(server.Port(), operations.get());
    ASSERT_TRUE(proxy->Listening());
  }
  // The value of the last request of that number the double answered.
  std::string LastRequest(int number) const {
    std::string value;
    for (const testbed::ExtendedRequestRecord& request : operations->Requests())
      if (request.name == ldap::ExtOpName(number)) value = request.value;
    return value;
  }

  std::unique_ptr<testbed::ExtOpDouble> operations;
  std::unique_ptr<testbed::LdapProxy> proxy;
};

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST_F(ExtendedRequests, DelaysOf2To31SecondsAndMoreArriveAsFourByteIntegersTheServerReads) {
  StartDouble();
  ASSERT_EQ(Connect(Entry(proxy->Url())), "");
  const NWDSContextHandle context = Context();
  EXPECT_EQ(NWDSSyncSchema(context, "FS1.HQ.ACME", 0x80000000u), 0);
  EXPECT_TRUE(EndsWith(LastRequest(ldap::kSyncSchemaOp), "\x02\x04\x80\x00\x00\x00"s));
  EXPECT_EQ(NWDSSyncPartition(context, "FS1.HQ.ACME", "Sales.ACME", 0xFFFFFFFFu), 0);
  EXPECT_TRUE(EndsWith(LastRequest(ldap::kSyncPartitionOp), "\x02\x01\xFF"s));
  // A five-byte integer, as an unsigned 2^31 would take, is refused as eDirectory refuses it.
  const testbed::ExtendedAnswer fiveBytes = operations->Answer(
      ldap::ExtOpName(ldap::kSyncSchemaOp), "\x04\x13" "cn=FS1,ou=HQ,o=ACME"s + "\x02\x05\x00\x80\x00\x00\x00"s);
  EXPECT_NE(fiveBytes.result, 0);
  EXPECT_NE(fiveBytes.diagnostic.find("(-641)"), std::string::npos) << fiveBytes.diagnostic;
}

TEST_F(ExtendedRequests, ReplicaInformationCarriesTheReplicasStateNotItsStatusFlag) {
  StartServer();
  testbed::ExtOpDouble operations(server.Url(), kAdminDn, kPassword);
  // In sync, remote error and local error in the tree file: every replica is on (state 0).
  const std::pair<const char*, const char*> replicas[] = {{"cn=FS1,ou=HQ,o=ACME", "ou=Sales,o=ACME"},
                                                          {"cn=FS1,ou=HQ,o=ACME", "ou=Legacy,o=ACME"},
                                                          {"cn=OLDNW,ou=Legacy,o=ACME", "ou=Legacy,o=ACME"}};
  for (const auto& [serverDn, partitionDn] : replicas) {
    SCOPED_TRACE(std::string(serverDn) + " " + partitionDn);
    const testbed::ExtendedAnswer answer =
        operations.Answer(ldap::ExtOpName(ldap::kReplicaInfoOp), ldap::ReplicaInfoRequest(serverDn, partitionDn));
    ASSERT_EQ(answer.result, 0) << answer.diagnostic;
    EXPECT_EQ(answer.name, ldap::ExtOpResponseName(ldap::kReplicaInfoOp));
    ldap::ReplicaInfo info;
    ASSERT_TRUE(ldap::ParseReplicaInfoResponse(answer.value, info));
    EXPECT_EQ(info.replicaState, 0u);
    EXPECT_EQ(info.partitionDn, partitionDn);
  }
}

// What eDirectory refuses of the ring changes, the double refuses with the same NDS code
// in the diagnostic message, and the directory is left as it was.
TEST_F(ExtendedRequests, RingChangesEDirectoryRefusesAreRefusedWithItsCodes) {
  StartServer();
  testbed::ExtOpDouble operations(server.Url(), kAdminDn, kPassword);
  const std::string sales = "ou=Sales,o=ACME", fs1 = "cn=FS1,ou=HQ,o=ACME", salesFs1 = "cn=SALES-FS1,ou=Sales,o=ACME";
  struct Refused {
    const char* label;
    int request;
    std::string value;
    std::string reached;  // the server whose endpoint it reached
    int code;
  };
  const std::vector<Refused> refused = {
      {"add where a replica is", ldap::kAddReplicaOp, ldap::AddReplicaRequest(0, RT_SECONDARY, fs1, sales), salesFs1,
       ERR_REPLICA_ALREADY_EXISTS},
      {"add a master", ldap::kAddReplicaOp, ldap::AddReplicaRequest(0, RT_MASTER, "cn=FS2,ou=HQ,o=ACME", sales),
       salesFs1, ERR_ILLEGAL_REPLICA_TYPE},
      {"add sent to another server than the master's", ldap::kAddReplicaOp,
       ldap::AddReplicaRequest(0, RT_SECONDARY, "cn=FS2,ou=HQ,o=ACME", sales), fs1, ERR_INVALID_REQUEST},
      {"change a reference", ldap::kChangeReplicaTypeOp,
       ldap::ChangeReplicaTypeRequest(0, RT_SECONDARY, fs1, "ou=Berlin,ou=Sales,o=ACME"),
       "cn=BER-FS1,ou=Berlin,ou=Sales,o=ACME", ERR_ILLEGAL_REPLICA_TYPE},
      {"demote the master", ldap::kChangeReplicaTypeOp, ldap::ChangeReplicaTypeRequest(0, RT_READONLY, salesFs1, sales),
       salesFs1, ERR_CRUCIAL_REPLICA},
      {"split at a partition root", ldap::kSplitPartitionOp, ldap::SplitPartitionRequest(0, "ou=Berlin,ou=Sales,o=ACME"),
       salesFs1, ERR_PARTITION_ALREADY_EXISTS},
      {"split at a leaf", ldap::kSplitPartitionOp, ldap::SplitPartitionRequest(0, "cn=jdoe,ou=Sales,o=ACME"), salesFs1,
       ERR_ENTRY_NOT_CONTAINER},
      {"abort with nothing under way", ldap::kAbortPartitionOperationOp,
       ldap::AbortPartitionOperationRequest(0, sales), salesFs1, ERR_INVALID_REQUEST},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.label);
    const testbed::ExtendedAnswer answer = operations.Answer(ldap::ExtOpName(r.request), r.value, r.reached);
    EXPECT_NE(answer.result, 0);
    EXPECT_NE(answer.diagnostic.find("(" + std::to_string(r.code) + ")"), std::string::npos) << answer.diagnostic;
  }
  const testbed::ExtendedAnswer count = operations.Answer(ldap::ExtOpName(ldap::kPartitionEntryCountOp),
                                                          ldap::PartitionEntryCountRequest(sales), salesFs1);
  ASSERT_EQ(count.result, 0) << count.diagnostic;
  nuint32 entries = 0;
  ASSERT_TRUE(ldap::ParsePartitionEntryCountResponse(count.value, entries));
  EXPECT_EQ(entries, 4u);  // Sales, jdoe, Administrator and SALES-FS1: Berlin's objects are its own
}

}  // namespace
}  // namespace vestrel::testing
