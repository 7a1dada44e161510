// The hostile tree (tests/data/hostile.json) connected as the only tree, a context set as
// the main window sets it, and the few hostile names a tree file cannot hold (bytes that
// are not UTF-8), added to the loaded model directly.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "RecordingUi.h"
#include "directory/D_NW.h"
#include "directory/NETWIN32.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"

namespace vestrel::testing {

inline std::string HostileTreeFile() { return std::string(VESTREL_TEST_DATA) + "/hostile.json"; }

// The rdn of an object whose name holds bytes that are not UTF-8 (a stray continuation
// byte, an overlong lead byte, 0xFF).
inline const std::string kNonUtf8Name = "Bad\x80\xC0\xFFname";

class HostileTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nwtest::Reset();
    SetErrorTextLibraryPath("/nonexistent/libnwerr32.so");
    ASSERT_EQ(nwtest::ConnectTreeFile(HostileTreeFile(), "admin.HOSTILE", true), "");
    tree = nwtest::FindTree("HOSTILE_TREE");
    ASSERT_NE(tree, nullptr);
    AddNonUtf8Names();
    ASSERT_EQ(DSContextCreate(&context), 0);
    ASSERT_EQ(DSChangeCurrentTree(context, "HOSTILE_TREE", false), 0);
    ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
    ASSERT_EQ(SetNameContext(context, "[Root]"), 0);
    baseContexts_ = nwtest::OpenContexts();
  }

  void TearDown() override {
    // Nothing a read or scan of hostile data allocates may be left behind.
    EXPECT_EQ(nwtest::OpenContexts(), baseContexts_);
    EXPECT_EQ(nwtest::OpenBuffers(), 0u);
    EXPECT_EQ(nwtest::OpenIterations(), 0u);
    DSContextFree(context);
    SetErrorTextLibraryPath("");
    nwtest::Reset();
  }

  // A server and a user whose names are not UTF-8; the server holds a replica of [Root].
  void AddNonUtf8Names() {
    nw::Object* servers = tree->Find("Servers.HOSTILE");
    ASSERT_NE(servers, nullptr);
    nw::Object& serverObject = tree->AddObject(*servers, kNonUtf8Name, nw::NameType::CN, "NCP Server");
    auto server = std::make_unique<nw::Server>();
    server->object = &serverObject;
    server->version = "Version \xFE\xFF";
    server->addresses.push_back(nw::NetAddress{13, {0x00, 0xD8, 0x41, 0x00}});
    serverObject.server = server.get();
    nw::Replica replica;
    replica.server = server.get();
    replica.type = RT_READONLY;
    replica.number = 9;
    tree->servers.push_back(std::move(server));
    tree->Root().partition->ring.push_back(replica);
    tree->AddObject(*tree->Find("HOSTILE"), kNonUtf8Name, nw::NameType::CN, "User");
  }

  nw::Tree* tree = nullptr;
  NWDSContextHandle context = 0;
  RecordingUi ui;

 private:
  std::size_t baseContexts_ = 0;
};

}  // namespace vestrel::testing
