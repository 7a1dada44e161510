#include "platform/nwclient/ldap/LdapSchema.h"

#include <cctype>

#include "platform/nwclient/Model.h"

namespace vestrel::nw::ldap {

namespace {

struct AttributeEntry {
  const char* name;      // the directory's name
  const char* ldapName;
  nuint32 syntax;        // 0: the directory's own schema tells
};

// Names the server gives differently from the rule of LdapAttributeName, and names the
// directory's schema does not know. The LDAP names are those of eDirectory's published
// subschema (as a 9.1.4 server gives it); a server may map names otherwise.
constexpr AttributeEntry kAttributes[] = {
    {"Replica", "Replica", 0},
    {"Partition Status", "partitionStatus", 0},
    {"Transitive Vector", "transitiveVector", 0},
    {"Local Received Up To", "localReceivedUpTo", 0},
    {"Purge Vector", "purgeVector", 0},
    {"Synchronized Up To", "synchronizedUpTo", SYN_TIMESTAMP},
    {"Received Up To", "receivedUpTo", SYN_TIMESTAMP},
    {"Network Address", "networkAddress", 0},
    {"Version", "Version", 0},
    {"DS Revision", "dsRevision", 0},
    {"Object Class", "objectClass", 0},
    {"Base Class", "structuralObjectClass", SYN_CLASS_NAME},
    {"creatorsName", "creatorsName", 0},
    {"modifiersName", "modifiersName", 0},
    {"createTimestamp", "createTimestamp", SYN_TIME},
    {"modifyTimestamp", "modifyTimestamp", SYN_TIME},
    {"Aliased Object Name", "aliasedObjectName", 0},
    {"Surname", "sn", 0},
    {"Internet EMail Address", "mail", 0},
    {"CN", "cn", 0},
    {"OU", "ou", 0},
    {"O", "o", 0},
    {"C", "c", 0},
    {"L", "l", 0},
    {"S", "st", 0},
    {"SA", "street", 0},
    {"Home Directory", "ndsHomeDirectory", 0},
    {"Postal Office Box", "postOfficeBox", 0},
    {"Generational Qualifier", "generationQualifier", 0},
    {"UID", "ndsUID", 0},
    {"GID", "groupID", 0},
    {"uniqueID", "uid", 0},
    {"Cross Certificate Pair", "ndsCrossCertificatePair", 0},
};

struct ClassEntry {
  const char* name;
  const char* ldapName;
};

constexpr ClassEntry kClasses[] = {
    {"NCP Server", "ncpServer"},
    {"Organizational Unit", "organizationalUnit"},
    {"Organization", "Organization"},
    {"Country", "Country"},
    {"Locality", "Locality"},
    {"User", "inetOrgPerson"},
    {"Group", "groupOfNames"},
    {"Alias", "aliasObject"},
    {"Top", "Top"},
    {"Partition", "Partition"},
    {"Organizational Person", "organizationalPerson"},
    {"Person", "Person"},
    {"Organizational Role", "organizationalRole"},
};

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

const AttributeEntry* ByName(std::string_view name) {
  for (const AttributeEntry& entry : kAttributes)
    if (EqualsNoCase(entry.name, name)) return &entry;
  return nullptr;
}

// What LDAP allows in a name: letters, digits and hyphens, starting with a letter.
std::string LdapNameByRule(const std::string& name) {
  std::string out;
  for (char c : name)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') out += c;
  if (!out.empty()) out[0] = Lower(out[0]);
  return out;
}

}  // namespace

std::string LdapAttributeName(const std::string& name) {
  if (const AttributeEntry* entry = ByName(name)) return entry->ldapName;
  return LdapNameByRule(name);
}

std::string CanonicalAttributeName(const std::string& name) {
  const AttributeEntry* entry = ByName(name);
  return entry ? entry->name : name;
}

std::string_view BaseAttributeName(std::string_view description) {
  return description.substr(0, description.find(';'));
}

bool SameAttribute(std::string_view a, std::string_view b) {
  return EqualsNoCase(BaseAttributeName(a), BaseAttributeName(b));
}

std::string DirectoryAttributeName(std::string_view ldapName) {
  const std::string_view base = BaseAttributeName(ldapName);
  for (const AttributeEntry& entry : kAttributes)
    if (EqualsNoCase(entry.ldapName, base)) return entry.name;
  return std::string(base);
}

std::string LdapClassName(const std::string& name) {
  for (const ClassEntry& entry : kClasses)
    if (EqualsNoCase(entry.name, name)) return entry.ldapName;
  return LdapNameByRule(name);
}

std::string DirectoryClassName(std::string_view ldapName) {
  for (const ClassEntry& entry : kClasses)
    if (EqualsNoCase(entry.ldapName, ldapName)) return entry.name;
  return std::string(ldapName);
}

bool AttributeSyntax(const std::string& name, nuint32& syntax) {
  if (const AttributeEntry* entry = ByName(name); entry && entry->syntax) {
    syntax = entry->syntax;
    return true;
  }
  static const Tree kSchemaOnly;  // a tree without a file: the built-in schema
  return kSchemaOnly.SyntaxOf(name, syntax);
}

bool KeepsLdapNames(const std::string& name) {
  return EqualsNoCase(name, "creatorsName") || EqualsNoCase(name, "modifiersName");
}

const std::vector<std::string>& OperationalAttributes() {
  static const std::vector<std::string> names = {"Replica", "partitionStatus", "transitiveVector",
                                                 "localReceivedUpTo", "purgeVector", "synchronizedUpTo",
                                                 "receivedUpTo", "creatorsName", "modifiersName"};
  return names;
}

const std::vector<std::string>& NamingAttributes() {
  static const std::vector<std::string> names = {"cn", "ou", "o", "c", "l", "st", "dc"};
  return names;
}

}  // namespace vestrel::nw::ldap
