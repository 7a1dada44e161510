// The converter writes a demo tree so that the values an LDAP server then sends decode
// into exactly the values the tree file gives.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <sstream>

#include "platform/nwclient/Model.h"
#include "platform/nwclient/ldap/LdapNames.h"
#include "platform/nwclient/ldap/LdapValues.h"
#include "tools/ldif/TreeToLdif.h"

namespace vestrel::ldif {
namespace {

std::string FromBase64(const std::string& text) {
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    const int v = c >= 'A' && c <= 'Z' ? c - 'A' : c >= 'a' && c <= 'z' ? c - 'a' + 26 : c >= '0' && c <= '9' ? c - '0' + 52
                  : c == '+' ? 62 : c == '/' ? 63 : -1;
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// dn -> attribute -> values, read back from the LDIF text.
std::map<std::string, std::multimap<std::string, std::string>> ReadLdif(const std::string& text) {
  std::map<std::string, std::multimap<std::string, std::string>> entries;
  std::istringstream lines(text);
  std::string dn;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t colon = line.find(':');
    const std::string name = line.substr(0, colon);
    const bool encoded = line.compare(colon, 2, "::") == 0;
    const std::string value = encoded ? FromBase64(line.substr(colon + 3)) : line.substr(colon + 2);
    if (name == "dn") dn = value;
    else entries[dn].emplace(name, value);
  }
  return entries;
}

TEST(TreeToLdif, TheDemoTreesValuesComeBackFromTheirLdapForms) {
  const auto tree = nw::LoadTreeFile(std::string(VESTREL_TEST_TREES) + "/acme.json");
  const LdifResult result = TreeToLdif(*tree);
  const auto entries = ReadLdif(result.text);
  EXPECT_EQ(entries.size(), tree->Objects().size() - 1);  // every object but the tree root

  const auto& server = entries.at("cn=FS1,ou=HQ,o=ACME");
  EXPECT_EQ(server.find("objectClass")->second, "ncpServer");
  EXPECT_EQ(server.find("Version")->second, "Novell NetWare 6.5 SP8");
  EXPECT_EQ(server.find("dsRevision")->second, "10552");
  EXPECT_EQ(server.count("networkAddress"), 4u);

  // A partition root: its replica values decode into the ring of the file.
  const nw::Object& sales = *tree->Find("Sales.ACME");
  nw::Attribute replica;
  ASSERT_TRUE(nw::FindEffectiveAttribute(*tree, sales, "Replica", replica));
  const auto& root = entries.at("ou=Sales,o=ACME");
  ASSERT_EQ(root.count("Replica;binary"), replica.values.size());
  auto written = root.equal_range("Replica;binary").first;
  for (const nw::Value& expected : replica.values) {
    const nw::Value read = nw::ldap::DecodeValue(SYN_REPLICA_POINTER, (written++)->second);
    ASSERT_FALSE(read.malformed);
    EXPECT_EQ(read.text, DnOf(*tree, expected.text));
    EXPECT_EQ(read.number, expected.number);
    EXPECT_EQ(read.number2, expected.number2);
    EXPECT_EQ(read.bytes, expected.bytes);
  }
  nw::Attribute status;
  ASSERT_TRUE(nw::FindEffectiveAttribute(*tree, sales, "Partition Status", status));
  auto statusValue = root.equal_range("partitionStatus").first;
  for (const nw::Value& expected : status.values)
    EXPECT_EQ(nw::ldap::DecodeValue(SYN_OCTET_STRING, (statusValue++)->second).bytes, expected.bytes);
  EXPECT_EQ(root.count("objectClass"), 2u);  // organizationalUnit and Partition
  EXPECT_EQ(entries.at("o=ACME").find("createTimestamp")->second, "20090216093000Z");
  EXPECT_EQ(entries.at("o=ACME").find("creatorsName")->second, "cn=admin,o=ACME");
  // An alias is of eDirectory's alias class.
  EXPECT_EQ(entries.at("cn=Administrator,ou=Sales,o=ACME").lower_bound("objectClass")->second, "aliasObject");
}

// Moved times: every time the tree file gives or derives shows the same distance from the
// moved clock as before; no time (0) stays none.
TEST(TreeToLdif, MovedTimesKeepTheirDistanceFromTheTreesClock) {
  const std::string path = std::string(VESTREL_TEST_TREES) + "/acme.json";
  const auto tree = nw::LoadTreeFile(path);
  const auto moved = nw::LoadTreeFile(path);
  constexpr std::int64_t kShift = 86400 * 1000 + 17;
  MoveTimes(*moved, kShift);
  EXPECT_EQ(moved->clock, tree->clock + kShift);
  EXPECT_EQ(SecondsToNow(*tree, tree->clock + kShift), kShift);
  EXPECT_EQ(SecondsToNow(*nw::LoadTreeText(R"({"tree": "T", "objects": []})", "t"), 1714982400), 0);

  const auto original = ReadLdif(TreeToLdif(*tree).text);
  const auto shifted = ReadLdif(TreeToLdif(*moved).text);
  const auto time = [](const nw::Value& v) { return v.number; };
  struct Moved {
    const char* object;
    const char* attribute;
    nuint32 syntax;
    std::function<nuint32(const nw::Value&)> seconds;
  };
  // The time inside an octet value: status values hold it at 8, vectors at 4.
  const auto timeAt = [](std::size_t at) {
    return [at](const nw::Value& v) {
      nuint32 seconds = 0;
      for (std::size_t i = 4; i-- > 0 && at + i < v.bytes.size();) seconds = seconds << 8 | v.bytes[at + i];
      return seconds;
    };
  };
  const Moved cases[] = {
      {"o=ACME", "createTimestamp", SYN_TIME, time},
      {"o=ACME", "modifyTimestamp", SYN_TIME, time},
      {"cn=admin,o=ACME", "createTimestamp", SYN_TIME, time},
      {"ou=Legacy,o=ACME", "purgeVector", SYN_TIMESTAMP, time},
      {"ou=Legacy,o=ACME", "partitionStatus", SYN_OCTET_STRING, timeAt(8)},
      {"ou=Legacy,o=ACME", "transitiveVector", SYN_OCTET_STRING, timeAt(4)},
      {"ou=Legacy,o=ACME", "localReceivedUpTo", SYN_OCTET_STRING, timeAt(4)},
  };
  for (const Moved& c : cases) {
    SCOPED_TRACE(std::string(c.object) + " " + c.attribute);
    const auto before = original.at(c.object).equal_range(c.attribute);
    const auto after = shifted.at(c.object).equal_range(c.attribute);
    ASSERT_NE(before.first, before.second);
    ASSERT_EQ(std::distance(before.first, before.second), std::distance(after.first, after.second));
    for (auto b = before.first, a = after.first; b != before.second; ++b, ++a) {
      const nuint32 was = c.seconds(nw::ldap::DecodeValue(c.syntax, b->second));
      ASSERT_GT(was, 0u);
      EXPECT_EQ(c.seconds(nw::ldap::DecodeValue(c.syntax, a->second)), was + kShift);
    }
  }
  // The time values of the file's own attributes move too.
  const nw::Object& admin = *moved->Find("admin.ACME");
  EXPECT_EQ(admin.RawAttribute("Login Time")->values[0].number,
            tree->Find("admin.ACME")->RawAttribute("Login Time")->values[0].number + kShift);
}

TEST(TreeToLdif, NamesOutsideTheTreeGetDefaultTypes) {
  const auto tree = nw::LoadTreeText(R"({"tree": "T", "objects": [{"name": "O=X", "class": "Organization"}]})", "t");
  EXPECT_EQ(DnOf(*tree, "X"), "o=X");
  EXPECT_EQ(DnOf(*tree, "a.b.c"), "cn=a,ou=b,o=c");
  EXPECT_EQ(DnOf(*tree, "CN=a\\,b.S=BE.C=DE"), "cn=a\\,b,st=BE,c=DE");
}

}  // namespace
}  // namespace vestrel::ldif
