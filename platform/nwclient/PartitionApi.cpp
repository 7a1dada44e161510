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
  std::vector<nw::PartitionEntry> entries;
  std::size_t next = 0;
};

// One batch into the reply: at most the batch size and what the buffer holds.
void FillPartitionReply(PartitionListIteration& list, std::size_t batch, nw::BufferState& reply) {
  reply.ClearContent();
  reply.serverName = list.serverName;
  std::size_t used = 4 + Align4(list.serverName.size() + 1) + 4;
  while (list.next < list.entries.size() && reply.partitions.size() < batch) {
    const nw::PartitionEntry& entry = list.entries[list.next];
    std::size_t cost = 4 + Align4(entry.name.size() + 1) + 4;
    if (used + cost > reply.header->maxLen && !reply.partitions.empty()) break;
    reply.partitions.emplace_back(entry.name, entry.type);
    ++list.next;
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
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = engine.ContextSource(context, settings, tree)) return code;
  if (!iterationHandle) return ERR_NULL_POINTER;
  nw::BufferState* reply = engine.FindBuffer(partitions);
  if (!reply) return ERR_INVALID_HANDLE;

  nuint32 handle = *iterationHandle;
  std::unique_ptr<PartitionListIteration> fresh;
  PartitionListIteration* list = nullptr;
  if (handle == NO_MORE_ITERATIONS) {
    fresh = std::make_unique<PartitionListIteration>();
    if (NWRCODE code = tree->ServerPartitions(*settings, server, fresh->serverName, fresh->entries)) return code;
    fresh->context = context;
    list = fresh.get();
  } else {
    list = dynamic_cast<PartitionListIteration*>(engine.FindIteration(handle));
    if (!list) return ERR_INVALID_ITERATION;
  }
  std::size_t batch = engine.partitionBatchOverride ? engine.partitionBatchOverride : tree->PartitionBatch();
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
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = engine.ContextSource(context, settings, tree)) return code;
  nw::BufferState* state = engine.FindBuffer(buffer);
  if (!state) return ERR_INVALID_HANDLE;
  if (buffer->maxLen < kSyncErrorBytes) return ERR_INSUFFICIENT_BUFFER;
  std::vector<NWRCODE> errors;
  if (NWRCODE code = tree->ReplicaSyncErrors(*settings, server, partition, errors)) return code;
  // u32 unused, u32 count (the real number), then as many codes as fit: 32.
  state->ClearContent();
  std::memset(buffer->data, 0, kSyncErrorBytes);
  nuint32 count = static_cast<nuint32>(errors.size());
  std::memcpy(buffer->data + 4, &count, 4);
  for (std::size_t i = 0; i < std::min(errors.size(), kMaxErrorCodes); ++i) {
    nuint32 code = static_cast<nuint32>(errors[i]);
    std::memcpy(buffer->data + 8 + 4 * i, &code, 4);
  }
  buffer->curLen = static_cast<nuint32>(kSyncErrorBytes);
  return 0;
}

}  // namespace vestrel
