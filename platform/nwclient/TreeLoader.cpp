// Reads a JSON tree file into the model. Every problem becomes a LoadError that names
// the file, the place in it and what is wrong; nothing in a file can crash the loader.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/nwclient/Model.h"

namespace vestrel::nw {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxNameChars = MAX_DN_CHARS;
constexpr std::size_t kMaxAttrNameBytes = MAX_SCHEMA_NAME_BYTES - 1;

// Where the loader is in the file, for error messages.
class Place {
 public:
  Place(const std::string& label, std::string path) : label_(&label), path_(std::move(path)) {}
  Place operator[](const std::string& key) const { return Place(*label_, path_ + (path_.empty() ? "" : ".") + key); }
  Place operator[](std::size_t index) const { return Place(*label_, path_ + "[" + std::to_string(index) + "]"); }
  [[noreturn]] void Fail(const std::string& problem) const {
    throw LoadError(*label_ + ": " + (path_.empty() ? "" : path_ + ": ") + problem);
  }

 private:
  const std::string* label_;
  std::string path_;
};

const json* Member(const json& obj, const char* key) {
  auto it = obj.find(key);
  return it == obj.end() ? nullptr : &*it;
}

void CheckKeys(const json& obj, const Place& at, std::initializer_list<const char*> allowed) {
  if (!obj.is_object()) at.Fail("expected an object");
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    const std::string key = it.key();
    if (!key.empty() && key[0] == '_') continue;  // comments such as "_note"
    if (std::none_of(allowed.begin(), allowed.end(), [&key](const char* k) { return key == k; }))
      at.Fail("unknown key \"" + key + "\"");
  }
}

std::string Text(const json& value, const Place& at) {
  if (!value.is_string()) at.Fail("expected a text");
  return value.get<std::string>();
}

std::string RequiredText(const json& obj, const char* key, const Place& at) {
  const json* value = Member(obj, key);
  if (!value) at.Fail(std::string("\"") + key + "\" is missing");
  return Text(*value, at[key]);
}

std::int64_t Integer(const json& value, const Place& at, std::int64_t low, std::int64_t high) {
  if (!value.is_number_integer()) at.Fail("expected a whole number");
  std::int64_t n = value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())
                       ? std::numeric_limits<std::int64_t>::max()
                       : value.get<std::int64_t>();
  if (n < low || n > high) at.Fail("the number " + std::to_string(n) + " is outside " + std::to_string(low) + ".." + std::to_string(high));
  return n;
}

nuint32 U32(const json& value, const Place& at) {
  // Negative numbers are accepted and kept as their 32-bit two's complement (error codes).
  return static_cast<nuint32>(Integer(value, at, std::numeric_limits<std::int32_t>::min(), 0xFFFFFFFFll));
}

nuint32 OptionalU32(const json& obj, const char* key, const Place& at, nuint32 fallback) {
  const json* value = Member(obj, key);
  return value ? U32(*value, at[key]) : fallback;
}

nuint32 Time(const json& value, const Place& at) {
  if (value.is_number_integer()) return static_cast<nuint32>(Integer(value, at, 0, 0xFFFFFFFFll));
  nuint32 seconds = 0;
  if (!value.is_string() || !ParseDirTime(value.get<std::string>(), seconds))
    at.Fail("expected a time: seconds since 1970 or a text like \"2024-05-01T08:00:00Z\"");
  return seconds;
}

nuint32 OptionalTime(const json& obj, const char* key, const Place& at, nuint32 fallback) {
  const json* value = Member(obj, key);
  return value ? Time(*value, at[key]) : fallback;
}

// A full dotted name, types and a leading dot allowed; kept without types and dot.
std::string FullName(const json& value, const Place& at) {
  std::string name = Text(value, at);
  if (name.size() > kMaxNameChars) at.Fail("the name is longer than 256 characters");
  if (!name.empty() && name[0] == '.') name.erase(0, 1);
  if (EqualsNoCase(name, "[Root]")) return "[Root]";
  if (name == "[Public]" || name == "[Supervisor]" || name == "[This]") return name;
  std::vector<NamePart> parts;
  if (!SplitName(name, parts)) at.Fail("\"" + name + "\" is not a valid object name");
  std::string result;
  for (const NamePart& part : parts) result += (result.empty() ? "" : ".") + part.text;
  return result;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

Bytes Hex(const std::string& text, const Place& at) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '-') continue;
    int digit = HexDigit(c);
    if (digit < 0) at.Fail(std::string("\"") + c + "\" is not a hex digit");
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) at.Fail("odd number of hex digits");
  return out;
}

Bytes Base64(const std::string& text, const Place& at) {
  Bytes out;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v = c >= 'A' && c <= 'Z' ? c - 'A' : c >= 'a' && c <= 'z' ? c - 'a' + 26 : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+' ? 62 : c == '/' ? 63 : -1;
    if (c == '=' || c == '\n' || c == '\r' || c == ' ') continue;
    if (v < 0) at.Fail(std::string("\"") + c + "\" is not a base64 character");
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> count));
    }
  }
  return out;
}

void AppendLE(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes Layout(const json& parts, const Place& at) {
  if (!parts.is_array()) at.Fail("expected a list of layout items");
  Bytes out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const json& part = parts[i];
    Place here = at[i];
    if (!part.is_object() || part.size() != 1) here.Fail("expected an object with one key (u8, u16, u32, hex, text, cstring, utf16, zeros)");
    const std::string key = part.begin().key();
    const json& value = part.begin().value();
    if (key == "u8") AppendLE(out, static_cast<nuint32>(Integer(value, here[key], -128, 255)), 1);
    else if (key == "u16") AppendLE(out, static_cast<nuint32>(Integer(value, here[key], -32768, 65535)), 2);
    else if (key == "u32") AppendLE(out, U32(value, here[key]), 4);
    else if (key == "hex") { Bytes b = Hex(Text(value, here[key]), here[key]); out.insert(out.end(), b.begin(), b.end()); }
    else if (key == "text" || key == "cstring") {
      std::string t = Text(value, here[key]);
      out.insert(out.end(), t.begin(), t.end());
      if (key == "cstring") out.push_back(0);
    } else if (key == "utf16") { Bytes b = Utf16Le(Text(value, here[key]), true); out.insert(out.end(), b.begin(), b.end()); }
    else if (key == "zeros") out.resize(out.size() + static_cast<std::size_t>(Integer(value, here[key], 0, 1 << 20)), 0);
    else here.Fail("unknown layout item \"" + key + "\"");
  }
  return out;
}

// Octets: a hex text, or {"hex"|"text"|"base64"|"utf16"|"layout": ...}.
Bytes Octets(const json& value, const Place& at) {
  if (value.is_string()) return Hex(value.get<std::string>(), at);
  if (!value.is_object() || value.size() != 1) at.Fail("expected octets: a hex text or an object with one of hex, text, base64, utf16, layout");
  const std::string key = value.begin().key();
  const json& inner = value.begin().value();
  if (key == "hex") return Hex(Text(inner, at[key]), at[key]);
  if (key == "text") { std::string t = Text(inner, at[key]); return Bytes(t.begin(), t.end()); }
  if (key == "base64") return Base64(Text(inner, at[key]), at[key]);
  if (key == "utf16") return Utf16Le(Text(inner, at[key]), true);
  if (key == "layout") return Layout(inner, at[key]);
  at.Fail("unknown octet form \"" + key + "\"");
}

Bytes Ipv4(const std::string& text, const Place& at) {
  unsigned a, b, c, d;
  char extra;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
    at.Fail("\"" + text + "\" is not an IPv4 address");
  return {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d)};
}

NetAddress Address(const json& value, const Place& at) {
  CheckKeys(value, at, {"type", "ip", "port", "network", "node", "socket", "hex", "text"});
  const json* type = Member(value, "type");
  if (!type) at.Fail("\"type\" is missing");
  NetAddress address;
  address.type = U32(*type, at["type"]);
  if (const json* hex = Member(value, "hex")) {
    address.address = Hex(Text(*hex, at["hex"]), at["hex"]);
  } else if (const json* text = Member(value, "text")) {
    address.address = Utf16Le(Text(*text, at["text"]), true);
  } else if (const json* ip = Member(value, "ip")) {
    Bytes v4 = Ipv4(Text(*ip, at["ip"]), at["ip"]);
    nuint32 port = value.contains("port") ? static_cast<nuint32>(Integer(value["port"], at["port"], 0, 65535)) : 524;
    Bytes portBytes{static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port & 0xFF)};
    bool portFirst = address.type == 8 || address.type == 9;  // UDP and TCP: port, then address
    address.address = portFirst ? portBytes : v4;
    Bytes& second = portFirst ? v4 : portBytes;
    address.address.insert(address.address.end(), second.begin(), second.end());
  } else if (const json* network = Member(value, "network")) {
    Bytes net = Hex(Text(*network, at["network"]), at["network"]);
    Bytes node = Hex(value.contains("node") ? Text(value["node"], at["node"]) : "000000000001", at["node"]);
    Bytes socket = Hex(value.contains("socket") ? Text(value["socket"], at["socket"]) : "0451", at["socket"]);
    if (net.size() != 4 || node.size() != 6 || socket.size() != 2) at.Fail("an IPX address has 4 network, 6 node and 2 socket bytes");
    address.address = net;
    address.address.insert(address.address.end(), node.begin(), node.end());
    address.address.insert(address.address.end(), socket.begin(), socket.end());
  } else {
    at.Fail("an address needs \"ip\", \"network\", \"hex\" or \"text\"");
  }
  return address;
}

nuint32 ReplicaType(const json& value, const Place& at) {
  if (value.is_string()) {
    static const std::pair<const char*, nuint32> names[] = {
        {"Master", RT_MASTER}, {"Secondary", RT_SECONDARY}, {"Read-Only", RT_READONLY}, {"ReadOnly", RT_READONLY},
        {"Read/Write", RT_SECONDARY}, {"Subordinate Reference", RT_SUBREF}, {"SubRef", RT_SUBREF}};
    for (const auto& [name, type] : names)
      if (EqualsNoCase(value.get<std::string>(), name)) return type;
    at.Fail("unknown replica type \"" + value.get<std::string>() + "\"");
  }
  return U32(value, at);
}

nuint32 ReplicaState(const json& value, const Place& at) {
  if (value.is_string()) {
    static const std::pair<const char*, nuint32> names[] = {
        {"local error", RS_LOCAL_ERROR}, {"remote error", RS_REMOTE_ERROR}, {"in sync", RS_IN_SYNC}};
    for (const auto& [name, state] : names)
      if (EqualsNoCase(value.get<std::string>(), name)) return state;
    at.Fail("unknown replica state \"" + value.get<std::string>() + "\"");
  }
  return U32(value, at);
}

Value ParseValue(const json& v, nuint32 syntax, const Place& at) {
  Value value;
  switch (syntax) {
    case SYN_DIST_NAME:
      value.text = FullName(v, at);
      break;
    case SYN_CE_STRING: case SYN_CI_STRING: case SYN_PR_STRING: case SYN_NU_STRING:
    case SYN_TEL_NUMBER: case SYN_CLASS_NAME:
      value.text = Text(v, at);
      break;
    case SYN_CI_LIST: case SYN_PO_ADDRESS: {
      if (!v.is_array()) at.Fail("expected a list of texts");
      for (std::size_t i = 0; i < v.size(); ++i) value.texts.push_back(Text(v[i], at[i]));
      if (syntax == SYN_PO_ADDRESS) {
        if (value.texts.size() > 6) at.Fail("a postal address has at most six lines");
        value.texts.resize(6);
      }
      break;
    }
    case SYN_BOOLEAN:
      value.number = v.is_boolean() ? (v.get<bool>() ? 1 : 0) : static_cast<nuint32>(Integer(v, at, 0, 1));
      break;
    case SYN_INTEGER: case SYN_COUNTER: case SYN_INTERVAL:
      value.number = static_cast<nuint32>(Integer(v, at, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
      break;
    case SYN_OCTET_STRING: case SYN_STREAM:
      value.bytes = Octets(v, at);
      break;
    case SYN_FAX_NUMBER:
      if (v.is_string()) {
        value.text = v.get<std::string>();
      } else {
        CheckKeys(v, at, {"number", "bits"});
        value.text = RequiredText(v, "number", at);
        if (v.contains("bits")) value.bytes = Octets(v["bits"], at["bits"]);
      }
      break;
    case SYN_NET_ADDRESS: {
      NetAddress address = Address(v, at);
      value.number = address.type;
      value.bytes = std::move(address.address);
      break;
    }
    case SYN_OCTET_LIST:
      if (!v.is_array()) at.Fail("expected a list of octets");
      for (std::size_t i = 0; i < v.size(); ++i) value.octets.push_back(Octets(v[i], at[i]));
      break;
    case SYN_EMAIL_ADDRESS:
      if (v.is_string()) {
        value.text = v.get<std::string>();
      } else {
        CheckKeys(v, at, {"type", "address"});
        value.number = OptionalU32(v, "type", at, 0);
        value.text = RequiredText(v, "address", at);
      }
      break;
    case SYN_PATH:
      CheckKeys(v, at, {"nameSpace", "volume", "path"});
      value.number = OptionalU32(v, "nameSpace", at, 0);
      value.texts = {RequiredText(v, "volume", at), RequiredText(v, "path", at)};
      break;
    case SYN_REPLICA_POINTER:
      CheckKeys(v, at, {"server", "type", "number"});
      if (!v.contains("server")) at.Fail("\"server\" is missing");
      value.text = FullName(v["server"], at["server"]);
      value.number = v.contains("type") ? ReplicaType(v["type"], at["type"]) : RT_MASTER;
      value.number2 = OptionalU32(v, "number", at, 1);
      break;
    case SYN_OBJECT_ACL:
      CheckKeys(v, at, {"attribute", "subject", "privileges"});
      value.texts = {RequiredText(v, "attribute", at)};
      if (!v.contains("subject")) at.Fail("\"subject\" is missing");
      value.text = FullName(v["subject"], at["subject"]);
      value.number = OptionalU32(v, "privileges", at, 0);
      break;
    case SYN_TIMESTAMP:
      if (v.is_object()) {
        CheckKeys(v, at, {"seconds", "replica", "event"});
        value.number = OptionalTime(v, "seconds", at, 0);
        value.number2 = static_cast<nuint32>(v.contains("replica") ? Integer(v["replica"], at["replica"], 0, 65535) : 0);
        value.number3 = static_cast<nuint32>(v.contains("event") ? Integer(v["event"], at["event"], 0, 65535) : 0);
      } else {
        value.number = Time(v, at);
      }
      break;
    case SYN_BACK_LINK:
      if (v.is_string()) {
        value.text = FullName(v, at);
      } else {
        CheckKeys(v, at, {"remoteId", "object"});
        value.number = OptionalU32(v, "remoteId", at, 0);
        if (!v.contains("object")) at.Fail("\"object\" is missing");
        value.text = FullName(v["object"], at["object"]);
      }
      break;
    case SYN_TIME:
      value.number = Time(v, at);
      break;
    case SYN_TYPED_NAME:
      CheckKeys(v, at, {"object", "level", "interval"});
      if (!v.contains("object")) at.Fail("\"object\" is missing");
      value.text = FullName(v["object"], at["object"]);
      value.number = OptionalU32(v, "level", at, 0);
      value.number2 = OptionalU32(v, "interval", at, 0);
      break;
    case SYN_HOLD:
      CheckKeys(v, at, {"object", "amount"});
      if (!v.contains("object")) at.Fail("\"object\" is missing");
      value.text = FullName(v["object"], at["object"]);
      value.number = OptionalU32(v, "amount", at, 0);
      break;
    default:  // syntax 0 and ids the client does not know: raw bytes
      value.bytes = Octets(v, at);
      break;
  }
  return value;
}

TimeStamp_T Stamp(const json& v, const Place& at) {
  CheckKeys(v, at, {"seconds", "replica", "event"});
  TimeStamp_T stamp{};
  stamp.wholeSeconds = OptionalTime(v, "seconds", at, 0);
  stamp.replicaNum = static_cast<nuint16>(v.contains("replica") ? Integer(v["replica"], at["replica"], 0, 65535) : 0);
  stamp.eventID = static_cast<nuint16>(v.contains("event") ? Integer(v["event"], at["event"], 0, 65535) : 0);
  return stamp;
}

// "Name": value | [values] | {"syntax": n, "values": [...], "flags": n, "modTime": {...}}
Attribute ParseAttribute(const Tree& tree, const std::string& name, const json& spec, const Place& at) {
  if (name.empty() || name.size() > kMaxAttrNameBytes) at.Fail("an attribute name has 1 to 65 characters");
  Attribute attr;
  attr.name = name;
  const json* values = &spec;
  nuint32 flags = 0;
  TimeStamp_T modTime{};
  Place valuesAt = at;
  bool known = tree.SyntaxOf(name, attr.syntax);
  if (spec.is_object() && spec.contains("values")) {
    CheckKeys(spec, at, {"syntax", "values", "flags", "modTime"});
    if (spec.contains("syntax")) {
      attr.syntax = U32(spec["syntax"], at["syntax"]);
      known = true;
    }
    flags = OptionalU32(spec, "flags", at, 0);
    if (spec.contains("modTime")) modTime = Stamp(spec["modTime"], at["modTime"]);
    values = &spec["values"];
    valuesAt = at["values"];
    if (!values->is_array()) valuesAt.Fail("expected a list of values");
  }
  if (!known) at.Fail("the attribute \"" + name + "\" is not in the schema; give its \"syntax\"");
  auto add = [&](const json& v, const Place& p) {
    Value value = ParseValue(v, attr.syntax, p);
    value.flags = flags;
    value.modTime = modTime;
    attr.values.push_back(std::move(value));
  };
  if (values->is_array())
    for (std::size_t i = 0; i < values->size(); ++i) add((*values)[i], valuesAt[i]);
  else
    add(*values, valuesAt);
  if (attr.values.empty()) at.Fail("an attribute needs at least one value");
  return attr;
}

NameType DefaultNameType(const std::string& baseClass) {
  if (EqualsNoCase(baseClass, "Organization")) return NameType::O;
  if (EqualsNoCase(baseClass, "Organizational Unit")) return NameType::OU;
  if (EqualsNoCase(baseClass, "Country")) return NameType::C;
  if (EqualsNoCase(baseClass, "Locality")) return NameType::L;
  return NameType::CN;
}

// Creates the object named name (its parent must exist already).
Object& CreateObject(Tree& tree, const std::string& name, std::string baseClass, const Place& at) {
  std::vector<NamePart> parts;
  std::string plain = name;
  if (!plain.empty() && plain[0] == '.') plain.erase(0, 1);
  if (plain.size() > kMaxNameChars) at.Fail("the name is longer than 256 characters");
  if (EqualsNoCase(plain, "[Root]") || !SplitName(plain, parts)) at.Fail("\"" + name + "\" is not a valid object name");
  std::string parentName;
  for (std::size_t i = 1; i < parts.size(); ++i) parentName += (parentName.empty() ? "" : ".") + parts[i].text;
  Object* parent = parentName.empty() ? &tree.Root() : tree.Find(parentName);
  if (!parent) at.Fail("the parent \"" + parentName + "\" of \"" + name + "\" is not defined before it");
  if (parent->IsAlias()) at.Fail("an alias cannot hold objects");
  NameType type = parts[0].hasType ? parts[0].type : DefaultNameType(baseClass);
  try {
    return tree.AddObject(*parent, parts[0].text, type, baseClass);
  } catch (const LoadError& e) {
    at.Fail(e.what());
  }
}

void ParseObject(Tree& tree, const json& spec, const Place& at) {
  CheckKeys(spec, at, {"name", "class", "auxClasses", "created", "modified", "creator", "modifier", "aliasOf", "attributes"});
  std::string name = RequiredText(spec, "name", at);
  std::string baseClass = spec.contains("class") ? Text(spec["class"], at["class"]) : "";
  if (baseClass.empty()) {
    if (!spec.contains("aliasOf")) at.Fail("\"class\" is missing");
    baseClass = "Alias";
  }
  Object& obj = CreateObject(tree, name, baseClass, at["name"]);
  if (const json* aux = Member(spec, "auxClasses")) {
    if (!aux->is_array()) at["auxClasses"].Fail("expected a list of class names");
    for (std::size_t i = 0; i < aux->size(); ++i) obj.auxClasses.push_back(Text((*aux)[i], at["auxClasses"][i]));
  }
  obj.created = OptionalTime(spec, "created", at, tree.clock);
  obj.modified = OptionalTime(spec, "modified", at, obj.created);
  if (spec.contains("creator")) obj.creator = FullName(spec["creator"], at["creator"]);
  if (spec.contains("modifier")) obj.modifier = FullName(spec["modifier"], at["modifier"]);
  if (spec.contains("aliasOf")) obj.aliasTarget = FullName(spec["aliasOf"], at["aliasOf"]);
  if (const json* attrs = Member(spec, "attributes")) {
    if (!attrs->is_object()) at["attributes"].Fail("expected an object of attribute names");
    std::set<std::string> seen;  // names differing only in case are the same attribute
    for (const auto& [attrName, attrSpec] : attrs->items()) {
      if (!seen.insert(UpperAscii(attrName)).second) at["attributes"][attrName].Fail("the attribute is given twice");
      obj.attributes.push_back(ParseAttribute(tree, attrName, attrSpec, at["attributes"][attrName]));
    }
  }
}

void ParseServer(Tree& tree, const json& spec, const Place& at) {
  CheckKeys(spec, at, {"name", "version", "dsRevision", "addresses", "reachable", "class"});
  std::string name = RequiredText(spec, "name", at);
  Object* obj = tree.Find(name);
  if (!obj) obj = &CreateObject(tree, name, spec.contains("class") ? Text(spec["class"], at["class"]) : "NCP Server", at["name"]);
  if (obj->server) at["name"].Fail("the server \"" + name + "\" is defined twice");
  if (obj->IsRoot() || obj->IsAlias()) at["name"].Fail("\"" + name + "\" cannot be a server");
  auto server = std::make_unique<Server>();
  server->object = obj;
  server->version = spec.contains("version") ? Text(spec["version"], at["version"]) : "";
  server->dsRevision = OptionalU32(spec, "dsRevision", at, 0);
  if (const json* reachable = Member(spec, "reachable")) {
    if (!reachable->is_boolean()) at["reachable"].Fail("expected true or false");
    server->reachable = reachable->get<bool>();
  }
  if (const json* addresses = Member(spec, "addresses")) {
    if (!addresses->is_array()) at["addresses"].Fail("expected a list of addresses");
    for (std::size_t i = 0; i < addresses->size(); ++i) server->addresses.push_back(Address((*addresses)[i], at["addresses"][i]));
  }
  obj->server = server.get();
  tree.servers.push_back(std::move(server));
}

Replica ParseReplica(Tree& tree, const json& spec, const Place& at, nuint32 position) {
  CheckKeys(spec, at, {"server", "type", "number", "state", "lastSync", "event", "errors", "statusError"});
  Replica replica;
  std::string serverName = RequiredText(spec, "server", at);
  replica.server = tree.FindServer(serverName);
  if (!replica.server) at["server"].Fail("\"" + serverName + "\" is not a server of the \"servers\" list");
  replica.type = spec.contains("type") ? ReplicaType(spec["type"], at["type"]) : (position == 1 ? RT_MASTER : RT_SECONDARY);
  replica.number = OptionalU32(spec, "number", at, position);
  replica.state = spec.contains("state") ? ReplicaState(spec["state"], at["state"]) : RS_IN_SYNC;
  replica.lastSync = OptionalTime(spec, "lastSync", at, tree.clock);
  replica.event = OptionalU32(spec, "event", at, 1);
  if (const json* errors = Member(spec, "errors")) {
    if (!errors->is_array()) at["errors"].Fail("expected a list of error codes");
    for (std::size_t i = 0; i < errors->size(); ++i)
      replica.errors.push_back(static_cast<NWRCODE>(U32((*errors)[i], at["errors"][i])));
  }
  NWRCODE firstError = replica.errors.empty() ? 0 : replica.errors.front();
  replica.statusError = static_cast<NWRCODE>(OptionalU32(spec, "statusError", at, static_cast<nuint32>(firstError)));
  return replica;
}

void ParsePartition(Tree& tree, const json& spec, const Place& at) {
  CheckKeys(spec, at, {"root", "replicas"});
  std::string rootName = RequiredText(spec, "root", at);
  Object* root = tree.Find(rootName);
  if (!root) at["root"].Fail("the partition root \"" + rootName + "\" is not an object of the tree");
  if (root->partition) at["root"].Fail("\"" + rootName + "\" is the root of two partitions");
  auto partition = std::make_unique<Partition>();
  partition->root = root;
  const json* replicas = Member(spec, "replicas");
  if (!replicas || !replicas->is_array()) at["replicas"].Fail("expected a list of replicas");
  for (std::size_t i = 0; i < replicas->size(); ++i) {
    Replica replica = ParseReplica(tree, (*replicas)[i], at["replicas"][i], static_cast<nuint32>(i + 1));
    if (partition->ReplicaOn(replica.server)) at["replicas"][i].Fail("the server holds two replicas of this partition");
    partition->ring.push_back(std::move(replica));
  }
  root->partition = partition.get();
  tree.partitions.push_back(std::move(partition));
}

template <class Parse>
void ParseList(Tree& tree, const json& doc, const char* key, const Place& at, Parse parse) {
  const json* list = Member(doc, key);
  if (!list) return;
  if (!list->is_array()) at[key].Fail("expected a list");
  for (std::size_t i = 0; i < list->size(); ++i) parse(tree, (*list)[i], at[key][i]);
}

void CheckAliases(const Tree& tree, const Place& at) {
  for (const Object* obj : tree.Objects())
    if (obj->IsAlias() && !tree.Find(obj->aliasTarget))
      at.Fail("the alias \"" + obj->FullName() + "\" points to \"" + obj->aliasTarget + "\", which is not defined");
}

std::unique_ptr<Tree> BuildTree(const json& doc, const std::string& label) {
  Place top(label, "");
  CheckKeys(doc, top, {"tree", "clock", "partitionListBatch", "defaultCreator", "schema", "objects", "servers", "partitions"});
  auto tree = std::make_unique<Tree>();
  tree->file = label;
  tree->name = RequiredText(doc, "tree", top);
  if (tree->name.empty() || tree->name.size() > 32) top["tree"].Fail("a tree name has 1 to 32 characters");
  tree->clock = OptionalTime(doc, "clock", top, 0);
  if (doc.contains("partitionListBatch"))
    tree->partitionBatch = static_cast<nuint32>(Integer(doc["partitionListBatch"], top["partitionListBatch"], 1, 100000));
  if (doc.contains("defaultCreator")) tree->defaultCreator = FullName(doc["defaultCreator"], top["defaultCreator"]);
  if (const json* schema = Member(doc, "schema")) {
    if (!schema->is_object()) top["schema"].Fail("expected an object of attribute names and syntax ids");
    for (const auto& [name, syntax] : schema->items()) {
      if (name.empty() || name.size() > kMaxAttrNameBytes) top["schema"][name].Fail("an attribute name has 1 to 65 characters");
      tree->schema[UpperAscii(name)] = U32(syntax, top["schema"][name]);
    }
  }
  ParseList(*tree, doc, "objects", top, ParseObject);
  ParseList(*tree, doc, "servers", top, ParseServer);
  ParseList(*tree, doc, "partitions", top, ParsePartition);
  CheckAliases(*tree, top);
  return tree;
}

}  // namespace

bool ParseDirTime(const std::string& text, nuint32& seconds) {
  int year, month, day, hour = 0, minute = 0, second = 0;
  char sep = 'T', zone = 'Z';
  int used = 0;
  int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c%n", &year, &month, &day, &sep, &hour, &minute, &second, &zone, &used);
  bool dateOnly = fields == 3 && text.size() == 10;
  bool full = (fields == 7 && text.size() == 19) || (fields == 8 && zone == 'Z' && static_cast<std::size_t>(used) == text.size());
  if (!dateOnly && !full) return false;
  if (full && sep != 'T' && sep != ' ') return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 || year < 1970) return false;
  // Days from civil date (proleptic Gregorian), independent of the machine's time zone.
  int y = year - (month <= 2 ? 1 : 0);
  int era = y / 400;
  int yoe = y - era * 400;
  int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  std::int64_t days = std::int64_t(era) * 146097 + doe - 719468;
  std::int64_t total = days * 86400 + hour * 3600 + minute * 60 + second;
  if (total < 0 || total > 0xFFFFFFFFll) return false;
  seconds = static_cast<nuint32>(total);
  return true;
}

std::unique_ptr<Tree> LoadTreeText(const std::string& text, const std::string& label) {
  json doc;
  try {
    doc = json::parse(text, nullptr, true, true);
  } catch (const json::exception& e) {
    throw LoadError(label + ": not valid JSON: " + e.what());
  }
  try {
    return BuildTree(doc, label);
  } catch (const LoadError&) {
    throw;
  } catch (const std::exception& e) {
    throw LoadError(label + ": " + e.what());
  }
}

std::unique_ptr<Tree> LoadTreeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw LoadError(path + ": cannot be opened");
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw LoadError(path + ": cannot be read");
  return LoadTreeText(content.str(), path);
}

}  // namespace vestrel::nw
