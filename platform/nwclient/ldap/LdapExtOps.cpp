#include "platform/nwclient/ldap/LdapExtOps.h"

#include "platform/nwclient/ldap/Ber.h"

namespace vestrel::nw::ldap {

std::string ExtOpName(int number) { return kExtOpPrefix + std::to_string(number); }

std::string ExtOpResponseName(int number) { return ExtOpName(number + 1); }

std::string ListReplicasRequest(const std::string& serverDn) { return BerWriter().OctetString(serverDn).Bytes(); }

bool ParseListReplicasResponse(std::string_view value, std::vector<std::string>& partitionDns) {
  partitionDns.clear();
  BerReader reader(value);
  BerReader list("");
  if (!reader.Sequence(list) || !reader.AtEnd()) return false;
  while (!list.AtEnd()) {
    std::string dn;
    if (!list.OctetString(dn)) return false;
    partitionDns.push_back(std::move(dn));
  }
  return true;
}

std::string ReplicaInfoRequest(const std::string& serverDn, const std::string& partitionDn) {
  return BerWriter().OctetString(serverDn).OctetString(partitionDn).Bytes();
}

bool ParseReplicaInfoResponse(std::string_view value, ReplicaInfo& info) {
  BerReader reader(value);
  return reader.U32(info.partitionId) && reader.U32(info.replicaState) && reader.U32(info.modificationTime) &&
         reader.U32(info.purgeTime) && reader.U32(info.localPartitionId) && reader.OctetString(info.partitionDn) &&
         reader.U32(info.replicaType) && reader.U32(info.flags) && reader.AtEnd();
}

std::string SyncSchemaRequest(const std::string& serverDn, nuint32 delay) {
  return BerWriter().OctetString(serverDn).Integer(SignedField(delay)).Bytes();
}

std::string SyncPartitionRequest(const std::string& serverDn, const std::string& partitionDn, nuint32 delay) {
  return BerWriter().OctetString(serverDn).OctetString(partitionDn).Integer(SignedField(delay)).Bytes();
}

std::string SendAllUpdatesRequest(const std::string& partitionDn, const std::string& originServerDn) {
  return BerWriter().OctetString(partitionDn).OctetString(originServerDn).Bytes();
}

std::string ReceiveAllUpdatesRequest(const std::string& partitionDn, const std::string& toServerDn,
                                     const std::string& fromServerDn) {
  return BerWriter().OctetString(partitionDn).OctetString(toServerDn).OctetString(fromServerDn).Bytes();
}

std::string RemoveReplicaRequest(nuint32 flags, const std::string& serverDn, const std::string& partitionDn) {
  return BerWriter().Integer(SignedField(flags)).OctetString(serverDn).OctetString(partitionDn).Bytes();
}

std::string JoinPartitionsRequest(nuint32 flags, const std::string& childPartitionDn) {
  return BerWriter().Integer(SignedField(flags)).OctetString(childPartitionDn).Bytes();
}

std::string SplitPartitionRequest(nuint32 flags, const std::string& containerDn) {
  return BerWriter().Integer(SignedField(flags)).OctetString(containerDn).Bytes();
}

std::string AddReplicaRequest(nuint32 flags, nuint32 replicaType, const std::string& serverDn,
                              const std::string& partitionDn) {
  return BerWriter()
      .Integer(SignedField(flags))
      .Integer(SignedField(replicaType))
      .OctetString(serverDn)
      .OctetString(partitionDn)
      .Bytes();
}

std::string ChangeReplicaTypeRequest(nuint32 flags, nuint32 replicaType, const std::string& serverDn,
                                     const std::string& partitionDn) {
  return AddReplicaRequest(flags, replicaType, serverDn, partitionDn);  // the same fields
}

std::string AbortPartitionOperationRequest(nuint32 flags, const std::string& partitionDn) {
  return BerWriter().Integer(SignedField(flags)).OctetString(partitionDn).Bytes();
}

std::string PartitionEntryCountRequest(const std::string& partitionDn) {
  return BerWriter().OctetString(partitionDn).Bytes();
}

bool ParsePartitionEntryCountResponse(std::string_view value, nuint32& count) {
  BerReader reader(value);
  return reader.U32(count) && reader.AtEnd();
}

}  // namespace vestrel::nw::ldap
