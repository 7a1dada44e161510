// The partition and replica operations of the embedded directory: what tests may
// look at beyond the model itself.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "directory/NTypes.h"

namespace vestrel::nw {

// Scheduled syncs that have not run yet.
std::size_t PendingOperations();
// Runs every scheduled sync that is due by the engine clock (the engine does this at
// the start of each library call).
void RunDueOperations();
// Forgets every scheduled sync, schema sync time and the last request (the engine does
// this when it is cleared).
void DropPendingOperations();
// When a schema sync last ran on a server (tree and server by full name, any case);
// 0 when none has run since the engine started.
nuint32 LastSchemaSync(const std::string& treeName, const std::string& serverFullName);

// The last request made of one of the operations, as the caller passed it (names
// unchanged, null names as ""), whatever its outcome: lets tests see argument orders,
// flags and delays.
struct OperationRequest {
  std::string operation;           // "NWDSSyncReplicaToServer", ... ("" before the first)
  std::vector<std::string> names;  // the name arguments in order
  nuint32 flags = 0;               // the flags, or the replica type of add / change type
  nuint32 seconds = 0;             // the scheduled syncs
};
const OperationRequest& LastOperationRequest();

}  // namespace vestrel::nw
