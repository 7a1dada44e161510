// Trees for the scan tests, and a fixture with a context set as the main window sets it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingUi.h"
#include "directory/D_NW.h"
#include "directory/NETWIN32.h"
#include "platform/nwclient/NwTestHooks.h"
#include "scan/Scans.h"

namespace vestrel::testing {

// SCAN_TREE: two servers 'b.ORG' and 'A.ORG' (listed in that order), partitions [Root],
// Sales.ORG (b reports three errors) and East.Sales.ORG (A reports 40 errors, more than
// a reply holds). OLD.Sales.ORG does not answer.
inline constexpr const char* kScanTree = R"({
  "tree": "SCAN_TREE",
  "clock": "2024-05-06T08:00:00Z",
  "objects": [
    { "name": "ORG", "class": "Organization" },
    { "name": "Sales.ORG", "class": "Organizational Unit" },
    { "name": "East.Sales.ORG", "class": "Organizational Unit" },
    { "name": "Plain.ORG", "class": "Organizational Unit" }
  ],
  "servers": [
    { "name": "b.ORG", "version": "eDirectory 9.2", "dsRevision": 40204,
      "addresses": [ { "type": 1, "ip": "10.0.0.2", "port": 524 }, { "type": 11, "ip": "10.0.0.3", "port": 524 } ] },
    { "name": "A.ORG", "version": "Novell NetWare 6.5", "dsRevision": 20217,
      "addresses": [ { "type": 1, "ip": "10.0.0.1", "port": 524 },
                     { "type": 9, "ip": "10.0.0.1", "port": 524 },
                     { "type": 10, "ip": "10.0.0.1", "port": 524 },
                     { "type": 19, "hex": "0A000001" },
                     { "type": 0, "network": "0000CAFE", "node": "000000000001", "socket": "0451" } ] },
    { "name": "OLD.Sales.ORG", "version": "NetWare 5.1", "dsRevision": 879, "reachable": false }
  ],
  "partitions": [
    { "root": "[Root]", "replicas": [ { "server": "A.ORG", "type": "Master" },
                                      { "server": "b.ORG", "type": "Secondary" } ] },
    { "root": "Sales.ORG", "replicas": [
      { "server": "A.ORG", "type": "Master" },
      { "server": "b.ORG", "type": "Secondary", "state": "remote error", "errors": [-625, -636, -625] },
      { "server": "OLD.Sales.ORG", "type": "Read-Only", "state": "local error", "errors": [-625] } ] },
    { "root": "East.Sales.ORG", "replicas": [
      { "server": "A.ORG", "type": "Master", "errors": [
        -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625,
        -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625, -625,
        -625, -625, -625, -625 ] },
      { "server": "b.ORG", "type": "Secondary" } ] }
  ]
})";

// OTHER_TREE: one server, no partition below the root.
inline constexpr const char* kOtherTree = R"({
  "tree": "OTHER_TREE",
  "objects": [ { "name": "OTHER", "class": "Organization" }, { "name": "Sub.OTHER", "class": "Organizational Unit" } ],
  "servers": [ { "name": "Z.OTHER", "version": "eDirectory 9.2", "dsRevision": 40204,
                 "addresses": [ { "type": 9, "ip": "10.9.9.9", "port": 524 } ] } ],
  "partitions": [ { "root": "[Root]", "replicas": [ { "server": "Z.OTHER", "type": "Master" } ] } ]
})";

struct ProgressCall {
  int position;
  int total;
  std::string text;
  bool operator==(const ProgressCall&) const = default;
};

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nwtest::Reset();
    SetErrorTextLibraryPath("/nonexistent/libnwerr32.so");
    ASSERT_EQ(nwtest::ConnectTreeJson(kScanTree, "", true), "");
    ASSERT_EQ(nwtest::ConnectTreeJson(kOtherTree, "", false), "");
    ASSERT_EQ(DSContextCreate(&context), 0);
    UseTree("SCAN_TREE");
    baseContexts_ = nwtest::OpenContexts();
    nwtest::ResetCallCounts();
  }

  void TearDown() override {
    EXPECT_FALSE(ScanRunning());
    // Every scan frees what it allocated, also when a row fails.
    EXPECT_EQ(nwtest::OpenContexts(), baseContexts_);
    EXPECT_EQ(nwtest::OpenBuffers(), 0u);
    EXPECT_EQ(nwtest::OpenIterations(), 0u);
    DSContextFree(context);
    SetErrorTextLibraryPath("");
    nwtest::Reset();
  }

  // The context as the main window keeps it after choosing a tree.
  void UseTree(const std::string& tree) {
    ASSERT_EQ(DSChangeCurrentTree(context, tree, false), 0);
    ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
    ASSERT_EQ(SetNameContext(context, "[Root]"), 0);
  }

  ScanProgress Recorder() {
    return [this](int position, int total, const std::string& text) { progress.push_back({position, total, text}); };
  }

  ScanFinished FinishRecorder() {
    return [this](bool hasRows) { finished.push_back(hasRows); };
  }

  std::vector<std::string> Column(const StringGrid& g, int col) const {
    std::vector<std::string> cells;
    for (int row = 0; row < g.RowCount(); ++row) cells.push_back(g.Cell(col, row));
    return cells;
  }

  std::vector<std::string> Row(const StringGrid& g, int row) const {
    std::vector<std::string> cells;
    for (int col = 0; col < g.ColCount(); ++col) cells.push_back(g.Cell(col, row));
    return cells;
  }

  // Every call of operation from now on fails with code.
  static void FailFromNowOn(const std::string& operation, NWRCODE code) {
    nwtest::FailOperation(operation, code, nwtest::CallCount(operation));
  }

  NWDSContextHandle context = 0;
  RecordingUi ui;
  StringGrid grid{5, 2};
  std::vector<ProgressCall> progress;
  std::vector<bool> finished;

 private:
  std::size_t baseContexts_ = 0;
};

}  // namespace vestrel::testing
