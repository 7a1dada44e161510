// Searches: resumable steps over the objects below a base that pass a stored filter,
// each step's objects kept in the reply buffer for DSResultObjectCount and
// DSResultNextObject, the rest of the scope under an iteration handle.
#include <cstring>
#include <unordered_set>

#include "directory/NETWIN32.h"
#include "platform/nwclient/FilterSearch.h"

namespace vestrel {

namespace {

// Entry flags of the object information.
constexpr nuint32 kAliasEntry = 0x01;
constexpr nuint32 kPartitionRoot = 0x02;
constexpr nuint32 kContainerEntry = 0x04;

// Room one found object takes in a reply: count, name and object information.
constexpr std::size_t kReplyHeaderBytes = 4;
std::size_t ReplyBytes(const std::string& name) { return 4 + ((name.size() + 1 + 3) & ~std::size_t{3}) + sizeof(Object_Info_T); }

struct SearchIteration : nw::Iteration {
  nw::Tree* tree = nullptr;
  std::shared_ptr<const nw::CompiledFilter> filter;  // null: every object
  std::vector<std::string> filterNames;
  std::vector<const nw::Object*> candidates;  // the scope, parents first
  std::size_t next = 0;
  nuint32 modifiedSince = 0;
  bool searchAliases = false;
  std::unordered_set<const nw::Object*> reported;  // aliased objects already given
};

struct SearchReply : nw::BufferPayload {
  struct Found {
    std::string name;
    Object_Info_T info{};
  };
  std::vector<Found> objects;
  std::size_t next = 0;
};

bool IsContainer(const nw::Object& obj) {
  return obj.IsRoot() || !obj.children.empty() || obj.nameType != nw::NameType::CN;
}

Object_Info_T InfoOf(const nw::Object& obj) {
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
std::vector<const nw::Object*> ScopeObjects(const nw::Object& base, nuint32 scope) {
  std::vector<const nw::Object*> result;
  if (scope == DS_SEARCH_ENTRY) {
    result.push_back(&base);
  } else if (scope == DS_SEARCH_SUBORDINATES) {
    result.assign(base.children.begin(), base.children.end());
  } else {
    std::vector<const nw::Object*> pending{&base};
    while (!pending.empty()) {
      const nw::Object* obj = pending.back();
      pending.pop_back();
      result.push_back(obj);
      for (auto child = obj->children.rbegin(); child != obj->children.rend(); ++child) pending.push_back(*child);
    }
  }
  return result;
}

// The stored filter of a filter buffer; a null buffer searches every object.
NWRCODE FilterOf(Buf_T* filterBuffer, std::shared_ptr<const nw::CompiledFilter>& filter) {
  filter.reset();
  if (!filterBuffer) return 0;
  nw::BufferState* state = nw::TheEngine().FindBuffer(filterBuffer);
  if (!state) return ERR_INVALID_HANDLE;
  if (filterBuffer->operation != DSV_SEARCH_FILTER) return ERR_BAD_VERB;
  auto* stored = dynamic_cast<nw::StoredFilter*>(state->payload.get());
  if (!stored || !stored->filter) return ERR_BUFFER_EMPTY;
  filter = stored->filter;
  return 0;
}

NWRCODE StartSearch(NWDSContextHandle context, const nw::Context& settings, nw::Tree& tree, const char* baseObject,
                    nuint32 scope, bool searchAliases, Buf_T* filterBuffer, const TimeStamp_T* timeFilter,
                    std::unique_ptr<SearchIteration>& search) {
  if (!baseObject) return ERR_NULL_POINTER;
  if (scope > DS_SEARCH_SUBTREE) return ERR_INVALID_REQUEST;
  std::shared_ptr<const nw::CompiledFilter> filter;
  if (NWRCODE code = FilterOf(filterBuffer, filter)) return code;
  nw::Object* base = nullptr;
  if (NWRCODE code = nw::ResolveName(tree, settings, baseObject, base)) return code;
  search = std::make_unique<SearchIteration>();
  search->context = context;
  search->tree = &tree;
  search->filter = filter;
  if (filter) search->filterNames = nw::ResolveFilterNames(*filter, tree, settings);
  search->candidates = ScopeObjects(*base, scope);
  search->modifiedSince = timeFilter ? timeFilter->wholeSeconds : 0;
  search->searchAliases = searchAliases;
  return 0;
}

// The object a candidate stands for: itself, or with alias searching the object an
// alias leads to; with alias searching every object is given once. Null: nothing to give.
const nw::Object* Subject(SearchIteration& search, const nw::Object* obj) {
  if (!search.searchAliases) return obj;
  const nw::Object* target = obj;
  for (int hop = 0; target && target->IsAlias() && hop < 16; ++hop) target = search.tree->Find(target->aliasTarget);
  if (!target || target->IsAlias() || !search.reported.insert(target).second) return nullptr;
  return target;
}

bool Passes(const SearchIteration& search, const nw::Object& obj) {
  if (search.modifiedSince && obj.modified < search.modifiedSince) return false;
  return !search.filter || nw::FilterMatches(*search.filter, search.filterNames, *search.tree, obj);
}

// Fills one reply with at most maxObjects objects, as many as the buffer holds.
NWRCODE FillReply(SearchIteration& search, const nw::Context& settings, nuint32 maxObjects, Buf_T& buffer,
                  SearchReply& reply, nuint32& searched) {
  std::size_t used = kReplyHeaderBytes;
  searched = 0;
  while (search.next < search.candidates.size() && (maxObjects == 0 || reply.objects.size() < maxObjects)) {
    const nw::Object* obj = Subject(search, search.candidates[search.next]);
    if (obj && Passes(search, *obj)) {
      std::string name = nw::OutputName(*search.tree, settings, obj->FullName());
      const std::size_t bytes = ReplyBytes(name);
      if (used + bytes > buffer.maxLen) {
        if (reply.objects.empty()) return ERR_INSUFFICIENT_BUFFER;
        if (search.searchAliases) search.reported.erase(obj);
        break;  // the next step starts with this object
      }
      used += bytes;
      reply.objects.push_back({std::move(name), InfoOf(*obj)});
    }
    ++search.next;
    ++searched;
  }
  buffer.curLen = static_cast<nuint32>(used);
  return 0;
}

SearchReply* ReplyOf(const Buf_T* buffer) {
  nw::BufferState* state = buffer ? nw::TheEngine().FindBuffer(buffer) : nullptr;
  return state ? dynamic_cast<SearchReply*>(state->payload.get()) : nullptr;
}

}  // namespace

NWRCODE DSSearchStep(NWDSContextHandle context, const char* baseObject, nuint32 scope, bool searchAliases,
                     Buf_T* filter, const TimeStamp_T* timeFilter, nuint32 infoType, bool allAttrs,
                     Buf_T* attrNames, nuint32* iterationHandle, nuint32 countObjectsToSearch,
                     nuint32* countObjectsSearched, Buf_T* objectInfo) {
  // Attribute values are not part of a search reply here: names and object
  // information only, whatever information type is asked for.
  (void)infoType;
  (void)allAttrs;
  (void)attrNames;
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("DSSearchStep")) return code;
  if (!iterationHandle || !objectInfo) return ERR_NULL_POINTER;
  nw::Context* settings = nullptr;
  nw::Tree* tree = nullptr;
  if (NWRCODE code = engine.ContextTree(context, settings, tree)) return code;
  nw::BufferState* reply = engine.FindBuffer(objectInfo);
  if (!reply) return ERR_INVALID_HANDLE;

  std::unique_ptr<SearchIteration> fresh;
  SearchIteration* search = nullptr;
  if (*iterationHandle == NO_MORE_ITERATIONS) {
    if (NWRCODE code = StartSearch(context, *settings, *tree, baseObject, scope, searchAliases, filter, timeFilter, fresh))
      return code;
    search = fresh.get();
  } else {
    search = dynamic_cast<SearchIteration*>(engine.FindIteration(*iterationHandle));
    if (!search || search->context != context || search->tree != tree) return ERR_INVALID_ITERATION;
  }

  reply->ClearContent();
  auto objects = std::make_unique<SearchReply>();
  nuint32 searched = 0;
  NWRCODE code = FillReply(*search, *settings, countObjectsToSearch, *objectInfo, *objects, searched);
  if (countObjectsSearched) *countObjectsSearched = searched;
  if (code) return code;
  reply->payload = std::move(objects);

  const bool finished = search->next >= search->candidates.size();
  if (finished) {
    if (!fresh) engine.EndIteration(*iterationHandle);
    *iterationHandle = NO_MORE_ITERATIONS;
  } else if (fresh) {
    *iterationHandle = engine.AddIteration(std::move(fresh));
  }
  return 0;
}

NWRCODE DSResultObjectCount(NWDSContextHandle context, const Buf_T* buffer, nuint32* objectCount) {
  if (NWRCODE code = nw::TheEngine().Enter("DSResultObjectCount")) return code;
  if (!buffer || !objectCount) return ERR_NULL_POINTER;
  if (!nw::TheEngine().FindContext(context)) return ERR_BAD_CONTEXT;
  SearchReply* reply = ReplyOf(buffer);
  if (!reply) return ERR_BUFFER_EMPTY;
  *objectCount = static_cast<nuint32>(reply->objects.size());
  return 0;
}

NWRCODE DSResultNextObject(NWDSContextHandle context, Buf_T* buffer, char* objectName, nuint32* attrCount,
                           Object_Info_T* objectInfo) {
  if (NWRCODE code = nw::TheEngine().Enter("DSResultNextObject")) return code;
  if (!buffer || !objectName) return ERR_NULL_POINTER;
  if (!nw::TheEngine().FindContext(context)) return ERR_BAD_CONTEXT;
  SearchReply* reply = ReplyOf(buffer);
  if (!reply || reply->next >= reply->objects.size()) return ERR_BUFFER_EMPTY;
  const SearchReply::Found& found = reply->objects[reply->next];
  if (!nw::CopyOut(found.name, objectName, MAX_DN_BYTES)) return ERR_DN_TOO_LONG;
  if (attrCount) *attrCount = 0;
  if (objectInfo) *objectInfo = found.info;
  ++reply->next;
  return 0;
}

NWRCODE DSIterationEnd(NWDSContextHandle context, nuint32 iterationHandle, nuint32 operation) {
  (void)operation;  // any listing can be abandoned the same way
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("DSIterationEnd")) return code;
  if (iterationHandle == NO_MORE_ITERATIONS) return 0;
  nw::Iteration* iteration = engine.FindIteration(iterationHandle);
  if (!iteration) return ERR_INVALID_ITERATION;
  if (auto* search = dynamic_cast<SearchIteration*>(iteration); search && search->context != context)
    return ERR_INVALID_ITERATION;
  engine.EndIteration(iterationHandle);
  return 0;
}

}  // namespace vestrel
