// eDirectory's LDAP extended operations: request names and the values they carry. A
// request value is its fields encoded one after another, without an enclosing SEQUENCE,
// its integers as signed 32-bit values; the response of request P.n is named P.(n + 1).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "directory/NTypes.h"

namespace vestrel::nw::ldap {

inline constexpr const char* kExtOpPrefix = "2.16.840.1.113719.1.27.100.";

// The requests the client makes, by number.
enum ExtOpNumber : int {
  kSplitPartitionOp = 3,
  kJoinPartitionsOp = 5,
  kAddReplicaOp = 7,
  kRemoveReplicaOp = 11,
  kPartitionEntryCountOp = 13,
  kChangeReplicaTypeOp = 15,
  kReplicaInfoOp = 17,
  kListReplicasOp = 19,
  kReceiveAllUpdatesOp = 21,
  kSendAllUpdatesOp = 23,
  kSyncPartitionOp = 25,
  kSyncSchemaOp = 27,
  kAbortPartitionOperationOp = 29,
};

// "2.16.840.1.113719.1.27.100.19" for request 19.
std::string ExtOpName(int number);
// The name of the server's answer to request number: "...100.20" for request 19.
std::string ExtOpResponseName(int number);

// List replicas (...100.19): serverName LDAPDN -> SEQUENCE OF OCTET STRING (partition DNs).
std::string ListReplicasRequest(const std::string& serverDn);
bool ParseListReplicasResponse(std::string_view value, std::vector<std::string>& partitionDns);

// Replica information (...100.17): serverName LDAPDN, partitionRoot LDAPDN -> partitionID,
// replicaState, modificationTime, purgeTime, localPartitionID, partitionDN, replicaType, flags.
struct ReplicaInfo {
  nuint32 partitionId = 0;
  nuint32 replicaState = 0;
  nuint32 modificationTime = 0;
  nuint32 purgeTime = 0;
  nuint32 localPartitionId = 0;
  std::string partitionDn;
  nuint32 replicaType = 0;
  nuint32 flags = 0;  // 1 busy, 2 boundary
};
std::string ReplicaInfoRequest(const std::string& serverDn, const std::string& partitionDn);
bool ParseReplicaInfoResponse(std::string_view value, ReplicaInfo& info);

// The partition and replica operations: request values (delays in seconds). They answer
// no value.
std::string SyncSchemaRequest(const std::string& serverDn, nuint32 delay);
std::string SyncPartitionRequest(const std::string& serverDn, const std::string& partitionDn, nuint32 delay);
std::string SendAllUpdatesRequest(const std::string& partitionDn, const std::string& originServerDn);
// The server takes the updates from the master whatever fromServer names.
std::string ReceiveAllUpdatesRequest(const std::string& partitionDn, const std::string& toServerDn,
                                     const std::string& fromServerDn);
// flags 1: every server of the ring must answer.
std::string RemoveReplicaRequest(nuint32 flags, const std::string& serverDn, const std::string& partitionDn);
std::string JoinPartitionsRequest(nuint32 flags, const std::string& childPartitionDn);
// The ring changes; they answer no value.
std::string SplitPartitionRequest(nuint32 flags, const std::string& containerDn);
std::string AddReplicaRequest(nuint32 flags, nuint32 replicaType, const std::string& serverDn,
                              const std::string& partitionDn);
std::string ChangeReplicaTypeRequest(nuint32 flags, nuint32 replicaType, const std::string& serverDn,
                                     const std::string& partitionDn);
std::string AbortPartitionOperationRequest(nuint32 flags, const std::string& partitionDn);
// Partition entry count (...100.13): partitionRoot LDAPDN -> count INTEGER.
std::string PartitionEntryCountRequest(const std::string& partitionDn);
bool ParsePartitionEntryCountResponse(std::string_view value, nuint32& count);

}  // namespace vestrel::nw::ldap
