// Reading attributes: request names, read steps with iteration over replies of at most
// the buffer's size, the reply cursor, value memory, value details and streams.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "directory/NETWIN32.h"
#include "platform/nwclient/Engine.h"

namespace vestrel {

namespace {

using nw::TheEngine;

// Bytes one item takes in a reply, as a server would lay it out.
constexpr std::size_t kReplyHeaderBytes = 4;  // attribute count
constexpr std::size_t kValueDetailBytes = 12;  // flags and time stamp (information type 3)

std::size_t Align4(std::size_t n) { return (n + 3) / 4 * 4; }

std::size_t AttributeHeaderBytes(const nw::Attribute& attr) { return 4 + 4 + Align4(attr.name.size() + 1) + 4; }

std::size_t ValueBytes(const nw::Attribute& attr, const nw::Value& value, nuint32 infoType) {
  return 4 + Align4(nw::ValueSize(attr, value)) + (infoType == DS_VALUE_INFO ? kValueDetailBytes : 0);
}

// A read that did not fit one reply: what is still to come.
struct ReadIteration : nw::Iteration {
  nuint32 infoType = DS_ATTRIBUTE_VALUES;
  std::vector<nw::Attribute> attrs;
  std::size_t attrIndex = 0;   // attribute to continue with
  std::size_t valueIndex = 0;  // its first value still to send
};

bool IsReadBuffer(const nw::BufferState* state) {
  return state && state->initialized && state->header->operation == DSV_READ;
}

// Moves as much of the pending read into the reply as fits; true when all of it did.
NWRCODE FillReadReply(ReadIteration& pending, nw::BufferState& reply, bool& complete) {
  reply.ClearContent();
  reply.infoType = pending.infoType;
  std::size_t room = reply.header->maxLen;
  std::size_t used = kReplyHeaderBytes;
  complete = false;
  while (pending.attrIndex < pending.attrs.size()) {
    const nw::Attribute& attr = pending.attrs[pending.attrIndex];
    std::size_t valueCount = pending.infoType == DS_ATTRIBUTE_NAMES ? 0 : attr.values.size();
    std::size_t cost = AttributeHeaderBytes(attr);
    std::size_t last = pending.valueIndex;
    while (last < valueCount && used + cost + ValueBytes(attr, attr.values[last], pending.infoType) <= room)
      cost += ValueBytes(attr, attr.values[last++], pending.infoType);
    bool nothingFits = used + cost > room || (last == pending.valueIndex && pending.valueIndex < valueCount);
    if (nothingFits) {
      // Not even one value fits into an empty reply: the reply buffer is too small.
      if (reply.reply.empty()) return ERR_INSUFFICIENT_BUFFER;
      break;
    }
    // Only the values that travel in this reply are copied into it.
    nw::Attribute slice{attr.name, attr.syntax, {}};
    slice.values.assign(attr.values.begin() + static_cast<std::ptrdiff_t>(pending.valueIndex),
                        attr.values.begin() + static_cast<std::ptrdiff_t>(std::max(last, pending.valueIndex)));
    reply.reply.push_back(nw::ReplyAttribute{std::move(slice), 0, last - pending.valueIndex});
    used += cost;
    if (last < valueCount) {
      pending.valueIndex = last;
      break;
    }
    ++pending.attrIndex;
    pending.valueIndex = 0;
  }
  complete = pending.attrIndex >= pending.attrs.size();
  reply.header->curLen = static_cast<nuint32>(used);
  reply.replyReady = true;
  return 0;
}

// The reply's current attribute and its next value, or a code.
NWRCODE CurrentValue(const nw::BufferState* state, const nw::ReplyAttribute*& attr) {
  if (!state || !state->replyReady || state->nextAttr == 0) return ERR_BUFFER_EMPTY;
  attr = &state->reply[state->nextAttr - 1];
  return state->nextValue < attr->lastValue ? 0 : ERR_BUFFER_EMPTY;
}

NWRCODE WriteAllToDescriptor(int fd, const nw::Bytes& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ERR_SYSTEM_ERROR;
    done += static_cast<std::size_t>(n);
  }
  return lseek(fd, 0, SEEK_SET) == 0 ? 0 : ERR_SYSTEM_ERROR;
}

}  // namespace

NWRCODE DSRequestAddAttrName(NWDSContextHandle context, Buf_T* buffer, const char* attrName) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSRequestAddAttrName")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  nw::BufferState* state = engine.FindBuffer(buffer);
  if (!state) return ERR_INVALID_HANDLE;
  if (!state->initialized || (buffer->operation != DSV_READ && buffer->operation != DSV_SEARCH)) return ERR_BAD_VERB;
  if (!attrName) return ERR_NULL_POINTER;
  std::size_t length = strnlen(attrName, MAX_SCHEMA_NAME_BYTES);
  if (length == 0 || length >= MAX_SCHEMA_NAME_BYTES) return ERR_INVALID_OBJECT_NAME;
  std::size_t cost = 4 + Align4(length + 1);
  if (buffer->curLen + cost > buffer->maxLen) return ERR_BUFFER_FULL;
  state->attrNames.emplace_back(attrName, length);
  std::memcpy(buffer->data + buffer->curLen, attrName, length);  // keeps the data area honest
  buffer->curLen += static_cast<nuint32>(cost);
  return 0;
}

NWRCODE DSReadStep(NWDSContextHandle context, const char* objectName, nuint32 infoType, bool allAttrs, Buf_T* attrNames,
                   nuint32* iterationHandle, Buf_T* objectInfo) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSReadStep")) return code;
  nw::Context* settings = nullptr;
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = engine.ContextSource(context, settings, tree)) return code;
  if (!iterationHandle) return ERR_NULL_POINTER;
  nw::BufferState* reply = engine.FindBuffer(objectInfo);
  if (!IsReadBuffer(reply)) return reply ? ERR_BAD_VERB : ERR_INVALID_HANDLE;
  if (infoType != DS_ATTRIBUTE_NAMES && infoType != DS_ATTRIBUTE_VALUES && infoType != DS_VALUE_INFO)
    return ERR_INVALID_REQUEST;

  nuint32 handle = *iterationHandle;
  ReadIteration* pending = nullptr;
  std::unique_ptr<ReadIteration> fresh;
  if (handle == NO_MORE_ITERATIONS) {
    nw::BufferState* request = allAttrs ? nullptr : engine.FindBuffer(attrNames);
    if (!allAttrs && !request) return attrNames ? ERR_INVALID_HANDLE : ERR_NULL_POINTER;
    fresh = std::make_unique<ReadIteration>();
    fresh->context = context;
    fresh->infoType = infoType;
    static const std::vector<std::string> noNames;
    if (NWRCODE code = tree->ReadAttributes(*settings, objectName, allAttrs, request ? request->attrNames : noNames,
                                            fresh->attrs))
      return code;
    pending = fresh.get();
  } else {
    pending = dynamic_cast<ReadIteration*>(engine.FindIteration(handle));
    if (!pending) return ERR_INVALID_ITERATION;
  }

  bool complete = false;
  NWRCODE code = FillReadReply(*pending, *reply, complete);
  if (code || complete) {
    if (handle != NO_MORE_ITERATIONS) engine.EndIteration(handle);
    *iterationHandle = NO_MORE_ITERATIONS;
    return code;
  }
  if (fresh) *iterationHandle = engine.AddIteration(std::move(fresh));
  return 0;
}

NWRCODE DSResultAttrCount(NWDSContextHandle context, const Buf_T* buffer, nuint32* attrCount) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSResultAttrCount")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  const nw::BufferState* state = engine.FindBuffer(buffer);
  if (!state) return ERR_INVALID_HANDLE;
  if (!attrCount) return ERR_NULL_POINTER;
  if (!state->replyReady) return ERR_BUFFER_EMPTY;
  *attrCount = static_cast<nuint32>(state->reply.size());
  return 0;
}

NWRCODE DSResultNextAttr(NWDSContextHandle context, Buf_T* buffer, char* attrName, nuint32* valueCount, nuint32* syntaxId) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSResultNextAttr")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  nw::BufferState* state = engine.FindBuffer(buffer);
  if (!state) return ERR_INVALID_HANDLE;
  if (!state->replyReady || state->nextAttr >= state->reply.size()) return ERR_BUFFER_EMPTY;
  const nw::ReplyAttribute& next = state->reply[state->nextAttr++];
  state->nextValue = next.firstValue;
  if (attrName && !nw::CopyOut(next.attr.name, attrName, MAX_SCHEMA_NAME_BYTES)) return ERR_INSUFFICIENT_BUFFER;
  if (valueCount) *valueCount = static_cast<nuint32>(next.lastValue - next.firstValue);
  if (syntaxId) *syntaxId = next.attr.syntax;
  return 0;
}

NWRCODE DSResultValueSize(NWDSContextHandle context, const Buf_T* buffer, nuint32 syntaxId, nuint32* valueSize) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSResultValueSize")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  if (!valueSize) return ERR_NULL_POINTER;
  const nw::BufferState* state = engine.FindBuffer(buffer);
  const nw::ReplyAttribute* attr = nullptr;
  if (NWRCODE code = CurrentValue(state, attr)) return code;
  if (attr->attr.syntax != syntaxId) return ERR_INVALID_ATTR_SYNTAX;
  *valueSize = static_cast<nuint32>(nw::ValueSize(attr->attr, attr->attr.values[state->nextValue]));
  return 0;
}

NWRCODE DSResultNextValue(NWDSContextHandle context, Buf_T* buffer, nuint32 syntaxId, void* value) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSResultNextValue")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  if (!value) return ERR_NULL_POINTER;
  nw::BufferState* state = engine.FindBuffer(buffer);
  const nw::ReplyAttribute* attr = nullptr;
  if (NWRCODE code = CurrentValue(state, attr)) return code;
  if (attr->attr.syntax != syntaxId) return ERR_INVALID_ATTR_SYNTAX;
  nw::WriteValue(attr->attr, attr->attr.values[state->nextValue++], value);
  return 0;
}

NWRCODE NWDSGetAttrValFlags(NWDSContextHandle context, const Buf_T* buffer, nuint32* valueFlags) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("NWDSGetAttrValFlags")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  if (!valueFlags) return ERR_NULL_POINTER;
  const nw::BufferState* state = engine.FindBuffer(buffer);
  const nw::ReplyAttribute* attr = nullptr;
  if (NWRCODE code = CurrentValue(state, attr)) return code;
  if (state->infoType != DS_VALUE_INFO) return ERR_INVALID_REQUEST;
  *valueFlags = attr->attr.values[state->nextValue].flags;
  return 0;
}

NWRCODE NWDSGetAttrValModTime(NWDSContextHandle context, const Buf_T* buffer, TimeStamp_T* modTime) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("NWDSGetAttrValModTime")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  if (!modTime) return ERR_NULL_POINTER;
  const nw::BufferState* state = engine.FindBuffer(buffer);
  const nw::ReplyAttribute* attr = nullptr;
  if (NWRCODE code = CurrentValue(state, attr)) return code;
  if (state->infoType != DS_VALUE_INFO) return ERR_INVALID_REQUEST;
  *modTime = attr->attr.values[state->nextValue].modTime;
  return 0;
}

NWRCODE DSStreamOpen(NWDSContextHandle context, const char* objectName, const char* attrName, nuint32 flags,
                     NWStreamHandle* handle) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSStreamOpen")) return code;
  nw::Context* settings = nullptr;
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = engine.ContextSource(context, settings, tree)) return code;
  if (!handle || !attrName) return ERR_NULL_POINTER;
  if (flags != DS_READ_STREAM) return ERR_INVALID_REQUEST;  // streams are only read here
  std::vector<nw::Attribute> attrs;
  if (NWRCODE code = tree->ReadAttributes(*settings, objectName, false, {attrName}, attrs)) return code;
  const nw::Attribute& attr = attrs.front();
  if (attr.values.empty()) return ERR_NO_SUCH_ATTRIBUTE;
  if (attr.syntax != SYN_STREAM) return ERR_INVALID_ATTR_SYNTAX;
  int fd = memfd_create("vestrel-stream", MFD_CLOEXEC);
  if (fd < 0) return ERR_SYSTEM_ERROR;
  if (NWRCODE code = WriteAllToDescriptor(fd, attr.values.front().bytes)) {
    close(fd);
    return code;
  }
  *handle = fd;
  return 0;
}

}  // namespace vestrel
