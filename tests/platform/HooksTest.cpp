// Test controls: failing operations, call counters, latency, the clock and the
// large-tree generator.
#include <chrono>

#include "NwTestSupport.h"
#include "directory/calwin32.h"
#include "directory/clxwin32.h"
#include "platform/nwclient/Model.h"

namespace vestrel::testing {
namespace {

class Hooks : public NwTest {
 protected:
  void SetUp() override {
    NwTest::SetUp();
    ConnectDemo();
  }
};

TEST_F(Hooks, AnOperationFailsAfterNCallsForNTimes) {
  NWDSContextHandle c = Context();
  nwtest::FailOperation("DSReadStep", ERR_TRANSPORT_FAILURE, 1, 2);
  EXPECT_EQ(ReadAll(c, "admin.ACME", {"CN"}).code, 0);
  EXPECT_EQ(ReadAll(c, "admin.ACME", {"CN"}).code, ERR_TRANSPORT_FAILURE);
  EXPECT_EQ(ReadAll(c, "admin.ACME", {"CN"}).code, ERR_TRANSPORT_FAILURE);
  EXPECT_EQ(ReadAll(c, "admin.ACME", {"CN"}).code, 0);
  nwtest::FailOperation("ClientInitialize", ERR_CLIENT_NOT_INITIALIZED);
  EXPECT_EQ(ClientInitialize(0, 0), ERR_CLIENT_NOT_INITIALIZED);
  nwtest::FailOperation("DSContextCopy", ERR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(DSContextCopy(c), ERR_CONTEXT_CREATION);
  nwtest::ClearFailures();
  EXPECT_EQ(ClientInitialize(0, 0), 0);
}

TEST_F(Hooks, CallsAreCountedPerOperation) {
  NWDSContextHandle c = Context();
  nwtest::ResetCallCounts();
  ReadAll(c, "[Root]", {"Replica"});
  EXPECT_EQ(nwtest::CallCount("DSReadStep"), 1u);
  EXPECT_EQ(nwtest::CallCount("DSResultNextValue"), 3u);
  EXPECT_EQ(nwtest::CallCount("DSBufferAlloc"), 2u);
  EXPECT_EQ(nwtest::CallCount("NWDSSyncPartition"), 0u);
}

TEST_F(Hooks, LatencyDelaysTheChosenOperation) {
  nwtest::SetLatency(std::chrono::milliseconds(30), "ClientInitialize");
  auto start = std::chrono::steady_clock::now();
  ClientInitialize(0, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  start = std::chrono::steady_clock::now();
  nuint32 iterator = 0;
  NWCONN_REF ref = 0;
  ConnScanNext(&iterator, &ref);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(Hooks, ClockStartsAtTheTreesClockAndCanBeSetAndAdvanced) {
  nuint32 start = nwtest::ClockNow();
  EXPECT_GE(start, 1714982400u);  // 2024-05-06 08:00:00, the demo trees' clock
  EXPECT_LT(start, 1714982400u + 3600);
  nwtest::SetClock(1000);
  nwtest::AdvanceClock(25);
  EXPECT_EQ(nwtest::ClockNow(), 1025u);
}

TEST_F(Hooks, AbandonedListingsEndWithTheirContext) {
  NWDSContextHandle c = 0;
  ASSERT_EQ(DSContextCreate(&c), 0);
  Buf_T* reply = nullptr;
  ASSERT_EQ(DSBufferAlloc(MAX_MESSAGE_LEN, &reply), 0);
  nuint32 iteration = NO_MORE_ITERATIONS;
  ASSERT_EQ(DSServerPartitionsList(c, &iteration, "FS1.HQ.ACME", reply), 0);
  ASSERT_NE(iteration, NO_MORE_ITERATIONS);
  EXPECT_EQ(nwtest::OpenIterations(), 1u);
  DSContextFree(c);
  EXPECT_EQ(nwtest::OpenIterations(), 0u);
  DSBufferFree(reply);
}

TEST_F(Hooks, ResetForgetsEverything) {
  Context();
  Buf_T* buffer = nullptr;
  ASSERT_EQ(DSBufferAlloc(10, &buffer), 0);
  nwtest::Reset();
  EXPECT_EQ(nwtest::OpenContexts(), 0u);
  EXPECT_EQ(nwtest::OpenBuffers(), 0u);
  EXPECT_EQ(nwtest::FindTree("ACME_TREE"), nullptr);
  EXPECT_EQ(DSBufferFree(buffer), ERR_INVALID_HANDLE);  // gone with the reset, not freed twice
}

TEST_F(Hooks, GeneratedTreesLoadWithTheAskedShape) {
  nwtest::TreeShape shape;
  shape.servers = 20;
  shape.partitions = 200;
  shape.replicasPerPartition = 3;
  shape.objectsPerPartition = 2;
  ASSERT_EQ(nwtest::ConnectTreeJson(nwtest::GenerateTreeJson(shape), "admin.BENCH", false), "");
  nw::Tree* tree = nwtest::FindTree("BENCH_TREE");
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->servers.size(), 20u);
  EXPECT_EQ(tree->partitions.size(), 201u);  // with [Root]
  EXPECT_EQ(tree->partitions[5]->ring.size(), 3u);
  EXPECT_EQ(tree->partitions[5]->ring[2].type, RT_SUBREF);
  EXPECT_EQ(tree->partitions[7]->ring[1].errors.size(), 2u);
  EXPECT_EQ(tree->Objects().size(), 1u + 3 + 20 + 200 * 3);
}

}  // namespace
}  // namespace vestrel::testing
