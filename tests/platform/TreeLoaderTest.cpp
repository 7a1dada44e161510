// Loading tree files: the demo trees, the value forms, and broken files that must give a
// clear message and never crash.
#include <fstream>

#include "NwTestSupport.h"
#include "platform/nwclient/Model.h"

namespace vestrel::testing {
namespace {

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string LoadProblem(const std::string& json) {
  try {
    nw::LoadTreeText(json, "broken.json");
  } catch (const nw::LoadError& e) {
    return e.what();
  }
  return "";
}

TEST(TreeLoader, DemoTreesLoadWithServersPartitionsAndAliases) {
  auto acme = nw::LoadTreeFile(DemoTree("acme.json"));
  EXPECT_EQ(acme->name, "ACME_TREE");
  EXPECT_GE(acme->servers.size(), 5u);
  EXPECT_GE(acme->partitions.size(), 4u);
  EXPECT_NE(acme->Find("[Root]")->partition, nullptr);
  const nw::Object* alias = acme->Find("Administrator.Sales.ACME");
  ASSERT_NE(alias, nullptr);
  EXPECT_EQ(alias->aliasTarget, "admin.ACME");
  // Typed names in the file are kept without types, and found with or without them.
  EXPECT_EQ(acme->Find("ou=hq.o=acme"), acme->Find(".HQ.ACME"));
  EXPECT_EQ(acme->Find("HQ.ACME")->nameType, nw::NameType::OU);
  auto lab = nw::LoadTreeFile(DemoTree("lab.json"));
  EXPECT_EQ(lab->name, "LAB_TREE");
}

TEST(TreeLoader, ReplicaDefaultsFollowTheRingPosition) {
  auto tree = nw::LoadTreeText(R"({"tree":"T","clock":1000,
    "objects":[{"name":"O1","class":"Organization"}],
    "servers":[{"name":"S1.O1"},{"name":"S2.O1"}],
    "partitions":[{"root":"O1","replicas":[{"server":"S1.O1","errors":[-625,-636]},{"server":"S2.O1"}]}]})", "t");
  const nw::Partition& p = *tree->partitions.at(0);
  EXPECT_EQ(p.ring[0].type, RT_MASTER);
  EXPECT_EQ(p.ring[1].type, RT_SECONDARY);
  EXPECT_EQ(p.ring[1].number, 2u);
  EXPECT_EQ(p.ring[0].lastSync, 1000u);
  EXPECT_EQ(p.ring[0].statusError, -625);  // the first error, unless given
  EXPECT_EQ(tree->Find("S1.O1")->baseClass, "NCP Server");
}

TEST(TreeLoader, ValueFormsOfEverySyntaxFamily) {
  auto tree = nw::LoadTreeText(R"({"tree":"T","schema":{"Raw":30,"Blob":9,"S":21},
    "objects":[{"name":"x","class":"User","attributes":{
      "Raw":"01 02", "Blob":{"layout":[{"u32":1},{"u16":2},{"utf16":"A"},{"cstring":"b"},{"zeros":2}]},
      "S":{"base64":"QU9UIEZJTEU="}, "Login Time":"2024-05-06T08:00:00Z",
      "Network Address":[{"type":9,"ip":"10.0.0.1","port":524},{"type":1,"ip":"10.0.0.1","port":524},
                         {"type":0,"network":"0000CAFE","node":"000000000001"}]}}]})", "t");
  const nw::Object& x = *tree->Find("x");
  EXPECT_EQ(x.RawAttribute("raw")->values[0].bytes, (nw::Bytes{1, 2}));
  EXPECT_EQ(x.RawAttribute("Blob")->values[0].bytes, (nw::Bytes{1, 0, 0, 0, 2, 0, 'A', 0, 0, 0, 'b', 0, 0, 0}));
  EXPECT_EQ(x.RawAttribute("S")->values[0].bytes, (nw::Bytes{'A', 'O', 'T', ' ', 'F', 'I', 'L', 'E'}));
  EXPECT_EQ(x.RawAttribute("Login Time")->values[0].number, 1714982400u);
  const auto& addresses = x.RawAttribute("Network Address")->values;
  EXPECT_EQ(addresses[0].bytes, (nw::Bytes{0x02, 0x0C, 10, 0, 0, 1}));  // UDP/TCP: port first
  EXPECT_EQ(addresses[1].bytes, (nw::Bytes{10, 0, 0, 1, 0x02, 0x0C}));
  EXPECT_EQ(addresses[2].bytes.size(), 12u);
}

TEST(TreeLoader, TimesAreReadAsUtcWhateverTheMachineZone) {
  nuint32 seconds = 0;
  ASSERT_TRUE(nw::ParseDirTime("1970-01-01T00:00:00Z", seconds));
  EXPECT_EQ(seconds, 0u);
  ASSERT_TRUE(nw::ParseDirTime("2024-02-29 12:00:00", seconds));
  EXPECT_EQ(seconds, 1709208000u);
  ASSERT_TRUE(nw::ParseDirTime("2106-02-07", seconds));
  EXPECT_FALSE(nw::ParseDirTime("2106-02-08", seconds));  // beyond the 32-bit directory time
  EXPECT_FALSE(nw::ParseDirTime("1969-12-31", seconds));
  EXPECT_FALSE(nw::ParseDirTime("2024-13-01", seconds));
  EXPECT_FALSE(nw::ParseDirTime("2024-05-06T08:00:00Zjunk", seconds));
}

TEST(TreeLoader, BrokenFilesNameTheFileThePlaceAndTheProblem) {
  struct Case {
    const char* json;
    const char* expected;
  } cases[] = {
      {R"({"tree":"T",)", "not valid JSON"},
      {R"([1,2])", "expected an object"},
      {R"({"objects":[]})", "\"tree\" is missing"},
      {R"({"tree":"T","bogus":1})", "unknown key \"bogus\""},
      {R"({"tree":"T","objects":[{"name":"a.b","class":"User"}]})", "objects[0].name: the parent \"b\""},
      {R"({"tree":"T","objects":[{"name":"a","class":7}]})", "objects[0].class: expected a text"},
      {R"({"tree":"T","objects":[{"name":"a","class":"User"},{"name":"A","class":"User"}]})", "defined twice"},
      {R"({"tree":"T","objects":[{"name":"a","class":"User","attributes":{"Nope":"x"}}]})", "not in the schema"},
      {R"({"tree":"T","objects":[{"name":"a","class":"User","attributes":{"Revision":"x"}}]})", "expected a whole number"},
      {R"({"tree":"T","objects":[{"name":"a","class":"User","attributes":{"Revision":4294967296}}]})", "outside"},
      {R"({"tree":"T","schema":{"B":9},"objects":[{"name":"a","class":"User","attributes":{"B":"0G"}}]})", "not a hex digit"},
      {R"({"tree":"T","schema":{"B":9},"objects":[{"name":"a","class":"User","attributes":{"B":"012"}}]})", "odd number"},
      {R"({"tree":"T","objects":[{"name":"a","aliasOf":"nowhere"}]})", "points to \"nowhere\""},
      {R"({"tree":"T","partitions":[{"root":"x","replicas":[]}]})", "partitions[0].root"},
      {R"({"tree":"T","objects":[{"name":"o","class":"Organization"}],"partitions":[{"root":"o","replicas":[{"server":"s"}]}]})",
       "is not a server"},
      {R"({"tree":"T","servers":[{"name":"s","addresses":[{"type":9,"ip":"10.0.0.300"}]}]})", "not an IPv4 address"},
      {R"({"tree":"T","servers":[{"name":"s","addresses":[{"type":0,"network":"01"}]}]})", "IPX address"},
      {R"({"tree":"T","objects":[{"name":"a..b","class":"User"}]})", "not a valid object name"},
      {R"({"tree":"T","objects":[{"name":"a","class":"User","created":"yesterday"}]})", "expected a time"},
      {R"({"tree":"T","objects":[{"name":"a","class":"User","attributes":{"Surname":"x","SURNAME":"y"}}]})", "given twice"},
  };
  for (const Case& c : cases) {
    std::string problem = LoadProblem(c.json);
    EXPECT_EQ(problem.rfind("broken.json: ", 0), 0u) << c.json << " -> " << problem;
    EXPECT_NE(problem.find(c.expected), std::string::npos) << c.json << " -> " << problem;
  }
}

TEST(TreeLoader, EveryTruncationOfADemoTreeFailsCleanly) {
  std::string text = ReadFileText(DemoTree("acme.json"));
  ASSERT_FALSE(text.empty());
  for (std::size_t cut = 0; cut < text.size(); cut += 37) EXPECT_NE(LoadProblem(text.substr(0, cut)), "");
}

TEST(TreeLoader, MissingFileIsNamed) {
  try {
    nw::LoadTreeFile("/nonexistent/tree.json");
    FAIL();
  } catch (const nw::LoadError& e) {
    EXPECT_STREQ(e.what(), "/nonexistent/tree.json: cannot be opened");
  }
}

}  // namespace
}  // namespace vestrel::testing
