#include "tools/ldif/TreeToLdif.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <set>

#include "platform/nwclient/Model.h"
#include "platform/nwclient/ldap/LdapNames.h"
#include "platform/nwclient/ldap/LdapSchema.h"
#include "platform/nwclient/ldap/LdapValues.h"

namespace vestrel::ldif {

namespace {

using nw::Attribute;
using nw::Object;
using nw::Tree;
using nw::Value;
namespace ldap = nw::ldap;

// The structural classes the test schema has, and the attributes each may hold. Objects
// of any other class become ndsObject, with a common name.
const std::map<std::string, std::set<std::string>>& StructuralClasses() {
  static const std::set<std::string> container = {"description", "l", "st", "telephoneNumber"};
  static const std::map<std::string, std::set<std::string>> classes = {
      {"organization", container},
      {"organizationalUnit", container},
      {"country", {"description"}},
      {"locality", {"description", "l", "st"}},
      {"inetOrgPerson", {"description", "l", "st", "telephoneNumber", "sn", "givenName", "title", "mail"}},
      {"ncpServer", {"description", "l", "Version", "dsRevision", "networkAddress"}},
      {"ndsObject", {"description", "l"}},
      {"aliasObject", {}},
  };
  return classes;
}

// Values of partition roots (the auxiliary class Partition) and of every entry.
const std::set<std::string>& PartitionAttributes() {
  static const std::set<std::string> names = {"Replica", "partitionStatus", "transitiveVector", "localReceivedUpTo",
                                              "purgeVector", "synchronizedUpTo", "receivedUpTo"};
  return names;
}
const std::set<std::string>& EntryAttributes() {
  static const std::set<std::string> names = {"creatorsName", "modifiersName", "aliasedObjectName"};
  return names;
}
// Attributes the test schema keeps in BER and sends as "attr;binary".
const std::set<std::string>& BinaryAttributes() {
  static const std::set<std::string> names = {"Replica"};
  return names;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string StructuralClass(const Object& obj) {
  const std::string wanted = Lower(ldap::LdapClassName(obj.IsAlias() ? "Alias" : obj.baseClass));
  for (const auto& [name, allowed] : StructuralClasses())
    if (Lower(name) == wanted) return name;
  return "ndsObject";
}

ldap::Dn DnOfObject(const Object& obj) {
  ldap::Dn dn;
  for (const Object* o = &obj; o && !o->IsRoot(); o = o->parent)
    dn.push_back({{ldap::LdapType(nw::NameTypeText(o->nameType)), o->rdn}});
  return dn;
}

// "name: value", or "name:: base64" for a value LDIF cannot carry as it is.
std::string Line(const std::string& name, const std::string& value) {
  bool safe = value.empty() || (value[0] != ' ' && value[0] != ':' && value[0] != '<' && value.back() != ' ');
  for (char c : value) safe = safe && c != '\0' && c != '\r' && c != '\n' && static_cast<unsigned char>(c) < 0x80;
  return safe ? name + ": " + value + "\n" : name + ":: " + Base64(value) + "\n";
}

// Names in values are full dotted names in the model; the server keeps DNs.
Value WithDnNames(const Tree& tree, const Attribute& attr, Value value) {
  switch (attr.syntax) {
    case SYN_DIST_NAME: case SYN_REPLICA_POINTER: case SYN_OBJECT_ACL: case SYN_BACK_LINK: case SYN_TYPED_NAME:
    case SYN_HOLD:
      if (!ldap::KeepsLdapNames(attr.name)) value.text = DnOf(tree, value.text);
      break;
    default:
      break;
  }
  return value;
}

void WriteEntry(const Tree& tree, const Object& obj, LdifResult& result) {
  const std::string structural = StructuralClass(obj);
  const std::set<std::string>& allowed = StructuralClasses().at(structural);
  const ldap::Dn dn = DnOfObject(obj);
  std::string& out = result.text;
  out += Line("dn", ldap::FormatDn(dn));
  out += Line("objectClass", structural);
  if (obj.IsAlias()) {
    out += Line("objectClass", "alias");             // slapd takes only the class itself for an alias
    out += Line("objectClass", "extensibleObject");  // an alias named by cn
  }
  if (obj.partition) out += Line("objectClass", ldap::kPartitionClass);
  const std::string namingAttribute = dn.front().front().type;
  out += Line(namingAttribute, obj.rdn);
  if (structural == "ndsObject" && namingAttribute != "cn") out += Line("cn", obj.rdn);
  const Attribute* surname = obj.RawAttribute("Surname");
  if (structural == "inetOrgPerson" && !surname) out += Line("sn", obj.rdn);  // a person must have one
  out += Line(ldap::kCreateTime, ldap::GeneralizedTime(obj.created));
  out += Line(ldap::kModifyTime, ldap::GeneralizedTime(obj.modified));

  for (const Attribute& attr : nw::EffectiveAttributes(tree, obj)) {
    const std::string ldapName = ldap::LdapAttributeName(attr.name);
    if (ldapName == "objectClass" || nw::EqualsNoCase(ldapName, namingAttribute)) continue;
    const bool fits = allowed.count(ldapName) || EntryAttributes().count(ldapName) ||
                      (obj.partition && PartitionAttributes().count(ldapName));
    if (!fits) {
      result.skipped.push_back(attr.name + " of " + obj.FullName());
      continue;
    }
    // All values of one attribute together: slapadd wants them so.
    const std::string name = BinaryAttributes().count(ldapName) ? ldapName + ";binary" : ldapName;
    for (const Value& value : attr.values)
      out += Line(name, ldap::EncodeValue(attr.syntax, WithDnNames(tree, attr, value)));
  }
  out += "\n";
}

nuint32 Moved(nuint32 time, std::int64_t seconds) {
  if (time == 0) return 0;
  return static_cast<nuint32>(std::clamp<std::int64_t>(std::int64_t{time} + seconds, 1, 0xFFFFFFFFll));
}

void MoveValueTimes(Attribute& attr, std::int64_t seconds) {
  for (Value& value : attr.values) {
    if (attr.syntax == SYN_TIME || attr.syntax == SYN_TIMESTAMP) value.number = Moved(value.number, seconds);
    value.modTime.wholeSeconds = Moved(value.modTime.wholeSeconds, seconds);
  }
}

}  // namespace

std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += {kDigits[n >> 18], kDigits[(n >> 12) & 63], kDigits[(n >> 6) & 63], kDigits[n & 63]};
  }
  if (i < bytes.size()) {
    unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += {kDigits[n >> 18], kDigits[(n >> 12) & 63], i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=', '='};
  }
  return out;
}

std::string DnOf(const Tree& tree, const std::string& fullName) {
  if (const Object* obj = tree.Find(fullName)) return ldap::FormatDn(DnOfObject(*obj));
  ldap::Dn dn;
  if (!ldap::ParseDottedName(fullName, dn)) return fullName;
  for (std::size_t i = 0; i < dn.size(); ++i)
    for (ldap::Ava& ava : dn[i])
      if (ava.type.empty()) ava.type = i == 0 ? "cn" : i + 1 == dn.size() ? "o" : "ou";
      else ava.type = ldap::LdapType(ava.type);
  return ldap::FormatDn(dn);
}

LdifResult TreeToLdif(const Tree& tree) {
  LdifResult result;
  result.text = "# " + tree.name + ", from " + tree.file + "\n\n";
  for (const Object* obj : tree.Objects())
    if (!obj->IsRoot()) WriteEntry(tree, *obj, result);
  return result;
}

LdifResult TreeFileToLdif(const std::string& path, TreeTimes times) {
  const auto tree = nw::LoadTreeFile(path);
  if (times == TreeTimes::MovedToNow) MoveTimes(*tree, SecondsToNow(*tree, std::time(nullptr)));
  return TreeToLdif(*tree);
}

void MoveTimes(Tree& tree, std::int64_t seconds) {
  tree.clock = Moved(tree.clock, seconds);
  for (Object* obj : tree.Objects()) {
    obj->created = Moved(obj->created, seconds);
    obj->modified = Moved(obj->modified, seconds);
    for (Attribute& attr : obj->attributes) MoveValueTimes(attr, seconds);
  }
  for (const auto& partition : tree.partitions)
    for (nw::Replica& replica : partition->ring) replica.lastSync = Moved(replica.lastSync, seconds);
}

std::int64_t SecondsToNow(const Tree& tree, std::int64_t now) { return tree.clock ? now - tree.clock : 0; }

}  // namespace vestrel::ldif
