// The ten partition and replica operations of the embedded directory: what tests may
// look at beyond the model itself.
#pragma once

#include <cstddef>
#include <string>

#include "directory/NTypes.h"

namespace vestrel::nw {

// Scheduled syncs that have not run yet.
std::size_t PendingOperations();
// Runs every scheduled sync that is due by the engine clock (the engine does this at
// the start of each library call).
void RunDueOperations();
// Forgets every scheduled sync (the engine does this when it is cleared).
void DropPendingOperations();
// When a schema sync last ran on a server (tree and server by full name, any case);
// 0 when none has run since the engine started.
nuint32 LastSchemaSync(const std::string& treeName, const std::string& serverFullName);

}  // namespace vestrel::nw
