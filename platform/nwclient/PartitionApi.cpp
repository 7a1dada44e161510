// A server's partitions, delivered in batches, and the sync errors of one replica.
#include <algorithm>
#include <cstring>

#include "directory/NETWIN32.h"
#include "platform/nwclient/Engine.h"

namespace vestrel {

namespace {

using nw::TheEngine;

constexpr std::size_t kMaxErrorCodes = 32;
constexpr std::size_t kSyncErrorBytes = 8 + 4 * kMaxErrorCodes;  // 136

std::size_t Align4(std::size_t n) { return (n + 3) / 4 * 4; }

struct PartitionListIteration : nw::Iteration {
  std::string serverName;
  std::vector<std::pair<std::string, nuint32>> entries;
  std::size_t next = 0;
};

// The server object named, in the context's tree.
NWRCODE ResolveServer(const nw::Tree& tree, const nw::Context& context, const char* name, nw::Server*& server) {
  nw::Object* obj = nullptr;
  if (NWRCODE code = nw::ResolveName(tree, context, name, obj)) return code;
  server = obj->server;
  if (!server) return ERR_NO_SUCH_ENTRY;
  return server->reachable ? 0 : ERR_UNREACHABLE_SERVER;
}

std::unique_ptr<PartitionListIteration> ListPartitions(const nw::Tree& tree, const nw::Context& context,
                                                       const nw::Server& server) {
  auto list = std::make_unique<PartitionListIteration>();
  list->serverName = nw::OutputName(tree, context, server.object->FullName());
  for (const auto& partition : tree.partitions)
    if (const nw::Replica* replica = partition->ReplicaOn(&server))
      list->entries.emplace_back(nw::OutputName(tree, context, partition->root->FullName()), replica->type);
  return list;
}

// One batch into the reply: at most the batch size and what the buffer holds.
void FillPartitionReply(PartitionListIteration& list, std::size_t batch, nw::BufferState& reply) {
  reply.ClearContent();
  reply.serverName = list.serverName;
  std::size_t used = 4 + Align4(list.serverName.size() + 1) + 4;
  while (list.next < list.entries.size() && reply.partitions.size() < batch) {
    std::size_t cost = 4 + Align4(list.entries[list.next].first.size() + 1) + 4;
    if (used + cost > reply.header->maxLen && !reply.partitions.empty()) break;
    reply.partitions.push_back(list.entries[list.next++]);
    used += cost;
  }
  reply.header->curLen = static_cast<nuint32>(std::min<std::size_t>(used, reply.header->maxLen));
  reply.partitionsReady = true;
}

}  // namespace

NWRCODE DSServerPartitionsList(NWDSContextHandle context, nuint32* iterationHandle, const char* server, Buf_T* partitions) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSServerPartitionsList")) return code;
  nw::Context* settings = nullptr;
  nw::Tree* tree = nullptr;
  if (NWRCODE code = engine.ContextTree(context, settings, tree)) return code;
  if (!iterationHandle) return ERR_NULL_POINTER;
  nw::BufferState* reply = engine.FindBuffer(partitions);
  if (!reply) return ERR_INVALID_HANDLE;

  nuint32 handle = *iterationHandle;
  std::unique_ptr<PartitionListIteration> fresh;
  PartitionListIteration* list = nullptr;
  if (handle == NO_MORE_ITERATIONS) {
    nw::Server* holder = nullptr;
    if (NWRCODE code = ResolveServer(*tree, *settings, server, holder)) return code;
    fresh = ListPartitions(*tree, *settings, *holder);
    fresh->context = context;
    list = fresh.get();
  } else {
    list = dynamic_cast<PartitionListIteration*>(engine.FindIteration(handle));
    if (!list) return ERR_INVALID_ITERATION;
  }
  std::size_t batch = engine.partitionBatchOverride ? engine.partitionBatchOverride : tree->partitionBatch;
  FillPartitionReply(*list, std::max<std::size_t>(batch, 1), *reply);
  bool complete = list->next >= list->entries.size();
  if (complete) {
    if (handle != NO_MORE_ITERATIONS) engine.EndIteration(handle);
    *iterationHandle = NO_MORE_ITERATIONS;
  } else if (fresh) {
    *iterationHandle = engine.AddIteration(std::move(fresh));
  }
  return 0;
}

NWRCODE DSResultServerName(NWDSContextHandle context, Buf_T* partitions, char* serverName, nuint32* partitionCount) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSResultServerName")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  nw::BufferState* state = engine.FindBuffer(partitions);
  if (!state) return ERR_INVALID_HANDLE;
  if (!state->partitionsReady) return ERR_BUFFER_EMPTY;
  if (serverName && !nw::CopyOut(state->serverName, serverName, MAX_DN_BYTES)) return ERR_INSUFFICIENT_BUFFER;
  if (partitionCount) *partitionCount = static_cast<nuint32>(state->partitions.size());
  return 0;
}

NWRCODE DSResultNextPartition(NWDSContextHandle context, Buf_T* partitions, char* partitionName, nuint32* replicaType) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSResultNextPartition")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  nw::BufferState* state = engine.FindBuffer(partitions);
  if (!state) return ERR_INVALID_HANDLE;
  if (!state->partitionsReady || state->nextPartition >= state->partitions.size()) return ERR_BUFFER_EMPTY;
  const auto& [name, type] = state->partitions[state->nextPartition++];
  if (partitionName && !nw::CopyOut(name, partitionName, MAX_DN_BYTES)) return ERR_INSUFFICIENT_BUFFER;
  if (replicaType) *replicaType = type;
  return 0;
}

NWRCODE DSReplicaSyncErrors(NWDSContextHandle context, const char* server, const char* partition, Buf_T* buffer) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSReplicaSyncErrors")) return code;
  nw::Context* settings = nullptr;
  nw::Tree* tree = nullptr;
  if (NWRCODE code = engine.ContextTree(context, settings, tree)) return code;
  nw::BufferState* state = engine.FindBuffer(buffer);
  if (!state) return ERR_INVALID_HANDLE;
  if (buffer->maxLen < kSyncErrorBytes) return ERR_INSUFFICIENT_BUFFER;
  nw::Server* holder = nullptr;
  if (NWRCODE code = ResolveServer(*tree, *settings, server, holder)) return code;
  nw::Object* root = nullptr;
  if (NWRCODE code = nw::ResolveName(*tree, *settings, partition, root)) return code;
  if (!root->partition) return ERR_NO_SUCH_PARTITION;
  const nw::Replica* replica = root->partition->ReplicaOn(holder);
  if (!replica) return ERR_REPLICA_NOT_ON;
  // u32 unused, u32 count (the real number), then as many codes as fit: 32.
  state->ClearContent();
  std::memset(buffer->data, 0, kSyncErrorBytes);
  nuint32 count = static_cast<nuint32>(replica->errors.size());
  std::memcpy(buffer->data + 4, &count, 4);
  for (std::size_t i = 0; i < std::min(replica->errors.size(), kMaxErrorCodes); ++i) {
    nuint32 code = static_cast<nuint32>(replica->errors[i]);
    std::memcpy(buffer->data + 8 + 4 * i, &code, 4);
  }
  buffer->curLen = static_cast<nuint32>(kSyncErrorBytes);
  return 0;
}

}  // namespace vestrel
