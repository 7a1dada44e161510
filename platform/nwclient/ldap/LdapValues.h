// Attribute values as an LDAP server sends them, to and from the neutral form of
// Model.h. A pure module: bytes in, values out, nothing else touched.
//
// Forms (where servers are known to send either of two forms, the decoder takes both):
//   16 replica pointer  BER SEQUENCE { serverName LDAPDN, replicaType, replicaState,
//                       replicaRootID, replicaNumber INTEGER, addressHints SEQUENCE OF
//                       SEQUENCE { transportType INTEGER, address OCTET STRING } }
//   12 net address      "type#bytes" (raw bytes after "#") or BER SEQUENCE { type, address }
//   19 time stamp       "seconds#replica#event" or BER SEQUENCE { seconds, replica, event }
//   24 time             GeneralizedTime ("20240506075500Z")
//   8, 22, 27 numbers   decimal text;  7 boolean  "TRUE" / "FALSE"
//   9, 21, 0, others    the bytes as they come;  texts  UTF-8
//   20 class names      LDAP class names, turned into the directory's ("ncpServer")
//   1 names             LDAP DN text (left as it is: the caller turns it into a dotted name)
//   6, 18 lists         RFC 4517 postal form: items separated by "$", "\24" and "\5C" escapes
//   14, 15, 17, 23, 25, 26  fields separated by "#" (numbers, names as LDAP DN text)
#pragma once

#include <string>
#include <string_view>

#include "platform/nwclient/Model.h"

namespace vestrel::nw::ldap {

// One value of an attribute of syntax. Never fails: a value that cannot be decoded comes
// back with malformed set. Fields holding names hold LDAP DN text.
Value DecodeValue(nuint32 syntax, std::string_view bytes);

// The form a server keeps a value in (string forms; BER where no string form exists, or
// for net addresses and time stamps when ber is set). Names in value.text are LDAP DN text.
std::string EncodeValue(nuint32 syntax, const Value& value, bool ber = false);

// GeneralizedTime <-> directory time; false for a text that is no time from 1970 to 2106.
bool ParseGeneralizedTime(std::string_view text, nuint32& seconds);
std::string GeneralizedTime(nuint32 seconds);

}  // namespace vestrel::nw::ldap
