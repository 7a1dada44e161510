// The extended requests as a server built like eDirectory takes them, through the test
// bed's double in front of slapd: a replica's information carries the replica's state,
// not its Partition Status flag.
#include "LdapServerTest.h"
#include "platform/nwclient/ldap/LdapExtOps.h"
#include "tools/ldap-testbed/ExtOpDouble.h"

namespace vestrel::testing {
namespace {

namespace ldap = nw::ldap;

class ExtendedRequests : public LdapServerTest {};

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
    EXPECT_EQ(answer.name, ldap::ExtOpName(ldap::kReplicaInfoOp + 1));
    ldap::ReplicaInfo info;
    ASSERT_TRUE(ldap::ParseReplicaInfoResponse(answer.value, info));
    EXPECT_EQ(info.replicaState, 0u);
    EXPECT_EQ(info.partitionDn, partitionDn);
  }
}

}  // namespace
}  // namespace vestrel::testing
