// The NDS values the engine derives from the high-level sections of a tree file:
// server attributes, replica rings and their status octets, class and naming values.
#include <algorithm>
#include <cctype>
#include <unordered_map>

#include "platform/nwclient/Model.h"

namespace vestrel::nw {

namespace {

void PutU32(Bytes& out, std::size_t at, nuint32 value) {
  if (out.size() < at + 4) out.resize(at + 4, 0);
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Decodes one UTF-8 sequence; malformed input gives U+FFFD and moves one byte.
char32_t NextCodePoint(const std::string& text, std::size_t& pos) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(pos);
  int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (length == 0 || pos + length > text.size()) {
    ++pos;
    return 0xFFFD;
  }
  char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(pos + i) & 0x3F);
  }
  pos += length;
  return cp > 0x10FFFF ? 0xFFFD : cp;
}

Value TextValue(const std::string& text) {
  Value v;
  v.text = text;
  return v;
}

Attribute MakeAttribute(const std::string& name, nuint32 syntax, std::vector<Value> values) {
  Attribute attr;
  attr.name = name;
  attr.syntax = syntax;
  attr.values = std::move(values);
  return attr;
}

void AddClassAndNaming(const Object& obj, std::vector<Attribute>& out) {
  std::vector<Value> classes;
  for (const std::string& cls : ClassChain(obj.baseClass)) classes.push_back(TextValue(cls));
  for (const std::string& cls : obj.auxClasses) classes.push_back(TextValue(cls));
  out.push_back(MakeAttribute("Object Class", SYN_CLASS_NAME, std::move(classes)));
  if (obj.IsRoot()) return;
  out.push_back(MakeAttribute(NameTypeText(obj.nameType), obj.nameType == NameType::C ? SYN_PR_STRING : SYN_CI_STRING,
                              {TextValue(obj.rdn)}));
}

void AddCreatorNames(const Tree& tree, const Object& obj, std::vector<Attribute>& out) {
  std::string creator = obj.creator.empty() ? tree.defaultCreator : obj.creator;
  std::string modifier = obj.modifier.empty() ? creator : obj.modifier;
  if (!creator.empty())
    out.push_back(MakeAttribute("creatorsName", SYN_DIST_NAME, {TextValue(LdapName(tree, creator))}));
  if (!modifier.empty())
    out.push_back(MakeAttribute("modifiersName", SYN_DIST_NAME, {TextValue(LdapName(tree, modifier))}));
}

void AddServerValues(const Server& server, std::vector<Attribute>& out) {
  out.push_back(MakeAttribute("Version", SYN_CI_STRING, {TextValue(server.version)}));
  Value revision;
  revision.number = server.dsRevision;
  out.push_back(MakeAttribute("DS Revision", SYN_INTEGER, {revision}));
  std::vector<Value> addresses;
  for (const NetAddress& address : server.addresses) {
    Value v;
    v.number = address.type;
    v.bytes = address.address;
    addresses.push_back(std::move(v));
  }
  if (!addresses.empty()) out.push_back(MakeAttribute("Network Address", SYN_NET_ADDRESS, std::move(addresses)));
}

Value OctetValue(Bytes bytes) {
  Value v;
  v.bytes = std::move(bytes);
  return v;
}

void AddPartitionValues(const Partition& partition, std::vector<Attribute>& out) {
  std::vector<Value> replicas, status, received, transitive, purge;
  for (const Replica& replica : partition.ring) {
    const Server& server = *replica.server;
    std::string serverName = server.object->FullName();
    Value pointer;
    pointer.text = serverName;
    pointer.number = replica.type;
    pointer.number2 = replica.number;
    pointer.state = replica.ringState;
    if (!server.addresses.empty()) {
      pointer.number3 = server.addresses.front().type;
      pointer.bytes = server.addresses.front().address;
    }
    replicas.push_back(std::move(pointer));
    status.push_back(OctetValue(PartitionStatusOctets(replica, status.empty())));
    received.push_back(OctetValue(VectorOctets(replica.number, replica.lastSync, replica.event, serverName)));
    transitive.push_back(OctetValue(VectorOctets(replica.number, replica.lastSync, replica.event, serverName)));
    Value stamp;
    stamp.number = replica.lastSync;
    stamp.number2 = replica.number;
    stamp.number3 = replica.event;
    purge.push_back(std::move(stamp));
  }
  if (replicas.empty()) return;  // a ring without replicas shows no replica values
  out.push_back(MakeAttribute("Replica", SYN_REPLICA_POINTER, std::move(replicas)));
  out.push_back(MakeAttribute("Partition Status", SYN_OCTET_STRING, std::move(status)));
  out.push_back(MakeAttribute("Local Received Up To", SYN_OCTET_STRING, std::move(received)));
  out.push_back(MakeAttribute("Purge Vector", SYN_TIMESTAMP, std::move(purge)));
  out.push_back(MakeAttribute("Transitive Vector", SYN_OCTET_STRING, std::move(transitive)));
}

// Values without their own details get the object's modification time, replica 1 and
// their position as event number.
void FillValueDetails(const Object& obj, Attribute& attr) {
  for (std::size_t i = 0; i < attr.values.size(); ++i) {
    TimeStamp_T& stamp = attr.values[i].modTime;
    if (stamp.wholeSeconds == 0 && stamp.replicaNum == 0 && stamp.eventID == 0) {
      stamp.wholeSeconds = obj.modified;
      stamp.replicaNum = 1;
      stamp.eventID = static_cast<nuint16>(i + 1);
    }
  }
}

}  // namespace

Bytes Utf16Le(const std::string& utf8, bool withTerminator) {
  Bytes out;
  auto put = [&](char32_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = NextCodePoint(utf8, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  if (withTerminator) put(0);
  return out;
}

Bytes PartitionStatusOctets(const Replica& replica, bool firstValue) {
  Bytes out(firstValue ? 28 : 24, 0);
  PutU32(out, 4, replica.state);
  PutU32(out, 8, replica.lastSync);
  PutU32(out, 12, replica.number);
  PutU32(out, 16, static_cast<nuint32>(replica.statusError));
  Bytes name = Utf16Le(replica.server ? replica.server->object->FullName() : std::string(), true);
  out.insert(out.end(), name.begin(), name.end());
  return out;
}

Bytes VectorOctets(nuint32 a, nuint32 b, nuint32 c, const std::string& text) {
  Bytes out(12, 0);
  PutU32(out, 0, a);
  PutU32(out, 4, b);
  PutU32(out, 8, c);
  Bytes name = Utf16Le(text, true);
  out.insert(out.end(), name.begin(), name.end());
  return out;
}

std::string LdapName(const Tree& tree, const std::string& fullName) {
  const Object* obj = tree.Find(fullName);
  std::vector<NamePart> parts;
  if (!obj && !SplitName(fullName, parts)) return fullName;
  std::string result;
  if (obj) {
    for (const Object* o = obj; o && !o->IsRoot(); o = o->parent) {
      if (!result.empty()) result += ',';
      std::string type = NameTypeText(o->nameType);
      for (char& ch : type) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      result += type;
      result += "=" + o->rdn;
    }
    return result;
  }
  // Unknown names: the first component is a common name, the last an organisation.
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) result += ',';
    const char* type = i == 0 ? "cn" : i + 1 == parts.size() ? "o" : "ou";
    result += std::string(type) + "=" + parts[i].text;
  }
  return result;
}

std::vector<std::string> ClassChain(const std::string& baseClass) {
  static const std::map<std::string, std::vector<std::string>> chains = {
      {"USER", {"Organizational Person", "Person", "ndsLoginProperties"}},
      {"ORGANIZATIONAL PERSON", {"Person"}},
      {"ORGANIZATIONAL UNIT", {"ndsLoginProperties", "ndsContainerLoginProperties"}},
      {"ORGANIZATION", {"ndsLoginProperties", "ndsContainerLoginProperties"}},
      {"NCP SERVER", {"Server"}},
      {"GROUP", {}},
  };
  std::vector<std::string> chain{baseClass};
  if (auto it = chains.find(UpperAscii(baseClass)); it != chains.end())
    chain.insert(chain.end(), it->second.begin(), it->second.end());
  if (!EqualsNoCase(baseClass, "Top")) chain.push_back("Top");
  return chain;
}

std::vector<Attribute> EffectiveAttributes(const Tree& tree, const Object& obj) {
  std::vector<Attribute> result;
  AddClassAndNaming(obj, result);
  if (obj.IsAlias()) result.push_back(MakeAttribute("Aliased Object Name", SYN_DIST_NAME, {TextValue(obj.aliasTarget)}));
  if (!obj.IsRoot()) AddCreatorNames(tree, obj, result);
  if (obj.server) AddServerValues(*obj.server, result);
  if (obj.partition) AddPartitionValues(*obj.partition, result);
  std::unordered_map<std::string, std::size_t> derived;  // upper-case name -> position
  for (std::size_t i = 0; i < result.size(); ++i) derived.emplace(UpperAscii(result[i].name), i);
  for (const Attribute& raw : obj.attributes) {
    auto same = derived.find(UpperAscii(raw.name));
    if (same != derived.end())
      result[same->second] = raw;
    else
      result.push_back(raw);
  }
  for (Attribute& attr : result) FillValueDetails(obj, attr);
  return result;
}

bool FindEffectiveAttribute(const Tree& tree, const Object& obj, const std::string& name, Attribute& out) {
  for (Attribute& attr : EffectiveAttributes(tree, obj)) {
    if (EqualsNoCase(attr.name, name)) {
      out = std::move(attr);
      return true;
    }
  }
  return false;
}

}  // namespace vestrel::nw
