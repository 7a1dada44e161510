// Small trees for the directory layer's tests, and a fixture that connects them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "RecordingUi.h"
#include "directory/D_NW.h"
#include "directory/NETWIN32.h"
#include "platform/nwclient/NwTestHooks.h"

namespace vestrel::testing {

// CORP_TREE: FS1 holds five partitions (one of replica type 4), FS3 holds none; partition
// listings come in batches of two.
inline constexpr const char* kCorpTree = R"({
  "tree": "CORP_TREE",
  "clock": "2024-05-06T08:00:00Z",
  "partitionListBatch": 2,
  "objects": [
    { "name": "CORP", "class": "Organization", "created": "2021-01-04T09:00:00Z" },
    { "name": "Sales.CORP", "class": "Organizational Unit" },
    { "name": "Servers.CORP", "class": "Organizational Unit" },
    { "name": "East.CORP", "class": "Organizational Unit" },
    { "name": "West.CORP", "class": "Organizational Unit" },
    { "name": "admin.CORP", "class": "User", "created": "2021-01-04T09:00:00Z", "modified": "2024-04-30T12:00:00Z" },
    { "name": "jdoe.Sales.CORP", "class": "User", "created": 0, "modified": 0 }
  ],
  "servers": [
    { "name": "FS1.Servers.CORP", "version": "eDirectory 9.2", "dsRevision": 40204 },
    { "name": "FS2.Servers.CORP", "version": "eDirectory 9.2", "dsRevision": 40204 },
    { "name": "FS3.Servers.CORP", "version": "eDirectory 9.2", "dsRevision": 40204 }
  ],
  "partitions": [
    { "root": "[Root]", "replicas": [ { "server": "FS1.Servers.CORP", "type": "Master" },
                                      { "server": "FS2.Servers.CORP", "type": "Secondary" } ] },
    { "root": "Sales.CORP", "replicas": [ { "server": "FS2.Servers.CORP", "type": "Master" },
                                          { "server": "FS1.Servers.CORP", "type": "Read-Only" } ] },
    { "root": "Servers.CORP", "replicas": [ { "server": "FS2.Servers.CORP", "type": "Master" },
                                            { "server": "FS1.Servers.CORP", "type": 4 } ] },
    { "root": "East.CORP", "replicas": [ { "server": "FS2.Servers.CORP", "type": "Master" },
                                         { "server": "FS1.Servers.CORP", "type": "Subordinate Reference" } ] },
    { "root": "West.CORP", "replicas": [ { "server": "FS1.Servers.CORP", "type": "Master" } ] }
  ]
})";

// LAB_TREE: nobody is logged in to it.
inline constexpr const char* kLabTree = R"({
  "tree": "LAB_TREE",
  "objects": [ { "name": "LAB", "class": "Organization" }, { "name": "admin.LAB", "class": "User" } ]
})";

// Two connections to CORP_TREE (admin primary, jdoe), then one to LAB_TREE without a user.
// Every test starts with no open client connection and a context on CORP_TREE with names
// without type prefixes, as the main window keeps it.
class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nwtest::Reset();
    ClientConnection = kNoClientConnection;
    corpFile_ = std::filesystem::temp_directory_path() /
                ("vestrel_corp_" + std::to_string(::getpid()) + ".json");
    std::ofstream(corpFile_) << kCorpTree;
    ASSERT_EQ(nwtest::ConnectTreeFile(corpFile_.string(), "admin.CORP", true), "");
    ASSERT_EQ(nwtest::ConnectTreeFile(corpFile_.string(), "jdoe.Sales.CORP", false), "");
    ASSERT_EQ(nwtest::ConnectTreeJson(kLabTree, "", false), "");
    ASSERT_EQ(DSContextCreate(&context), 0);
    ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
    ASSERT_EQ(DSChangeCurrentTree(context, "CORP_TREE", false), 0);
    ASSERT_EQ(SetNameContext(context, "[Root]"), 0);
    baseContexts_ = nwtest::OpenContexts();
    nwtest::ResetCallCounts();
  }

  void TearDown() override {
    // Every routine frees what it allocated: only the test's own context is left.
    EXPECT_EQ(nwtest::OpenContexts(), baseContexts_);
    EXPECT_EQ(nwtest::OpenBuffers(), 0u);
    DSContextFree(context);
    nwtest::Reset();
    ClientConnection = kNoClientConnection;
    std::filesystem::remove(corpFile_);
  }

  std::string NameContext() const {
    char text[MAX_DN_BYTES] = {};
    EXPECT_EQ(DSContextGetValue(context, DCK_NAME_CONTEXT, sizeof text, text), 0);
    return text;
  }

  nuint32 Flags() const {
    nuint32 flags = 0;
    EXPECT_EQ(DSContextGetValue(context, DCK_FLAGS, sizeof flags, &flags), 0);
    return flags;
  }

  // Makes every call of operation fail from now on.
  static void FailFromNowOn(const std::string& operation, NWRCODE code) {
    nwtest::FailOperation(operation, code, nwtest::CallCount(operation));
  }

  NWDSContextHandle context = 0;
  RecordingUi ui;

 private:
  std::filesystem::path corpFile_;
  std::size_t baseContexts_ = 0;
};

}  // namespace vestrel::testing
