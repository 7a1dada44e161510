// Attribute values as text: value records in hand-made value memory, malformed records,
// octet layouts, addresses, rights and time texts (zone and locale set by each test).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "directory/D_NW.h"
#include "tests/directory/ValueMemoryBuilder.h"
#include "tests/directory/ZoneAndLocale.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

using testing::PutText;
using testing::PutU16;
using testing::PutU32;
using testing::PutWide;
using testing::ValueMemoryBuilder;
using testing::ZoneAndLocale;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> Lines(const TextList& list) { return list.ToVector(); }

// The lines FormatAttrValue appends for one value (no directory needed).
std::vector<std::string> Format1(ValueMemoryBuilder& value, nuint32 syntax, const std::string& attr = "Attr",
                                 int index = 1) {
  TextList lines;
  EXPECT_EQ(FormatAttrValue(0, "obj", attr, lines, value.Base(), value.Size(), syntax, index), 0);
  return Lines(lines);
}

std::vector<std::string> FormatRaw(const void* memory, std::size_t size, nuint32 syntax,
                                   const std::string& attr = "Attr") {
  TextList lines;
  FormatAttrValue(0, "obj", attr, lines, memory, size, syntax, 1);
  return Lines(lines);
}

ValueMemoryBuilder TextValue(const std::string& text) {
  ValueMemoryBuilder value(0);
  value.AddText(text);
  return value;
}

template <typename T>
ValueMemoryBuilder ScalarValue(T number) {
  ValueMemoryBuilder value(sizeof(T));
  value.SetRecord(number);
  return value;
}

ValueMemoryBuilder OctetValue(const Bytes& octets) {
  ValueMemoryBuilder value(sizeof(Octet_String_T));
  Octet_String_T record{static_cast<nuint32>(octets.size()), value.AddBytes(octets)};
  value.SetRecord(record);
  return value;
}

// ---- Plain syntaxes ----

TEST(FormatValue, TextsNumbersAndBooleans) {
  for (nuint32 syntax : {1u, 2u, 3u, 4u, 5u, 10u, 20u}) {
    auto value = TextValue("SRV1.ORG");
    EXPECT_EQ(Format1(value, syntax), std::vector<std::string>{"SRV1.ORG"}) << syntax;
  }
  auto yes = ScalarValue<nuint8>(1);
  auto no = ScalarValue<nuint8>(0);
  EXPECT_EQ(Format1(yes, SYN_BOOLEAN), std::vector<std::string>{"TRUE"});
  EXPECT_EQ(Format1(no, SYN_BOOLEAN), std::vector<std::string>{"FALSE"});
  auto counter = ScalarValue<nint32>(-1);
  EXPECT_EQ(Format1(counter, SYN_COUNTER), std::vector<std::string>{"-1"});
  auto integer = ScalarValue<nint32>(123456);
  EXPECT_EQ(Format1(integer, SYN_INTEGER), std::vector<std::string>{"123456"});
}

TEST(FormatValue, IntervalsShowTheirNonZeroParts) {
  auto full = ScalarValue<nint32>(86400 + 3600 + 60 + 1);
  EXPECT_EQ(Format1(full, SYN_INTERVAL), std::vector<std::string>{"1 days, 1 h, 1 min, 1 sec"});
  auto hour = ScalarValue<nint32>(3600);
  EXPECT_EQ(Format1(hour, SYN_INTERVAL), std::vector<std::string>{"1 h"});
  auto zero = ScalarValue<nint32>(0);
  EXPECT_EQ(Format1(zero, SYN_INTERVAL), std::vector<std::string>{"0 sec"});
  auto negative = ScalarValue<nint32>(-5);
  TextList lines;
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, negative.Base(), negative.Size(), SYN_INTERVAL, 1),
               RangeCheckError);
  EXPECT_EQ(lines.Count(), 0);
}

TEST(FormatValue, RecordsWithNamesAndNumbers) {
  ValueMemoryBuilder path(sizeof(Path_T));
  path.SetRecord(Path_T{4, path.AddText("SYS"), path.AddText("PUBLIC/x")});
  EXPECT_EQ(Format1(path, SYN_PATH), std::vector<std::string>{"(4) SYS:PUBLIC/x"});

  ValueMemoryBuilder replica(sizeof(Replica_Pointer_T));
  Replica_Pointer_T pointer{};
  pointer.serverName = replica.AddText("SRV1.ORG");
  pointer.replicaType = 1;
  pointer.replicaNumber = 3;
  replica.SetRecord(pointer);
  EXPECT_EQ(Format1(replica, SYN_REPLICA_POINTER), std::vector<std::string>{"SRV1.ORG [Secondary] [Nr: 3]"});

  ValueMemoryBuilder typed(sizeof(Typed_Name_T));
  typed.SetRecord(Typed_Name_T{typed.AddText("Q1.ORG"), 5, 60});
  EXPECT_EQ(Format1(typed, SYN_TYPED_NAME), std::vector<std::string>{"Q1.ORG#5#60"});

  ValueMemoryBuilder hold(sizeof(Hold_T));
  hold.SetRecord(Hold_T{hold.AddText("U.ORG"), 42});
  EXPECT_EQ(Format1(hold, SYN_HOLD), std::vector<std::string>{"U.ORG (42)"});

  ValueMemoryBuilder link(sizeof(Back_Link_T));
  link.SetRecord(Back_Link_T{7, link.AddText("SRV2.ORG")});
  EXPECT_EQ(Format1(link, SYN_BACK_LINK), std::vector<std::string>{"SRV2.ORG"});

  ValueMemoryBuilder mail(sizeof(EMail_Address_T));
  mail.SetRecord(EMail_Address_T{0, mail.AddText("a@b.c")});
  EXPECT_EQ(Format1(mail, SYN_EMAIL_ADDRESS), std::vector<std::string>{"a@b.c"});

  ValueMemoryBuilder fax(sizeof(Fax_Number_T));
  fax.SetRecord(Fax_Number_T{fax.AddText("555-1234"), 0, nullptr});
  EXPECT_EQ(Format1(fax, SYN_FAX_NUMBER), std::vector<std::string>{"555-1234"});
}

TEST(FormatValue, AccessControlEntryOnEntryRights) {
  ValueMemoryBuilder acl(sizeof(Object_ACL_T));
  acl.SetRecord(Object_ACL_T{acl.AddText("[Entry Rights]"), acl.AddText("admin.ORG"), 0x11});
  EXPECT_EQ(Format1(acl, SYN_OBJECT_ACL), std::vector<std::string>{"[B   AI] admin.ORG / [Entry Rights]"});
}

TEST(FormatValue, ListSyntaxesGiveOneLinePerNode) {
  ValueMemoryBuilder list(sizeof(CI_List_T));
  auto* second = list.AddRoom(sizeof(CI_List_T));
  CI_List_T secondNode{nullptr, list.AddText("two")};
  std::memcpy(second, &secondNode, sizeof secondNode);
  list.SetRecord(CI_List_T{reinterpret_cast<CI_List_T*>(second), list.AddText("one")});
  EXPECT_EQ(Format1(list, SYN_CI_LIST), (std::vector<std::string>{"one", "two"}));

  // Octet lists: a name not in the octet table shows every node's hex dump.
  ValueMemoryBuilder octets(sizeof(Octet_List_T));
  auto* node2 = octets.AddRoom(sizeof(Octet_List_T));
  Octet_List_T secondOctets{nullptr, 2, octets.AddBytes({0xAB, 0xCD})};
  std::memcpy(node2, &secondOctets, sizeof secondOctets);
  octets.SetRecord(Octet_List_T{reinterpret_cast<Octet_List_T*>(node2), 1, octets.AddBytes({0x01})});
  EXPECT_EQ(Format1(octets, SYN_OCTET_LIST, "Some List"), (std::vector<std::string>{"01", "ABCD"}));

  ValueMemoryBuilder postal(sizeof(Postal_Address_T));
  char* lines[6] = {postal.AddText("Street 1"), postal.AddText(""), nullptr,
                    postal.AddText("City"), postal.AddText(""), postal.AddText("Land")};
  postal.SetRecord(lines);
  EXPECT_EQ(Format1(postal, SYN_PO_ADDRESS), (std::vector<std::string>{"Street 1", "", "", "City", "", "Land"}));
}

TEST(FormatValue, UnknownAndLaterSyntaxesShowHexDumps) {
  Bytes bytes{0x01, 0x02};
  EXPECT_EQ(FormatRaw(bytes.data(), bytes.size(), 30), std::vector<std::string>{"[1E] 0102"});

  ValueMemoryBuilder unknown(sizeof(Unknown_Attr_T));
  const Bytes valueBytes{0x0A, 0x0B, 0x0C};
  unknown.AddBytes(valueBytes);
  unknown.SetRecord(Unknown_Attr_T{nullptr, 5, 3});
  char* name = unknown.AddText("Odd Attr");
  unknown.SetRecord(Unknown_Attr_T{name, 5, 3});
  EXPECT_EQ(Format1(unknown, SYN_UNKNOWN), std::vector<std::string>{"Odd Attr [5] 0A0B0C"});

  // A value length past the value memory is a malformed record.
  unknown.SetRecord(Unknown_Attr_T{name, 5, 5000});
  TextList lines;
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, unknown.Base(), unknown.Size(), SYN_UNKNOWN, 1),
               RangeCheckError);

  // Hex dumps stop at 65535 bytes.
  Bytes big(65536, 0x11);
  EXPECT_THROW(FormatRaw(big.data(), big.size(), 40), RangeCheckError);
  big.resize(65535);
  EXPECT_EQ(FormatRaw(big.data(), big.size(), 40).at(0).size(), std::string("[28] ").size() + 2 * 65535);
}

// ---- Malformed value memory ----

TEST(FormatValueMalformed, PointersOutsideTheValueAreRangeFailures) {
  static const char outside[] = "outside";
  ValueMemoryBuilder path(sizeof(Path_T));
  path.SetRecord(Path_T{4, path.AddText("SYS"), const_cast<char*>(outside)});
  TextList lines;
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, path.Base(), path.Size(), SYN_PATH, 1), RangeCheckError);

  // A pointer one past the end, and a pointer just before the start.
  ValueMemoryBuilder back(sizeof(Back_Link_T));
  back.AddText("x");
  back.SetRecord(Back_Link_T{1, reinterpret_cast<char*>(back.Base() + back.Size())});
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, back.Base(), back.Size(), SYN_BACK_LINK, 1), RangeCheckError);
  back.SetRecord(Back_Link_T{1, reinterpret_cast<char*>(back.Base()) - 1});
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, back.Base(), back.Size(), SYN_BACK_LINK, 1), RangeCheckError);

  // Octets that run past the memory, and an address whose length does.
  auto octets = OctetValue({1, 2, 3});
  octets.SetRecord(Octet_String_T{4, octets.Base() + sizeof(Octet_String_T)});
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, octets.Base(), octets.Size(), SYN_OCTET_STRING, 1),
               RangeCheckError);
  ValueMemoryBuilder address(sizeof(Net_Address_T));
  nuint8* bytes = address.AddBytes({2, 12, 10, 0, 0, 1});
  address.SetRecord(Net_Address_T{9, 7, bytes});
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, address.Base(), address.Size(), SYN_NET_ADDRESS, 1),
               RangeCheckError);
  EXPECT_EQ(lines.Count(), 0);
}

TEST(FormatValueMalformed, TextsMustEndInsideTheValue) {
  auto text = TextValue("abc");
  text.Truncate(3);  // no terminator
  TextList lines;
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, text.Base(), text.Size(), SYN_CI_STRING, 1), RangeCheckError);

  ValueMemoryBuilder hold(sizeof(Hold_T));
  char* name = hold.AddText("NAME");
  hold.SetRecord(Hold_T{name, 1});
  hold.Truncate(hold.Size() - 1);
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, hold.Base(), hold.Size(), SYN_HOLD, 1), RangeCheckError);
}

TEST(FormatValueMalformed, ShortRecordsAndLoopingChainsAreRangeFailures) {
  TextList lines;
  Bytes two{1, 2};
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, two.data(), two.size(), SYN_INTEGER, 1), RangeCheckError);
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, two.data(), two.size(), SYN_TIMESTAMP, 1), RangeCheckError);
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, two.data(), 0, SYN_BOOLEAN, 1), RangeCheckError);

  // A node that points back to itself must not loop forever.
  ValueMemoryBuilder list(sizeof(CI_List_T));
  list.SetRecord(CI_List_T{reinterpret_cast<CI_List_T*>(list.Base()), list.AddText("again")});
  EXPECT_THROW(FormatAttrValue(0, "o", "a", lines, list.Base(), list.Size(), SYN_CI_LIST, 1), RangeCheckError);
  EXPECT_EQ(lines.Count(), 0);
}

// ---- Network addresses ----

TEST(NetAddress, EachTypeAsTheAdministratorReadsIt) {
  const Bytes ip9{0x02, 0x0C, 0x0A, 0x00, 0x00, 0x01};
  EXPECT_EQ(NetAddressText(9, ip9.data(), ip9.size(), true), "(9) 10.0.0.1:524");
  EXPECT_EQ(NetAddressText(8, ip9.data(), ip9.size(), false), "10.0.0.1:524");
  const Bytes ip1{192, 168, 1, 2, 0x01, 0x0C};
  EXPECT_EQ(NetAddressText(1, ip1.data(), ip1.size(), true), "(1) 192.168.1.2:268");
  const Bytes ipx{0x01, 0x02, 0x03, 0x0A, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x04, 0x51};
  EXPECT_EQ(NetAddressText(0, ipx.data(), ipx.size(), true), "(0) 0102030A:0A0B0C0D0E0F");
  Bytes wide;
  PutWide(wide, 0, "host.example");
  EXPECT_EQ(NetAddressText(13, wide.data(), wide.size(), true), "(13) host.example");
  // Other types always carry their type.
  EXPECT_EQ(NetAddressText(6, ipx.data(), ipx.size(), false), "(6) [0102030A0A0B0C0D0E0F0451]");
  EXPECT_EQ(NetAddressText(9, nullptr, 0, true), "");
}

TEST(NetAddress, ShortAddressesReadNothingPastTheirBytes) {
  const Bytes three{0x02, 0x0C, 0x0A};
  EXPECT_EQ(NetAddressText(9, three.data(), three.size(), true), "(9) 10.0.0.0:524");
  EXPECT_EQ(NetAddressText(0, three.data(), three.size(), true), "(0) 020C0A:");
  EXPECT_EQ(NetAddressText(99, three.data(), three.size(), true), "(99) [020C0A]");
  ValueMemoryBuilder address(sizeof(Net_Address_T));
  address.SetRecord(Net_Address_T{9, 6, address.AddBytes({0x02, 0x0C, 0x0A, 0x00, 0x00, 0x01})});
  EXPECT_EQ(Format1(address, SYN_NET_ADDRESS), std::vector<std::string>{"(9) 10.0.0.1:524"});
}

}  // namespace
}  // namespace vestrel
