// The tree model: objects and their names, schema look-up, partitions.
#include "platform/nwclient/Model.h"

#include <algorithm>
#include <cctype>

namespace vestrel::nw {

namespace {

// Attributes every tree knows, with their syntax; a tree file may add or override.
const std::map<std::string, nuint32>& BuiltInSchema() {
  static const std::map<std::string, nuint32> schema = [] {
    const std::pair<const char*, nuint32> entries[] = {
        {"ACL", SYN_OBJECT_ACL},
        {"Aliased Object Name", SYN_DIST_NAME},
        {"Back Link", SYN_BACK_LINK},
        {"Bindery Property", SYN_OCTET_STRING},
        {"C", SYN_PR_STRING},
        {"CN", SYN_CI_STRING},
        {"creatorsName", SYN_DIST_NAME},
        {"Description", SYN_CI_STRING},
        {"DS Revision", SYN_INTEGER},
        {"EMail Address", SYN_EMAIL_ADDRESS},
        {"Equivalent To Me", SYN_DIST_NAME},
        {"Facsimile Telephone Number", SYN_FAX_NUMBER},
        {"Full Name", SYN_CI_STRING},
        {"Given Name", SYN_CI_STRING},
        {"Group Membership", SYN_DIST_NAME},
        {"Home Directory", SYN_PATH},
        {"Host Server", SYN_DIST_NAME},
        {"Internet EMail Address", SYN_CI_STRING},
        {"L", SYN_CI_STRING},
        {"Language", SYN_CI_LIST},
        {"Last Login Time", SYN_TIME},
        {"Local Received Up To", SYN_OCTET_STRING},
        {"Locked By Intruder", SYN_BOOLEAN},
        {"Login Disabled", SYN_BOOLEAN},
        {"Login Grace Limit", SYN_INTEGER},
        {"Login Script", SYN_STREAM},
        {"Login Time", SYN_TIME},
        {"Member", SYN_DIST_NAME},
        {"Message Server", SYN_DIST_NAME},
        {"modifiersName", SYN_DIST_NAME},
        {"Network Address", SYN_NET_ADDRESS},
        {"O", SYN_CI_STRING},
        {"Object Class", SYN_CLASS_NAME},
        {"Obituary", SYN_OCTET_LIST},
        {"OU", SYN_CI_STRING},
        {"Partition Creation Time", SYN_TIMESTAMP},
        {"Partition Status", SYN_OCTET_STRING},
        {"Password Expiration Interval", SYN_INTERVAL},
        {"Postal Address", SYN_PO_ADDRESS},
        {"Print Job Configuration", SYN_STREAM},
        {"Purge Vector", SYN_TIMESTAMP},
        {"Replica", SYN_REPLICA_POINTER},
        {"Revision", SYN_COUNTER},
        {"S", SYN_CI_STRING},
        {"Security Equals", SYN_DIST_NAME},
        {"See Also", SYN_DIST_NAME},
        {"Server Holds", SYN_HOLD},
        {"Status", SYN_INTEGER},
        {"Surname", SYN_CI_STRING},
        {"Telephone Number", SYN_TEL_NUMBER},
        {"Title", SYN_CI_STRING},
        {"Transitive Vector", SYN_OCTET_STRING},
        {"Typed Name", SYN_TYPED_NAME},
        {"Version", SYN_CI_STRING},
        {"App:Macros", SYN_STREAM},
    };
    std::map<std::string, nuint32> result;
    for (const auto& [name, syntax] : entries) result[UpperAscii(name)] = syntax;
    return result;
  }();
  return schema;
}

std::string JoinNames(const Object& obj, bool typed) {
  if (obj.IsRoot()) return "[Root]";
  std::string name;
  for (const Object* o = &obj; o && !o->IsRoot(); o = o->parent) {
    if (!name.empty()) name += '.';
    if (typed) name += std::string(NameTypeText(o->nameType)) + "=";
    name += o->rdn;
  }
  return name;
}

}  // namespace

const char* NameTypeText(NameType type) {
  switch (type) {
    case NameType::CN: return "CN";
    case NameType::OU: return "OU";
    case NameType::O: return "O";
    case NameType::C: return "C";
    case NameType::L: return "L";
    case NameType::S: return "S";
  }
  return "CN";
}

bool ParseNameType(const std::string& text, NameType& type) {
  static const std::pair<const char*, NameType> names[] = {
      {"CN", NameType::CN}, {"OU", NameType::OU}, {"O", NameType::O},
      {"C", NameType::C},   {"L", NameType::L},   {"S", NameType::S}, {"ST", NameType::S}};
  for (const auto& [t, value] : names) {
    if (EqualsNoCase(text, t)) {
      type = value;
      return true;
    }
  }
  return false;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

bool SplitName(const std::string& name, std::vector<NamePart>& parts) {
  parts.clear();
  std::size_t start = 0;
  while (true) {
    std::size_t dot = name.find('.', start);
    std::string piece = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    NamePart part;
    std::size_t eq = piece.find('=');
    if (eq != std::string::npos && ParseNameType(piece.substr(0, eq), part.type)) {
      part.hasType = true;
      piece.erase(0, eq + 1);
    }
    if (piece.empty()) return false;
    part.text = piece;
    parts.push_back(std::move(part));
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
}

std::string Object::FullName() const { return JoinNames(*this, false); }
std::string Object::TypedFullName() const { return JoinNames(*this, true); }

const Attribute* Object::RawAttribute(const std::string& name) const {
  for (const Attribute& attr : attributes)
    if (EqualsNoCase(attr.name, name)) return &attr;
  return nullptr;
}

const Replica* Partition::ReplicaOn(const Server* server) const {
  for (const Replica& replica : ring)
    if (replica.server == server) return &replica;
  return nullptr;
}

Replica* Partition::ReplicaOn(const Server* server) {
  for (Replica& replica : ring)
    if (replica.server == server) return &replica;
  return nullptr;
}

Tree::Tree() {
  auto root = std::make_unique<Object>();
  root->rdn = "[Root]";
  root->baseClass = "Tree Root";
  root_ = root.get();
  order_.push_back(root_);
  index_["[ROOT]"] = root_;
  store_.push_back(std::move(root));
}

Object* Tree::Find(const std::string& fullName) const {
  std::string name = fullName;
  if (!name.empty() && name[0] == '.') name.erase(0, 1);
  if (EqualsNoCase(name, "[Root]")) return root_;
  std::vector<NamePart> parts;
  if (!SplitName(name, parts)) return nullptr;
  std::string key;
  for (const NamePart& part : parts) {
    if (!key.empty()) key += '.';
    key += part.text;
  }
  auto it = index_.find(UpperAscii(key));
  return it == index_.end() ? nullptr : it->second;
}

Object& Tree::AddObject(Object& parent, const std::string& rdn, NameType type, const std::string& baseClass) {
  auto obj = std::make_unique<Object>();
  obj->rdn = rdn;
  obj->nameType = type;
  obj->baseClass = baseClass;
  obj->parent = &parent;
  std::string key = UpperAscii(obj->FullName());
  if (index_.count(key)) throw LoadError("the object \"" + obj->FullName() + "\" is defined twice");
  Object& result = *obj;
  parent.children.push_back(&result);
  index_[key] = &result;
  order_.push_back(&result);
  store_.push_back(std::move(obj));
  return result;
}

bool Tree::SyntaxOf(const std::string& attrName, nuint32& syntax) const {
  std::string key = UpperAscii(attrName);
  if (auto it = schema.find(key); it != schema.end()) {
    syntax = it->second;
    return true;
  }
  const auto& builtIn = BuiltInSchema();
  if (auto it = builtIn.find(key); it != builtIn.end()) {
    syntax = it->second;
    return true;
  }
  return false;
}

Partition* Tree::PartitionHolding(const Object& obj) const {
  for (const Object* o = &obj; o; o = o->parent)
    if (o->partition) return o->partition;
  return nullptr;
}

void Tree::ReindexPartitions() {
  for (Object* obj : order_) obj->partition = nullptr;
  for (auto& partition : partitions) partition->root->partition = partition.get();
}

Server* Tree::FindServer(const std::string& fullName) const {
  Object* obj = Find(fullName);
  return obj ? obj->server : nullptr;
}

}  // namespace vestrel::nw
