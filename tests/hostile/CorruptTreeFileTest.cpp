// Corrupt tree files: each gives one error that names the file and the problem, the
// other trees still connect, and the program can ask the client for the problems to
// show them at start-up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "directory/D_NW_LoadProblems.h"
#include "directory/calwin32.h"
#include "directory/clxwin32.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"

namespace vestrel::testing {
namespace {

namespace fs = std::filesystem;

std::string LoadErrorOf(const std::string& text) {
  try {
    nw::LoadTreeText(text, "bad.json");
  } catch (const nw::LoadError& e) {
    return e.what();
  }
  return "";
}

std::string Nested(std::size_t depth, bool closed) {
  return std::string(depth, '[') + (closed ? std::string(depth, ']') : "");
}

struct CorruptCase {
  std::string text;
  std::string problem;  // what the message says after "bad.json: "
};

TEST(CorruptTreeFileTest, EveryCorruptFileGivesOneErrorNamingTheFileAndTheProblem) {
  const std::string tree = R"({"tree": "T", )";
  const std::vector<CorruptCase> cases = {
      {"", "not valid JSON: "},
      {"{ \"tree\": ", "not valid JSON: "},
      {"{\"tree\": \"\xFF\"}", "not valid JSON: "},
      {"[1, 2]", "expected an object"},
      {"{\"tree\": 5}", "tree: expected a text"},
      {"{}", "\"tree\" is missing"},
      {"{\"tree\": \"" + std::string(33, 'T') + "\"}", "tree: a tree name has 1 to 32 characters"},
      {tree + R"("objects": {}})", "objects: expected a list"},
      {tree + R"("objects": [{"class": "User"}]})", "objects[0]: \"name\" is missing"},
      {tree + R"("objects": [{"name": "a.b", "class": "User"}]})", "objects[0].name: the parent \"b\""},
      {tree + R"("partitionListBatch": 1e400})", "not valid JSON: "},
      {tree + R"("partitionListBatch": 18446744073709551615})", "partitionListBatch: the number "},
      {tree + R"("clock": -1})", "clock: the number -1 is outside 0..4294967295"},
      {tree + R"("clock": 1.5})", "clock: expected a time"},
      {tree + R"("servers": [{"name": "S", "dsRevision": 99999999999}]})", "servers[0].dsRevision: the number 99999999999"},
      {tree + R"("objects": [{"name": "a", "class": "User", "attributes": {"Description": {"values": [[[[]]]]}}}]})",
       "objects[0].attributes.Description.values[0]: expected a text"},
      {tree + R"("objects": [{"name": "a", "class": "User", "attributes": {"X": {"syntax": 9, "values": [{"layout": [{"zeros": 2097152}]}]}}}]})",
       "is outside 0..1048576"},
      {Nested(200000, true), "expected an object"},
      {Nested(200000, false), "not valid JSON: "},
      {tree + "\"objects\": " + Nested(100000, true) + "}", "objects[0]: expected an object"},
  };
  for (const CorruptCase& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    std::string error;
    ASSERT_NO_THROW(error = LoadErrorOf(c.text));
    EXPECT_TRUE(error.starts_with("bad.json: ")) << error;
    EXPECT_NE(error.find(c.problem), std::string::npos) << error;
  }
  // A deeply nested comment is read and ignored.
  EXPECT_EQ(LoadErrorOf(tree + "\"_note\": " + Nested(100000, true) + "}"), "");
}

TEST(CorruptTreeFileTest, FilesThatCannotBeReadNameThemselves) {
  const fs::path folder = fs::temp_directory_path() / ("vestrel-corrupt-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  for (const fs::path& path : {folder / "missing.json", folder}) {
    try {
      nw::LoadTreeFile(path.string());
      ADD_FAILURE() << path << " loaded";
    } catch (const nw::LoadError& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with(path.string() + ": ")) << e.what();
    }
  }
  fs::remove_all(folder);
}

// The workstation's connections loaded as the program loads them: a connections file,
// its trees beside it.
class StartupProblemsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("vestrel-startup-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    Save("VESTREL_CONNECTIONS");
    Save("VESTREL_TREE_FILE");
    unsetenv("VESTREL_TREE_FILE");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    nwtest::Reset();
    fs::remove_all(folder_);
  }

  std::string Write(const std::string& name, const std::string& content) {
    std::ofstream(folder_ / name, std::ios::binary) << content;
    return (folder_ / name).string();
  }

  // The client starts afresh and loads what the environment names.
  void StartClient(const std::string& variable, const std::string& path) {
    setenv(variable.c_str(), path.c_str(), 1);
    nwtest::ResetToDefaults();
    ASSERT_EQ(ClientInitialize(0, 0), 0);
  }

  static int ConnectionCount() {
    nuint32 iterator = 0;
    NWCONN_REF ref = 0;
    int count = 0;
    while (ConnScanNext(&iterator, &ref) == 0) ++count;
    return count;
  }

  fs::path folder_;

 private:
  void Save(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(StartupProblemsTest, BrokenTreesAreLeftOutTheOthersConnectAndEachProblemIsReported) {
  Write("good.json", R"({"tree": "GOOD_TREE", "objects": [{"name": "O", "class": "Organization"}]})");
  const std::string bad = Write("bad.json", R"({"tree": "BAD_TREE", "objects": [)");
  const std::string typed = Write("typed.json", R"({"tree": "TYPED_TREE", "partitionListBatch": "three"})");
  const std::string connections = Write("connections.json", R"({"connections": [
    {"tree": "bad.json"}, {"tree": "good.json", "primary": true}, {"tree": "missing.json"}, {"tree": "typed.json"}]})");
  StartClient("VESTREL_CONNECTIONS", connections);

  EXPECT_EQ(ConnectionCount(), 1);
  char name[33] = {};
  ASSERT_EQ(ConnReferenceInfo(1, CONN_INFO_TREE_NAME, sizeof name, name), 0);
  EXPECT_EQ(std::string(name), "GOOD_TREE_______________________");

  const std::vector<std::string> problems = TreeLoadProblems();
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_TRUE(problems[0].starts_with(bad + ": not valid JSON: ")) << problems[0];
  EXPECT_EQ(problems[1], (folder_ / "missing.json").string() + ": cannot be opened");
  EXPECT_EQ(problems[2], typed + ": partitionListBatch: expected a whole number");
  EXPECT_EQ(TreeLoadProblemsText(), problems[0] + "\r\n" + problems[1] + "\r\n" + problems[2]);
}

TEST_F(StartupProblemsTest, ABrokenConnectionsFileOrTreeFileLeavesNoConnectionButStartsTheClient) {
  const std::string connections = Write("connections.json", "{ \"connections\": [ {\"tree\": 7} ] }");
  StartClient("VESTREL_CONNECTIONS", connections);
  EXPECT_EQ(ConnectionCount(), 0);
  EXPECT_EQ(TreeLoadProblemsText(), connections + ": connections[0]: expected an object with a \"tree\" file name");

  unsetenv("VESTREL_CONNECTIONS");
  StartClient("VESTREL_TREE_FILE", folder_.string());
  EXPECT_EQ(ConnectionCount(), 0);
  const std::vector<std::string> problems = TreeLoadProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].starts_with(folder_.string() + ": ")) << problems[0];
}

TEST_F(StartupProblemsTest, ProblemTextsAreCutToTheirBufferAndTheListEnds) {
  const std::string tree = Write("long.json", "{\"tree\": \"LONG\", \"" + std::string(5000, 'k') + "\": 1}");
  StartClient("VESTREL_TREE_FILE", tree);
  char small[8];
  nuint32 length = 0;
  ASSERT_EQ(ClientLoadProblem(0, sizeof small, small, &length), 0);
  EXPECT_EQ(std::string(small), tree.substr(0, 7));
  EXPECT_GT(length, 5000u);
  EXPECT_EQ(ClientLoadProblem(0, sizeof small, small, nullptr), 0);
  EXPECT_EQ(ClientLoadProblem(1, sizeof small, small, &length), ERR_NO_MORE_LOAD_PROBLEMS);
  EXPECT_EQ(ClientLoadProblem(0, 0, small, &length), ERR_INVALID_PARAMETER);
  EXPECT_EQ(ClientLoadProblem(0, sizeof small, nullptr, &length), ERR_INVALID_PARAMETER);

  const std::vector<std::string> problems = TreeLoadProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].size(), kMaxLoadProblemChars + 3);
  EXPECT_TRUE(problems[0].starts_with(tree + ": unknown key \"kkk")) << problems[0].substr(0, 200);
  EXPECT_TRUE(problems[0].ends_with("kkk...")) << problems[0].substr(1000);
}

TEST_F(StartupProblemsTest, TreesThatLoadLeaveNoProblem) {
  const std::string tree = Write("fine.json", R"({"tree": "FINE_TREE"})");
  StartClient("VESTREL_TREE_FILE", tree);
  EXPECT_EQ(ConnectionCount(), 1);
  EXPECT_TRUE(TreeLoadProblems().empty());
  EXPECT_EQ(TreeLoadProblemsText(), "");
}

}  // namespace
}  // namespace vestrel::testing
