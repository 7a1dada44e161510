// Reading attributes as text lines on the embedded demo directory: every attribute of
// every object, representative lines, pseudo-attributes, chains and the value guard.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "directory/D_NW.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"
#include "tests/directory/ZoneAndLocale.h"
#include "tests/platform/NwTestSupport.h"

namespace vestrel {
namespace {

using testing::ZoneAndLocale;

class AttrRead : public testing::NwTest {
 protected:
  void SetUp() override {
    NwTest::SetUp();
    ConnectDemo();
    context_ = Context();
  }

  std::string Lines(const std::string& object, const std::string& path, NWRCODE expected = 0) {
    std::string text = "untouched";
    EXPECT_EQ(ReadAttrLines(context_, object, path, text), expected) << object << " " << path;
    return text;
  }

  // Names of every attribute a read of all attributes returns.
  std::set<std::string> AttributeNames(const std::string& object) {
    std::set<std::string> names;
    for (const auto& value : testing::ReadAll(context_, object, {}).values) names.insert(value.attr);
    return names;
  }

  ZoneAndLocale zone_{"UTC", "de_DE"};
  NWDSContextHandle context_ = 0;
};

// A small tree of its own for chains, malformed values, streams and long replies.
constexpr const char* kSideTree = R"json({
  "tree": "SIDE_TREE",
  "clock": "2024-05-06T08:00:00Z",
  "defaultCreator": "u1.CORP",
  "schema": { "X:Intervals": 27, "Bindery Property": 9, "X:Stream": 21, "App:Macros": 21, "X:Blob": 9 },
  "objects": [
    { "name": "O=CORP", "class": "Organization" },
    { "name": "u1.CORP", "class": "User", "creator": "SRV1.CORP", "modifier": "u2.CORP",
      "attributes": {
        "Full Name": "User One",
        "X:Intervals": [60, -5, 3600],
        "Bindery Property": ["0000000000",
          { "layout": [ { "zeros": 5 }, { "cstring": "NAME" }, { "zeros": 37 }, { "cstring": "ABC" } ] }],
        "X:Stream": { "text": "first part" },
        "X:Blob": "0A0B0C",
        "Home Directory": { "nameSpace": 4, "volume": "VOL1", "path": "\\home\\u1" }
      } },
    { "name": "u2.CORP", "class": "User", "creator": "SRV2.CORP" },
    { "name": "Team.CORP", "class": "Group", "attributes": { "Member": ["u1.CORP", "u2.CORP"] } }
  ],
  "servers": [
    { "name": "SRV1.CORP", "addresses": [ { "type": 9, "ip": "10.0.0.1", "port": 524 } ] },
    { "name": "SRV2.CORP", "addresses": [ { "type": 1, "ip": "10.0.0.2", "port": 524 } ] }
  ]
})json";

class SideRead : public AttrRead {
 protected:
  void SetUp() override {
    AttrRead::SetUp();
    ASSERT_EQ(nwtest::ConnectTreeJson(kSideTree, "u1.CORP", false), "");
    side_ = Context("SIDE_TREE");
  }
  std::string SideLines(const std::string& object, const std::string& path, NWRCODE expected = 0) {
    std::string text = "untouched";
    EXPECT_EQ(ReadAttrLines(side_, object, path, text), expected) << object << " " << path;
    return text;
  }
  // Gives an object of the side tree a raw attribute (replacing one of the same name).
  void SetRaw(const std::string& object, nw::Attribute attribute) {
    nw::Object* found = nwtest::FindTree("SIDE_TREE")->Find(object);
    ASSERT_NE(found, nullptr);
    std::erase_if(found->attributes, [&](const nw::Attribute& a) { return a.name == attribute.name; });
    found->attributes.push_back(std::move(attribute));
  }
  static nw::Attribute Stream(const std::string& name, const nw::Bytes& content) {
    nw::Value value;
    value.bytes = content;
    return nw::Attribute{name, SYN_STREAM, {value}};
  }

  NWDSContextHandle side_ = 0;
};

TEST_F(AttrRead, EveryAttributeOfEveryObjectReads) {
  for (const char* treeName : {"ACME_TREE", "LAB_TREE"}) {
    const NWDSContextHandle context = Context(treeName);
    for (const nw::Object* object : nwtest::FindTree(treeName)->Objects()) {
      const std::string name = object->FullName();
      std::set<std::string> names;
      for (const auto& value : testing::ReadAll(context, name, {}).values) names.insert(value.attr);
      names.insert({"Aliased Object Name", "CONTEXT", "RDN", "CLASS", "createTimeStamp", "modifyTimestamp",
                    "creatorsName|Full Name"});
      for (const std::string& attr : names) {
        std::string text;
        const NWRCODE code = ReadAttrLines(context, name, attr, text);
        EXPECT_TRUE(code == 0 || code == ERR_NO_SUCH_ATTRIBUTE) << name << " " << attr << " " << code;
        EXPECT_EQ(text.find("Range check error"), std::string::npos) << name << " " << attr;
      }
    }
  }
  EXPECT_EQ(nwtest::OpenBuffers(), 0u);
}

TEST_F(AttrRead, RepresentativeLines) {
  EXPECT_EQ(Lines("[Root]", "Replica"),
            "FS1.HQ.ACME [Master] [Nr: 1]\r\nFS2.HQ.ACME [Secondary] [Nr: 2]\r\n"
            "SALES-FS1.Sales.ACME [Read-Only] [Nr: 3]");
  EXPECT_EQ(Lines("jdoe.Sales.ACME", "Replica", ERR_NO_SUCH_ATTRIBUTE), "untouched");
  EXPECT_EQ(Lines("Legacy.ACME", "Partition Status"),
            "OLDNW.Legacy.ACME / Replica 1 / Last Sync:  29.04.24 22:13:00/ (local error) / Error FFFFFD8F\r\n"
            "FS1.HQ.ACME / Replica 2 / Last Sync:  06.05.24 07:30:00/ (remote error) \r\n"
            "BER-FS1.Berlin.Sales.ACME / Replica 3 / Last Sync:  06.05.24 07:30:04/ (remote error) ");
  EXPECT_EQ(Lines("FS1.HQ.ACME", "Network Address"),
            "(0) 0000CAFE:000000000001\r\n(1) 10.1.0.11:524\r\n(8) 10.1.0.11:524\r\n(9) 10.1.0.11:524");
  EXPECT_EQ(Lines("ACME", "ACL"),
            "[BCDRAI] admin.ACME / [Entry Rights]\r\n[ RWSA ] Admins.HQ.ACME / [All Attributes Rights]\r\n"
            "[   R I] [Public] / [Entry Rights]");
  EXPECT_EQ(Lines("Sales.ACME", "Transitive Vector"),
            "(   1/66388CD6/ 390) SALES-FS1.Sales.ACME\r\n(   2/66388CD9/ 38E) FS1.HQ.ACME");
  EXPECT_EQ(Lines("admin.ACME", "Password Expiration Interval"), "90 days");
  EXPECT_EQ(Lines("admin.ACME", "Home Directory"), "(0) FS1_USERS.HQ.ACME:\\admin");
  EXPECT_EQ(Lines("ACME", "Postal Address"), "ACME Corporation\r\n1 Industrial Way\r\nSpringfield\r\n\r\n\r\nUSA");
  EXPECT_EQ(Lines("Word.Engineering.ACME", "App:Macros"),
            "AOT FILE (90 bytes) (1/2/0 3/0)\r\n\r\n (   1/   0/   0) PATH / F:\\APPS\\WORD\r\n"
            " (   2/   0/   1) LANG / EN");
  EXPECT_EQ(Lines("ACME", "Login Script"),
            "MAP ROOT F:=FS1/SYS:\r\nMAP INS S1:=FS1/SYS:PUBLIC\r\nWRITE \"Good %GREETING_TIME, %LOGIN_NAME\"");
}

TEST_F(AttrRead, TimeStampsFollowTheZoneButLastSyncDoesNot) {
  EXPECT_EQ(Lines("admin.ACME", "Login Time"), "06.05.24 07:41:12");
  ZoneAndLocale east("UTC-2", "de_DE");
  EXPECT_EQ(Lines("admin.ACME", "Login Time"), "06.05.24 09:41:12");
  EXPECT_EQ(Lines("Sales.ACME", "Partition Status").substr(0, 67),
            "SALES-FS1.Sales.ACME / Replica 1 / Last Sync:  06.05.24 07:55:02/ (");
  // The object's own times are shown as they are.
  EXPECT_EQ(Lines("admin.ACME", "modifyTimestamp"), "06.05.24 07:41");
}

TEST_F(AttrRead, PseudoAttributesInAnyCase) {
  for (const char* head : {"CONTEXT", "context", "Context"}) EXPECT_EQ(Lines("jdoe.Sales.ACME", head), ".Sales.ACME");
  for (const char* head : {"RDN", "rdn"}) EXPECT_EQ(Lines("jdoe.Sales.ACME", head), "jdoe");
  for (const char* head : {"CLASS", "Class"}) EXPECT_EQ(Lines("jdoe.Sales.ACME", head), "User");
  for (const char* head : {"createTimeStamp", "CREATETIMESTAMP"})
    EXPECT_EQ(Lines("jdoe.Sales.ACME", head), "20.04.15 11:05");
  EXPECT_EQ(Lines("admin.ACME", "MODIFYTIMESTAMP"), "06.05.24 07:41");
  EXPECT_EQ(Lines("nobody.ACME", "CONTEXT", ERR_NO_SUCH_ENTRY), "untouched");
  EXPECT_EQ(Lines("nobody.ACME", "Full Name", ERR_NO_SUCH_ENTRY), "untouched");
}

TEST_F(AttrRead, JoiningLines) {
  EXPECT_EQ(Lines("jdoe.Sales.ACME", "Language"), "ENGLISH\r\nDEUTSCH");
  std::string text;
  EXPECT_EQ(ReadAttrText(context_, "jdoe.Sales.ACME", "Language", text, "", "", ", "), 0);
  EXPECT_EQ(text, "ENGLISH, DEUTSCH");
  EXPECT_EQ(ReadAttrText(context_, "jdoe.Sales.ACME", "Language", text, "<", ">", "; "), 0);
  EXPECT_EQ(text, "<ENGLISH>; <DEUTSCH>");
  // Line breaks inside a value are replaced as well.
  EXPECT_EQ(ReadAttrText(context_, "ACME", "Login Script", text, "", "", " | "), 0);
  EXPECT_EQ(text, "MAP ROOT F:=FS1/SYS: | MAP INS S1:=FS1/SYS:PUBLIC | WRITE \"Good %GREETING_TIME, %LOGIN_NAME\"");
  // A path that ends in "|" reads the head only.
  EXPECT_EQ(Lines("jdoe.Sales.ACME", "Full Name|"), "Jane Doe");
}

TEST_F(AttrRead, AliasedObjectNameReadsTheAliasItself) {
  for (const char* attr : {"Aliased Object Name", "aliased OBJECT name"})
    EXPECT_EQ(Lines("Administrator.Sales.ACME", attr), "admin.ACME");
  // Other attributes are read through the alias, and the caller's context keeps following aliases.
  EXPECT_EQ(Lines("Administrator.Sales.ACME", "Full Name"), "ACME Directory Administrator");
  nuint32 flags = 0;
  ASSERT_EQ(DSContextGetValue(context_, DCK_FLAGS, sizeof flags, &flags), 0);
  EXPECT_TRUE(flags & DCV_DEREF_ALIASES);
}

TEST_F(AttrRead, ChainsFollowTheNamesOfOneAttribute) {
  EXPECT_EQ(Lines("jdoe.Sales.ACME", "creatorsName|Full Name"), "ACME Directory Administrator");
  EXPECT_EQ(Lines("jdoe.Sales.ACME", "MODIFIERSNAME|Given Name"), "Jane");
  EXPECT_EQ(Lines("Admins.HQ.ACME", "Member|Surname"), "Administrator\r\nSmith");
  // The last member lacks the attribute: its code is the result, with the other lines.
  std::string text;
  TextList lines;
  int capacity = 0;
  EXPECT_EQ(ReadAttrPath(context_, "Admins.HQ.ACME", "Member|Login Script", nullptr, capacity, lines),
            ERR_NO_SUCH_ATTRIBUTE);
  EXPECT_EQ(lines.Count(), 0);
  EXPECT_EQ(ReadAttrPath(context_, "Admins.HQ.ACME", "Member|Full Name", nullptr, capacity, lines),
            ERR_NO_SUCH_ATTRIBUTE);
  EXPECT_EQ(lines.ToVector(), std::vector<std::string>{"ACME Directory Administrator"});
  EXPECT_EQ(ReadAttrPath(context_, "Admins.HQ.ACME", "Member|Surname|CLASS", nullptr, capacity, lines),
            ERR_NO_SUCH_ENTRY);
}

TEST(LdapNames, TypePrefixesGoAndCommasBecomeDots) {
  EXPECT_EQ(LdapToDotName("cn=admin,ou=Sales,o=Acme"), "admin.Sales.Acme");
  EXPECT_EQ(LdapToDotName("CN=admin,OU=Sales,O=Acme"), "admin.Sales.Acme");
  EXPECT_EQ(LdapToDotName("cn=x,c=US"), "x.c=US");
  EXPECT_EQ(LdapToDotName("plain"), "plain");
}

TEST_F(SideRead, CreatorChainGivesTheCreatorsAddresses) {
  EXPECT_EQ(SideLines("u1.CORP", "creatorsName"), "cn=SRV1,o=CORP");
  EXPECT_EQ(SideLines("u1.CORP", "creatorsName|Network Address"), "(9) 10.0.0.1:524");
  EXPECT_EQ(SideLines("Team.CORP", "Member|creatorsName|Network Address"), "(9) 10.0.0.1:524\r\n(1) 10.0.0.2:524");
  EXPECT_EQ(SideLines("Team.CORP", "Member|modifiersName|Full Name", ERR_NO_SUCH_ATTRIBUTE), "untouched");
}

TEST_F(SideRead, AFailingValueBecomesItsLineAndTheOthersFollow) {
  EXPECT_EQ(SideLines("u1.CORP", "X:Intervals"), "1 min\r\nRange check error\r\n1 h");
  EXPECT_EQ(SideLines("u1.CORP", "Bindery Property"), "Range check error\r\nNAME: ABC");
}

TEST_F(SideRead, FailuresOfTheLibraryAreReturnedAndNothingLeaks) {
  const std::size_t contexts = nwtest::OpenContexts();
  for (const char* operation : {"DSContextClone", "DSBufferAlloc", "DSBufferInit", "DSRequestAddAttrName",
                                "DSReadStep", "DSResultAttrCount", "DSResultNextAttr", "DSResultValueSize",
                                "DSResultNextValue"}) {
    nwtest::FailOperation(operation, ERR_SYSTEM_FAILURE);
    EXPECT_EQ(SideLines("u1.CORP", "Full Name", ERR_SYSTEM_FAILURE), "untouched") << operation;
    nwtest::ClearFailures();
    EXPECT_EQ(nwtest::OpenContexts(), contexts) << operation;
    EXPECT_EQ(nwtest::OpenBuffers(), 0u) << operation;
  }
  // A stream that cannot be opened adds no line.
  nwtest::FailOperation("DSStreamOpen", ERR_NO_ACCESS);
  EXPECT_EQ(SideLines("u1.CORP", "X:Stream", ERR_NO_ACCESS), "untouched");
  std::string text;
  EXPECT_EQ(ReadStreamText(side_, "u1.CORP", "X:Stream", true, text), ERR_NO_ACCESS);
  EXPECT_EQ(text, "Cannot read Stream");
}

TEST_F(SideRead, StreamsAsText) {
  EXPECT_EQ(SideLines("u1.CORP", "X:Stream"), "first part");
  std::string text;
  EXPECT_EQ(ReadStreamText(side_, "u1.CORP", "X:Stream", true, text), 0);
  EXPECT_EQ(text, "Stream (10 bytes):\r\nfirst part");
  // The text ends at the first zero byte.
  SetRaw("u1.CORP", Stream("X:Stream", {'a', 'b', 0, 'c'}));
  EXPECT_EQ(SideLines("u1.CORP", "X:Stream"), "ab");
  // A stream longer than the buffer is shown from its first 64512 bytes.
  SetRaw("u1.CORP", Stream("X:Stream", nw::Bytes(70000, 'a')));
  EXPECT_EQ(ReadStreamText(side_, "u1.CORP", "X:Stream", true, text), 0);
  EXPECT_EQ(text, "Stream (64512 bytes):\r\n" + std::string(64512, 'a'));
  SetRaw("u1.CORP", Stream("X:Stream", {'A', 'O', 'T', ' ', 'F', 'I', 'L', 'E', 1, 2}));
  EXPECT_EQ(SideLines("u1.CORP", "X:Stream"), "AOT FILE (10 bytes)");
}

TEST_F(SideRead, AStreamThatCannotBeDecodedShowsTheFailureAsItsLine) {
  nw::Bytes content{'A', 'O', 'T', ' ', 'F', 'I', 'L', 'E'};
  content.resize(24 + 12, 0);
  content.insert(content.end(), {0x00, 0x04, 0, 0});  // a string count of 1024
  content.resize(content.size() + 1024, 'x');
  SetRaw("u1.CORP", Stream("App:Macros", content));
  EXPECT_EQ(SideLines("u1.CORP", "App:Macros"), "Range check error");
}

TEST_F(SideRead, ValueDetailsAndRawCopies) {
  TextList lines;
  AttrValueInfo info;
  std::uint8_t raw[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  int capacity = 2;
  EXPECT_EQ(ReadAttrValues(side_, "u1.CORP", "X:Blob", lines, capacity, raw, &info), 0);
  EXPECT_EQ(lines.ToVector(), std::vector<std::string>{"0A0B0C"});
  EXPECT_EQ(raw[0], 0x0A);
  EXPECT_EQ(raw[1], 0x0B);
  EXPECT_EQ(raw[2], 0xEE);  // only the room given is written
  EXPECT_EQ(static_cast<nuint32>(capacity), info.valueSize);
  EXPECT_EQ(info.syntaxId, SYN_OCTET_STRING);
  EXPECT_EQ(info.valueCount, 1u);

  // Flags and modification time stamps of each value.
  nw::Attribute blob{"X:Blob", SYN_OCTET_STRING, {}};
  for (nuint32 i = 1; i <= 2; ++i) {
    nw::Value value;
    value.bytes = {static_cast<std::uint8_t>(i)};
    value.flags = 8 * i;
    value.modTime = TimeStamp_T{1000 * i, static_cast<nuint16>(i), static_cast<nuint16>(10 + i)};
    blob.values.push_back(value);
  }
  SetRaw("u1.CORP", blob);
  info = AttrValueInfo{};
  capacity = 0;
  EXPECT_EQ(ReadAttrValues(side_, "u1.CORP", "X:Blob", lines, capacity, nullptr, &info), 0);
  EXPECT_EQ(info.valueCount, 2u);
  EXPECT_EQ(info.details[0].flags, 0u);  // entries count from 1
  EXPECT_EQ(info.details[2].flags, 16u);
  EXPECT_EQ(info.details[2].modificationTime.wholeSeconds, 2000u);
  EXPECT_EQ(info.details[1].modificationTime.replicaNum, 1u);
  EXPECT_EQ(info.details[1].modificationTime.eventID, 11u);

  Path_T path{};
  capacity = sizeof path;
  EXPECT_EQ(ReadAttrValues(side_, "u1.CORP", "Home Directory", lines, capacity, &path, &info), 0);
  EXPECT_EQ(path.nameSpaceType, 4u);
  ASSERT_NE(path.volumeName, nullptr);
  EXPECT_STREQ(path.volumeName, "VOL1");
  EXPECT_STREQ(path.path, "\\home\\u1");
  std::free(path.volumeName);
  std::free(path.path);

  // Every value is copied within the caller's room, however large an earlier value was.
  std::uint8_t small[4] = {};
  capacity = sizeof small;
  EXPECT_EQ(ReadAttrValues(side_, "Team.CORP", "Member", lines, capacity, small, &info), 0);
  EXPECT_EQ(info.valueCount, 2u);
  EXPECT_GT(capacity, 4);
}

TEST_F(SideRead, ManyValuesOverSeveralReplies) {
  nw::Attribute descriptions{"Description", SYN_CI_STRING, {}};
  for (int i = 0; i < 3000; ++i) {
    nw::Value value;
    value.text = "Description line number " + std::to_string(i);
    descriptions.values.push_back(value);
  }
  SetRaw("u1.CORP", descriptions);
  nwtest::ResetCallCounts();
  TextList lines;
  EXPECT_EQ(ReadAttrToList(side_, "u1.CORP", "Description", lines), 0);
  ASSERT_EQ(lines.Count(), 3000);
  EXPECT_EQ(lines[2999], "Description line number 2999");
  EXPECT_GT(nwtest::CallCount("DSReadStep"), 1u);
  // The list is appended to, not cleared.
  EXPECT_EQ(ReadAttrToList(side_, "u1.CORP", "Full Name", lines), 0);
  EXPECT_EQ(lines.Count(), 3001);
}
}  // namespace
}  // namespace vestrel
