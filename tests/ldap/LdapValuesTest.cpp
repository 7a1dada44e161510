// The value codec: every syntax's LDAP form decodes into the neutral value and encodes
// back; BER integers of 2^31 and more; truncated and hostile values come back malformed,
// never as a crash or a value read past its bytes.
#include <gtest/gtest.h>

#include <string>

#include "platform/nwclient/ldap/Ber.h"
#include "platform/nwclient/ldap/LdapValues.h"

namespace vestrel::nw::ldap {
namespace {

std::string Raw(std::initializer_list<int> bytes) {
  std::string text;
  for (int b : bytes) text += static_cast<char>(b);
  return text;
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Value ReplicaPointer() {
  Value v;
  v.text = "cn=FS1,ou=HQ,o=ACME";
  v.number = RT_SECONDARY;
  v.number2 = 3;
  v.number3 = 9;
  v.bytes = ToBytes(Raw({0x02, 0x0C, 10, 1, 0, 11}));
  return v;
}

TEST(LdapValues, AReplicaPointerTravelsAsBerAndReadsBack) {
  // As a server sends it: fields of the SEQUENCE one after another, the hints last.
  const std::string server = "cn=FS1,ou=HQ,o=ACME";
  const std::string wire = Raw({0x30, 0x30, 0x04, 0x13}) + server + Raw({0x02, 0x01, 0x01,    // type
                                                                        0x02, 0x01, 0x00,    // state
                                                                        0x02, 0x01, 0x00,    // root id
                                                                        0x02, 0x01, 0x03,    // number
                                                                        0x30, 0x0D, 0x30, 0x0B, 0x02, 0x01, 0x09,
                                                                        0x04, 0x06, 0x02, 0x0C, 10, 1, 0, 11});
  EXPECT_EQ(EncodeValue(SYN_REPLICA_POINTER, ReplicaPointer()), wire);
  const Value read = DecodeValue(SYN_REPLICA_POINTER, wire);
  EXPECT_FALSE(read.malformed);
  EXPECT_EQ(read.text, server);
  EXPECT_EQ(read.number, RT_SECONDARY);
  EXPECT_EQ(read.number2, 3u);
  EXPECT_EQ(read.number3, 9u);
  EXPECT_EQ(read.bytes, ReplicaPointer().bytes);
  // A pointer without address hints is complete too.
  Value bare;
  bare.text = server;
  bare.number2 = 1;
  const std::string bareWire = Raw({0x30, 0x21, 0x04, 0x13}) + server +
                               Raw({0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x01});
  EXPECT_FALSE(DecodeValue(SYN_REPLICA_POINTER, bareWire).malformed);
  EXPECT_FALSE(DecodeValue(SYN_REPLICA_POINTER, EncodeValue(SYN_REPLICA_POINTER, bare)).malformed);
}

TEST(LdapValues, IntegersOf2To31AndMoreTakeFiveContentBytes) {
  Value v = ReplicaPointer();
  v.number2 = 0x80000001u;
  v.number = 0xFFFFFFFFu;
  const std::string wire = EncodeValue(SYN_REPLICA_POINTER, v);
  EXPECT_NE(wire.find(Raw({0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x01})), std::string::npos);
  EXPECT_NE(wire.find(Raw({0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF})), std::string::npos);
  const Value read = DecodeValue(SYN_REPLICA_POINTER, wire);
  EXPECT_EQ(read.number2, 0x80000001u);
  EXPECT_EQ(read.number, 0xFFFFFFFFu);

  std::uint32_t field = 0;
  EXPECT_TRUE(BerReader(Raw({0x02, 0x01, 0xFF})).U32(field));  // -1: the same 32 bits
  EXPECT_EQ(field, 0xFFFFFFFFu);
  EXPECT_FALSE(BerReader(Raw({0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00})).U32(field));  // 2^32
  EXPECT_FALSE(BerReader(Raw({0x02, 0x05, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF})).U32(field));  // below -2^31
  EXPECT_FALSE(BerReader(Raw({0x02, 0x00})).U32(field));
  EXPECT_EQ(BerWriter().Integer(127).Bytes(), Raw({0x02, 0x01, 0x7F}));
  EXPECT_EQ(BerWriter().Integer(128).Bytes(), Raw({0x02, 0x02, 0x00, 0x80}));
  EXPECT_EQ(BerWriter().Integer(-129).Bytes(), Raw({0x02, 0x02, 0xFF, 0x7F}));
}

TEST(LdapValues, TruncatedAndHostileBerIsMalformed) {
  const std::string wire = EncodeValue(SYN_REPLICA_POINTER, ReplicaPointer());
  // Every value cut short, however short.
  for (std::size_t size = 0; size < wire.size(); ++size)
    EXPECT_TRUE(DecodeValue(SYN_REPLICA_POINTER, wire.substr(0, size)).malformed) << size;
  const std::string hostile[] = {
      wire + "x",                                                  // bytes after the value
      Raw({0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 0x04, 0x00}),       // a length far past the end
      Raw({0x30, 0x80, 0x04, 0x00, 0x00, 0x00}),                   // indefinite length
      Raw({0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}),       // a five-byte length
      Raw({0x3F, 0x01, 0x00}),                                     // a multi-byte tag
      Raw({0x30, 0x0B, 0x04, 0x00, 0x02, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9}),  // a nine-byte integer
      // a hint without its fields
      Raw({0x30, 0x12, 0x04, 0x00, 0x02, 0x01, 0, 0x02, 0x01, 0, 0x02, 0x01, 0, 0x02, 0x01, 0, 0x30, 0x02, 0x30, 0x00}),
      Raw({0x30, 0x08, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01}),  // no server name
  };
  for (const std::string& value : hostile) EXPECT_TRUE(DecodeValue(SYN_REPLICA_POINTER, value).malformed);
}

TEST(LdapValues, NetAddressesAndTimeStampsReadInBothForms) {
  // "type#bytes": the raw bytes after "#", even when they hold "#" or zero bytes.
  const std::string address = Raw({0x02, 0x0C, '#', 0, 0, 1});
  Value text = DecodeValue(SYN_NET_ADDRESS, "9#" + address);
  EXPECT_FALSE(text.malformed);
  EXPECT_EQ(text.number, 9u);
  EXPECT_EQ(text.bytes, ToBytes(address));
  Value v;
  v.number = 9;
  v.bytes = ToBytes(address);
  EXPECT_EQ(EncodeValue(SYN_NET_ADDRESS, v), "9#" + address);
  const Value ber = DecodeValue(SYN_NET_ADDRESS, EncodeValue(SYN_NET_ADDRESS, v, true));
  EXPECT_EQ(ber.number, 9u);
  EXPECT_EQ(ber.bytes, v.bytes);
  // An IPX address starts with "0", the byte of a BER SEQUENCE: still the text form.
  const Value ipx = DecodeValue(SYN_NET_ADDRESS, "0#" + Raw({0, 0, 0xCA, 0xFE, 0, 0, 0, 0, 0, 1, 4, 0x51}));
  EXPECT_FALSE(ipx.malformed);
  EXPECT_EQ(ipx.number, 0u);
  EXPECT_EQ(ipx.bytes.size(), 12u);
  EXPECT_TRUE(DecodeValue(SYN_NET_ADDRESS, "x#1").malformed);
  EXPECT_TRUE(DecodeValue(SYN_NET_ADDRESS, "9").malformed);

  const Value stamp = DecodeValue(SYN_TIMESTAMP, "1714982100#1#12");
  EXPECT_EQ(stamp.number, 1714982100u);
  EXPECT_EQ(stamp.number2, 1u);
  EXPECT_EQ(stamp.number3, 12u);
  EXPECT_EQ(EncodeValue(SYN_TIMESTAMP, stamp), "1714982100#1#12");
  const Value berStamp = DecodeValue(SYN_TIMESTAMP, EncodeValue(SYN_TIMESTAMP, stamp, true));
  EXPECT_EQ(berStamp.number, 1714982100u);
  EXPECT_EQ(berStamp.number3, 12u);
  for (const char* bad : {"", "1#2", "1#70000#1", "-1#1#1", "1#1#1#1", "a#1#1"})
    EXPECT_TRUE(DecodeValue(SYN_TIMESTAMP, bad).malformed) << bad;
}

TEST(LdapValues, NumbersTimesAndTextsReadAsTheirSyntaxSays) {
  EXPECT_EQ(DecodeValue(SYN_INTEGER, "20218").number, 20218u);
  EXPECT_EQ(DecodeValue(SYN_INTEGER, "-1").number, 0xFFFFFFFFu);
  EXPECT_EQ(DecodeValue(SYN_COUNTER, "4294967295").number, 0xFFFFFFFFu);
  for (const char* bad : {"", "4294967296", "12a", " 1", "-", "99999999999999999999"})
    EXPECT_TRUE(DecodeValue(SYN_INTEGER, bad).malformed) << bad;
  EXPECT_EQ(EncodeValue(SYN_INTEGER, DecodeValue(SYN_INTEGER, "-5")), "-5");

  nuint32 seconds = 0;
  ASSERT_TRUE(ParseGeneralizedTime("20240506075500Z", seconds));
  EXPECT_EQ(seconds, 1714982100u);
  EXPECT_EQ(GeneralizedTime(seconds), "20240506075500Z");
  ASSERT_TRUE(ParseGeneralizedTime("20240506095500.5+0200", seconds));
  EXPECT_EQ(seconds, 1714982100u);
  ASSERT_TRUE(ParseGeneralizedTime("2024050607Z", seconds));
  EXPECT_EQ(seconds, 1714978800u);
  for (const char* bad : {"19691231235959Z", "21060207062816Z", "20241301000000Z", "20240506075500", "2024Z"})
    EXPECT_FALSE(ParseGeneralizedTime(bad, seconds)) << bad;
  EXPECT_EQ(DecodeValue(SYN_TIME, "20240506075500Z").number, 1714982100u);
  EXPECT_TRUE(DecodeValue(SYN_TIME, "yesterday").malformed);

  EXPECT_EQ(DecodeValue(SYN_BOOLEAN, "TRUE").number, 1u);
  EXPECT_EQ(DecodeValue(SYN_BOOLEAN, "FALSE").number, 0u);
  EXPECT_TRUE(DecodeValue(SYN_BOOLEAN, "yes").malformed);
  EXPECT_EQ(DecodeValue(SYN_CLASS_NAME, "ncpServer").text, "NCP Server");
  EXPECT_EQ(EncodeValue(SYN_CLASS_NAME, DecodeValue(SYN_CLASS_NAME, "organizationalUnit")), "organizationalUnit");
  EXPECT_EQ(DecodeValue(SYN_CI_STRING, "eDirectory 8.8").text, "eDirectory 8.8");
  const Bytes octets = DecodeValue(SYN_OCTET_STRING, Raw({0, 1, 0xFF})).bytes;
  EXPECT_EQ(octets, (Bytes{0, 1, 0xFF}));
}

TEST(LdapValues, FieldSyntaxesRoundTrip) {
  Value postal;
  postal.texts = {"ACME $ Co", "1 Way\\2", "", "", "", ""};
  EXPECT_EQ(EncodeValue(SYN_PO_ADDRESS, postal), "ACME \\24 Co$1 Way\\5C2$$$$");
  EXPECT_EQ(DecodeValue(SYN_PO_ADDRESS, EncodeValue(SYN_PO_ADDRESS, postal)).texts, postal.texts);
  EXPECT_TRUE(DecodeValue(SYN_PO_ADDRESS, "1$2$3$4$5$6$7").malformed);
  EXPECT_TRUE(DecodeValue(SYN_PO_ADDRESS, "a\\41").malformed);

  Value acl;
  acl.number = 31;
  acl.text = "cn=#admin,o=ACME";  // a name with "#" in it
  acl.texts = {"[Entry Rights]"};
  const Value aclRead = DecodeValue(SYN_OBJECT_ACL, EncodeValue(SYN_OBJECT_ACL, acl));
  EXPECT_EQ(aclRead.number, 31u);
  EXPECT_EQ(aclRead.text, acl.text);
  EXPECT_EQ(aclRead.texts, acl.texts);

  Value typed;
  typed.text = "cn=x#y,o=ACME";
  typed.number = 1;
  typed.number2 = 3600;
  const Value typedRead = DecodeValue(SYN_TYPED_NAME, EncodeValue(SYN_TYPED_NAME, typed));
  EXPECT_EQ(typedRead.text, typed.text);
  EXPECT_EQ(typedRead.number2, 3600u);

  Value path;
  path.number = 0;
  path.texts = {"cn=VOL,o=ACME", "\\admin"};
  EXPECT_EQ(DecodeValue(SYN_PATH, EncodeValue(SYN_PATH, path)).texts, path.texts);
  Value mail;
  mail.number = 0;
  mail.text = "SMTP:admin@acme.example";
  EXPECT_EQ(DecodeValue(SYN_EMAIL_ADDRESS, EncodeValue(SYN_EMAIL_ADDRESS, mail)).text, mail.text);
  Value hold;
  hold.text = "cn=FS1,o=ACME";
  hold.number = 25;
  EXPECT_EQ(DecodeValue(SYN_HOLD, EncodeValue(SYN_HOLD, hold)).number, 25u);
  Value link;
  link.number = 33554434;
  link.text = "cn=FS1,o=ACME";
  EXPECT_EQ(DecodeValue(SYN_BACK_LINK, EncodeValue(SYN_BACK_LINK, link)).number, 33554434u);
  for (nuint32 syntax : {SYN_OBJECT_ACL, SYN_TYPED_NAME, SYN_HOLD, SYN_BACK_LINK, SYN_PATH, SYN_EMAIL_ADDRESS})
    EXPECT_TRUE(DecodeValue(syntax, "no fields").malformed) << syntax;
}

}  // namespace
}  // namespace vestrel::nw::ldap
