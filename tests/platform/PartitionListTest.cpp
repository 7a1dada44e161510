// A server's partitions in batches, and the sync error lists of replicas.
#include <cstring>

#include "NwTestSupport.h"
#include "platform/nwclient/Model.h"

namespace vestrel::testing {
namespace {

struct Listing {
  NWRCODE code = 0;
  int batches = 0;
  std::string server;
  std::vector<std::pair<std::string, nuint32>> partitions;
};

// The listing loop of the program: batches until the handle comes back -1.
Listing ListPartitions(NWDSContextHandle c, const char* server) {
  Listing listing;
  Buf_T* reply = nullptr;
  EXPECT_EQ(DSBufferAlloc(MAX_MESSAGE_LEN, &reply), 0);
  nuint32 iteration = NO_MORE_ITERATIONS;
  do {
    listing.code = DSServerPartitionsList(c, &iteration, server, reply);
    if (listing.code) break;
    ++listing.batches;
    char name[MAX_DN_BYTES];
    nuint32 count = 0;
    listing.code = DSResultServerName(c, reply, name, &count);
    if (listing.code) break;
    listing.server = name;
    for (nuint32 i = 0; i < count; ++i) {
      nuint32 type = 0;
      EXPECT_EQ(DSResultNextPartition(c, reply, name, &type), 0);
      listing.partitions.emplace_back(name, type);
    }
    EXPECT_EQ(DSResultNextPartition(c, reply, name, nullptr), ERR_BUFFER_EMPTY);
  } while (iteration != NO_MORE_ITERATIONS && listing.batches < 1000);
  DSBufferFree(reply);
  return listing;
}

struct SyncErrors {
  NWRCODE code = 0;
  nuint32 count = 0;
  std::vector<std::int32_t> codes;  // the 32 slots
};

SyncErrors ReplicaErrors(NWDSContextHandle c, const char* server, const char* partition) {
  SyncErrors result;
  Buf_T* buffer = nullptr;
  EXPECT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &buffer), 0);
  std::memset(buffer->data, 0xAB, buffer->maxLen);
  result.code = DSReplicaSyncErrors(c, server, partition, buffer);
  if (result.code == 0) {
    EXPECT_EQ(buffer->curLen, 136u);
    result.count = U32At(buffer->data, 4);
    for (int i = 0; i < 32; ++i) result.codes.push_back(static_cast<std::int32_t>(U32At(buffer->data, 8 + 4 * i)));
    EXPECT_EQ(buffer->data[136], 0xAB);  // nothing written past the 136 bytes
  }
  DSBufferFree(buffer);
  return result;
}

class Partitions : public NwTest {
 protected:
  void SetUp() override {
    NwTest::SetUp();
    ConnectDemo();
    c_ = Context();
  }
  NWDSContextHandle c_ = 0;
};

TEST_F(Partitions, AServersPartitionsComeInSeveralBatchesInRingOrder) {
  Listing listing = ListPartitions(c_, "FS1.HQ.ACME");
  ASSERT_EQ(listing.code, 0);
  EXPECT_EQ(listing.server, "FS1.HQ.ACME");
  EXPECT_EQ(listing.batches, 3);  // five partitions, two per reply
  std::vector<std::pair<std::string, nuint32>> expected = {
      {"[Root]", RT_MASTER}, {"Sales.ACME", RT_SECONDARY}, {"Berlin.Sales.ACME", RT_SUBREF},
      {"Engineering.ACME", RT_READONLY}, {"Legacy.ACME", RT_SECONDARY}};
  EXPECT_EQ(listing.partitions, expected);
  EXPECT_EQ(nwtest::OpenIterations(), 0u);
  nwtest::SetPartitionBatchSize(10);
  EXPECT_EQ(ListPartitions(c_, "FS1.HQ.ACME").batches, 1);
}

TEST_F(Partitions, ServersWithoutReplicasUnknownAndUnreachable) {
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"E","objects":[{"name":"o","class":"Organization"}],
      "servers":[{"name":"idle.o"}]})", "", false), "");
  Listing idle = ListPartitions(Context("E"), "idle.o");
  EXPECT_EQ(idle.code, 0);
  EXPECT_EQ(idle.batches, 1);
  EXPECT_TRUE(idle.partitions.empty());
  EXPECT_EQ(ListPartitions(c_, "nobody.ACME").code, ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(ListPartitions(c_, "admin.ACME").code, ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(ListPartitions(c_, "OLDNW.Legacy.ACME").code, ERR_UNREACHABLE_SERVER);
  nuint32 iteration = 777;
  Buf_T* reply = nullptr;
  ASSERT_EQ(DSBufferAlloc(MAX_MESSAGE_LEN, &reply), 0);
  EXPECT_EQ(DSServerPartitionsList(c_, &iteration, "FS1.HQ.ACME", reply), ERR_INVALID_ITERATION);
  char name[MAX_DN_BYTES];
  nuint32 count = 0;
  EXPECT_EQ(DSResultServerName(c_, reply, name, &count), ERR_BUFFER_EMPTY);
  DSBufferFree(reply);
}

TEST_F(Partitions, UnknownReplicaTypesArePassedOn) {
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"U","objects":[{"name":"o","class":"Organization"}],
      "servers":[{"name":"s.o"}],"partitions":[{"root":"o","replicas":[{"server":"s.o","type":4}]}]})", "", false), "");
  Listing listing = ListPartitions(Context("U"), "s.o");
  ASSERT_EQ(listing.partitions.size(), 1u);
  EXPECT_EQ(listing.partitions[0].second, 4u);
}

TEST_F(Partitions, ListingFollowsRingChanges) {
  nw::Tree* tree = nwtest::FindTree("ACME_TREE");
  ASSERT_NE(tree, nullptr);
  nw::Partition* legacy = tree->Find("Legacy.ACME")->partition;
  legacy->ring.erase(legacy->ring.begin() + 1);  // FS1's replica is removed
  Listing listing = ListPartitions(c_, "FS1.HQ.ACME");
  EXPECT_EQ(listing.partitions.size(), 4u);
  ReadResult r = ReadAll(c_, "Legacy.ACME", {"Replica"});
  EXPECT_EQ(r.values.size(), 2u);
}

TEST_F(Partitions, ReplicaErrorsGiveTheCountAndUpTo32Codes) {
  SyncErrors fs1 = ReplicaErrors(c_, "FS1.HQ.ACME", "Legacy.ACME");
  ASSERT_EQ(fs1.code, 0);
  EXPECT_EQ(fs1.count, 3u);
  EXPECT_EQ(fs1.codes[0], -625);
  EXPECT_EQ(fs1.codes[1], -636);
  EXPECT_EQ(fs1.codes[3], 0);
  SyncErrors clean = ReplicaErrors(c_, "FS2.HQ.ACME", "[Root]");
  ASSERT_EQ(clean.code, 0);
  EXPECT_EQ(clean.count, 0u);
  EXPECT_EQ(ReplicaErrors(c_, "OLDNW.Legacy.ACME", "Legacy.ACME").code, ERR_UNREACHABLE_SERVER);
  EXPECT_EQ(ReplicaErrors(c_, "FS2.HQ.ACME", "Legacy.ACME").code, ERR_REPLICA_NOT_ON);
  EXPECT_EQ(ReplicaErrors(c_, "FS1.HQ.ACME", "HQ.ACME").code, ERR_NO_SUCH_PARTITION);
  EXPECT_EQ(ReplicaErrors(c_, "nobody", "[Root]").code, ERR_NO_SUCH_ENTRY);
}

TEST_F(Partitions, MoreThan32ErrorsKeepTheirCountButOnly32Codes) {
  std::string errors;
  for (int i = 0; i < 40; ++i) errors += (i ? "," : "") + std::to_string(-600 - i);
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"M","objects":[{"name":"o","class":"Organization"}],
      "servers":[{"name":"s.o"}],"partitions":[{"root":"o","replicas":[{"server":"s.o","errors":[)" + errors + "]}]}]}",
                                    "", false), "");
  SyncErrors many = ReplicaErrors(Context("M"), "s.o", "o");
  ASSERT_EQ(many.code, 0);
  EXPECT_EQ(many.count, 40u);
  ASSERT_EQ(many.codes.size(), 32u);
  EXPECT_EQ(many.codes[31], -631);
}

TEST_F(Partitions, ErrorBuffersSmallerThan136BytesAreRefused) {
  Buf_T* small = nullptr;
  ASSERT_EQ(DSBufferAlloc(100, &small), 0);
  EXPECT_EQ(DSReplicaSyncErrors(c_, "FS1.HQ.ACME", "[Root]", small), ERR_INSUFFICIENT_BUFFER);
  DSBufferFree(small);
}

}  // namespace
}  // namespace vestrel::testing
