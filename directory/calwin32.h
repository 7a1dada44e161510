// Client library: start-up of the directory client.
#pragma once

#include "directory/NTypes.h"

namespace vestrel {

// Starts the client. Both arguments are reserved and passed as 0.
NWRCODE ClientInitialize(nuint32 reserved1, nuint32 reserved2);

// The problems the client met while it loaded the workstation's connections: a connection
// whose tree file is missing or broken is left out of the connection scan, and its problem
// is kept as one text naming the file and what is wrong. index counts from 0. The text is
// copied into buffer, cut to bufferLength - 1 bytes and always terminated; *textLength
// (when given) receives its whole length. ERR_NO_MORE_LOAD_PROBLEMS past the last problem,
// ERR_INVALID_PARAMETER without a buffer or with bufferLength 0.
NWRCODE ClientLoadProblem(nuint32 index, nuint32 bufferLength, char* buffer, nuint32* textLength);

}  // namespace vestrel
