#include "check/RingReader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "directory/D_NW_Errors.h"
#include "directory/D_NW_Format.h"
#include "directory/D_NW_FormatBytes.h"
#include "directory/D_NW_Partitions.h"
#include "directory/NETWIN32.h"
#include "scan/PartitionScan.h"
#include "scan/ScanSteps.h"
#include "scan/ServerScan.h"
#include "util/D_Util.h"
#include "directory/D_NW_Buffer.h"

namespace vestrel::check {

namespace {

constexpr const char* kReplicaAttr = "Replica";
constexpr const char* kStatusAttr = "Partition Status";

// The values of every attribute in one reply.
NWRCODE HandleReply(NWDSContextHandle context, Buf_T* reply, const RawValueHandler& onValue) {
  nuint32 attrCount = 0;
  NWRCODE code = DSResultAttrCount(context, reply, &attrCount);
  for (nuint32 a = 0; code == 0 && a < attrCount; ++a) {
    char attrName[MAX_SCHEMA_NAME_BYTES] = {};
    nuint32 valueCount = 0;
    nuint32 syntaxId = 0;
    code = DSResultNextAttr(context, reply, attrName, &valueCount, &syntaxId);
    for (nuint32 v = 0; code == 0 && v < valueCount; ++v) {
      nuint32 size = 0;
      code = DSResultValueSize(context, reply, syntaxId, &size);
      if (code != 0) break;
      std::vector<nuint8> memory(std::max<nuint32>(size, 1));
      code = DSResultNextValue(context, reply, syntaxId, memory.data());
      if (code == 0) onValue(syntaxId, memory.data(), size);
    }
  }
  return code;
}

std::string ProblemText(NWRCODE code) { return ErrorText(code); }

NWRCODE ReadReplicas(NWDSContextHandle context, RingFacts& ring) {
  std::string malformed;
  const NWRCODE code = ReadRawValues(context, ring.partition, kReplicaAttr,
                                     [&](nuint32 syntaxId, const nuint8* memory, std::size_t size) {
                                       try {
                                         if (syntaxId != SYN_REPLICA_POINTER) RaiseRangeCheck();
                                         ring.replicas.push_back(ReplicaFromValue(memory, size));
                                       } catch (const std::exception&) {
                                         malformed = "a Replica value is malformed";
                                       }
                                     });
  if (code != 0) ring.ringProblem = ProblemText(code);
  else if (!malformed.empty()) ring.ringProblem = malformed;
  if (!ring.ringProblem.empty()) ring.replicas.clear();
  return code;
}

// A ring whose values the tree does not give, from the partition lists of the servers:
// the servers that name the partition hold its replicas, of the types they name.
void ReadHolders(NWDSContextHandle context, ServerHoldings& holdings, RingFacts& ring) {
  if (!holdings.read) {
    holdings.read = true;
    TextList servers;
    SearchSortedNames(context, kServerFilter, servers);
    for (int i = 0; i < servers.Count(); ++i) {
      std::vector<HeldPartition> held;
      if (ListServerPartitions(context, servers[i], held) == 0) holdings.lists.emplace_back(servers[i], std::move(held));
    }
  }
  for (const auto& [server, held] : holdings.lists)
    for (const HeldPartition& partition : held)
      if (EqualsNoCase(partition.name, ring.partition)) {
        ReplicaFacts replica;
        replica.server = server;
        replica.type = partition.replicaType;
        ring.replicas.push_back(replica);
      }
  ring.known = ring.replicas.empty() ? RingFacts::Known::Nothing : RingFacts::Known::HoldersOnly;
}

// The replica a "Partition Status" value belongs to: the one with the replica number the
// value carries (the values need not come in ring order). A number two replicas share (a
// finding of its own) goes to the first of them still without a status.
ReplicaFacts* ReplicaNumbered(RingFacts& ring, nuint32 number) {
  ReplicaFacts* found = nullptr;
  for (ReplicaFacts& replica : ring.replicas) {
    if (replica.number != number) continue;
    if (!replica.hasStatus) return &replica;
    if (!found) found = &replica;
  }
  return found;
}

void ReadStatuses(NWDSContextHandle context, RingFacts& ring) {
  std::size_t count = 0;
  std::string problem;
  const NWRCODE code = ReadRawValues(context, ring.partition, kStatusAttr,
                                     [&](nuint32 syntaxId, const nuint8* memory, std::size_t size) {
                                       ++count;
                                       try {
                                         if (syntaxId != SYN_OCTET_STRING) RaiseRangeCheck();
                                         const nuint32 number = PartitionStatusReplicaNumber(memory, size);
                                         ReplicaFacts* replica = ReplicaNumbered(ring, number);
                                         if (!replica) {
                                           problem = Format("a Partition Status value is of replica number %u, "
                                                            "which the ring does not hold", number);
                                           return;
                                         }
                                         ApplyPartitionStatus(memory, size, *replica);
                                       } catch (const std::exception&) {
                                         problem = "a Partition Status value is malformed";
                                       }
                                     });
  if (code != 0) {
    ring.statusProblem = ProblemText(code);
  } else if (!problem.empty()) {
    ring.statusProblem = problem;
  } else if (count != ring.replicas.size()) {
    ring.statusProblem = Format("%d values for %d replicas", static_cast<int>(count),
                                static_cast<int>(ring.replicas.size()));
  } else if (const auto missing = std::find_if(ring.replicas.begin(), ring.replicas.end(),
                                               [](const ReplicaFacts& replica) { return !replica.hasStatus; });
             missing != ring.replicas.end()) {
    // Two values of one replica: another one has none.
    ring.statusProblem = Format("no value is of replica number %u", missing->number);
  }
}

// A server that cannot be asked is left out, as the partition scan's report leaves it out;
// a directory without the list (over LDAP) is asked once per ring.
void ReadSyncErrors(NWDSContextHandle context, RingFacts& ring) {
  LibraryBuffer buffer(DEFAULT_MESSAGE_LEN);
  if (buffer.Code() != 0 || !buffer.Get()) return;
  Buf_T* reply = buffer.Get();
  for (ReplicaFacts& replica : ring.replicas) {
    if (reply->data) std::memset(reply->data, 0, reply->maxLen);
    const NWRCODE code = DSReplicaSyncErrors(context, replica.server.c_str(), ring.partition.c_str(), reply);
    if (code == ERR_NOT_AVAILABLE_FOR_TREE) {
      ring.syncErrorsUnavailable = true;
      return;
    }
    if (code != 0) continue;
    if (reply->data) ApplySyncErrors(reply->data, reply->maxLen, replica);
  }
}

}  // namespace

NWRCODE ListPartitions(NWDSContextHandle context, TextList& partitions) {
  // The tree root is a partition root without a container class: the search never finds it.
  partitions.Add("[Root]");
  return SearchSortedNames(context, kPartitionFilter, partitions);
}

NWRCODE ReadRawValues(NWDSContextHandle context, const std::string& objectName, const std::string& attrName,
                      const RawValueHandler& onValue) {
  LibraryBuffer request(context, DEFAULT_MESSAGE_LEN, DSV_READ);
  if (request.Code() != 0) return request.Code();
  NWRCODE code = DSRequestAddAttrName(context, request.Get(), attrName.c_str());
  if (code != 0) return code;
  LibraryBuffer reply(context, MAX_MESSAGE_LEN, DSV_READ);
  if (reply.Code() != 0) return reply.Code();
  nuint32 iteration = NO_MORE_ITERATIONS;
  do {
    code = DSReadStep(context, objectName.c_str(), DS_ATTRIBUTE_VALUES, false, request.Get(), &iteration, reply.Get());
    if (code == 0) code = HandleReply(context, reply.Get(), onValue);
  } while (code == 0 && iteration != NO_MORE_ITERATIONS);
  // A read abandoned half-way gives its iteration back.
  if (code != 0 && iteration != NO_MORE_ITERATIONS) DSIterationEnd(context, iteration, DSV_READ);
  return code;
}

ReplicaFacts ReplicaFromValue(const nuint8* memory, std::size_t size) {
  const ValueMemory value(memory, size);
  const auto record = value.Record<Replica_Pointer_T>(offsetof(Replica_Pointer_T, count));
  ReplicaFacts replica;
  replica.server = value.Text(record.serverName);
  SplitReplicaType(record.replicaType, replica.type, replica.ringState);
  replica.number = record.replicaNumber;
  return replica;
}

namespace {

// The octets of a "Partition Status" value; throws RangeCheckError for a malformed or short one.
OctetView PartitionStatusOctets(const nuint8* memory, std::size_t size) {
  const ValueMemory value(memory, size);
  const auto record = value.Record<Octet_String_T>();
  const OctetView octets(value.Bytes(record.data, record.length));
  // Missing bytes would read as state 0, a local error that is not there.
  if (octets.Size() < kPartitionStatusMinBytes) RaiseRangeCheck();
  return octets;
}

}  // namespace

nuint32 PartitionStatusReplicaNumber(const nuint8* memory, std::size_t size) {
  return PartitionStatusOctets(memory, size).U32(12);
}

void ApplyPartitionStatus(const nuint8* memory, std::size_t size, ReplicaFacts& replica) {
  const OctetView octets = PartitionStatusOctets(memory, size);
  replica.hasStatus = true;
  replica.state = octets.U32(4);
  replica.lastSync = octets.U32(8);
  replica.statusError = octets.U32(16);
}

void ApplySyncErrors(const nuint8* data, std::size_t size, ReplicaFacts& replica) {
  const std::size_t length = std::min(size, kReplicaErrorBytes);
  replica.errorCount = OctetView(std::span<const nuint8>(data, data ? length : 0)).U32(4);
  replica.errorsKnown = true;
  replica.errorReport.clear();
  if (replica.errorCount == 0) return;
  try {
    replica.errorReport = ReplicaErrorReport(replica.server, data, size);
  } catch (const RangeCheckError&) {
    // More errors than a reply holds: the rule names the count instead.
  }
}

RingFacts ReadRing(NWDSContextHandle context, const std::string& partition, ServerHoldings* holdings) {
  RingFacts ring;
  ring.partition = partition;
  const NWRCODE code = ReadReplicas(context, ring);
  if (code == ERR_NOT_AVAILABLE_FOR_TREE && holdings) {
    ring.ringProblem.clear();
    ReadHolders(context, *holdings, ring);
    return ring;
  }
  if (!ring.ringProblem.empty()) return ring;
  ReadStatuses(context, ring);
  ReadSyncErrors(context, ring);
  return ring;
}

TreeRings ReadTreeRings(NWDSContextHandle context, const std::function<void(const std::string&)>& reading) {
  TreeRings result;
  TextList partitions;
  result.listCode = ListPartitions(context, partitions);
  if (result.listCode != 0) return result;
  result.rings.reserve(static_cast<std::size_t>(partitions.Count()));
  ServerHoldings holdings;
  for (int i = 0; i < partitions.Count(); ++i) {
    if (reading) reading(partitions[i]);
    result.rings.push_back(ReadRing(context, partitions[i], &holdings));
  }
  return result;
}

}  // namespace vestrel::check
