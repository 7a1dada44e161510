// The request values of the partition and replica operations, byte for byte: fields one
// after another without an enclosing SEQUENCE, integers in their shortest two's complement
// form (delays of 2^31 seconds and more in five bytes, as their unsigned value).
#include <gtest/gtest.h>

#include "platform/nwclient/ldap/LdapExtOps.h"

namespace vestrel::nw::ldap {
namespace {

using namespace std::string_literals;

TEST(LdapExtOpsTest, OperationRequestsAreTheirFieldsBackToBack) {
  const std::string server = "\x04\x0D" "cn=FS1,o=ACME"s;
  const std::string partition = "\x04\x09" "ou=S,o=AC"s;
  EXPECT_EQ(SyncSchemaRequest("cn=FS1,o=ACME", 5), server + "\x02\x01\x05"s);
  EXPECT_EQ(SyncSchemaRequest("cn=FS1,o=ACME", 86399), server + "\x02\x03\x01\x51\x7F"s);
  EXPECT_EQ(SyncPartitionRequest("cn=FS1,o=ACME", "ou=S,o=AC", 128), server + partition + "\x02\x02\x00\x80"s);
  EXPECT_EQ(SyncPartitionRequest("cn=FS1,o=ACME", "ou=S,o=AC", 0x80000000u),
            server + partition + "\x02\x05\x00\x80\x00\x00\x00"s);
  EXPECT_EQ(SyncPartitionRequest("cn=FS1,o=ACME", "", 0), server + "\x04\x00\x02\x01\x00"s);  // [Root]
  EXPECT_EQ(SendAllUpdatesRequest("ou=S,o=AC", "cn=FS1,o=ACME"), partition + server);
  EXPECT_EQ(ReceiveAllUpdatesRequest("ou=S,o=AC", "cn=FS1,o=ACME", "cn=FS1,o=ACME"), partition + server + server);
  EXPECT_EQ(RemoveReplicaRequest(0, "cn=FS1,o=ACME", "ou=S,o=AC"), "\x02\x01\x00"s + server + partition);
  EXPECT_EQ(JoinPartitionsRequest(0, "ou=S,o=AC"), "\x02\x01\x00"s + partition);
  EXPECT_EQ(ExtOpName(kSyncPartitionOp), "2.16.840.1.113719.1.27.100.25");
}

}  // namespace
}  // namespace vestrel::nw::ldap
