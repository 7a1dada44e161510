// The partition and replica operations. Each entry point records the request and
// hands it to the tree's source; over the embedded directory (RunModelOperation) each
// checks its names and the replica ring the way a server would and answers with a code;
// the immediate ones change the model at once, the three scheduled syncs wait in a queue
// until their delay has passed on the engine clock. The rules and codes are listed in
// trees/README.md.
#include "platform/nwclient/Operations.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "directory/NETWIN32.h"
#include "platform/nwclient/Engine.h"
#include "platform/nwclient/ModelSource.h"

namespace vestrel {

namespace {

using nw::TheEngine;

// ---- Scheduled syncs ----
// A job names what it works on, so a partition or tree that went away in the meantime
// is simply not found when the job runs.
struct PendingSync {
  nuint32 due = 0;
  std::uint64_t order = 0;  // requests that fall due together run in the order made
  std::string tree;
  std::function<void(nw::Tree&, nuint32 time)> run;
};

struct SyncQueue {
  std::deque<PendingSync> jobs;
  std::uint64_t nextOrder = 0;
  bool running = false;
};

SyncQueue& Queue() {
  static SyncQueue queue;
  return queue;
}

nw::OperationRequest& LastRequest() {
  static nw::OperationRequest request;
  return request;
}

void Record(const char* operation, std::initializer_list<const char*> names, nuint32 flags = 0, nuint32 seconds = 0) {
  nw::OperationRequest& request = LastRequest();
  request.operation = operation;
  request.names.clear();
  for (const char* name : names) request.names.emplace_back(name ? name : "");
  request.flags = flags;
  request.seconds = seconds;
}

std::map<std::string, nuint32>& SchemaSyncTimes() {
  static std::map<std::string, nuint32> times;  // "TREE\nSERVER" (upper case) -> time
  return times;
}

std::string SchemaSyncKey(const std::string& treeName, const std::string& serverFullName) {
  return nw::UpperAscii(treeName) + "\n" + nw::UpperAscii(serverFullName);
}

nuint32 DueTime(nuint32 delaySeconds) {
  std::uint64_t due = std::uint64_t(TheEngine().clock.Now()) + delaySeconds;
  return static_cast<nuint32>(std::min<std::uint64_t>(due, 0xFFFFFFFFull));
}

void Schedule(const nw::Tree& tree, nuint32 delaySeconds, std::function<void(nw::Tree&, nuint32)> run) {
  SyncQueue& queue = Queue();
  PendingSync job{DueTime(delaySeconds), queue.nextOrder++, tree.name, std::move(run)};
  // Kept sorted by due time; equal times stay in request order.
  auto at = std::upper_bound(queue.jobs.begin(), queue.jobs.end(), job,
                             [](const PendingSync& a, const PendingSync& b) { return a.due < b.due; });
  queue.jobs.insert(at, std::move(job));
}

// ---- Looking things up ----

struct Call {
  const nw::Context* context = nullptr;
  nw::Tree* tree = nullptr;
};

// What every operation does: the call controls (which also run the syncs that are due),
// then the context's tree does the work.
NWRCODE Dispatch(const char* operation, NWDSContextHandle context, const nw::OperationArgs& args) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter(operation)) return code;
  nw::Context* settings = nullptr;
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = engine.ContextSource(context, settings, tree)) return code;
  return tree->Operate(*settings, args);
}

// The operation a library call makes, by the call's name.
std::optional<nw::Operation> OperationCalled(std::string_view call) {
  using nw::Operation;
  static constexpr std::pair<std::string_view, Operation> kCalls[] = {
      {"NWDSSyncSchema", Operation::SyncSchema},
      {"NWDSSyncPartition", Operation::SyncPartition},
      {"NWDSPartitionSendAllUpdates", Operation::SendAllUpdates},
      {"NWDSPartitionReceiveAllUpdates", Operation::ReceiveAllUpdates},
      {"NWDSSyncReplicaToServer", Operation::SyncReplicaToServer},
      {"NWDSRemovePartition", Operation::RemovePartition},
      {"NWDSRemoveReplica", Operation::RemoveReplica},
      {"NWDSJoinPartitions", Operation::JoinPartitions},
      {"NWDSRepairTimeStamps", Operation::RepairTimeStamps},
      {"NWDSReloadDS", Operation::ReloadDS},
      {"NWDSAddReplica", Operation::AddReplica},
      {"NWDSChangeReplicaType", Operation::ChangeReplicaType},
      {"NWDSSplitPartition", Operation::SplitPartition},
      {"NWDSAbortPartitionOperation", Operation::AbortPartitionOperation},
      {"DSPartitionEntryCount", Operation::PartitionEntryCount},
  };
  for (const auto& [name, operation] : kCalls)
    if (name == call) return operation;
  return std::nullopt;
}

// A server that answers: -601 when the name is no server, -636 when it does not answer.
NWRCODE FindServer(const Call& call, const char* name, nw::Server*& server) {
  nw::Object* obj = nullptr;
  if (NWRCODE code = nw::ResolveName(*call.tree, *call.context, name, obj)) return code;
  if (!obj->server) return ERR_NO_SUCH_ENTRY;
  server = obj->server;
  return server->reachable ? 0 : ERR_UNREACHABLE_SERVER;
}

// A partition by its root's name: -601 unknown name, -605 not a partition root.
NWRCODE FindPartition(const Call& call, const char* name, nw::Partition*& partition) {
  nw::Object* root = nullptr;
  if (NWRCODE code = nw::ResolveName(*call.tree, *call.context, name, root)) return code;
  if (!root->partition) return ERR_NO_SUCH_PARTITION;
  partition = root->partition;
  return 0;
}

NWRCODE FindReplica(nw::Partition& partition, const nw::Server& server, nw::Replica*& replica) {
  replica = partition.ReplicaOn(&server);
  return replica ? 0 : ERR_REPLICA_NOT_ON;
}

nw::Replica* MasterOf(nw::Partition& partition) {
  for (nw::Replica& replica : partition.ring)
    if (replica.type == RT_MASTER) return &replica;
  return nullptr;
}

// The master coordinates every change of a ring; it must answer.
NWRCODE MasterAnswers(nw::Partition& partition, nw::Replica*& master) {
  master = MasterOf(partition);
  if (!master) return ERR_NO_SUCH_PARTITION;  // a ring without a master is no usable partition
  return master->server->reachable ? 0 : ERR_UNREACHABLE_SERVER;
}

bool IsRealReplica(const nw::Replica& replica) { return replica.type != RT_SUBREF; }

// Partitions whose root lies directly below this partition (no other partition between).
std::vector<nw::Partition*> ChildPartitions(const nw::Tree& tree, const nw::Partition& partition) {
  std::vector<nw::Partition*> children;
  for (const auto& other : tree.partitions)
    if (other.get() != &partition && other->root->parent && tree.PartitionHolding(*other->root->parent) == &partition)
      children.push_back(other.get());
  return children;
}

void ErasePartition(nw::Tree& tree, const nw::Partition& partition) {
  std::erase_if(tree.partitions, [&](const std::unique_ptr<nw::Partition>& p) { return p.get() == &partition; });
  tree.ReindexPartitions();
}

nw::Partition* PartitionNamed(nw::Tree& tree, const std::string& rootName) {
  nw::Object* root = tree.Find(rootName);
  return root ? root->partition : nullptr;
}

// ---- What a sync does to the ring ----

void MarkInSync(nw::Replica& replica, nuint32 time, nuint32 event) {
  replica.lastSync = time;
  replica.event = std::max(replica.event, event);
  replica.state = RS_IN_SYNC;
  replica.errors.clear();
  replica.statusError = 0;
}

// One sync round of a partition: every replica that answers exchanges with every other.
// When a ring member does not answer, the others record -636 and keep their last sync
// time; the silent member is not touched.
void SyncRing(nw::Partition& partition, nuint32 time) {
  nuint32 event = 0;
  bool everyoneAnswers = true;
  for (const nw::Replica& replica : partition.ring) {
    if (replica.server->reachable)
      event = std::max(event, replica.event);
    else
      everyoneAnswers = false;
  }
  for (nw::Replica& replica : partition.ring) {
    if (!replica.server->reachable) continue;
    if (everyoneAnswers) {
      MarkInSync(replica, time, event);
    } else {
      replica.event = std::max(replica.event, event);
      replica.state = RS_REMOTE_ERROR;
      replica.errors = {ERR_UNREACHABLE_SERVER};
      replica.statusError = ERR_UNREACHABLE_SERVER;
    }
  }
}

nuint32 NextReplicaNumber(const nw::Partition& partition) {
  nuint32 number = 0;
  for (const nw::Replica& replica : partition.ring) number = std::max(number, replica.number);
  return number + 1;
}

// The child's real replicas join the parent's ring: a server without a replica of the
// parent gets one of the child's type, a subordinate reference becomes that type.
void MergeRings(nw::Partition& parent, const nw::Partition& child, nuint32 time) {
  const nw::Replica* parentMaster = MasterOf(parent);
  nuint32 event = parentMaster ? parentMaster->event : 1;
  for (const nw::Replica& childReplica : child.ring) {
    if (!IsRealReplica(childReplica)) continue;
    nw::Replica* held = parent.ReplicaOn(childReplica.server);
    if (held && IsRealReplica(*held)) continue;
    if (!held) {
      parent.ring.push_back(nw::Replica{});
      held = &parent.ring.back();
      held->server = childReplica.server;
      held->number = NextReplicaNumber(parent);
    }
    held->type = childReplica.type == RT_MASTER ? RT_SECONDARY : childReplica.type;
    MarkInSync(*held, time, event);
  }
}

// ---- The operations on a tree in memory ----

NWRCODE SyncSchema(const Call& call, const char* server, nuint32 seconds) {
  nw::Server* holder = nullptr;
  if (NWRCODE code = FindServer(call, server, holder)) return code;
  std::string serverName = holder->object->FullName();
  Schedule(*call.tree, seconds, [serverName](nw::Tree& tree, nuint32 time) {
    const nw::Server* target = tree.FindServer(serverName);
    if (target && target->reachable) SchemaSyncTimes()[SchemaSyncKey(tree.name, serverName)] = time;
  });
  return 0;
}

NWRCODE SyncPartition(const Call& call, const char* server, const char* partition, nuint32 seconds) {
  nw::Server* holder = nullptr;
  nw::Partition* target = nullptr;
  nw::Replica* replica = nullptr;
  if (NWRCODE code = FindServer(call, server, holder)) return code;
  if (NWRCODE code = FindPartition(call, partition, target)) return code;
  if (NWRCODE code = FindReplica(*target, *holder, replica)) return code;
  std::string serverName = holder->object->FullName();
  std::string rootName = target->root->FullName();
  Schedule(*call.tree, seconds, [serverName, rootName](nw::Tree& tree, nuint32 time) {
    nw::Partition* due = PartitionNamed(tree, rootName);
    const nw::Server* starter = tree.FindServer(serverName);
    // The server must still hold a replica and answer to start the round.
    if (due && starter && starter->reachable && due->ReplicaOn(starter)) SyncRing(*due, time);
  });
  return 0;
}

NWRCODE SendAllUpdates(const Call& call, const char* partitionRoot, const char* serverName) {
  nw::Partition* target = nullptr;
  nw::Server* sender = nullptr;
  nw::Replica* replica = nullptr;
  if (NWRCODE code = FindPartition(call, partitionRoot, target)) return code;
  if (NWRCODE code = FindServer(call, serverName, sender)) return code;
  if (NWRCODE code = FindReplica(*target, *sender, replica)) return code;
  // A subordinate reference holds only the root object: it has nothing to send.
  if (!IsRealReplica(*replica)) return ERR_ILLEGAL_REPLICA_TYPE;
  SyncRing(*target, TheEngine().clock.Now());
  return 0;
}

NWRCODE ReceiveAllUpdates(const Call& call, const char* partitionRoot, const char* serverName) {
  nw::Partition* target = nullptr;
  nw::Server* receiver = nullptr;
  nw::Replica* replica = nullptr;
  nw::Replica* master = nullptr;
  if (NWRCODE code = FindPartition(call, partitionRoot, target)) return code;
  if (NWRCODE code = FindServer(call, serverName, receiver)) return code;
  if (NWRCODE code = FindReplica(*target, *receiver, replica)) return code;
  // The master is where the updates come from; it cannot receive them from itself.
  if (replica->type == RT_MASTER) return ERR_ILLEGAL_REPLICA_TYPE;
  if (NWRCODE code = MasterAnswers(*target, master)) return code;
  MarkInSync(*replica, TheEngine().clock.Now(), master->event);
  return 0;
}

// The flags (all objects or only the changes) make no difference: the model keeps no
// per-object state.
NWRCODE SyncReplicaToServer(const Call& call, const char* serverName, const char* partitionRootName,
                            const char* destServerName, nuint32 delaySeconds) {
  nw::Server* source = nullptr;
  nw::Server* dest = nullptr;
  nw::Partition* target = nullptr;
  nw::Replica* from = nullptr;
  nw::Replica* to = nullptr;
  if (NWRCODE code = FindServer(call, serverName, source)) return code;
  if (NWRCODE code = FindPartition(call, partitionRootName, target)) return code;
  if (NWRCODE code = FindServer(call, destServerName, dest)) return code;
  if (source == dest) return ERR_INVALID_REQUEST;
  if (NWRCODE code = FindReplica(*target, *source, from)) return code;
  if (NWRCODE code = FindReplica(*target, *dest, to)) return code;
  if (!IsRealReplica(*from) || !IsRealReplica(*to)) return ERR_ILLEGAL_REPLICA_TYPE;
  std::string sourceName = source->object->FullName();
  std::string destName = dest->object->FullName();
  std::string rootName = target->root->FullName();
  Schedule(*call.tree, delaySeconds, [sourceName, destName, rootName](nw::Tree& tree, nuint32 time) {
    nw::Partition* due = PartitionNamed(tree, rootName);
    const nw::Server* a = tree.FindServer(sourceName);
    const nw::Server* b = tree.FindServer(destName);
    if (!due || !a || !b || !a->reachable || !b->reachable) return;
    const nw::Replica* sent = due->ReplicaOn(a);
    nw::Replica* received = due->ReplicaOn(b);
    if (sent && received) MarkInSync(*received, time, sent->event);
  });
  return 0;
}

NWRCODE RemovePartition(const Call& call, const char* partitionRoot) {
  nw::Partition* target = nullptr;
  nw::Replica* master = nullptr;
  if (NWRCODE code = FindPartition(call, partitionRoot, target)) return code;
  if (target->root->IsRoot()) return ERR_INVALID_REQUEST;  // the tree keeps its [Root] partition
  long realReplicas = std::count_if(target->ring.begin(), target->ring.end(), IsRealReplica);
  if (realReplicas > 1) return ERR_MULTIPLE_REPLICAS;
  if (!ChildPartitions(*call.tree, *target).empty()) return ERR_NOT_LEAF_PARTITION;
  if (NWRCODE code = MasterAnswers(*target, master)) return code;
  // The objects stay; the parent partition holds them from now on. Subordinate
  // references of the partition go with it.
  ErasePartition(*call.tree, *target);
  return 0;
}

NWRCODE RemoveReplica(const Call& call, const char* server, const char* partitionRoot) {
  nw::Server* holder = nullptr;
  nw::Partition* target = nullptr;
  nw::Replica* replica = nullptr;
  nw::Replica* master = nullptr;
  if (NWRCODE code = FindServer(call, server, holder)) return code;
  if (NWRCODE code = FindPartition(call, partitionRoot, target)) return code;
  if (NWRCODE code = FindReplica(*target, *holder, replica)) return code;
  if (replica->type == RT_MASTER) return ERR_CRUCIAL_REPLICA;
  // Subordinate references are kept by the directory itself, not removed by request.
  if (!IsRealReplica(*replica)) return ERR_ILLEGAL_REPLICA_TYPE;
  if (NWRCODE code = MasterAnswers(*target, master)) return code;
  std::erase_if(target->ring, [&](const nw::Replica& r) { return r.server == holder; });
  // Without this replica the server no longer needs references to the child partitions.
  for (nw::Partition* child : ChildPartitions(*call.tree, *target))
    std::erase_if(child->ring, [&](const nw::Replica& r) { return r.server == holder && !IsRealReplica(r); });
  return 0;
}

NWRCODE JoinPartitions(const Call& call, const char* subordinatePartition) {
  nw::Partition* child = nullptr;
  nw::Replica* childMaster = nullptr;
  nw::Replica* parentMaster = nullptr;
  if (NWRCODE code = FindPartition(call, subordinatePartition, child)) return code;
  if (child->root->IsRoot()) return ERR_NO_SUCH_PARENT;
  nw::Partition* parent = call.tree->PartitionHolding(*child->root->parent);
  if (!parent) return ERR_NO_SUCH_PARENT;
  if (NWRCODE code = MasterAnswers(*child, childMaster)) return code;
  if (NWRCODE code = MasterAnswers(*parent, parentMaster)) return code;
  // Both masters must be on one server: its replica of the parent takes in the child.
  if (childMaster->server != parentMaster->server) return ERR_REPLICA_NOT_ON;
  MergeRings(*parent, *child, TheEngine().clock.Now());
  ErasePartition(*call.tree, *child);
  return 0;
}

NWRCODE RepairTimeStamps(const Call& call, const char* partitionRoot) {
  nw::Partition* target = nullptr;
  nw::Replica* master = nullptr;
  if (NWRCODE code = FindPartition(call, partitionRoot, target)) return code;
  if (NWRCODE code = MasterAnswers(*target, master)) return code;
  // The master declares a new epoch; every replica that answers takes over its stamps.
  ++master->event;
  SyncRing(*target, TheEngine().clock.Now());
  return 0;
}

NWRCODE ReloadDS(const Call& call, const char* serverName) {
  nw::Server* server = nullptr;
  // A reloaded directory service comes back with the same replicas: nothing to change.
  return FindServer(call, serverName, server);
}


// ---- Ring changes ----
// The directory works on a changed ring in the background: its replicas pass through
// new or split states for this long (engine clock) before they are on again.
constexpr nuint32 kRingSettleSeconds = 60;

bool IsContainerClass(const std::string& baseClass) {
  for (const char* container : {"Organizational Unit", "Organization", "Country", "Locality"})
    if (nw::EqualsNoCase(baseClass, container)) return true;
  return false;
}

// After the settle time, the replicas of the partition in one of the states are on and
// take the master's state.
void SettleLater(const nw::Tree& tree, const std::string& rootName, std::vector<nuint32> states) {
  Schedule(tree, kRingSettleSeconds, [rootName, states](nw::Tree& due, nuint32 time) {
    nw::Partition* partition = PartitionNamed(due, rootName);
    if (!partition) return;
    const nw::Replica* master = MasterOf(*partition);
    const nuint32 event = master ? master->event : 1;
    for (nw::Replica& replica : partition->ring) {
      if (std::find(states.begin(), states.end(), replica.ringState) == states.end()) continue;
      replica.ringState = RS_ON;
      if (replica.server->reachable && IsRealReplica(replica)) MarkInSync(replica, time, event);
    }
  });
}

NWRCODE AddReplica(const Call& call, const char* server, const char* partitionRoot, nuint32 type) {
  nw::Server* holder = nullptr;
  nw::Partition* target = nullptr;
  nw::Replica* master = nullptr;
  if (NWRCODE code = FindServer(call, server, holder)) return code;
  if (NWRCODE code = FindPartition(call, partitionRoot, target)) return code;
  // A new replica is a secondary or read-only one: the ring has its master, and
  // subordinate references are the directory's own.
  if (type != RT_SECONDARY && type != RT_READONLY) return ERR_ILLEGAL_REPLICA_TYPE;
  nw::Replica* held = target->ReplicaOn(holder);
  if (held && IsRealReplica(*held)) return ERR_REPLICA_ALREADY_EXISTS;
  if (NWRCODE code = MasterAnswers(*target, master)) return code;
  if (!held) {  // a subordinate reference becomes the new replica in its place
    target->ring.push_back(nw::Replica{});
    held = &target->ring.back();
    held->server = holder;
    held->number = NextReplicaNumber(*target);
    held->lastSync = 0;
    held->event = 0;
  }
  held->type = type;
  held->ringState = RS_NEW_REPLICA;
  SettleLater(*call.tree, target->root->FullName(), {RS_NEW_REPLICA});
  return 0;
}

NWRCODE ChangeReplicaType(const Call& call, const char* partitionRoot, const char* server, nuint32 type) {
  nw::Server* holder = nullptr;
  nw::Partition* target = nullptr;
  nw::Replica* replica = nullptr;
  nw::Replica* master = nullptr;
  if (NWRCODE code = FindPartition(call, partitionRoot, target)) return code;
  if (NWRCODE code = FindServer(call, server, holder)) return code;
  if (NWRCODE code = FindReplica(*target, *holder, replica)) return code;
  if (type != RT_MASTER && type != RT_SECONDARY && type != RT_READONLY) return ERR_ILLEGAL_REPLICA_TYPE;
  if (!IsRealReplica(*replica)) return ERR_ILLEGAL_REPLICA_TYPE;
  // The master gives up its part only to the replica that takes it over.
  if (replica->type == RT_MASTER && type != RT_MASTER) return ERR_CRUCIAL_REPLICA;
  if (NWRCODE code = MasterAnswers(*target, master)) return code;
  // A ring with an operation under way takes no other change until it is done.
  for (const nw::Replica& member : target->ring)
    if (member.ringState != RS_ON) return ERR_PARTITION_BUSY;
  if (type == RT_MASTER && master != replica) master->type = RT_SECONDARY;
  replica->type = type;
  return 0;
}

NWRCODE SplitPartition(const Call& call, const char* containerName) {
  nw::Object* container = nullptr;
  nw::Replica* parentMaster = nullptr;
  if (NWRCODE code = nw::ResolveName(*call.tree, *call.context, containerName, container)) return code;
  if (container->partition) return ERR_PARTITION_ALREADY_EXISTS;
  if (container->IsRoot() || !IsContainerClass(container->baseClass)) return ERR_ENTRY_NOT_CONTAINER;
  nw::Partition* parent = call.tree->PartitionHolding(*container);
  if (!parent) return ERR_NO_SUCH_PARTITION;
  if (NWRCODE code = MasterAnswers(*parent, parentMaster)) return code;
  for (const nw::Replica& replica : parent->ring)
    if (replica.ringState != RS_ON) return ERR_PARTITION_BUSY;
  auto child = std::make_unique<nw::Partition>();
  child->root = container;
  // Every server of the parent's ring that holds the container's objects keeps them: the
  // new ring has a replica of the same type there.
  for (nw::Replica& replica : parent->ring) {
    if (!IsRealReplica(replica)) continue;
    nw::Replica split = replica;
    split.errors.clear();
    split.statusError = 0;
    split.ringState = RS_SS_1;
    child->ring.push_back(std::move(split));
    replica.ringState = RS_SS_0;
  }
  const std::string parentRoot = parent->root->FullName();
  call.tree->partitions.push_back(std::move(child));
  call.tree->ReindexPartitions();
  SettleLater(*call.tree, container->FullName(), {RS_SS_1});
  SettleLater(*call.tree, parentRoot, {RS_SS_0});
  return 0;
}

NWRCODE AbortPartitionOperation(const Call& call, const char* partitionRoot) {
  nw::Partition* target = nullptr;
  nw::Replica* master = nullptr;
  if (NWRCODE code = FindPartition(call, partitionRoot, target)) return code;
  if (NWRCODE code = MasterAnswers(*target, master)) return code;
  bool busy = false;
  for (nw::Replica& replica : target->ring) {
    busy = busy || replica.ringState != RS_ON;
    replica.ringState = RS_ON;
  }
  return busy ? 0 : ERR_INVALID_REQUEST;  // nothing under way to give up
}

NWRCODE PartitionEntryCount(const Call& call, const char* partitionRoot, nuint32* count) {
  nw::Partition* target = nullptr;
  if (!count) return ERR_NULL_POINTER;
  if (NWRCODE code = FindPartition(call, partitionRoot, target)) return code;
  nuint32 objects = 0;
  for (const nw::Object* object : call.tree->Objects())
    if (call.tree->PartitionHolding(*object) == target) ++objects;
  *count = objects;
  return 0;
}

}  // namespace

namespace nw {

std::size_t PendingOperations() { return Queue().jobs.size(); }

void RunDueOperations() {
  SyncQueue& queue = Queue();
  if (queue.running) return;
  queue.running = true;
  nuint32 now = TheEngine().clock.Now();
  while (!queue.jobs.empty() && queue.jobs.front().due <= now) {
    PendingSync job = std::move(queue.jobs.front());
    queue.jobs.pop_front();
    // The sync ran when it fell due, even when nobody asked the engine until later.
    if (Tree* tree = TheEngine().TreeNamed(job.tree)) job.run(*tree, job.due);
  }
  queue.running = false;
}

void DropPendingOperations() {
  Queue().jobs.clear();
  SchemaSyncTimes().clear();
  LastRequest() = OperationRequest{};
}

const OperationRequest& LastOperationRequest() { return LastRequest(); }

nuint32 LastSchemaSync(const std::string& treeName, const std::string& serverFullName) {
  auto it = SchemaSyncTimes().find(SchemaSyncKey(treeName, serverFullName));
  return it == SchemaSyncTimes().end() ? 0 : it->second;
}

NWRCODE RunModelOperation(Tree& tree, const Context& context, const OperationArgs& args) {
  const Call call{&context, &tree};
  const char* const* n = args.names;
  switch (args.operation) {
    case Operation::SyncSchema: return SyncSchema(call, n[0], args.seconds);
    case Operation::SyncPartition: return SyncPartition(call, n[0], n[1], args.seconds);
    case Operation::SendAllUpdates: return SendAllUpdates(call, n[0], n[1]);
    case Operation::ReceiveAllUpdates: return ReceiveAllUpdates(call, n[0], n[1]);
    case Operation::SyncReplicaToServer: return SyncReplicaToServer(call, n[0], n[1], n[2], args.seconds);
    case Operation::RemovePartition: return RemovePartition(call, n[0]);
    case Operation::RemoveReplica: return RemoveReplica(call, n[0], n[1]);
    case Operation::JoinPartitions: return JoinPartitions(call, n[0]);
    case Operation::RepairTimeStamps: return RepairTimeStamps(call, n[0]);
    case Operation::ReloadDS: return ReloadDS(call, n[0]);
    case Operation::AddReplica: return AddReplica(call, n[0], n[1], args.replicaType);
    case Operation::ChangeReplicaType: return ChangeReplicaType(call, n[0], n[1], args.replicaType);
    case Operation::SplitPartition: return SplitPartition(call, n[0]);
    case Operation::AbortPartitionOperation: return AbortPartitionOperation(call, n[0]);
    case Operation::PartitionEntryCount: return PartitionEntryCount(call, n[0], args.count);
  }
  return ERR_INVALID_REQUEST;
}

}  // namespace nw

using nw::Operation;

NWRCODE NWDSSyncSchema(NWDSContextHandle context, const char* server, nuint32 seconds) {
  Record("NWDSSyncSchema", {server}, 0, seconds);
  return Dispatch("NWDSSyncSchema", context, {Operation::SyncSchema, {server}, 0, seconds});
}

NWRCODE NWDSSyncPartition(NWDSContextHandle context, const char* server, const char* partition, nuint32 seconds) {
  Record("NWDSSyncPartition", {server, partition}, 0, seconds);
  return Dispatch("NWDSSyncPartition", context, {Operation::SyncPartition, {server, partition}, 0, seconds});
}

NWRCODE NWDSPartitionSendAllUpdates(NWDSContextHandle context, const char* partitionRoot, const char* serverName) {
  Record("NWDSPartitionSendAllUpdates", {partitionRoot, serverName});
  return Dispatch("NWDSPartitionSendAllUpdates", context, {Operation::SendAllUpdates, {partitionRoot, serverName}});
}

NWRCODE NWDSPartitionReceiveAllUpdates(NWDSContextHandle context, const char* partitionRoot, const char* serverName) {
  Record("NWDSPartitionReceiveAllUpdates", {partitionRoot, serverName});
  return Dispatch("NWDSPartitionReceiveAllUpdates", context,
                  {Operation::ReceiveAllUpdates, {partitionRoot, serverName}});
}

NWRCODE NWDSSyncReplicaToServer(NWDSContextHandle context, const char* serverName, const char* partitionRootName,
                                const char* destServerName, nuint32 actionFlags, nuint32 delaySeconds) {
  Record("NWDSSyncReplicaToServer", {serverName, partitionRootName, destServerName}, actionFlags, delaySeconds);
  return Dispatch("NWDSSyncReplicaToServer", context,
                  {Operation::SyncReplicaToServer, {serverName, partitionRootName, destServerName}, actionFlags,
                   delaySeconds});
}

NWRCODE NWDSRemovePartition(NWDSContextHandle context, const char* partitionRoot) {
  Record("NWDSRemovePartition", {partitionRoot});
  return Dispatch("NWDSRemovePartition", context, {Operation::RemovePartition, {partitionRoot}});
}

NWRCODE NWDSRemoveReplica(NWDSContextHandle context, const char* server, const char* partitionRoot) {
  Record("NWDSRemoveReplica", {server, partitionRoot});
  return Dispatch("NWDSRemoveReplica", context, {Operation::RemoveReplica, {server, partitionRoot}});
}

NWRCODE NWDSJoinPartitions(NWDSContextHandle context, const char* subordinatePartition, nuint32 flags) {
  Record("NWDSJoinPartitions", {subordinatePartition}, flags);  // no flags are defined for a join
  return Dispatch("NWDSJoinPartitions", context, {Operation::JoinPartitions, {subordinatePartition}, flags});
}

NWRCODE NWDSRepairTimeStamps(NWDSContextHandle context, const char* partitionRoot) {
  Record("NWDSRepairTimeStamps", {partitionRoot});
  return Dispatch("NWDSRepairTimeStamps", context, {Operation::RepairTimeStamps, {partitionRoot}});
}

NWRCODE NWDSReloadDS(NWDSContextHandle context, const char* serverName) {
  Record("NWDSReloadDS", {serverName});
  return Dispatch("NWDSReloadDS", context, {Operation::ReloadDS, {serverName}});
}

NWRCODE NWDSAddReplica(NWDSContextHandle context, const char* server, const char* partitionRoot,
                       nuint32 replicaType) {
  Record("NWDSAddReplica", {server, partitionRoot}, replicaType);
  nw::OperationArgs args{Operation::AddReplica, {server, partitionRoot}};
  args.replicaType = replicaType;
  return Dispatch("NWDSAddReplica", context, args);
}

NWRCODE NWDSChangeReplicaType(NWDSContextHandle context, const char* partitionRoot, const char* server,
                              nuint32 newReplicaType) {
  Record("NWDSChangeReplicaType", {partitionRoot, server}, newReplicaType);
  nw::OperationArgs args{Operation::ChangeReplicaType, {partitionRoot, server}};
  args.replicaType = newReplicaType;
  return Dispatch("NWDSChangeReplicaType", context, args);
}

NWRCODE NWDSSplitPartition(NWDSContextHandle context, const char* container, nuint32 flags) {
  Record("NWDSSplitPartition", {container}, flags);
  return Dispatch("NWDSSplitPartition", context, {Operation::SplitPartition, {container}, flags});
}

NWRCODE NWDSAbortPartitionOperation(NWDSContextHandle context, const char* partitionRoot) {
  Record("NWDSAbortPartitionOperation", {partitionRoot});
  return Dispatch("NWDSAbortPartitionOperation", context, {Operation::AbortPartitionOperation, {partitionRoot}});
}

NWRCODE DSPartitionEntryCount(NWDSContextHandle context, const char* partitionRoot, nuint32* count) {
  // A count is a read, not a request to change anything: it is not recorded as one.
  if (!count) return ERR_NULL_POINTER;
  *count = 0;
  nw::OperationArgs args{Operation::PartitionEntryCount, {partitionRoot}};
  args.count = count;
  return Dispatch("DSPartitionEntryCount", context, args);
}

NWRCODE DSOperationCarried(NWDSContextHandle context, const char* operation, bool* carried, char* reason,
                           nuint32 reasonLength) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSOperationCarried")) return code;
  const std::optional<Operation> named = operation ? OperationCalled(operation) : std::nullopt;
  if (!named || !carried || !reason || reasonLength == 0) return ERR_INVALID_PARAMETER;
  nw::Context* settings = nullptr;
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = engine.ContextSource(context, settings, tree)) return code;
  std::string why;
  *carried = tree->Carries(*named, why);
  const std::size_t copied = std::min<std::size_t>(why.size(), reasonLength - 1);
  std::memcpy(reason, why.data(), copied);
  reason[copied] = '\0';
  return 0;
}

}  // namespace vestrel
