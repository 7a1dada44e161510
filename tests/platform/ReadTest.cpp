// Reading attributes: derived NDS values, raw values of every syntax, exact value
// memory, replies split over iterations, value details and streams.
#include <unistd.h>

#include <cstring>

#include "NwTestSupport.h"

namespace vestrel::testing {
namespace {

class Reads : public NwTest {
 protected:
  void SetUp() override {
    NwTest::SetUp();
    ConnectDemo();
    c_ = Context();
  }
  NWDSContextHandle c_ = 0;
};

bool Inside(const ReadValue& v, const void* p, std::size_t length = 1) {
  auto* begin = static_cast<const std::uint8_t*>(v.block.get());
  auto* at = static_cast<const std::uint8_t*>(p);
  return at >= begin && at + length <= begin + v.memory.size();
}

bool TextInside(const ReadValue& v, const char* text) {
  return text && Inside(v, text) && Inside(v, text, std::strlen(text) + 1);
}

TEST_F(Reads, ReplicaValuesDescribeTheRing) {
  ReadResult r = ReadAll(c_, "[Root]", {"Replica"});
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.values.size(), 3u);
  const auto& first = r.values[0].As<Replica_Pointer_T>();
  EXPECT_STREQ(first.serverName, "FS1.HQ.ACME");
  EXPECT_EQ(first.replicaType, RT_MASTER);
  EXPECT_EQ(first.replicaNumber, 1u);
  ASSERT_EQ(first.count, 1u);  // the server's first address as hint
  EXPECT_EQ(first.replicaAddressHint[0].addressType, 0u);
  ASSERT_EQ(first.replicaAddressHint[0].addressLength, 12u);
  EXPECT_TRUE(Inside(r.values[0], first.replicaAddressHint[0].address, 12));
  EXPECT_TRUE(TextInside(r.values[0], first.serverName));
  EXPECT_EQ(r.values[2].As<Replica_Pointer_T>().replicaType, RT_READONLY);
  ReadResult none = ReadAll(c_, "admin.ACME", {"Replica"});
  EXPECT_EQ(none.code, ERR_NO_SUCH_ATTRIBUTE);
  EXPECT_TRUE(none.values.empty());
}

TEST_F(Reads, PartitionStatusOctetsPutTheNameAt28ThenAt24) {
  ReadResult r = ReadAll(c_, "Legacy.ACME", {"Partition Status"});
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.values.size(), 3u);
  const auto& first = r.values[0].As<Octet_String_T>();
  ASSERT_GE(first.length, 30u);
  EXPECT_EQ(U32At(first.data, 0), 0u);
  EXPECT_EQ(U32At(first.data, 4), RS_LOCAL_ERROR);
  EXPECT_EQ(U32At(first.data, 8), 1714428780u);  // 2024-04-29 22:13:00
  EXPECT_EQ(U32At(first.data, 12), 1u);
  EXPECT_EQ(U32At(first.data, 16), 0xFFFFFD8Fu);  // -625
  EXPECT_EQ(Utf16At(first.data, first.length, 28), "OLDNW.Legacy.ACME");
  const auto& second = r.values[1].As<Octet_String_T>();
  EXPECT_EQ(U32At(second.data, 4), RS_REMOTE_ERROR);
  EXPECT_EQ(U32At(second.data, 12), 2u);
  EXPECT_EQ(Utf16At(second.data, second.length, 24), "FS1.HQ.ACME");
  EXPECT_EQ(second.length, 24u + 2 * (std::strlen("FS1.HQ.ACME") + 1));
}

TEST_F(Reads, VectorsCarryNumberTimeEventAndServer) {
  ReadResult r = ReadAll(c_, "Sales.ACME", {"Local Received Up To", "Transitive Vector", "Purge Vector"});
  ASSERT_EQ(r.code, 0);
  for (const char* name : {"Local Received Up To", "Transitive Vector"}) {
    auto values = ValuesOf(r, name);
    ASSERT_EQ(values.size(), 2u) << name;
    const auto& v = values[1]->As<Octet_String_T>();
    EXPECT_EQ(U32At(v.data, 0), 2u);
    EXPECT_EQ(U32At(v.data, 4), 1714982105u);  // 2024-05-06 07:55:05
    EXPECT_EQ(U32At(v.data, 8), 910u);
    EXPECT_EQ(Utf16At(v.data, v.length, 12), "FS1.HQ.ACME");
  }
  auto purge = ValuesOf(r, "Purge Vector");
  ASSERT_EQ(purge.size(), 2u);
  EXPECT_EQ(purge[0]->As<TimeStamp_T>().replicaNum, 1u);
  EXPECT_EQ(purge[0]->memory.size(), sizeof(TimeStamp_T));
}

TEST_F(Reads, ServerValues) {
  ReadResult r = ReadAll(c_, "FS1.HQ.ACME", {"Version", "DS Revision", "Network Address"});
  ASSERT_EQ(r.code, 0);
  EXPECT_STREQ(ValuesOf(r, "Version")[0]->Text(), "Novell NetWare 6.5 SP8");
  EXPECT_EQ(ValuesOf(r, "Version")[0]->memory.size(), std::strlen("Novell NetWare 6.5 SP8") + 1);
  EXPECT_EQ(ValuesOf(r, "DS Revision")[0]->As<nint32>(), 10552);
  auto addresses = ValuesOf(r, "Network Address");
  ASSERT_EQ(addresses.size(), 4u);
  const auto& tcp = addresses[3]->As<Net_Address_T>();
  EXPECT_EQ(tcp.addressType, 9u);
  ASSERT_EQ(tcp.addressLength, 6u);
  EXPECT_EQ(std::vector<std::uint8_t>(tcp.address, tcp.address + 6), (std::vector<std::uint8_t>{2, 0x0C, 10, 1, 0, 11}));
  EXPECT_EQ(addresses[3]->memory.size(), sizeof(Net_Address_T) + 6);
}

TEST_F(Reads, ClassNamingCreatorAndAliasValues) {
  ReadResult r = ReadAll(c_, "jdoe.Sales.ACME", {"Object Class", "CN", "creatorsName", "modifiersName"});
  ASSERT_EQ(r.code, 0);
  auto classes = ValuesOf(r, "Object Class");
  ASSERT_GE(classes.size(), 2u);
  EXPECT_STREQ(classes.front()->Text(), "User");
  EXPECT_STREQ(classes.back()->Text(), "Top");
  EXPECT_STREQ(ValuesOf(r, "CN")[0]->Text(), "jdoe");
  EXPECT_STREQ(ValuesOf(r, "creatorsName")[0]->Text(), "cn=admin,o=ACME");
  EXPECT_STREQ(ValuesOf(r, "modifiersName")[0]->Text(), "cn=jdoe,ou=Sales,o=ACME");

  // The alias itself is read only when aliases are not followed.
  EXPECT_EQ(ReadAll(c_, "Administrator.Sales.ACME", {"Aliased Object Name"}).code, ERR_NO_SUCH_ATTRIBUTE);
  nuint32 flags = DCV_TYPELESS_NAMES;
  ASSERT_EQ(DSContextSetValue(c_, DCK_FLAGS, &flags), 0);
  ReadResult alias = ReadAll(c_, "Administrator.Sales.ACME", {"aliased object name"});
  ASSERT_EQ(alias.code, 0);
  EXPECT_EQ(alias.values[0].attr, "Aliased Object Name");  // the schema's spelling
  EXPECT_STREQ(alias.values[0].Text(), "admin.ACME");
}

TEST_F(Reads, NamesInValuesFollowTheContextForm) {
  NWDSContextHandle typed = Context("ACME_TREE", 0);
  nuint32 flags = DCV_DEREF_ALIASES;
  ASSERT_EQ(DSContextSetValue(typed, DCK_FLAGS, &flags), 0);
  ReadResult r = ReadAll(typed, "Admins.HQ.ACME", {"Member"});
  ASSERT_EQ(r.code, 0);
  EXPECT_STREQ(r.values[0].Text(), "CN=admin.O=ACME");
  ReadResult acls = ReadAll(typed, "ACME", {"ACL"});
  ASSERT_EQ(acls.code, 0);
  EXPECT_STREQ(acls.values.at(0).As<Object_ACL_T>().subjectName, "CN=admin.O=ACME");
  EXPECT_STREQ(acls.values.at(2).As<Object_ACL_T>().subjectName, "[Public]");
}

// Every syntax: the value memory holds the record and everything it points to, and
// its size is exactly what they need.
TEST_F(Reads, ValueMemoryOfEverySyntaxIsExactAndSelfContained) {
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"ALL","schema":{"S0":0,"S30":30,"Oct":9,"OList":13,"Bool":7,"Ce":2},
    "objects":[{"name":"x","class":"User","attributes":{
      "S0":"0A0B0C", "S30":"0102", "Oct":"DEADBEEF", "OList":[["01","0203"]], "Bool":true, "Ce":"Text",
      "Language":[["A","BB"]], "Revision":-1, "Facsimile Telephone Number":"+1 555", "EMail Address":"a@b",
      "Home Directory":{"nameSpace":4,"volume":"VOL","path":"\\x"}, "ACL":{"attribute":"CN","subject":"x","privileges":2},
      "Postal Address":[["l1","","l3"]], "Partition Creation Time":{"seconds":5,"replica":2,"event":3},
      "Back Link":{"remoteId":9,"object":"x"}, "Login Time":7, "Typed Name":{"object":"x","level":1,"interval":2},
      "Server Holds":{"object":"x","amount":3}, "Password Expiration Interval":60,
      "Network Address":{"type":13,"text":"host"}}}]})", "x", false), "");
  NWDSContextHandle c = Context("ALL");
  ReadResult r = ReadAll(c, "x", {"S0", "S30", "Oct", "OList", "Bool", "Ce", "Language", "Revision",
      "Facsimile Telephone Number", "EMail Address", "Home Directory", "ACL", "Postal Address",
      "Partition Creation Time", "Back Link", "Login Time", "Typed Name", "Server Holds",
      "Password Expiration Interval", "Network Address"});
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.values.size(), 20u);
  auto one = [&](const char* name) -> const ReadValue& { return *ValuesOf(r, name).at(0); };

  const auto& unknown = one("S0").As<Unknown_Attr_T>();
  EXPECT_EQ(unknown.valueLen, 3u);
  EXPECT_EQ(std::memcmp(&unknown + 1, "\x0A\x0B\x0C", 3), 0);  // the value right after the record
  EXPECT_STREQ(unknown.attrName, "S0");
  EXPECT_EQ(one("S0").memory.size(), sizeof(Unknown_Attr_T) + 3 + 3);
  EXPECT_EQ(one("S30").memory, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(one("Oct").memory.size(), sizeof(Octet_String_T) + 4);
  EXPECT_EQ(one("Bool").memory, (std::vector<std::uint8_t>{1}));
  EXPECT_EQ(one("Ce").memory.size(), 5u);
  EXPECT_EQ(one("Revision").As<nint32>(), -1);
  EXPECT_EQ(one("Login Time").As<nuint32>(), 7u);
  EXPECT_EQ(one("Password Expiration Interval").As<nint32>(), 60);
  const auto& stamp = one("Partition Creation Time").As<TimeStamp_T>();
  EXPECT_EQ(stamp.wholeSeconds, 5u);
  EXPECT_EQ(stamp.replicaNum, 2u);
  EXPECT_EQ(stamp.eventID, 3u);

  const ReadValue& list = one("Language");
  const auto& node = list.As<CI_List_T>();
  ASSERT_TRUE(node.next && Inside(list, node.next, sizeof(CI_List_T)));
  EXPECT_STREQ(node.s, "A");
  EXPECT_STREQ(node.next->s, "BB");
  EXPECT_EQ(node.next->next, nullptr);
  EXPECT_EQ(list.memory.size(), 2 * sizeof(CI_List_T) + 2 + 3);

  const ReadValue& octets = one("OList");
  const auto& onode = octets.As<Octet_List_T>();
  ASSERT_TRUE(onode.next && Inside(octets, onode.next, sizeof(Octet_List_T)));
  EXPECT_EQ(onode.next->length, 2u);
  EXPECT_TRUE(Inside(octets, onode.next->data, 2));
  EXPECT_EQ(octets.memory.size(), 2 * sizeof(Octet_List_T) + 3);

  EXPECT_TRUE(TextInside(one("Facsimile Telephone Number"), one("Facsimile Telephone Number").As<Fax_Number_T>().telephoneNumber));
  EXPECT_STREQ(one("EMail Address").As<EMail_Address_T>().address, "a@b");
  const auto& path = one("Home Directory").As<Path_T>();
  EXPECT_EQ(path.nameSpaceType, 4u);
  EXPECT_TRUE(TextInside(one("Home Directory"), path.volumeName));
  EXPECT_STREQ(path.path, "\\x");
  const auto& acl = one("ACL").As<Object_ACL_T>();
  EXPECT_STREQ(acl.subjectName, "x");
  EXPECT_EQ(acl.privileges, 2u);
  const ReadValue& postal = one("Postal Address");
  char* const* lines = static_cast<char* const*>(postal.block.get());
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(TextInside(postal, lines[i])) << i;
  EXPECT_STREQ(lines[2], "l3");
  EXPECT_STREQ(lines[5], "");
  EXPECT_EQ(one("Back Link").As<Back_Link_T>().remoteID, 9u);
  EXPECT_EQ(one("Typed Name").As<Typed_Name_T>().interval, 2u);
  EXPECT_EQ(one("Server Holds").As<Hold_T>().amount, 3u);
  const auto& host = one("Network Address").As<Net_Address_T>();
  EXPECT_EQ(host.addressLength, 10u);  // "host" in UTF-16 with its terminator
  // Records are aligned: the block comes from malloc, every record starts at offset 0.
  for (const ReadValue& v : r.values) EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.block.get()) % alignof(void*), 0u);
}

TEST_F(Reads, LargeRepliesContinueThroughAnIterationHandle) {
  std::string values;
  for (int i = 0; i < 3000; ++i) values += (i ? "," : "") + std::string("\"value ") + std::to_string(i) + std::string(40, 'x') + "\"";
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"BIG","objects":[{"name":"x","class":"User","attributes":{"Description":[)" +
                                        values + R"(],"Surname":"last"}}]})", "x", false), "");
  NWDSContextHandle c = Context("BIG");
  ReadResult r = ReadAll(c, "x", {"Description", "Surname"});
  ASSERT_EQ(r.code, 0);
  EXPECT_GE(r.steps, 3);
  ASSERT_EQ(r.values.size(), 3001u);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(r.values[i].Text(), "value " + std::to_string(i) + std::string(40, 'x'));
  EXPECT_STREQ(r.values[3000].Text(), "last");
  EXPECT_EQ(nwtest::OpenIterations(), 0u);
  EXPECT_EQ(nwtest::OpenBuffers(), 0u);
}

TEST_F(Reads, ReplyBufferUsageStaysWithinItsSize) {
  Buf_T* request = nullptr;
  Buf_T* reply = nullptr;
  ASSERT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &request), 0);
  ASSERT_EQ(DSBufferInit(c_, DSV_READ, request), 0);
  ASSERT_EQ(DSRequestAddAttrName(c_, request, "Replica"), 0);
  ASSERT_EQ(DSBufferAlloc(128, &reply), 0);
  ASSERT_EQ(DSBufferInit(c_, DSV_READ, reply), 0);
  nuint32 iteration = NO_MORE_ITERATIONS;
  int steps = 0;
  do {
    ASSERT_EQ(DSReadStep(c_, "[Root]", DS_ATTRIBUTE_VALUES, false, request, &iteration, reply), 0);
    EXPECT_LE(reply->curLen, reply->maxLen);
    ++steps;
  } while (iteration != NO_MORE_ITERATIONS && steps < 10);
  EXPECT_EQ(steps, 3);  // one replica value per 128-byte reply
  // A value that cannot fit even an empty reply.
  ASSERT_EQ(DSBufferFree(reply), 0);
  ASSERT_EQ(DSBufferAlloc(40, &reply), 0);
  ASSERT_EQ(DSBufferInit(c_, DSV_READ, reply), 0);
  EXPECT_EQ(DSReadStep(c_, "[Root]", DS_ATTRIBUTE_VALUES, false, request, &iteration, reply), ERR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(iteration, NO_MORE_ITERATIONS);
  iteration = 12345;
  EXPECT_EQ(DSReadStep(c_, "[Root]", DS_ATTRIBUTE_VALUES, false, request, &iteration, reply), ERR_INVALID_ITERATION);
  DSBufferFree(reply);
  DSBufferFree(request);
  EXPECT_EQ(nwtest::OpenIterations(), 0u);
}

TEST_F(Reads, BuffersMustBePreparedForReading) {
  Buf_T* request = nullptr;
  Buf_T* reply = nullptr;
  ASSERT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &request), 0);
  ASSERT_EQ(DSBufferAlloc(MAX_MESSAGE_LEN, &reply), 0);
  EXPECT_EQ(DSRequestAddAttrName(c_, request, "CN"), ERR_BAD_VERB);
  ASSERT_EQ(DSBufferInit(c_, DSV_READ, request), 0);
  ASSERT_EQ(DSRequestAddAttrName(c_, request, "CN"), 0);
  nuint32 iteration = NO_MORE_ITERATIONS;
  EXPECT_EQ(DSReadStep(c_, "admin.ACME", DS_ATTRIBUTE_VALUES, false, request, &iteration, reply), ERR_BAD_VERB);
  ASSERT_EQ(DSBufferInit(c_, DSV_READ, reply), 0);
  EXPECT_EQ(DSReadStep(c_, "nobody.ACME", DS_ATTRIBUTE_VALUES, false, request, &iteration, reply), ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(DSReadStep(c_, "admin.ACME", 2, false, request, &iteration, reply), ERR_INVALID_REQUEST);
  EXPECT_EQ(DSRequestAddAttrName(c_, request, std::string(70, 'a').c_str()), ERR_INVALID_OBJECT_NAME);
  // Reading past the reply is refused, not undefined.
  ASSERT_EQ(DSReadStep(c_, "admin.ACME", DS_ATTRIBUTE_VALUES, false, request, &iteration, reply), 0);
  char name[MAX_SCHEMA_NAME_BYTES];
  nuint32 count = 0, syntax = 0, size = 0;
  EXPECT_EQ(DSResultValueSize(c_, reply, SYN_CI_STRING, &size), ERR_BUFFER_EMPTY);
  ASSERT_EQ(DSResultNextAttr(c_, reply, name, &count, &syntax), 0);
  EXPECT_EQ(DSResultValueSize(c_, reply, SYN_INTEGER, &size), ERR_INVALID_ATTR_SYNTAX);
  ASSERT_EQ(DSResultValueSize(c_, reply, syntax, &size), 0);
  std::vector<char> memory(size);
  ASSERT_EQ(DSResultNextValue(c_, reply, syntax, memory.data()), 0);
  EXPECT_EQ(DSResultValueSize(c_, reply, syntax, &size), ERR_BUFFER_EMPTY);
  EXPECT_EQ(DSResultNextAttr(c_, reply, name, &count, &syntax), ERR_BUFFER_EMPTY);
  nuint32 flags = 0;
  EXPECT_EQ(NWDSGetAttrValFlags(c_, reply, &flags), ERR_BUFFER_EMPTY);
  DSBufferFree(reply);
  DSBufferFree(request);
}

TEST_F(Reads, AllAttributesAndValueDetails) {
  ReadResult all = ReadAll(c_, "Sales.ACME", {}, DS_VALUE_INFO);
  ASSERT_EQ(all.code, 0);
  for (const char* name : {"Object Class", "OU", "Replica", "Partition Status", "Partition Creation Time"})
    EXPECT_FALSE(ValuesOf(all, name).empty()) << name;
  auto classes = ValuesOf(all, "Object Class");
  EXPECT_EQ(classes[1]->modTime.wholeSeconds, 1234776720u);  // the object's modification time
  EXPECT_EQ(classes[1]->modTime.eventID, 2u);
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"D","objects":[{"name":"x","class":"User","attributes":{
      "Surname":{"values":["a"],"flags":8,"modTime":{"seconds":99,"replica":4,"event":5}}}}]})", "", false), "");
  ReadResult detail = ReadAll(Context("D"), "x", {"Surname"}, DS_VALUE_INFO);
  ASSERT_EQ(detail.code, 0);
  EXPECT_EQ(detail.values[0].flags, 8u);
  EXPECT_EQ(detail.values[0].modTime.wholeSeconds, 99u);
  EXPECT_EQ(detail.values[0].modTime.replicaNum, 4u);
}

TEST_F(Reads, ARawAttributeReplacesTheDerivedOne) {
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"R","objects":[{"name":"o","class":"Organization","attributes":{
      "Transitive Vector":{"layout":[{"u32":26},{"u32":0},{"u32":0},{"utf16":"X"}]}}}],
      "servers":[{"name":"s.o"}],"partitions":[{"root":"o","replicas":[{"server":"s.o"}]}]})", "", false), "");
  ReadResult r = ReadAll(Context("R"), "o", {"Transitive Vector", "Replica"});
  ASSERT_EQ(r.code, 0);
  auto vector = ValuesOf(r, "Transitive Vector");
  ASSERT_EQ(vector.size(), 1u);
  EXPECT_EQ(U32At(vector[0]->As<Octet_String_T>().data, 0), 0x1Au);
  EXPECT_EQ(ValuesOf(r, "Replica").size(), 1u);
}

std::string ReadStream(NWDSContextHandle c, const char* object, const char* attr, NWRCODE& code) {
  NWStreamHandle fd = -1;
  code = DSStreamOpen(c, object, attr, DS_READ_STREAM, &fd);
  if (code) return "";
  std::string content;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) content.append(chunk, static_cast<std::size_t>(n));
  close(fd);
  return content;
}

TEST_F(Reads, StreamsAreReadableFileDescriptors) {
  NWRCODE code = 0;
  std::string macros = ReadStream(c_, "Word.Engineering.ACME", "App:Macros", code);
  ASSERT_EQ(code, 0);
  EXPECT_EQ(macros.substr(0, 8), "AOT FILE");
  EXPECT_GT(macros.size(), 24u);
  EXPECT_NE(ReadStream(c_, "ACME", "Login Script", code).find("MAP ROOT"), std::string::npos);
  ReadStream(c_, "ACME", "Description", code);
  EXPECT_EQ(code, ERR_INVALID_ATTR_SYNTAX);
  ReadStream(c_, "admin.ACME", "Login Script", code);
  EXPECT_EQ(code, ERR_NO_SUCH_ATTRIBUTE);
  NWStreamHandle fd = -1;
  EXPECT_EQ(DSStreamOpen(c_, "ACME", "Login Script", 2, &fd), ERR_INVALID_REQUEST);
  // In a read reply a stream value is its size.
  ReadResult r = ReadAll(c_, "Word.Engineering.ACME", {"App:Macros"});
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.values[0].syntax, SYN_STREAM);
  EXPECT_EQ(r.values[0].As<nuint32>(), macros.size());
}

TEST_F(Reads, StreamsLongerThanAReplyAreWhole) {
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"S","objects":[{"name":"x","class":"User","attributes":{
      "Login Script":{"layout":[{"text":"head"},{"zeros":70000},{"text":"tail"}]}}}]})", "", false), "");
  NWRCODE code = 0;
  std::string content = ReadStream(Context("S"), "x", "Login Script", code);
  ASSERT_EQ(code, 0);
  EXPECT_EQ(content.size(), 70008u);
  EXPECT_EQ(content.substr(70004), "tail");
}

}  // namespace
}  // namespace vestrel::testing
