// The workstation's connections: the connections file, padded tree names, the primary
// connection and the demo trees used when there is no file.
#include <filesystem>
#include <fstream>

#include "NwTestSupport.h"
#include "directory/calwin32.h"
#include "directory/clxwin32.h"

namespace vestrel::testing {
namespace {

namespace fs = std::filesystem;

class Connections : public NwTest {
 protected:
  fs::path dir_;
  void SetUp() override {
    NwTest::SetUp();
    dir_ = fs::temp_directory_path() / ("vestrel-conn-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    fs::copy_file(DemoTree("acme.json"), dir_ / "acme.json", fs::copy_options::overwrite_existing);
    fs::copy_file(DemoTree("lab.json"), dir_ / "lab.json", fs::copy_options::overwrite_existing);
  }
  void TearDown() override {
    NwTest::TearDown();
    fs::remove_all(dir_);
  }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }

  static std::vector<std::string> ScanTreeNames() {
    std::vector<std::string> names;
    nuint32 iterator = 0;
    NWCONN_REF ref = 0;
    while (ConnScanNext(&iterator, &ref) == 0) {
      char name[CONN_INFO_TEXT_BYTES] = {};
      EXPECT_EQ(ConnReferenceInfo(ref, CONN_INFO_TREE_NAME, sizeof name, name), 0);
      names.push_back(name);
    }
    return names;
  }
};

TEST_F(Connections, FileListsConnectionsInOrderWithPaddedTreeNames) {
  Write("connections.json", R"({"connections":[
      {"tree":"acme.json","user":"admin.ACME","primary":true},
      {"tree":"acme.json","user":"jdoe.Sales.ACME"},
      {"tree":"lab.json","user":"admin.LAB"}]})");
  ASSERT_EQ(nwtest::LoadConnectionsFile((dir_ / "connections.json").string()), "");
  std::vector<std::string> names = ScanTreeNames();
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "ACME_TREE_______________________");
  EXPECT_EQ(names[0].size(), 32u);
  EXPECT_EQ(names[1], names[0]);
  EXPECT_EQ(names[2], "LAB_TREE________________________");
  NWCONN_REF primary = 0;
  ASSERT_EQ(ConnPrimaryReference(&primary), 0);
  EXPECT_EQ(primary, 1u);
  NWCONN_HANDLE handle = 0;
  EXPECT_EQ(ConnOpenByReference(primary, 1, 0, &handle), 0);
  EXPECT_NE(handle, 0xFFFFu);
}

TEST_F(Connections, SmallBuffersUnknownItemsAndReferencesAreRefused) {
  ConnectDemo();
  char small[10];
  EXPECT_EQ(ConnReferenceInfo(1, CONN_INFO_TREE_NAME, sizeof small, small), ERR_INVALID_PARAMETER);
  char name[CONN_INFO_TEXT_BYTES];
  EXPECT_EQ(ConnReferenceInfo(1, 99, sizeof name, name), ERR_INVALID_PARAMETER);
  EXPECT_EQ(ConnReferenceInfo(0, CONN_INFO_TREE_NAME, sizeof name, name), ERR_INVALID_CONNECTION);
  EXPECT_EQ(ConnReferenceInfo(3, CONN_INFO_TREE_NAME, sizeof name, name), ERR_INVALID_CONNECTION);
  NWCONN_HANDLE handle = 0;
  EXPECT_EQ(ConnOpenByReference(7, 1, 0, &handle), ERR_INVALID_CONNECTION);
}

TEST_F(Connections, WithoutPrimaryTheScanStillWorks) {
  Write("connections.json", R"({"connections":[{"tree":"lab.json","user":"admin.LAB"}]})");
  ASSERT_EQ(nwtest::LoadConnectionsFile((dir_ / "connections.json").string()), "");
  NWCONN_REF ref = 0;
  EXPECT_EQ(ConnPrimaryReference(&ref), ERR_NO_PRIMARY_CONNECTION);
  EXPECT_EQ(ScanTreeNames().size(), 1u);
  // New contexts still get the one tree there is.
  NWDSContextHandle c = 0;
  ASSERT_EQ(DSContextCreate(&c), 0);
  char tree[MAX_TREE_NAME_BYTES];
  EXPECT_EQ(DSContextGetValue(c, DCK_TREE_NAME, sizeof tree, tree), 0);
  EXPECT_STREQ(tree, "LAB_TREE");
  DSContextFree(c);
}

TEST_F(Connections, ABrokenTreeFileIsLeftOutAndNamed) {
  Write("broken.json", R"({"tree":"X","objects":[{"name":"a"}]})");
  Write("connections.json", R"({"connections":[{"tree":"broken.json"},{"tree":"lab.json","primary":true}]})");
  std::string problem = nwtest::LoadConnectionsFile((dir_ / "connections.json").string());
  EXPECT_NE(problem.find("broken.json: objects[0]: \"class\" is missing"), std::string::npos) << problem;
  EXPECT_EQ(ScanTreeNames(), std::vector<std::string>{"LAB_TREE________________________"});
  // The primary connection was made: the broken tree is not the preferred one.
  nuint32 index = 99;
  EXPECT_EQ(ClientPrimaryLoadProblem(&index), ERR_NO_MORE_LOAD_PROBLEMS);
  EXPECT_EQ(ClientPrimaryLoadProblem(nullptr), ERR_INVALID_PARAMETER);

  // Marked primary, or first where none is marked: the problem kept the preferred tree out.
  for (const char* connections : {R"({"connections":[{"tree":"lab.json"},{"tree":"broken.json","primary":true}]})",
                                  R"({"connections":[{"tree":"broken.json"},{"tree":"lab.json"}]})"}) {
    nwtest::Reset();
    Write("connections.json", connections);
    nwtest::LoadConnectionsFile((dir_ / "connections.json").string());
    index = 99;
    EXPECT_EQ(ClientPrimaryLoadProblem(&index), 0) << connections;
    EXPECT_EQ(index, 0u);
  }
}

TEST_F(Connections, BrokenConnectionsFilesAreRefused) {
  Write("c1.json", "{");
  EXPECT_NE(nwtest::LoadConnectionsFile((dir_ / "c1.json").string()).find("c1.json: not valid JSON"), std::string::npos);
  Write("c2.json", R"({"connections":[{"tree":5}]})");
  EXPECT_NE(nwtest::LoadConnectionsFile((dir_ / "c2.json").string()).find("connections[0]"), std::string::npos);
  Write("c3.json", R"({"connections":[{"tree":"lab.json","primary":"yes"}]})");
  EXPECT_NE(nwtest::LoadConnectionsFile((dir_ / "c3.json").string()).find("primary"), std::string::npos);
  EXPECT_NE(nwtest::LoadConnectionsFile((dir_ / "none.json").string()).find("cannot be opened"), std::string::npos);
  NWCONN_REF ref = 0;
  nuint32 iterator = 0;
  EXPECT_EQ(ConnScanNext(&iterator, &ref), ERR_NO_MORE_CONNECTIONS);
}

TEST_F(Connections, EnvironmentFileIsUsedOnFirstCall) {
  Write("connections.json", R"({"connections":[{"tree":"lab.json","user":"admin.LAB","primary":true}]})");
  std::string file = (dir_ / "connections.json").string();
  setenv("VESTREL_CONNECTIONS", file.c_str(), 1);
  nwtest::ResetToDefaults();
  EXPECT_EQ(ClientInitialize(0, 0), 0);
  unsetenv("VESTREL_CONNECTIONS");
  EXPECT_EQ(ScanTreeNames(), std::vector<std::string>{"LAB_TREE________________________"});
}

TEST_F(Connections, TreeFileVariableConnectsThatTreeAloneBeforeAnyConnectionsFile) {
  Write("connections.json", R"({"connections":[{"tree":"acme.json","primary":true}]})");
  std::string file = (dir_ / "connections.json").string();
  std::string tree = (dir_ / "lab.json").string();
  setenv("VESTREL_CONNECTIONS", file.c_str(), 1);
  setenv("VESTREL_TREE_FILE", tree.c_str(), 1);
  nwtest::ResetToDefaults();
  EXPECT_EQ(ClientInitialize(0, 0), 0);
  std::vector<std::string> names = ScanTreeNames();
  // A broken tree file connects nothing and is the problem that kept the primary connection out.
  Write("broken.json", "{ \"tree\": ");
  std::string broken = (dir_ / "broken.json").string();
  setenv("VESTREL_TREE_FILE", broken.c_str(), 1);
  nwtest::ResetToDefaults();
  std::vector<std::string> brokenNames = ScanTreeNames();
  nuint32 index = 99;
  EXPECT_EQ(ClientPrimaryLoadProblem(&index), 0);
  EXPECT_EQ(index, 0u);
  unsetenv("VESTREL_TREE_FILE");
  unsetenv("VESTREL_CONNECTIONS");
  EXPECT_EQ(names, std::vector<std::string>{"LAB_TREE________________________"});
  NWCONN_REF primary = 0;
  EXPECT_TRUE(brokenNames.empty());
  EXPECT_NE(ConnPrimaryReference(&primary), 0);
}

TEST_F(Connections, WithoutAFileTheDemoTreesAreConnected) {
  std::string config = (dir_ / "empty-config").string();
  fs::create_directories(config);
  std::string oldConfig = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  unsetenv("VESTREL_CONNECTIONS");
  nwtest::ResetToDefaults();
  std::vector<std::string> names = ScanTreeNames();
  oldConfig.empty() ? unsetenv("XDG_CONFIG_HOME") : setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "ACME_TREE_______________________");
  EXPECT_EQ(names[1], names[0]);
  EXPECT_EQ(names[2], "LAB_TREE________________________");
  NWCONN_REF primary = 0;
  EXPECT_EQ(ConnPrimaryReference(&primary), 0);
  EXPECT_EQ(primary, 1u);
}

TEST_F(Connections, ServerTimeIsTheDirectoryClock) {
  ASSERT_EQ(nwtest::ConnectTreeFile(DemoTree("acme.json"), "admin.ACME", true), "");
  nwtest::SetClock(1714982400);
  nuint32 iterator = 0;
  NWCONN_REF ref = 0;
  ASSERT_EQ(ConnScanNext(&iterator, &ref), 0);
  nuint32 serverTime = 0;
  EXPECT_EQ(ConnServerTime(ref, &serverTime), 0);
  EXPECT_EQ(serverTime, 1714982400u);
  EXPECT_EQ(ConnServerTime(ref + 100, &serverTime), ERR_INVALID_CONNECTION);
  EXPECT_EQ(ConnServerTime(ref, nullptr), ERR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace vestrel::testing
