// The request values of the partition and replica operations, byte for byte: fields one
// after another without an enclosing SEQUENCE, integers as the directory's C library
// writes them: signed 32-bit values in their shortest two's complement form, at most four
// bytes (0xFFFFFFFF is 02 01 ff).
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
            server + partition + "\x02\x04\x80\x00\x00\x00"s);
  EXPECT_EQ(SyncPartitionRequest("cn=FS1,o=ACME", "", 0), server + "\x04\x00\x02\x01\x00"s);  // [Root]
  EXPECT_EQ(SendAllUpdatesRequest("ou=S,o=AC", "cn=FS1,o=ACME"), partition + server);
  EXPECT_EQ(ReceiveAllUpdatesRequest("ou=S,o=AC", "cn=FS1,o=ACME", "cn=FS1,o=ACME"), partition + server + server);
  EXPECT_EQ(RemoveReplicaRequest(0, "cn=FS1,o=ACME", "ou=S,o=AC"), "\x02\x01\x00"s + server + partition);
  EXPECT_EQ(JoinPartitionsRequest(0, "ou=S,o=AC"), "\x02\x01\x00"s + partition);
  EXPECT_EQ(ExtOpName(kSyncPartitionOp), "2.16.840.1.113719.1.27.100.25");
  // The ring changes: flags first, then the type, the server and the partition.
  EXPECT_EQ(AddReplicaRequest(0, RT_READONLY, "cn=FS1,o=ACME", "ou=S,o=AC"),
            "\x02\x01\x00\x02\x01\x02"s + server + partition);
  EXPECT_EQ(ChangeReplicaTypeRequest(0, RT_MASTER, "cn=FS1,o=ACME", "ou=S,o=AC"),
            "\x02\x01\x00\x02\x01\x00"s + server + partition);
  EXPECT_EQ(SplitPartitionRequest(0, "ou=S,o=AC"), "\x02\x01\x00"s + partition);
  EXPECT_EQ(AbortPartitionOperationRequest(0, "ou=S,o=AC"), "\x02\x01\x00"s + partition);
  EXPECT_EQ(PartitionEntryCountRequest("ou=S,o=AC"), partition);
  nuint32 count = 0;
  EXPECT_TRUE(ParsePartitionEntryCountResponse("\x02\x02\x04\xB4"s, count));
  EXPECT_EQ(count, 1204u);
  EXPECT_FALSE(ParsePartitionEntryCountResponse("\x02\x02\x04\xB4\x00"s, count));  // more than the count
  EXPECT_FALSE(ParsePartitionEntryCountResponse("\x04\x01\x01"s, count));
}

// Every integer field of every request, for the values at the edges of 32 bits.
TEST(LdapExtOpsTest, IntegerFieldsAreSigned32BitValuesOfAtMostFourBytes) {
  struct Case {
    nuint32 value;
    std::string bytes;  // as the C SDK and JLDAP encode a C int
  };
  const Case cases[] = {
      {0, "\x02\x01\x00"s},
      {86399, "\x02\x03\x01\x51\x7F"s},
      {0x7FFFFFFFu, "\x02\x04\x7F\xFF\xFF\xFF"s},
      {0x80000000u, "\x02\x04\x80\x00\x00\x00"s},
      {0xFFFFFFFFu, "\x02\x01\xFF"s},
  };
  const std::string server = "\x04\x04" "cn=S"s;
  const std::string partition = "\x04\x04" "ou=P"s;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(SyncSchemaRequest("cn=S", c.value), server + c.bytes);
    EXPECT_EQ(SyncPartitionRequest("cn=S", "ou=P", c.value), server + partition + c.bytes);
    EXPECT_EQ(RemoveReplicaRequest(c.value, "cn=S", "ou=P"), c.bytes + server + partition);
    EXPECT_EQ(JoinPartitionsRequest(c.value, "ou=P"), c.bytes + partition);
  }
}

}  // namespace
}  // namespace vestrel::nw::ldap
