// Searches: resumable steps over the objects below a base that pass a stored filter,
// each step's objects kept in the reply buffer for DSResultObjectCount and
// DSResultNextObject, the rest of the scope under an iteration handle.
#include <cstring>

#include "directory/NETWIN32.h"
#include "platform/nwclient/FilterSearch.h"

namespace vestrel {

namespace {

constexpr std::size_t kReplyHeaderBytes = 4;

struct SearchIteration : nw::Iteration {
  nw::DirectorySource* source = nullptr;
  std::unique_ptr<nw::SearchCursor> cursor;
};

struct SearchReply : nw::BufferPayload {
  std::vector<nw::FoundObject> objects;
  std::size_t next = 0;
};

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

NWRCODE StartSearch(NWDSContextHandle context, const nw::Context& settings, nw::DirectorySource& source,
                    const char* baseObject, nuint32 scope, bool searchAliases, Buf_T* filterBuffer,
                    const TimeStamp_T* timeFilter, std::unique_ptr<SearchIteration>& search) {
  if (!baseObject) return ERR_NULL_POINTER;
  if (scope > DS_SEARCH_SUBTREE) return ERR_INVALID_REQUEST;
  nw::SearchRequest request;
  if (NWRCODE code = FilterOf(filterBuffer, request.filter)) return code;
  request.base = baseObject;
  request.scope = scope;
  request.searchAliases = searchAliases;
  request.modifiedSince = timeFilter ? timeFilter->wholeSeconds : 0;
  search = std::make_unique<SearchIteration>();
  search->context = context;
  search->source = &source;
  return source.StartSearch(settings, request, search->cursor);
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
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = engine.ContextSource(context, settings, tree)) return code;
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
    if (!search || search->context != context || search->source != tree) return ERR_INVALID_ITERATION;
  }

  reply->ClearContent();
  auto objects = std::make_unique<SearchReply>();
  nuint32 searched = 0;
  bool finished = false;
  NWRCODE code = search->cursor->Step(*settings, countObjectsToSearch, objectInfo->maxLen, objects->objects, searched,
                                      finished);
  if (countObjectsSearched) *countObjectsSearched = searched;
  if (code) return code;
  std::size_t used = kReplyHeaderBytes;
  for (const nw::FoundObject& found : objects->objects) used += nw::SearchReplyBytes(found.name);
  objectInfo->curLen = static_cast<nuint32>(used);
  reply->payload = std::move(objects);

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
  const nw::FoundObject& found = reply->objects[reply->next];
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
