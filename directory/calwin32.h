// Client library: start-up of the directory client.
#pragma once

#include "directory/NTypes.h"

namespace vestrel {

// Starts the client. Both arguments are reserved and passed as 0.
NWRCODE ClientInitialize(nuint32 reserved1, nuint32 reserved2);

}  // namespace vestrel
