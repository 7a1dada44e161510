// LDAP results as the client library's completion codes. A directory server that puts
// its own error into the diagnostic message ("NDS error: no such value (-602)") is taken
// at its word; plain LDAP result codes map to the client's codes by one table.
#pragma once

#include <string>
#include <string_view>

#include "directory/NTypes.h"

namespace vestrel::nw::ldap {

// Codes of the client library for what only an LDAP link gives.
inline constexpr NWRCODE kErrConnectionTimeout = ERR_CONNECTION_TIMEOUT;  // no answer within the timeout
inline constexpr NWRCODE kErrQueryMaxCount = ERR_QUERY_MAX_COUNT;         // a size limit ended a search
inline constexpr NWRCODE kErrRequestNotSupported = -780;  // the server does not know the request
inline constexpr NWRCODE kErrFailedAuthentication = -669;

// The "(-NNN)" of an "NDS error: ..." diagnostic message; 0 when there is none.
NWRCODE NdsCodeOf(std::string_view diagnostic);
// The code of an LDAP result (libldap's negative codes included). connecting: the result
// of opening the connection, where "server down" means it could not be reached.
NWRCODE CodeOf(int ldapResult, std::string_view diagnostic, bool connecting = false);
// Whether a result means the connection is gone or not answering.
bool BreaksConnection(int ldapResult);
// What went wrong, for messages: "Invalid credentials" or "Invalid credentials (NDS error: ...)".
std::string FailureText(int ldapResult, std::string_view diagnostic);

}  // namespace vestrel::nw::ldap
