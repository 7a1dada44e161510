// The ring reader: raw values decoded without reading past them, rings read from small
// trees and from a ring too large for one reply, failures turned into problems with
// nothing left open in the library.
#include <array>
#include <cstring>

#include "CheckTestSupport.h"
#include "check/RingReader.h"
#include "directory/D_NW.h"
#include "directory/NETWIN32.h"
#include "scan/Scans.h"
#include "util/D_Util.h"

namespace vestrel::check::testing {
namespace {

class RingReader : public ::testing::Test {
 protected:
  void SetUp() override {
    nwtest::Reset();
    SetErrorTextLibraryPath("/nonexistent/libnwerr32.so");
  }
  void TearDown() override {
    if (context_) DSContextFree(context_);
    EXPECT_EQ(nwtest::OpenBuffers(), 0u);
    EXPECT_EQ(nwtest::OpenIterations(), 0u);
    SetErrorTextLibraryPath("");
    nwtest::Reset();
  }
  NWDSContextHandle Connect(const std::string& treeJson, const std::string& tree) {
    EXPECT_EQ(nwtest::ConnectTreeJson(treeJson, "", true), "");
    EXPECT_EQ(DSContextCreate(&context_), 0);
    EXPECT_EQ(DSChangeCurrentTree(context_, tree, false), 0);
    ModifyContextFlags(context_, '+', DCV_TYPELESS_NAMES);
    EXPECT_EQ(SetNameContext(context_, "[Root]"), 0);
    return context_;
  }
  static constexpr std::int64_t kNow = 1'800'000'000;
  NWDSContextHandle context_ = 0;
};

TEST_F(RingReader, ReplicaValuesAreReadInsideTheirMemoryOnly) {
  // A record and its server name in one block, as the library hands it over.
  std::array<nuint8, sizeof(Replica_Pointer_T) + 8> block{};
  Replica_Pointer_T record{};
  char* name = reinterpret_cast<char*>(block.data() + sizeof(Replica_Pointer_T));
  std::memcpy(name, "S1.ORG", 7);
  record.serverName = name;
  record.replicaType = RT_READONLY;
  record.replicaNumber = 7;
  std::memcpy(block.data(), &record, sizeof record);
  const ReplicaFacts replica = ReplicaFromValue(block.data(), block.size());
  EXPECT_EQ(replica.server, "S1.ORG");
  EXPECT_EQ(replica.type, RT_READONLY);
  EXPECT_EQ(replica.number, 7u);

  // A name pointer outside the value, a name without its terminator, a record cut short.
  static char elsewhere[] = "X";
  record.serverName = elsewhere;
  std::memcpy(block.data(), &record, sizeof record);
  EXPECT_THROW(ReplicaFromValue(block.data(), block.size()), RangeCheckError);
  record.serverName = name;
  std::memcpy(block.data(), &record, sizeof record);
  std::memset(name, 'A', 8);
  EXPECT_THROW(ReplicaFromValue(block.data(), block.size()), RangeCheckError);
  EXPECT_THROW(ReplicaFromValue(block.data(), 4), RangeCheckError);
  EXPECT_THROW(ReplicaFromValue(nullptr, 0), RangeCheckError);
}

TEST_F(RingReader, PartitionStatusTakesTheLastSyncAtByteEightAndRefusesShortValues) {
  std::array<nuint8, sizeof(Octet_String_T) + 24> block{};
  nuint8* octets = block.data() + sizeof(Octet_String_T);
  const nuint32 fields[] = {0, RS_REMOTE_ERROR, 1714982000, 3, static_cast<nuint32>(-636)};
  std::memcpy(octets, fields, sizeof fields);
  Octet_String_T record{24, octets};
  std::memcpy(block.data(), &record, sizeof record);
  ReplicaFacts replica;
  ApplyPartitionStatus(block.data(), block.size(), replica);
  EXPECT_TRUE(replica.hasStatus);
  EXPECT_EQ(replica.state, RS_REMOTE_ERROR);
  EXPECT_EQ(replica.lastSync, 1714982000u);
  EXPECT_EQ(replica.statusError, static_cast<nuint32>(-636));

  // Missing bytes would read as "local error" and a sync in 1970: refused instead.
  record.length = 19;
  std::memcpy(block.data(), &record, sizeof record);
  ReplicaFacts shortOne;
  EXPECT_THROW(ApplyPartitionStatus(block.data(), block.size(), shortOne), RangeCheckError);
  EXPECT_FALSE(shortOne.hasStatus);
  record.length = 400;  // longer than the value memory
  std::memcpy(block.data(), &record, sizeof record);
  EXPECT_THROW(ApplyPartitionStatus(block.data(), block.size(), shortOne), RangeCheckError);
}

TEST_F(RingReader, SyncErrorRepliesGiveCountAndTheScansReport) {
  std::array<nuint32, 34> reply{};
  reply[1] = 2;
  reply[2] = static_cast<nuint32>(-625);
  reply[3] = static_cast<nuint32>(-636);
  ReplicaFacts replica;
  replica.server = "S2.ORG";
  const auto* data = reinterpret_cast<const nuint8*>(reply.data());
  ApplySyncErrors(data, sizeof reply, replica);
  EXPECT_EQ(replica.errorCount, 2u);
  EXPECT_EQ(replica.errorReport, ReplicaErrorReport("S2.ORG", data, sizeof reply));
  EXPECT_NE(replica.errorReport.find("  * 2: 0xFFFFFD84"), std::string::npos);

  reply[1] = 40;  // more than a reply holds
  ApplySyncErrors(data, sizeof reply, replica);
  EXPECT_EQ(replica.errorCount, 40u);
  EXPECT_EQ(replica.errorReport, "");
  // Bytes missing from a short data area count as zero, as in the scan's decoder.
  ApplySyncErrors(data, 4, replica);
  EXPECT_EQ(replica.errorCount, 0u);
  ApplySyncErrors(nullptr, 136, replica);
  EXPECT_EQ(replica.errorCount, 0u);
}

TEST_F(RingReader, RingsOfASmallTreeInScanOrder) {
  const json sales = json::array({Replica("S1", "Master", 1, 60, kNow),
                                  Replica("S2", "Secondary", 2, 3600, kNow,
                                          {{"state", "remote error"}, {"errors", {-625, -636}}}),
                                  Replica("S4", "Subordinate Reference", 3, 120, kNow)});
  const NWDSContextHandle context = Connect(SmallTree(HealthyRing(kNow), sales, HealthyRing(kNow)), "SMALL_TREE");
  const TreeRings tree = ReadTreeRings(context);
  ASSERT_EQ(tree.listCode, 0);
  ASSERT_EQ(tree.rings.size(), 3u);
  EXPECT_EQ(tree.rings[0].partition, "[Root]");
  EXPECT_EQ(tree.rings[1].partition, "East.Sales.ORG");
  EXPECT_EQ(tree.rings[2].partition, "Sales.ORG");
  const RingFacts& ring = tree.rings[2];
  EXPECT_EQ(ring.ringProblem, "");
  EXPECT_EQ(ring.statusProblem, "");
  ASSERT_EQ(ring.replicas.size(), 3u);
  EXPECT_EQ(ring.replicas[1].server, "S2.ORG");
  EXPECT_EQ(ring.replicas[1].type, RT_SECONDARY);
  EXPECT_EQ(ring.replicas[1].number, 2u);
  EXPECT_EQ(ring.replicas[1].state, RS_REMOTE_ERROR);
  EXPECT_EQ(ring.replicas[1].lastSync, static_cast<nuint32>(kNow - 3600));
  EXPECT_EQ(ring.replicas[1].statusError, static_cast<nuint32>(-625));
  EXPECT_EQ(ring.replicas[1].errorCount, 2u);
  // The same report the partition scan shows for that replica.
  EXPECT_EQ(ring.replicas[1].errorReport, InspectReplicaErrors(context, "Sales.ORG"));
  EXPECT_EQ(ring.replicas[2].type, RT_SUBREF);
  EXPECT_EQ(ring.replicas[2].errorCount, 0u);
}

TEST_F(RingReader, ARingTooLargeForOneReplyIsReadWhole) {
  nwtest::TreeShape shape;
  shape.servers = 3000;
  shape.partitions = 1;
  shape.replicasPerPartition = 3000;
  shape.objectsPerPartition = 0;
  shape.errorsEvery = 0;
  const NWDSContextHandle context = Connect(nwtest::GenerateTreeJson(shape), "BENCH_TREE");
  nwtest::ResetCallCounts();
  const RingFacts ring = ReadRing(context, "[Root]");
  EXPECT_GT(nwtest::CallCount("DSReadStep"), 2u);  // split over several replies
  EXPECT_EQ(ring.ringProblem, "");
  EXPECT_EQ(ring.statusProblem, "");
  ASSERT_EQ(ring.replicas.size(), 3000u);
  for (std::size_t i = 0; i < ring.replicas.size(); ++i) {
    EXPECT_EQ(ring.replicas[i].server, Format("SRV%d.Servers.BENCH", static_cast<int>(i + 1)));
    EXPECT_EQ(ring.replicas[i].number, i + 1);
    ASSERT_TRUE(ring.replicas[i].hasStatus);
  }
}

TEST_F(RingReader, FailingCallsBecomeProblemsAndLeaveNothingOpen) {
  const NWDSContextHandle context = Connect(SmallTree(HealthyRing(kNow), HealthyRing(kNow)), "SMALL_TREE");
  // The first read of the ring fails: nothing else is asked.
  nwtest::FailOperation("DSReadStep", ERR_TRANSPORT_FAILURE, 0, 1);
  RingFacts ring = ReadRing(context, "Sales.ORG");
  EXPECT_EQ(ring.ringProblem, "0xFFFFFD8F");
  EXPECT_TRUE(ring.replicas.empty());
  // The status read fails: the ring is known, its states are not.
  nwtest::ClearFailures();
  nwtest::FailOperation("DSReadStep", ERR_TRANSPORT_FAILURE, nwtest::CallCount("DSReadStep") + 1, 1);
  ring = ReadRing(context, "Sales.ORG");
  EXPECT_EQ(ring.ringProblem, "");
  EXPECT_EQ(ring.statusProblem, "0xFFFFFD8F");
  ASSERT_EQ(ring.replicas.size(), 3u);
  EXPECT_FALSE(ring.replicas[0].hasStatus);
  // A value that cannot be handed over half-way through a reply.
  nwtest::ClearFailures();
  nwtest::FailOperation("DSResultNextValue", ERR_TRANSPORT_FAILURE, nwtest::CallCount("DSResultNextValue") + 1, 1);
  ring = ReadRing(context, "Sales.ORG");
  EXPECT_EQ(ring.ringProblem, "0xFFFFFD8F");
  // The search of the partitions fails.
  nwtest::ClearFailures();
  nwtest::FailOperation("DSSearchStep", ERR_TRANSPORT_FAILURE);
  EXPECT_EQ(ReadTreeRings(context).listCode, ERR_TRANSPORT_FAILURE);
  nwtest::ClearFailures();
  // A partition that is gone.
  ring = ReadRing(context, "Nowhere.ORG");
  EXPECT_EQ(ring.ringProblem, "0xFFFFFDA7");
}

}  // namespace
}  // namespace vestrel::check::testing
