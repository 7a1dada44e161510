// The partitions of which one server holds a replica, and the texts of replica types.
#pragma once

#include <string>
#include <vector>

#include "directory/NTypes.h"
#include "util/TextList.h"

namespace vestrel {

// "Master", "Secondary", "Read-Only", "Subordinate Reference" or "Unknown (Type: %d)".
std::string ReplicaTypeName(nuint32 replicaType);
// A replica pointer's type field holds the replica's state in its upper half when the
// replica is not on (new, dying, in a split or join). Splits a field whose lower half is
// a known type; any other field is all type and the state on.
void SplitReplicaType(nuint32 field, nuint32& replicaType, nuint32& state);
// "New", "Dying", "Split 1", "Join 0", ...; "On" for 0, "State %d" for one not known.
std::string ReplicaStateName(nuint32 state);

// Lists the partitions that server holds. On return names holds the bare partition names
// and rows one "<partition> | <server> [<replica type>]" line each, in delivery order;
// both lists are replaced whole, except when the reply buffer cannot be allocated (then
// they are left as they were). Returns 0 or the code of the call that ended the listing.
NWRCODE GetServerPartitions(NWDSContextHandle context, const std::string& server, TextList& names,
                            TextList& rows);

// One partition a server holds, with the type of its replica there.
struct HeldPartition {
  std::string name;
  nuint32 replicaType = 0;
};
// The same listing, as partitions and replica types.
NWRCODE ListServerPartitions(NWDSContextHandle context, const std::string& server, std::vector<HeldPartition>& held);

}  // namespace vestrel
