// The directory's attribute and class names as an LDAP server names them, and the
// syntax each attribute's values have. One table: where a real server disagrees, this is
// the one place to change.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "directory/NTypes.h"

namespace vestrel::nw::ldap {

// "Network Address" -> "networkAddress". Names without a table entry lose their blanks and
// other characters LDAP does not allow in names, and start in lower case ("Login
// Disabled" -> "loginDisabled").
std::string LdapAttributeName(const std::string& name);
// The table's spelling of a directory attribute name ("version" -> "Version"); the name
// unchanged when the table has no entry.
std::string CanonicalAttributeName(const std::string& name);
// The directory's name of an LDAP attribute (options such as ";binary" ignored); the LDAP
// name itself when the table has no entry.
std::string DirectoryAttributeName(std::string_view ldapName);
// An attribute description without its options, as servers may add them ("Replica;binary").
std::string_view BaseAttributeName(std::string_view description);
// Whether two LDAP attribute descriptions name the same attribute (options and case ignored).
bool SameAttribute(std::string_view a, std::string_view b);

// "NCP Server" -> "ncpServer", "Organizational Unit" -> "organizationalUnit".
std::string LdapClassName(const std::string& name);
// "ncpServer" -> "NCP Server"; an LDAP class without a table entry keeps its name.
std::string DirectoryClassName(std::string_view ldapName);

// The syntax of an attribute's values (directory name); false when unknown.
bool AttributeSyntax(const std::string& name, nuint32& syntax);
// Values that hold LDAP DNs the program itself turns into dotted names ("creatorsName").
bool KeepsLdapNames(const std::string& name);

// Attributes a server gives only when asked by name, added to a read of every attribute.
const std::vector<std::string>& OperationalAttributes();
// The attributes whose values name an object at one level ("cn=FS1", "ou=HQ", ...).
const std::vector<std::string>& NamingAttributes();

// Object information over LDAP.
inline constexpr const char* kStructuralClass = "structuralObjectClass";
inline constexpr const char* kObjectClass = "objectClass";
inline constexpr const char* kCreateTime = "createTimestamp";
inline constexpr const char* kModifyTime = "modifyTimestamp";
inline constexpr const char* kSubordinateCount = "subordinateCount";
inline constexpr const char* kPartitionClass = "Partition";  // auxiliary class of partition roots

}  // namespace vestrel::nw::ldap
