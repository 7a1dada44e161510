// The embedded directory behind the library's operations: objects, values, searches and
// replica rings of a tree held in memory.
#include "platform/nwclient/ModelSource.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "platform/nwclient/Engine.h"
#include "platform/nwclient/FilterSearch.h"

namespace vestrel::nw {

namespace {

// Entry flags of the object information.
constexpr nuint32 kAliasEntry = 0x01;
constexpr nuint32 kPartitionRoot = 0x02;
constexpr nuint32 kContainerEntry = 0x04;
constexpr int kMaxAliasHops = 16;

bool IsContainer(const Object& obj) { return obj.IsRoot() || !obj.children.empty() || obj.nameType != NameType::CN; }

Object_Info_T InfoOf(const Object& obj) {
  Object_Info_T info{};
  if (obj.IsAlias()) info.objectFlags |= kAliasEntry;
  if (obj.partition) info.objectFlags |= kPartitionRoot;
  if (IsContainer(obj)) info.objectFlags |= kContainerEntry;
  info.subordinateCount = static_cast<nuint32>(obj.children.size());
  info.modificationTime = obj.modified;
  const std::size_t length = std::min(obj.baseClass.size(), sizeof(info.baseClass) - 1);
  std::memcpy(info.baseClass, obj.baseClass.data(), length);
  return info;
}

// The objects a scope covers, parents before children, without recursion.
std::vector<const Object*> ScopeObjects(const Object& base, nuint32 scope) {
  std::vector<const Object*> result;
  if (scope == DS_SEARCH_ENTRY) {
    result.push_back(&base);
  } else if (scope == DS_SEARCH_SUBORDINATES) {
    result.assign(base.children.begin(), base.children.end());
  } else {
    std::vector<const Object*> pending{&base};
    while (!pending.empty()) {
      const Object* obj = pending.back();
      pending.pop_back();
      result.push_back(obj);
      for (auto child = obj->children.rbegin(); child != obj->children.rend(); ++child) pending.push_back(*child);
    }
  }
  return result;
}

class ModelSearch : public SearchCursor {
 public:
  ModelSearch(const ModelSource& source, const Context& context, const Object& base, const SearchRequest& request)
      : source_(source), tree_(source.ModelTree()), filter_(request.filter),
        candidates_(ScopeObjects(base, request.scope)), modifiedSince_(request.modifiedSince),
        searchAliases_(request.searchAliases) {
    if (filter_) filterNames_ = ResolveFilterNames(*filter_, tree_, context);
  }

  NWRCODE Step(const Context& context, nuint32 maxObjects, std::size_t room, std::vector<FoundObject>& out,
               nuint32& searched, bool& finished) override {
    std::size_t used = 4;
    searched = 0;
    while (next_ < candidates_.size() && (maxObjects == 0 || out.size() < maxObjects)) {
      const Object* obj = Subject(candidates_[next_]);
      if (obj && Passes(*obj)) {
        std::string name = OutputName(source_, context, obj->FullName());
        const std::size_t bytes = SearchReplyBytes(name);
        if (used + bytes > room) {
          if (out.empty()) return ERR_INSUFFICIENT_BUFFER;
          if (searchAliases_) reported_.erase(obj);
          break;  // the next step starts with this object
        }
        used += bytes;
        out.push_back({std::move(name), InfoOf(*obj)});
      }
      ++next_;
      ++searched;
    }
    finished = next_ >= candidates_.size();
    return 0;
  }

 private:
  const ModelSource& source_;
  const Tree& tree_;
  std::shared_ptr<const CompiledFilter> filter_;
  std::vector<std::string> filterNames_;
  std::vector<const Object*> candidates_;  // the scope, parents first
  std::size_t next_ = 0;
  nuint32 modifiedSince_ = 0;
  bool searchAliases_ = false;
  std::unordered_set<const Object*> reported_;  // aliased objects already given

  // The object a candidate stands for: itself, or with alias searching the object an
  // alias leads to; with alias searching every object is given once. Null: nothing to give.
  const Object* Subject(const Object* obj) {
    if (!searchAliases_) return obj;
    const Object* target = obj;
    for (int hop = 0; target && target->IsAlias() && hop < kMaxAliasHops; ++hop) target = tree_.Find(target->aliasTarget);
    if (!target || target->IsAlias() || !reported_.insert(target).second) return nullptr;
    return target;
  }

  bool Passes(const Object& obj) const {
    if (modifiedSince_ && obj.modified < modifiedSince_) return false;
    return !filter_ || FilterMatches(*filter_, filterNames_, tree_, obj);
  }
};

// The server object named, in the tree: -601 when it is no server, -636 when it does not answer.
NWRCODE ResolveServer(const Tree& tree, const Context& context, const char* name, Server*& server) {
  Object* obj = nullptr;
  if (NWRCODE code = ResolveName(tree, context, name, obj)) return code;
  server = obj->server;
  if (!server) return ERR_NO_SUCH_ENTRY;
  return server->reachable ? 0 : ERR_UNREACHABLE_SERVER;
}

}  // namespace

bool ModelSource::KnownName(const std::string& fullName, std::vector<std::string>& typed, std::string& spelling) const {
  const Object* obj = tree_->Find(fullName);
  if (!obj) return false;
  typed.clear();
  for (const Object* o = obj; o && !o->IsRoot(); o = o->parent) typed.push_back(std::string(NameTypeText(o->nameType)) + "=" + o->rdn);
  spelling = obj->FullName();
  return true;
}

NWRCODE ModelSource::Summary(const Context& context, const char* name, ObjectSummary& out) {
  Object* obj = nullptr;
  if (NWRCODE code = ResolveName(*tree_, context, name, obj)) return code;
  out.fullName = obj->FullName();
  out.rdn = obj->rdn;
  out.rdnType = obj->IsRoot() ? "" : NameTypeText(obj->nameType);
  out.parentFullName = obj->IsRoot() ? "" : obj->parent->FullName();
  out.baseClass = obj->baseClass;
  out.created = obj->created;
  out.modified = obj->modified;
  return 0;
}

NWRCODE ModelSource::ReadAttributes(const Context& context, const char* name, bool allAttrs,
                                    const std::vector<std::string>& names, std::vector<Attribute>& out) {
  Object* obj = nullptr;
  if (NWRCODE code = ResolveName(*tree_, context, name, obj)) return code;
  std::vector<Attribute> all = EffectiveAttributes(*tree_, *obj);
  if (allAttrs) {
    out = std::move(all);
  } else {
    std::unordered_map<std::string, std::size_t> byName;  // upper-case name -> position in all
    for (std::size_t i = 0; i < all.size(); ++i) byName.emplace(UpperAscii(all[i].name), i);
    for (const std::string& wanted : names) {
      auto found = byName.find(UpperAscii(wanted));
      if (found == byName.end()) continue;
      out.push_back(std::move(all[found->second]));
      byName.erase(found);  // each attribute once, even when asked twice
    }
    if (out.empty()) return ERR_NO_SUCH_ATTRIBUTE;
  }
  for (Attribute& attr : out) LocalizeValueNames(*this, context, attr);
  return 0;
}

NWRCODE ModelSource::StartSearch(const Context& context, const SearchRequest& request,
                                 std::unique_ptr<SearchCursor>& cursor) {
  Object* base = nullptr;
  if (NWRCODE code = ResolveName(*tree_, context, request.base, base)) return code;
  cursor = std::make_unique<ModelSearch>(*this, context, *base, request);
  return 0;
}

NWRCODE ModelSource::ServerPartitions(const Context& context, const char* server, std::string& serverName,
                                      std::vector<PartitionEntry>& entries) {
  Server* holder = nullptr;
  if (NWRCODE code = ResolveServer(*tree_, context, server, holder)) return code;
  serverName = OutputName(*this, context, holder->object->FullName());
  for (const auto& partition : tree_->partitions)
    if (const Replica* replica = partition->ReplicaOn(holder))
      entries.push_back({OutputName(*this, context, partition->root->FullName()), replica->type});
  return 0;
}

NWRCODE ModelSource::ReplicaSyncErrors(const Context& context, const char* server, const char* partition,
                                       std::vector<NWRCODE>& errors) {
  Server* holder = nullptr;
  if (NWRCODE code = ResolveServer(*tree_, context, server, holder)) return code;
  Object* root = nullptr;
  if (NWRCODE code = ResolveName(*tree_, context, partition, root)) return code;
  if (!root->partition) return ERR_NO_SUCH_PARTITION;
  const Replica* replica = root->partition->ReplicaOn(holder);
  if (!replica) return ERR_REPLICA_NOT_ON;
  errors = replica->errors;
  return 0;
}

NWRCODE ModelSource::ServerTime(nuint32& now) {
  now = TheEngine().clock.Now();
  return 0;
}

NWRCODE ModelSource::Operate(const Context& context, const OperationArgs& args) {
  return RunModelOperation(*tree_, context, args);
}

}  // namespace vestrel::nw
