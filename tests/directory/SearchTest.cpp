// Directory search: the scans' searches on the demo tree, steps over a large tree, row
// templates, maximum and abort, per-object error boxes, and that nothing is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "directory/D_NW.h"
#include "platform/nwclient/FilterSearch.h"
#include "platform/nwclient/Model.h"
#include "tests/platform/NwTestSupport.h"
#include "tests/platform/SearchTestTree.h"
#include "tests/support/RecordingUi.h"

namespace vestrel::testing {
namespace {

std::set<std::string> AsSet(const TextList& list) {
  auto items = list.ToVector();
  return {items.begin(), items.end()};
}

class SearchTest : public NwTest {
 protected:
  void TearDown() override {
    // Whatever happened, a search gives back its buffers, filter and iteration.
    EXPECT_EQ(nwtest::OpenBuffers(), 0u);
    EXPECT_EQ(nwtest::OpenIterations(), 0u);
    EXPECT_EQ(nw::LiveFilterCursorCount(), 0u);
    NwTest::TearDown();
  }
  void UseSearchTree() {
    ASSERT_EQ(nwtest::ConnectTreeJson(kSearchTreeJson, "admin.ORG", true), "");
    ctx = Context("ORG_TREE");
  }
  // Rows of a search on the small tree.
  NWRCODE Rows(const std::string& filter, const std::string& rowTemplate, TextList& rows, std::int32_t maximum = 0,
               const SearchRowCallback& callback = nullptr, std::uint8_t* abort = nullptr) {
    std::uint8_t noAbort = 0;
    counter = 0;
    return SearchObjects(ctx, "[Root]", filter, 7, abort ? *abort : noAbort, callback, counter, maximum, rowTemplate,
                         &rows, DS_SEARCH_SUBTREE);
  }

  NWDSContextHandle ctx = 0;
  std::int32_t counter = 0;
  RecordingUi ui;
};

TEST_F(SearchTest, ServerScanFindsEveryServerAndNothingElse) {
  ConnectDemo();
  ctx = Context("ACME_TREE");
  std::set<std::string> servers;
  for (const auto& server : nwtest::FindTree("ACME_TREE")->servers) servers.insert(server->object->FullName());
  ASSERT_GE(servers.size(), 2u);
  TextList list;
  EXPECT_EQ(SearchNames(ctx, "[Root]", "(Base Class=NCP Server)", &list, DS_SEARCH_SUBTREE), 0);
  EXPECT_EQ(list.Count(), static_cast<int>(servers.size()));
  EXPECT_EQ(AsSet(list), servers);
}

TEST_F(SearchTest, PartitionScanFindsEveryPartitionRootBelowTheRoot) {
  ConnectDemo();
  ctx = Context("ACME_TREE");
  std::set<std::string> roots;
  for (const auto& partition : nwtest::FindTree("ACME_TREE")->partitions)
    if (!partition->root->IsRoot()) roots.insert(partition->root->FullName());
  ASSERT_GE(roots.size(), 2u);
  TextList list;
  list.Add("[Root]");  // as the scan starts its list
  EXPECT_EQ(SearchNames(ctx, "[Root]",
                        "(((Base Class=Organizational Unit) #OR# (Base Class=Organization) #OR# (Base Class=Country)) "
                        "#AND# (Replica #PRESENT#))",
                        &list, DS_SEARCH_SUBTREE),
            0);
  roots.insert("[Root]");
  EXPECT_EQ(list.Count(), static_cast<int>(roots.size()));
  EXPECT_EQ(AsSet(list), roots);
}

TEST_F(SearchTest, ALargeTreeComesInManyStepsOfFiftyObjects) {
  nwtest::TreeShape shape;
  shape.treeName = "BIG_TREE";
  shape.servers = 20;
  shape.partitions = 1000;
  shape.replicasPerPartition = 1;
  shape.objectsPerPartition = 9;
  ASSERT_EQ(nwtest::ConnectTreeJson(nwtest::GenerateTreeJson(shape), "", true), "");
  ctx = Context("BIG_TREE");
  const auto& objects = nwtest::FindTree("BIG_TREE")->Objects();
  ASSERT_GE(objects.size(), 10000u);
  std::size_t users = std::count_if(objects.begin(), objects.end(), [](const nw::Object* o) { return o->baseClass == "User"; });
  nwtest::ResetCallCounts();
  TextList list;
  EXPECT_EQ(SearchNames(ctx, "[Root]", "(Base Class=User)", &list, DS_SEARCH_SUBTREE), 0);
  EXPECT_EQ(static_cast<std::size_t>(list.Count()), users);
  EXPECT_EQ(AsSet(list).size(), users);  // no object twice
  EXPECT_GE(nwtest::CallCount("DSSearchStep"), users / 50);
  EXPECT_LE(nwtest::CallCount("DSSearchStep"), users / 50 + 1);
  // Every object of the tree without a filter.
  list.Clear();
  EXPECT_EQ(SearchNames(ctx, "[Root]", "", &list, DS_SEARCH_SUBTREE), 0);
  EXPECT_EQ(static_cast<std::size_t>(list.Count()), objects.size());
}

TEST_F(SearchTest, RowTemplatesFillEveryPlaceholder) {
  UseSearchTree();
  TextList rows;
  ASSERT_EQ(Rows("(Name=SRV1)", "#[%-10s][CN]# in #[CTX]#", rows), 0);
  EXPECT_EQ(rows.ToVector(), std::vector<std::string>{"SRV1       in .ORG"});
  rows.Clear();
  ASSERT_EQ(Rows("(Name=admin)", "#NAME#|#CLASS#|#[dn]#|#[rdn]#|#[DN]#|#[CLASS]#|#[%6s][Surname]#|#NAME#", rows), 0);
  EXPECT_EQ(rows.ToVector(),
            std::vector<std::string>{"admin.ORG|User|.admin.ORG|admin|admin.ORG|User| Admin|admin.ORG"});
  EXPECT_EQ(rows.Objects(0), 1);  // where "#NAME#" stood
  rows.Clear();
  ASSERT_EQ(Rows("(Name=jdoe)", "[#[CREATIONTIME]#]", rows), 0);
  ASSERT_EQ(rows.Count(), 1);
  EXPECT_NE(rows[0], "[]");
  EXPECT_EQ(rows[0].find("#["), std::string::npos);
  // An empty template is "#NAME#"; an empty key and an unclosed placeholder stay as they are.
  rows.Clear();
  ASSERT_EQ(Rows("(Name=jdoe)", "", rows), 0);
  EXPECT_EQ(rows.ToVector(), std::vector<std::string>{"jdoe.Sales.ORG"});
  EXPECT_EQ(rows.Objects(0), 1);
  rows.Clear();
  ASSERT_EQ(Rows("(Name=jdoe)", "x#[]#y #[CN", rows), 0);
  EXPECT_EQ(rows.ToVector(), std::vector<std::string>{"x#[]#y #[CN"});
  EXPECT_EQ(rows.Objects(0), 0);
}

TEST_F(SearchTest, AnAttributeWithoutValuesIsEmptyAnyOtherFailureStaysLiteral) {
  UseSearchTree();
  TextList rows;
  ASSERT_EQ(Rows("(Name=SRV1)", "[#[UNKNOWNATTR]#][#[Surname]#]", rows), 0);
  EXPECT_EQ(rows.ToVector(), std::vector<std::string>{"[][]"});
  rows.Clear();
  nwtest::FailOperation("DSReadStep", ERR_SYSTEM_FAILURE);
  ASSERT_EQ(Rows("(Name=SRV1)", "[#[Surname]#]", rows), 0);
  EXPECT_EQ(rows.ToVector(), std::vector<std::string>{"[#[Surname]#]"});
}

TEST_F(SearchTest, AMaximumStopsTheSearchAndAbandonsTheIteration) {
  UseSearchTree();
  nwtest::ResetCallCounts();
  TextList rows;
  EXPECT_EQ(Rows("", "#NAME#", rows, 1), 0);
  EXPECT_EQ(rows.Count(), 1);
  EXPECT_EQ(counter, 1);
  EXPECT_EQ(nwtest::CallCount("DSIterationEnd"), 1u);
  EXPECT_EQ(nwtest::CallCount("DSSearchStep"), 1u);
  // In steps of fifty: the iteration of a big tree is open when the maximum strikes.
  rows.Clear();
  for (int i = 0; i < 60; ++i) nwtest::FindTree("ORG_TREE")->AddObject(*nwtest::FindTree("ORG_TREE")->Find("Lab.ORG"), "u" + std::to_string(i), nw::NameType::CN, "User");
  EXPECT_EQ(Rows("(Base Class=User)", "#NAME#", rows, 55), 0);
  EXPECT_EQ(rows.Count(), 55);
  EXPECT_EQ(nwtest::OpenIterations(), 0u);
}

TEST_F(SearchTest, TheAbortFlagAndTheCallback) {
  UseSearchTree();
  std::uint8_t abort = 0;
  std::vector<std::string> seen;
  auto stopAtSecond = [&](SearchState& found, std::int32_t user) {
    EXPECT_EQ(user, 7);
    seen.push_back(found.row);
    if (seen.size() == 2) abort = 1;
  };
  TextList rows;
  EXPECT_EQ(Rows("(Base Class=User)", "#NAME#", rows, 0, stopAtSecond, &abort), 0);
  EXPECT_EQ(rows.Count(), 2);
  EXPECT_EQ(seen, rows.ToVector());
  // A callback that throws changes nothing.
  rows.Clear();
  auto throwing = [](SearchState&, std::int32_t) { throw std::runtime_error("callback"); };
  EXPECT_EQ(Rows("(Base Class=User)", "#NAME#", rows, 0, throwing), 0);
  EXPECT_EQ(rows.Count(), 3);
  // Without list and callback no rows are built, but objects are counted.
  std::uint8_t noAbort = 0;
  counter = 5;
  EXPECT_EQ(SearchObjects(ctx, "[Root]", "(Base Class=User)", 0, noAbort, nullptr, counter, 0, "#[Surname]#", nullptr, 2), 0);
  EXPECT_EQ(counter, 8);
}

TEST_F(SearchTest, AnUnreadableObjectGetsAnErrorBoxAndTheSearchGoesOn) {
  UseSearchTree();
  nwtest::FailOperation("DSResultNextObject", ERR_NO_SUCH_ENTRY, 1, 1);
  TextList rows;
  EXPECT_EQ(Rows("(Base Class=User)", "#NAME#", rows), ERR_NO_SUCH_ENTRY);  // the one step's code stays
  EXPECT_EQ(rows.Count(), 2);
  EXPECT_EQ(counter, 2);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[0].text.rfind(" returned error " + ErrorText(ERR_NO_SUCH_ENTRY), 0), 0u) << ui.boxes[0].text;
}

TEST_F(SearchTest, LibraryFailuresEndTheSearchSilentlyWithTheirCode) {
  UseSearchTree();
  for (const char* op : {"DSBufferAlloc", "DSBufferInit", "DSFilterCursorAlloc", "DSFilterAddToken", "DSAttrSyntaxId",
                         "DSFilterStore", "DSSearchStep", "DSResultObjectCount"}) {
    nwtest::ClearFailures();
    nwtest::FailOperation(op, ERR_REMOTE_FAILURE);
    TextList rows;
    EXPECT_EQ(Rows("(Surname=*)", "#NAME#", rows), ERR_REMOTE_FAILURE) << op;
    EXPECT_EQ(rows.Count(), 0) << op;
    EXPECT_EQ(nwtest::OpenBuffers(), 0u) << op;
    EXPECT_EQ(nw::LiveFilterCursorCount(), 0u) << op;
  }
  nwtest::ClearFailures();
  // A failing second step keeps the rows of the first.
  for (int i = 0; i < 60; ++i) nwtest::FindTree("ORG_TREE")->AddObject(*nwtest::FindTree("ORG_TREE")->Find("ORG"), "u" + std::to_string(i), nw::NameType::CN, "User");
  nwtest::ResetCallCounts();
  nwtest::FailOperation("DSSearchStep", ERR_REMOTE_FAILURE, 1);
  TextList rows;
  EXPECT_EQ(Rows("(Base Class=User)", "#NAME#", rows), ERR_REMOTE_FAILURE);
  EXPECT_EQ(rows.Count(), 50);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(SearchTest, AFormatThatFailsEndsTheSearchWithoutLeavingAnythingBehind) {
  UseSearchTree();
  TextList rows;
  EXPECT_EQ(Rows("(Base Class=User)", "#[%d][CN]#", rows), 0);
  EXPECT_EQ(rows.Count(), 0);
}

}  // namespace
}  // namespace vestrel::testing
