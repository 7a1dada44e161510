// Names both ways between the directory's dotted form and LDAP distinguished names:
// "CN=FS1.OU=HQ.O=ACME" (typed) or "FS1.HQ.ACME" (typeless) is "cn=FS1,ou=HQ,o=ACME";
// "[Root]" is the empty DN. Dotted names escape ".", "=", "+" and "\" with "\"; DNs
// escape as RFC 4514 says. Every part of the library that turns one form into the other
// does it here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vestrel::nw::ldap {

struct Ava {
  std::string type;   // as written: "cn", "OU", ...; empty when a dotted name gave none
  std::string value;  // without escapes
};
using Rdn = std::vector<Ava>;  // several for a multi-valued name such as "cn=a+sn=b"
using Dn = std::vector<Rdn>;   // the object's own name first; empty for the root

// An RFC 4514 DN; false when it is malformed.
bool ParseDn(std::string_view text, Dn& dn);
// The RFC 4514 text of a DN (types as they are).
std::string FormatDn(const Dn& dn);

// "FS1.HQ.ACME"; "[Root]" for the empty DN.
std::string TypelessName(const Dn& dn);
// "CN=FS1", "OU=HQ", "O=ACME": one per level, types in the directory's spelling.
std::vector<std::string> TypedComponents(const Dn& dn);
// A dotted name (types optional per component, no leading dot, not "[Root]"); false for an
// empty component.
bool ParseDottedName(std::string_view dotted, Dn& dn);
// The components of a dotted name as written (escapes kept), split at the unescaped dots.
std::vector<std::string> DottedComponents(std::string_view dotted);

// "cn" -> "CN", "st" -> "S"; other types in upper case.
std::string DottedType(std::string_view ldapType);
// "CN" -> "cn", "S" -> "st"; other types in lower case.
std::string LdapType(std::string_view dottedType);

// Whether two DNs name the same object: types and values compared ignoring ASCII case.
bool SameDn(const Dn& a, const Dn& b);
// The upper-case typeless name, for looking names up.
std::string NameKey(std::string_view typelessName);

}  // namespace vestrel::nw::ldap
