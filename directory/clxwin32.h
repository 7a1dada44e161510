// Connection library: the workstation's connections to directory servers.
#pragma once

#include <string>

#include "directory/NTypes.h"

namespace vestrel {

// Next connection of the workstation. *scanIterator starts at 0 and is advanced by the
// call; a nonzero code (ERR_NO_MORE_CONNECTIONS) ends the scan.
NWRCODE ConnScanNext(nuint32* scanIterator, NWCONN_REF* connRef);

// Reference of the primary connection; ERR_NO_PRIMARY_CONNECTION when there is none.
NWRCODE ConnPrimaryReference(NWCONN_REF* connRef);

// One information item of a connection into a caller buffer of bufferLength bytes.
// Item CONN_INFO_TREE_NAME: the tree name padded with '_' to 32 characters, NUL-terminated.
NWRCODE ConnReferenceInfo(NWCONN_REF connRef, nuint32 infoItem, nuint32 bufferLength, void* buffer);

// Opens a handle on a connection; openState 1, reserved 0.
NWRCODE ConnOpenByReference(NWCONN_REF connRef, nuint32 openState, nuint32 reserved,
                            NWCONN_HANDLE* connHandle);

// The network time of the server behind a connection, as a directory time (seconds since
// 1970 UTC): the "now" that the directory's own sync times are measured against.
NWRCODE ConnServerTime(NWCONN_REF connRef, nuint32* directoryTime);

// In words, the last failure on the link to the server behind a connection ("search
// failed: Can't contact LDAP server"): what a code such as a transport failure alone does
// not tell. Empty when nothing failed or the tree is held in memory.
NWRCODE ConnLinkFailure(NWCONN_REF connRef, std::string& words);

}  // namespace vestrel
