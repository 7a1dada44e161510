// The partitions of a server, listed in batches from the embedded directory.
#include "TestTrees.h"

namespace vestrel::testing {
namespace {

const std::string kServer = "FS1.Servers.CORP";

// FS1's five partitions in delivery order, as the context (names without types) gives them.
const std::vector<std::string> kFs1Names = {"[Root]", "Sales.CORP", "Servers.CORP", "East.CORP", "West.CORP"};
const std::vector<std::string> kFs1Rows = {
    "[Root] | FS1.Servers.CORP [Master]",
    "Sales.CORP | FS1.Servers.CORP [Read-Only]",
    "Servers.CORP | FS1.Servers.CORP [Unknown (Type: 4)]",
    "East.CORP | FS1.Servers.CORP [Subordinate Reference]",
    "West.CORP | FS1.Servers.CORP [Master]",
};

class PartitionsTest : public DirectoryTest {
 protected:
  NWRCODE List(const std::string& server) { return GetServerPartitions(context, server, names, rows); }
  TextList names;
  TextList rows;
};

TEST_F(PartitionsTest, AllBatchesInDeliveryOrder) {
  EXPECT_EQ(List(kServer), 0);
  EXPECT_EQ(names.ToVector(), kFs1Names);
  EXPECT_EQ(rows.ToVector(), kFs1Rows);
  EXPECT_EQ(nwtest::CallCount("DSServerPartitionsList"), 3u);  // batches of two
  EXPECT_EQ(ui.processMessagesCalls, 5);                        // once per entry
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(PartitionsTest, ServerNameIsShownAsGiven) {
  EXPECT_EQ(List(".fs1.servers.corp"), 0);
  ASSERT_EQ(rows.Count(), 5);
  EXPECT_EQ(rows[0], "[Root] | .fs1.servers.corp [Master]");
}

TEST_F(PartitionsTest, ServerWithoutReplicasGivesEmptyListsAndSuccess) {
  names.Add("old name");
  rows.Add("old row");
  EXPECT_EQ(List("FS3.Servers.CORP"), 0);
  EXPECT_TRUE(names.Empty());
  EXPECT_TRUE(rows.Empty());
}

TEST_F(PartitionsTest, SortedCallerListStaysSortedAndOwnsItsOrder) {
  names.SetSorted(true);
  EXPECT_EQ(List(kServer), 0);
  EXPECT_EQ(names.ToVector(),
            (std::vector<std::string>{"[Root]", "East.CORP", "Sales.CORP", "Servers.CORP", "West.CORP"}));
  EXPECT_EQ(rows.ToVector(), kFs1Rows);
}

TEST_F(PartitionsTest, BufferThatCannotBeAllocatedLeavesTheListsAlone) {
  names.Add("kept");
  nwtest::FailOperation("DSBufferAlloc", ERR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(List(kServer), ERR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(names.ToVector(), (std::vector<std::string>{"kept"}));
  EXPECT_EQ(nwtest::CallCount("DSServerPartitionsList"), 0u);
}

TEST_F(PartitionsTest, FirstBatchFailureEndsAtOnce) {
  names.Add("old name");
  EXPECT_EQ(List("nobody.CORP"), ERR_NO_SUCH_ENTRY);
  EXPECT_TRUE(names.Empty());
  EXPECT_TRUE(rows.Empty());
  EXPECT_EQ(nwtest::CallCount("DSServerPartitionsList"), 1u);

  nwtest::ResetCallCounts();
  nwtest::FailOperation("DSResultServerName", ERR_INVALID_SERVER_RESPONSE);
  EXPECT_EQ(List("FS3.Servers.CORP"), ERR_INVALID_SERVER_RESPONSE);  // a single batch: handle -1
  EXPECT_EQ(nwtest::CallCount("DSServerPartitionsList"), 1u);
}

TEST_F(PartitionsTest, ShortFailureDuringAListingIsRetriedWithTheSameHandle) {
  nwtest::FailOperation("DSServerPartitionsList", ERR_TRANSPORT_FAILURE, 1, 3);
  EXPECT_EQ(List(kServer), 0);
  EXPECT_EQ(names.ToVector(), kFs1Names);
  EXPECT_EQ(nwtest::CallCount("DSServerPartitionsList"), 3u + 3u);
}

TEST_F(PartitionsTest, LastingFailureDuringAListingEndsAfterThreeRetries) {
  nwtest::FailOperation("DSServerPartitionsList", ERR_TRANSPORT_FAILURE, 1);
  EXPECT_EQ(List(kServer), ERR_TRANSPORT_FAILURE);
  EXPECT_EQ(names.ToVector(), (std::vector<std::string>{"[Root]", "Sales.CORP"}));  // the first batch
  EXPECT_EQ(rows.Count(), 2);
  EXPECT_EQ(nwtest::CallCount("DSServerPartitionsList"), 1u + 1u + 3u);
  EXPECT_EQ(nwtest::OpenIterations(), 0u);  // the listing given up is handed back
}

TEST_F(PartitionsTest, LastingHeaderFailureDuringAListingEndsWithItsCode) {
  // The library has moved on once a reply is delivered, so each new listing call brings
  // the next batch; the listing ends with the failing code when the last one is in.
  nwtest::FailOperation("DSResultServerName", ERR_INVALID_SERVER_RESPONSE, 1);
  EXPECT_EQ(List(kServer), ERR_INVALID_SERVER_RESPONSE);
  EXPECT_EQ(names.ToVector(), (std::vector<std::string>{"[Root]", "Sales.CORP"}));
  EXPECT_EQ(nwtest::CallCount("DSServerPartitionsList"), 3u);
  EXPECT_EQ(nwtest::CallCount("DSResultServerName"), 3u);
}

TEST_F(PartitionsTest, UnreadableEntryIsLeftOutSilently) {
  nwtest::FailOperation("DSResultNextPartition", ERR_BUFFER_EMPTY, 2, 1);  // the third entry
  EXPECT_EQ(List(kServer), 0);
  // The failed read uses up one of the entries its reply counts; the listing goes on.
  ASSERT_EQ(names.Count(), 4);
  ASSERT_EQ(rows.Count(), 4);
  EXPECT_EQ(names[0], "[Root]");
  EXPECT_EQ(names[3], "West.CORP");
  EXPECT_EQ(rows[3], "West.CORP | FS1.Servers.CORP [Master]");
  EXPECT_EQ(nwtest::CallCount("DSResultNextPartition"), 5u);
  EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
}  // namespace vestrel::testing
