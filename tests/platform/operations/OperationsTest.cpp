// The partition and replica operations of the embedded directory: the codes a server
// gives for wrong names and rings, the scheduled syncs that wait for the engine clock,
// what removals, joins and the ring changes leave behind in the values a program reads,
// and the states a changed ring passes through.
#include <algorithm>
#include <functional>

#include "../NwTestSupport.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/Operations.h"

namespace vestrel::testing {
namespace {

constexpr nuint32 kStart = 1714982400;  // 2024-05-06 08:00:00 UTC

// Three levels of partitions: [Root] (S1 master, S2), A.O (S1 master, S3 read-only, S2
// reference) and B.A.O below it (S1 master, S2 secondary, S3 reference).
const char* kOpsTree = R"({"tree":"OPS_TREE","clock":1000,
  "objects":[{"name":"O","class":"Organization"},{"name":"A.O","class":"Organizational Unit"},
             {"name":"B.A.O","class":"Organizational Unit"},{"name":"u.B.A.O","class":"User"},
             {"name":"C.O","class":"Organizational Unit"}],
  "servers":[{"name":"S1.O"},{"name":"S2.O"},{"name":"S3.O"}],
  "partitions":[{"root":"[Root]","replicas":[{"server":"S1.O"},{"server":"S2.O"}]},
    {"root":"A.O","replicas":[{"server":"S1.O"},{"server":"S3.O","type":"Read-Only"},
                              {"server":"S2.O","type":"Subordinate Reference"}]},
    {"root":"B.A.O","replicas":[{"server":"S1.O","event":40},{"server":"S2.O"},
                                {"server":"S3.O","type":"Subordinate Reference"}]},
    {"root":"C.O","replicas":[{"server":"S2.O"}]}]})";

class Operations : public NwTest {
 protected:
  void SetUp() override {
    NwTest::SetUp();
    nw::DropPendingOperations();
    ConnectDemo();
    ASSERT_EQ(nwtest::ConnectTreeJson(kOpsTree, "admin.O", false), "");
    nwtest::SetClock(kStart);
    acme = Context("ACME_TREE");
    ops = Context("OPS_TREE");
  }

  static nw::Partition& PartitionOf(const std::string& tree, const std::string& root) {
    nw::Object* obj = nwtest::FindTree(tree)->Find(root);
    EXPECT_NE(obj, nullptr);
    EXPECT_NE(obj->partition, nullptr);
    return *obj->partition;
  }
  static const nw::Replica& ReplicaOf(const std::string& tree, const std::string& root, const std::string& server) {
    nw::Tree* t = nwtest::FindTree(tree);
    const nw::Replica* r = PartitionOf(tree, root).ReplicaOn(t->FindServer(server));
    EXPECT_NE(r, nullptr) << server << " holds no replica of " << root;
    static const nw::Replica none{};
    return r ? *r : none;
  }
  static bool HasPartition(const std::string& tree, const std::string& root) {
    nw::Object* obj = nwtest::FindTree(tree)->Find(root);
    return obj && obj->partition;
  }

  // "Partition Status" of a partition as a program reads it: per server, the state and
  // the last sync time.
  struct Status {
    nuint32 state = 99;
    nuint32 lastSync = 0;
    nuint32 error = 0;
  };
  Status ReadStatus(const std::string& root, const std::string& server) {
    ReadResult read = ReadAll(acme, root, {"Partition Status"});
    EXPECT_EQ(read.code, 0);
    for (const ReadValue* v : ValuesOf(read, "Partition Status")) {
      const auto& octets = v->As<Octet_String_T>();
      // The first line carries four more bytes before the server name.
      if (octets.length < 24 || (Utf16At(octets.data, octets.length, 24) != server &&
                                 Utf16At(octets.data, octets.length, 28) != server))
        continue;
      return Status{U32At(octets.data, 4), U32At(octets.data, 8), U32At(octets.data, 16)};
    }
    ADD_FAILURE() << "no status line of " << server;
    return {};
  }

  std::vector<std::string> ReplicaServers(NWDSContextHandle context, const std::string& root) {
    std::vector<std::string> servers;
    ReadResult read = ReadAll(context, root, {"Replica"});
    for (const ReadValue* v : ValuesOf(read, "Replica")) servers.push_back(v->As<Replica_Pointer_T>().serverName);
    return servers;
  }

  std::vector<std::string> ServerPartitions(NWDSContextHandle context, const std::string& server) {
    std::vector<std::string> names;
    Buf_T* reply = nullptr;
    EXPECT_EQ(DSBufferAlloc(MAX_MESSAGE_LEN, &reply), 0);
    nuint32 iteration = NO_MORE_ITERATIONS;
    do {
      EXPECT_EQ(DSServerPartitionsList(context, &iteration, server.c_str(), reply), 0);
      nuint32 count = 0;
      char name[MAX_DN_BYTES];
      EXPECT_EQ(DSResultServerName(context, reply, name, &count), 0);
      for (nuint32 i = 0; i < count; ++i) {
        nuint32 type = 0;
        EXPECT_EQ(DSResultNextPartition(context, reply, name, &type), 0);
        names.push_back(name);
      }
    } while (iteration != NO_MORE_ITERATIONS);
    DSBufferFree(reply);
    return names;
  }

  NWDSContextHandle acme = 0;
  NWDSContextHandle ops = 0;
};

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// ---- Names and rings ----

TEST_F(Operations, WrongNamesAndServersWithoutAReplicaGiveTheServersCodes) {
  // Unknown names, and names of objects that are no server or no partition root.
  EXPECT_EQ(NWDSSyncSchema(acme, ".NOSUCH.HQ.ACME", 5), ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(NWDSSyncSchema(acme, ".admin.ACME", 5), ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(NWDSSyncPartition(acme, ".FS1.HQ.ACME", ".NoSuch.ACME", 5), ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(NWDSSyncPartition(acme, ".FS1.HQ.ACME", ".HQ.ACME", 5), ERR_NO_SUCH_PARTITION);
  EXPECT_EQ(NWDSRepairTimeStamps(acme, ".admin.ACME"), ERR_NO_SUCH_PARTITION);
  EXPECT_EQ(NWDSReloadDS(acme, nullptr), ERR_NULL_POINTER);
  // ENG-FS1 holds no replica of Sales.
  EXPECT_EQ(NWDSSyncPartition(acme, ".ENG-FS1.Engineering.ACME", ".Sales.ACME", 5), ERR_REPLICA_NOT_ON);
  EXPECT_EQ(NWDSRemoveReplica(acme, ".ENG-FS1.Engineering.ACME", ".Sales.ACME"), ERR_REPLICA_NOT_ON);
  EXPECT_EQ(NWDSPartitionReceiveAllUpdates(acme, ".Sales.ACME", ".ENG-FS1.Engineering.ACME"), ERR_REPLICA_NOT_ON);
  // The server that no longer answers.
  EXPECT_EQ(NWDSReloadDS(acme, ".OLDNW.Legacy.ACME"), ERR_UNREACHABLE_SERVER);
  EXPECT_EQ(NWDSSyncSchema(acme, ".OLDNW.Legacy.ACME", 0), ERR_UNREACHABLE_SERVER);
  // A context that is gone.
  NWDSContextHandle gone = 0;
  ASSERT_EQ(DSContextCreate(&gone), 0);
  DSContextFree(gone);
  EXPECT_EQ(NWDSReloadDS(gone, ".FS1.HQ.ACME"), ERR_BAD_CONTEXT);
  EXPECT_EQ(nw::PendingOperations(), 0u);  // nothing failed was scheduled
}

TEST_F(Operations, NamesResolveAgainstTheNameContext) {
  ASSERT_EQ(DSContextSetValue(acme, DCK_NAME_CONTEXT, "HQ.ACME"), 0);
  EXPECT_EQ(NWDSReloadDS(acme, "FS1"), 0);
  EXPECT_EQ(NWDSPartitionSendAllUpdates(acme, ".Sales.ACME", "FS1"), 0);
  EXPECT_EQ(NWDSReloadDS(acme, "FS1.Sales.ACME"), ERR_NO_SUCH_ENTRY);
}

// ---- Scheduled syncs ----

TEST_F(Operations, SyncPartitionRunsWhenItsDelayHasPassedAndClearsTheRingsErrors) {
  nw::Replica& second = PartitionOf("ACME_TREE", "Sales.ACME").ring[1];
  second.state = RS_REMOTE_ERROR;
  second.errors = {-625, -625};
  second.statusError = -625;
  nuint32 before = ReadStatus("Sales.ACME", "FS1.HQ.ACME").lastSync;

  ASSERT_EQ(NWDSSyncPartition(acme, ".FS1.HQ.ACME", ".Sales.ACME", 5), 0);
  EXPECT_EQ(nw::PendingOperations(), 1u);
  nwtest::AdvanceClock(4);
  EXPECT_EQ(ReadStatus("Sales.ACME", "FS1.HQ.ACME").lastSync, before);  // not yet due
  EXPECT_EQ(ReadStatus("Sales.ACME", "FS1.HQ.ACME").state, RS_REMOTE_ERROR);

  nwtest::AdvanceClock(3);  // the engine is next asked two seconds after the sync fell due
  Status after = ReadStatus("Sales.ACME", "FS1.HQ.ACME");
  EXPECT_EQ(after.lastSync, kStart + 5);
  EXPECT_EQ(after.state, RS_IN_SYNC);
  EXPECT_EQ(after.error, 0u);
  EXPECT_EQ(ReadStatus("Sales.ACME", "SALES-FS1.Sales.ACME").lastSync, kStart + 5);
  EXPECT_TRUE(ReplicaOf("ACME_TREE", "Sales.ACME", "FS1.HQ.ACME").errors.empty());
  EXPECT_EQ(nw::PendingOperations(), 0u);
}

TEST_F(Operations, ASyncCannotReachASilentRingMember) {
  nuint32 oldSync = ReplicaOf("ACME_TREE", "Legacy.ACME", "FS1.HQ.ACME").lastSync;
  nw::Replica silent = ReplicaOf("ACME_TREE", "Legacy.ACME", "OLDNW.Legacy.ACME");
  ASSERT_EQ(NWDSSyncPartition(acme, ".FS1.HQ.ACME", ".Legacy.ACME", 0), 0);
  nw::RunDueOperations();
  const nw::Replica& fs1 = ReplicaOf("ACME_TREE", "Legacy.ACME", "FS1.HQ.ACME");
  EXPECT_EQ(fs1.state, RS_REMOTE_ERROR);
  EXPECT_EQ(fs1.errors, std::vector<NWRCODE>{ERR_UNREACHABLE_SERVER});
  EXPECT_EQ(fs1.lastSync, oldSync);
  const nw::Replica& old = ReplicaOf("ACME_TREE", "Legacy.ACME", "OLDNW.Legacy.ACME");
  EXPECT_EQ(old.errors, silent.errors);
  EXPECT_EQ(old.lastSync, silent.lastSync);
  // Its master does not answer, so no replica can receive from it.
  EXPECT_EQ(NWDSPartitionReceiveAllUpdates(acme, ".Legacy.ACME", ".FS1.HQ.ACME"), ERR_UNREACHABLE_SERVER);
}

TEST_F(Operations, ScheduledSyncsRunInDueOrderAndOnlyOnWhatStillExists) {
  ASSERT_EQ(NWDSSyncSchema(acme, ".FS2.HQ.ACME", 86399), 0);
  ASSERT_EQ(NWDSSyncSchema(acme, ".FS1.HQ.ACME", 10), 0);
  ASSERT_EQ(NWDSSyncPartition(ops, ".S2.O", ".B.A.O", 20), 0);
  EXPECT_EQ(nw::PendingOperations(), 3u);
  nwtest::AdvanceClock(10);
  nw::RunDueOperations();
  EXPECT_EQ(nw::LastSchemaSync("ACME_TREE", "FS1.HQ.ACME"), kStart + 10);
  EXPECT_EQ(nw::LastSchemaSync("acme_tree", "fs2.hq.acme"), 0u);
  // The partition is joined into its parent before its sync falls due: the sync finds nothing.
  ASSERT_EQ(NWDSJoinPartitions(ops, ".B.A.O", 0), 0);
  nwtest::AdvanceClock(10);
  nw::RunDueOperations();
  EXPECT_EQ(nw::PendingOperations(), 1u);
  nwtest::AdvanceClock(86399);
  nw::RunDueOperations();
  EXPECT_EQ(nw::LastSchemaSync("ACME_TREE", "FS2.HQ.ACME"), kStart + 86399);
  // A forgotten engine forgets its pending syncs too.
  ASSERT_EQ(NWDSSyncSchema(acme, ".FS2.HQ.ACME", 1), 0);
  nw::DropPendingOperations();
  EXPECT_EQ(nw::PendingOperations(), 0u);
}

TEST_F(Operations, SyncReplicaToServerUpdatesOnlyTheTargetWhenDue) {
  EXPECT_EQ(NWDSSyncReplicaToServer(acme, ".FS1.HQ.ACME", ".Sales.ACME", ".FS1.HQ.ACME", 2, 0), ERR_INVALID_REQUEST);
  EXPECT_EQ(NWDSSyncReplicaToServer(acme, ".FS1.HQ.ACME", ".Sales.ACME", ".FS2.HQ.ACME", 2, 0), ERR_REPLICA_NOT_ON);
  EXPECT_EQ(NWDSSyncReplicaToServer(acme, ".FS1.HQ.ACME", ".Berlin.Sales.ACME", ".BER-FS1.Berlin.Sales.ACME", 2, 0),
            ERR_ILLEGAL_REPLICA_TYPE);  // FS1 holds only a reference of Berlin
  EXPECT_EQ(nw::PendingOperations(), 0u);

  nw::Replica& target = PartitionOf("ACME_TREE", "Engineering.ACME").ring[2];  // FS1, read-only
  target.state = RS_LOCAL_ERROR;
  target.errors = {-625};
  nw::Replica sourceBefore = ReplicaOf("ACME_TREE", "Engineering.ACME", "ENG-FS1.Engineering.ACME");
  ASSERT_EQ(NWDSSyncReplicaToServer(acme, ".ENG-FS1.Engineering.ACME", ".Engineering.ACME", ".FS1.HQ.ACME", 6, 30), 0);
  nwtest::AdvanceClock(30);
  nw::RunDueOperations();
  const nw::Replica& updated = ReplicaOf("ACME_TREE", "Engineering.ACME", "FS1.HQ.ACME");
  EXPECT_EQ(updated.lastSync, kStart + 30);
  EXPECT_EQ(updated.state, RS_IN_SYNC);
  EXPECT_TRUE(updated.errors.empty());
  EXPECT_EQ(updated.event, sourceBefore.event);
  EXPECT_EQ(ReplicaOf("ACME_TREE", "Engineering.ACME", "ENG-FS1.Engineering.ACME").lastSync, sourceBefore.lastSync);
}

// ---- Immediate requests ----

TEST_F(Operations, SendAndReceiveAllUpdatesTakeEffectAtOnce) {
  EXPECT_EQ(NWDSPartitionSendAllUpdates(acme, ".Berlin.Sales.ACME", ".FS1.HQ.ACME"), ERR_ILLEGAL_REPLICA_TYPE);
  EXPECT_EQ(NWDSPartitionReceiveAllUpdates(acme, ".Sales.ACME", ".SALES-FS1.Sales.ACME"), ERR_ILLEGAL_REPLICA_TYPE);

  ASSERT_EQ(NWDSPartitionSendAllUpdates(acme, ".Berlin.Sales.ACME", ".SALES-FS1.Sales.ACME"), 0);
  for (const nw::Replica& r : PartitionOf("ACME_TREE", "Berlin.Sales.ACME").ring) EXPECT_EQ(r.lastSync, kStart);

  nw::Replica& secondary = PartitionOf("ACME_TREE", "Sales.ACME").ring[1];
  nuint32 masterSync = PartitionOf("ACME_TREE", "Sales.ACME").ring[0].lastSync;
  secondary.errors = {-625};
  secondary.event = 1;
  nwtest::AdvanceClock(60);
  ASSERT_EQ(NWDSPartitionReceiveAllUpdates(acme, ".Sales.ACME", ".FS1.HQ.ACME"), 0);
  EXPECT_EQ(secondary.lastSync, kStart + 60);
  EXPECT_EQ(secondary.event, PartitionOf("ACME_TREE", "Sales.ACME").ring[0].event);
  EXPECT_TRUE(secondary.errors.empty());
  EXPECT_EQ(PartitionOf("ACME_TREE", "Sales.ACME").ring[0].lastSync, masterSync);  // the sender is unchanged
}

TEST_F(Operations, RepairTimeStampsAndReloadAreAcceptedForKnownTargets) {
  nuint32 masterEvent = ReplicaOf("OPS_TREE", "A.O", "S1.O").event;
  ASSERT_EQ(NWDSRepairTimeStamps(ops, ".A.O"), 0);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "A.O", "S1.O").event, masterEvent + 1);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "A.O", "S3.O").event, masterEvent + 1);
  EXPECT_EQ(NWDSRepairTimeStamps(acme, ".Legacy.ACME"), ERR_UNREACHABLE_SERVER);  // its master is silent
  EXPECT_EQ(NWDSReloadDS(ops, ".S3.O"), 0);
  EXPECT_EQ(NWDSReloadDS(ops, ".A.O"), ERR_NO_SUCH_ENTRY);
}

// ---- Removals and joins ----

TEST_F(Operations, RemoveReplicaTakesItOutOfTheRingAndTheServersListing) {
  EXPECT_EQ(NWDSRemoveReplica(acme, ".SALES-FS1.Sales.ACME", ".Sales.ACME"), ERR_CRUCIAL_REPLICA);
  EXPECT_EQ(NWDSRemoveReplica(acme, ".FS1.HQ.ACME", ".Berlin.Sales.ACME"), ERR_ILLEGAL_REPLICA_TYPE);
  EXPECT_EQ(NWDSRemoveReplica(acme, ".FS1.HQ.ACME", ".Legacy.ACME"), ERR_UNREACHABLE_SERVER);
  ASSERT_TRUE(Contains(ReplicaServers(acme, "Sales.ACME"), "FS1.HQ.ACME"));
  ASSERT_TRUE(Contains(ServerPartitions(acme, "FS1.HQ.ACME"), "Sales.ACME"));

  ASSERT_EQ(NWDSRemoveReplica(acme, ".FS1.HQ.ACME", ".Sales.ACME"), 0);
  EXPECT_FALSE(Contains(ReplicaServers(acme, "Sales.ACME"), "FS1.HQ.ACME"));
  std::vector<std::string> left = ServerPartitions(acme, "FS1.HQ.ACME");
  EXPECT_FALSE(Contains(left, "Sales.ACME"));
  // FS1 held a reference of Berlin only because it held Sales.
  EXPECT_FALSE(Contains(left, "Berlin.Sales.ACME"));
  EXPECT_TRUE(Contains(left, "[Root]"));
  EXPECT_EQ(NWDSRemoveReplica(acme, ".FS1.HQ.ACME", ".Sales.ACME"), ERR_REPLICA_NOT_ON);
}

TEST_F(Operations, RemovePartitionOnlyForALeafHeldByItsMasterAlone) {
  EXPECT_EQ(NWDSRemovePartition(ops, "[Root]"), ERR_INVALID_REQUEST);
  EXPECT_EQ(NWDSRemovePartition(ops, ".A.O"), ERR_MULTIPLE_REPLICAS);
  EXPECT_EQ(NWDSRemovePartition(ops, ".B.A.O"), ERR_MULTIPLE_REPLICAS);
  ASSERT_EQ(NWDSRemoveReplica(ops, ".S3.O", ".A.O"), 0);
  EXPECT_EQ(NWDSRemovePartition(ops, ".A.O"), ERR_NOT_LEAF_PARTITION);  // B.A.O lies below it
  EXPECT_TRUE(HasPartition("OPS_TREE", "A.O"));

  ASSERT_EQ(NWDSRemoveReplica(ops, ".S2.O", ".B.A.O"), 0);
  ASSERT_EQ(NWDSRemovePartition(ops, ".B.A.O"), 0);  // master and a reference left
  EXPECT_FALSE(HasPartition("OPS_TREE", "B.A.O"));
  nw::Tree& tree = *nwtest::FindTree("OPS_TREE");
  EXPECT_EQ(tree.PartitionHolding(*tree.Find("u.B.A.O")), &PartitionOf("OPS_TREE", "A.O"));
  EXPECT_TRUE(ReplicaServers(ops, "B.A.O").empty());
  EXPECT_EQ(NWDSRemovePartition(ops, ".B.A.O"), ERR_NO_SUCH_PARTITION);
  ASSERT_EQ(NWDSRemovePartition(ops, ".A.O"), 0);  // a leaf now
  ASSERT_EQ(NWDSRemovePartition(ops, "C.O"), 0);
  EXPECT_EQ(tree.partitions.size(), 1u);
}

TEST_F(Operations, JoinNeedsBothMastersOnOneServerAndMergesTheRings) {
  EXPECT_EQ(NWDSJoinPartitions(acme, "[Root]", 0), ERR_NO_SUCH_PARENT);
  EXPECT_EQ(NWDSJoinPartitions(acme, ".Sales.ACME", 0), ERR_REPLICA_NOT_ON);  // SALES-FS1 vs FS1
  EXPECT_EQ(NWDSJoinPartitions(acme, ".Legacy.ACME", 0), ERR_UNREACHABLE_SERVER);
  EXPECT_EQ(NWDSJoinPartitions(ops, ".C.O", 0), ERR_REPLICA_NOT_ON);  // S2 vs S1

  nwtest::AdvanceClock(100);
  ASSERT_EQ(NWDSJoinPartitions(ops, ".B.A.O", 0), 0);
  EXPECT_FALSE(HasPartition("OPS_TREE", "B.A.O"));
  nw::Tree& tree = *nwtest::FindTree("OPS_TREE");
  nw::Partition& a = PartitionOf("OPS_TREE", "A.O");
  EXPECT_EQ(tree.PartitionHolding(*tree.Find("u.B.A.O")), &a);
  // S2 had only a reference of A.O and a secondary of B.A.O: it now holds a secondary.
  const nw::Replica& s2 = ReplicaOf("OPS_TREE", "A.O", "S2.O");
  EXPECT_EQ(s2.type, RT_SECONDARY);
  EXPECT_EQ(s2.lastSync, kStart + 100);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "A.O", "S3.O").type, RT_READONLY);
  EXPECT_EQ(a.ring.size(), 3u);
  EXPECT_TRUE(Contains(ServerPartitions(ops, "S2.O"), "A.O"));
  EXPECT_FALSE(Contains(ServerPartitions(ops, "S2.O"), "B.A.O"));
  // A.O itself joins [Root] (master S1 too); S3 gets a read-only replica of [Root].
  ASSERT_EQ(NWDSJoinPartitions(ops, "A.O", 0), 0);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "[Root]", "S3.O").type, RT_READONLY);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "[Root]", "S3.O").number, 3u);
}

// ---- Test controls ----

TEST_F(Operations, ForcedFailuresAreCountedAndChangeNothing) {
  nwtest::FailOperation("NWDSRemoveReplica", ERR_PARTITION_BUSY, 0, 1);
  EXPECT_EQ(NWDSRemoveReplica(acme, ".FS1.HQ.ACME", ".Sales.ACME"), ERR_PARTITION_BUSY);
  EXPECT_TRUE(Contains(ReplicaServers(acme, "Sales.ACME"), "FS1.HQ.ACME"));
  nwtest::FailOperation("NWDSSyncPartition", ERR_SKULK_IN_PROGRESS);
  EXPECT_EQ(NWDSSyncPartition(acme, ".FS1.HQ.ACME", ".Sales.ACME", 5), ERR_SKULK_IN_PROGRESS);
  EXPECT_EQ(nw::PendingOperations(), 0u);
  EXPECT_EQ(nwtest::CallCount("NWDSRemoveReplica"), 1u);
  EXPECT_EQ(nwtest::CallCount("NWDSSyncPartition"), 1u);
}

TEST_F(Operations, TheLastRequestKeepsItsArgumentsAsPassed) {
  EXPECT_EQ(NWDSSyncReplicaToServer(acme, ".FS1.HQ.ACME", "Sales.ACME", nullptr, 6, 86399), ERR_NULL_POINTER);
  const nw::OperationRequest& request = nw::LastOperationRequest();
  EXPECT_EQ(request.operation, "NWDSSyncReplicaToServer");
  EXPECT_EQ(request.names, (std::vector<std::string>{".FS1.HQ.ACME", "Sales.ACME", ""}));
  EXPECT_EQ(request.flags, 6u);
  EXPECT_EQ(request.seconds, 86399u);
  nwtest::Reset();
  EXPECT_EQ(nw::LastOperationRequest().operation, "");
}

// A tree file carries all ten; the question itself checks its arguments and the context.
TEST_F(Operations, ATreeFileCarriesEveryOperationAndTheQuestionChecksItsArguments) {
  char reason[8] = "x";
  bool carried = false;
  for (const char* call : {"NWDSSyncSchema", "NWDSSyncPartition", "NWDSPartitionSendAllUpdates",
                           "NWDSPartitionReceiveAllUpdates", "NWDSSyncReplicaToServer", "NWDSRemovePartition",
                           "NWDSRemoveReplica", "NWDSJoinPartitions", "NWDSRepairTimeStamps", "NWDSReloadDS"}) {
    SCOPED_TRACE(call);
    carried = false;
    EXPECT_EQ(DSOperationCarried(acme, call, &carried, reason, sizeof reason), 0);
    EXPECT_TRUE(carried);
    EXPECT_STREQ(reason, "");
  }
  struct Wrong {
    NWDSContextHandle context;
    const char* call;
    bool* carried;
    char* reason;
    nuint32 room;
    NWRCODE code;
  };
  for (const Wrong& w : {Wrong{acme, "NWDSReadStep", &carried, reason, 8, ERR_INVALID_PARAMETER},
                         Wrong{acme, "nwdsreloadds", &carried, reason, 8, ERR_INVALID_PARAMETER},
                         Wrong{acme, nullptr, &carried, reason, 8, ERR_INVALID_PARAMETER},
                         Wrong{acme, "NWDSReloadDS", nullptr, reason, 8, ERR_INVALID_PARAMETER},
                         Wrong{acme, "NWDSReloadDS", &carried, nullptr, 8, ERR_INVALID_PARAMETER},
                         Wrong{acme, "NWDSReloadDS", &carried, reason, 0, ERR_INVALID_PARAMETER},
                         Wrong{4711, "NWDSReloadDS", &carried, reason, 8, ERR_BAD_CONTEXT}})
    EXPECT_EQ(DSOperationCarried(w.context, w.call, w.carried, w.reason, w.room), w.code) << (w.call ? w.call : "null");
  EXPECT_EQ(nwtest::CallCount("DSOperationCarried"), 17u);
}

// ---- Ring changes ----

TEST_F(Operations, RingChangesRefuseWhatTheDirectoryRefusesAndChangeNothing) {
  struct Refused {
    const char* label;
    std::function<NWRCODE()> call;
    NWRCODE code;
  };
  const std::vector<Refused> refused = {
      {"add where a replica is", [&] { return NWDSAddReplica(ops, "S1.O", "A.O", RT_SECONDARY); },
       ERR_REPLICA_ALREADY_EXISTS},
      {"add a master", [&] { return NWDSAddReplica(ops, "S1.O", "C.O", RT_MASTER); }, ERR_ILLEGAL_REPLICA_TYPE},
      {"add a reference", [&] { return NWDSAddReplica(ops, "S3.O", "C.O", RT_SUBREF); }, ERR_ILLEGAL_REPLICA_TYPE},
      {"add to no partition", [&] { return NWDSAddReplica(ops, "S1.O", "u.B.A.O", RT_SECONDARY); },
       ERR_NO_SUCH_PARTITION},
      {"add with a silent master",
       [&] { return NWDSAddReplica(acme, "FS2.HQ.ACME", "Legacy.ACME", RT_SECONDARY); }, ERR_UNREACHABLE_SERVER},
      {"change a reference", [&] { return NWDSChangeReplicaType(ops, "A.O", "S2.O", RT_SECONDARY); },
       ERR_ILLEGAL_REPLICA_TYPE},
      {"demote the master", [&] { return NWDSChangeReplicaType(ops, "A.O", "S1.O", RT_SECONDARY); },
       ERR_CRUCIAL_REPLICA},
      {"change into a reference", [&] { return NWDSChangeReplicaType(ops, "A.O", "S3.O", RT_SUBREF); },
       ERR_ILLEGAL_REPLICA_TYPE},
      {"change where no replica is", [&] { return NWDSChangeReplicaType(ops, "C.O", "S1.O", RT_MASTER); },
       ERR_REPLICA_NOT_ON},
      {"split at a partition root", [&] { return NWDSSplitPartition(ops, "B.A.O", 0); }, ERR_PARTITION_ALREADY_EXISTS},
      {"split at [Root]", [&] { return NWDSSplitPartition(ops, "[Root]", 0); }, ERR_PARTITION_ALREADY_EXISTS},
      {"split at a leaf", [&] { return NWDSSplitPartition(ops, "u.B.A.O", 0); }, ERR_ENTRY_NOT_CONTAINER},
      {"abort with nothing under way", [&] { return NWDSAbortPartitionOperation(ops, "A.O"); }, ERR_INVALID_REQUEST},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.label);
    EXPECT_EQ(r.call(), r.code);
  }
  EXPECT_EQ(nwtest::FindTree("OPS_TREE")->partitions.size(), 4u);
  EXPECT_EQ(ReplicaServers(ops, "A.O"), (std::vector<std::string>{"S1.O", "S3.O", "S2.O"}));
  EXPECT_EQ(ReplicaOf("OPS_TREE", "A.O", "S1.O").type, RT_MASTER);
  EXPECT_EQ(nw::PendingOperations(), 0u);
}

TEST_F(Operations, RingChangesPassThroughTheDirectorysStatesAndSettleAMinuteLater) {
  nuint32 objects = 0;
  ASSERT_EQ(DSPartitionEntryCount(ops, "[Root]", &objects), 0);
  EXPECT_EQ(objects, 5u);  // [Root], O and the three servers
  // A new replica is New in the value a program reads; a reference becomes the replica.
  ASSERT_EQ(NWDSAddReplica(ops, "S1.O", "C.O", RT_READONLY), 0);
  ASSERT_EQ(NWDSAddReplica(ops, "S2.O", "A.O", RT_SECONDARY), 0);
  ReadResult read = ReadAll(ops, "C.O", {"Replica"});
  const std::vector<const ReadValue*> pointers = ValuesOf(read, "Replica");
  ASSERT_EQ(pointers.size(), 2u);
  EXPECT_EQ(pointers[1]->As<Replica_Pointer_T>().replicaType, RT_READONLY | (RS_NEW_REPLICA << 16));
  EXPECT_TRUE(Contains(ServerPartitions(ops, "S1.O"), "C.O"));
  EXPECT_EQ(ReplicaOf("OPS_TREE", "A.O", "S2.O").type, RT_SECONDARY);
  EXPECT_EQ(ReplicaServers(ops, "A.O").size(), 3u);
  // A changed ring takes no other change until it is done; a new master demotes the old.
  EXPECT_EQ(NWDSChangeReplicaType(ops, "A.O", "S3.O", RT_MASTER), ERR_PARTITION_BUSY);
  ASSERT_EQ(NWDSChangeReplicaType(ops, "B.A.O", "S2.O", RT_MASTER), 0);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "B.A.O", "S2.O").type, RT_MASTER);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "B.A.O", "S1.O").type, RT_SECONDARY);
  // A split: the container's ring has the parent's real replicas, both rings in split states.
  ASSERT_EQ(NWDSSplitPartition(ops, "O", 0), 0);
  EXPECT_EQ(ReplicaServers(ops, "O"), (std::vector<std::string>{"S1.O", "S2.O"}));
  EXPECT_EQ(ReplicaOf("OPS_TREE", "O", "S2.O").type, RT_SECONDARY);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "O", "S1.O").ringState, RS_SS_1);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "[Root]", "S1.O").ringState, RS_SS_0);
  ASSERT_EQ(DSPartitionEntryCount(ops, "[Root]", &objects), 0);
  EXPECT_EQ(objects, 1u);
  ASSERT_EQ(DSPartitionEntryCount(ops, "O", &objects), 0);
  EXPECT_EQ(objects, 4u);
  // Abort gives up one partition's operation; the other ring settles on its own.
  ASSERT_EQ(NWDSAbortPartitionOperation(ops, "O"), 0);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "O", "S1.O").ringState, RS_ON);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "[Root]", "S1.O").ringState, RS_SS_0);
  nwtest::SetClock(kStart + 59);
  EXPECT_EQ(NWDSAbortPartitionOperation(ops, "A.O"), 0);  // S2's replica was still new
  nwtest::SetClock(kStart + 60);
  EXPECT_EQ(DSPartitionEntryCount(ops, "C.O", &objects), 0);  // any call runs what fell due
  EXPECT_EQ(ReplicaOf("OPS_TREE", "[Root]", "S1.O").ringState, RS_ON);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "C.O", "S1.O").ringState, RS_ON);
  EXPECT_EQ(ReplicaOf("OPS_TREE", "C.O", "S1.O").lastSync, kStart + 60);
}

}  // namespace
}  // namespace vestrel::testing
