#include "platform/nwclient/ldap/LdapOperations.h"

namespace vestrel::nw::ldap {

namespace {

constexpr const char* kNotAvailable = "Not available over LDAP: ";

// Why an operation has no LDAP request, and what does it on the server instead; null for
// the operations that have one.
const char* WhyNotCarried(Operation operation) {
  switch (operation) {
    case Operation::SyncReplicaToServer:
      return "eDirectory's LDAP server has no request that sends a replica to a chosen server. "
             "Use ndsrepair -P on the server (replica and partition operations).";
    case Operation::RemovePartition:
      return "eDirectory's LDAP server removes only orphan partitions. "
             "Merge the partition into its parent with iManager (Partitions and Replicas).";
    case Operation::RepairTimeStamps:
      return "eDirectory's LDAP server has no request that repairs time stamps. "
             "Use ndsrepair -P -Ad on the server (repair time stamps and declare a new epoch).";
    case Operation::ReloadDS:
      return "eDirectory's LDAP server can refresh only itself, not reload the directory service. "
             "Restart ndsd on the server (ndsmanage).";
    case Operation::SyncSchema:
    case Operation::SyncPartition:
    case Operation::SendAllUpdates:
    case Operation::ReceiveAllUpdates:
    case Operation::RemoveReplica:
    case Operation::JoinPartitions:
    case Operation::AddReplica:
    case Operation::ChangeReplicaType:
    case Operation::SplitPartition:
    case Operation::AbortPartitionOperation:
    case Operation::PartitionEntryCount:
      break;
  }
  return nullptr;
}

}  // namespace

bool CarriedOverLdap(Operation operation, std::string& reason) {
  const char* why = WhyNotCarried(operation);
  reason = why ? std::string(kNotAvailable) + why : std::string();
  return why == nullptr;
}

}  // namespace vestrel::nw::ldap
