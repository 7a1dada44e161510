// Contexts, names, the session's identity, object information and buffers.
#include <cstring>

#include "directory/NETWIN32.h"
#include "platform/nwclient/Engine.h"

namespace vestrel {

namespace {

using nw::TheEngine;

constexpr std::size_t kMaxBufferSize = 1u << 20;
constexpr nuint32 kObjectInfoMagic = 0x464E494F;  // "OINF"

// A name context as set by a caller: leading dot and types removed; "[Root]" for empty.
NWRCODE NormalizeNameContext(const char* text, std::string& nameContext) {
  nw::Context rootContext;
  std::string value = text;
  if (value.empty() || value == ".") {
    nameContext = "[Root]";
    return 0;
  }
  if (value[0] != '.') value.insert(value.begin(), '.');
  if (value.back() == '.') return ERR_INVALID_OBJECT_NAME;
  return nw::FullInputName(rootContext, value.c_str(), nameContext);
}

NWRCODE CopyTextOut(const std::string& text, nuint32 room, void* value) {
  return nw::CopyOut(text, static_cast<char*>(value), room) ? 0 : ERR_INSUFFICIENT_BUFFER;
}

// The names of a context without a connected tree: none are known.
class NoNames : public nw::NameBook {
 public:
  bool KnownName(const std::string&, std::vector<std::string>&, std::string&) const override { return false; }
};

const nw::NameBook& NamesOfTree(const std::string& tree) {
  static const NoNames none;
  const nw::DirectorySource* source = TheEngine().SourceNamed(tree);
  return source ? static_cast<const nw::NameBook&>(*source) : none;
}

// Object information travels in the buffer as: magic, selection, modification time,
// creation time, then four texts (base class, RDN, DN, parent DN), each a u32 length
// and its bytes.
class InfoWriter {
 public:
  explicit InfoWriter(Buf_T& buffer) : buffer_(buffer) {}
  bool U32(nuint32 value) { return Put(&value, 4); }
  bool Text(const std::string& text) { return U32(static_cast<nuint32>(text.size())) && Put(text.data(), text.size()); }

 private:
  Buf_T& buffer_;
  bool Put(const void* bytes, std::size_t size) {
    if (buffer_.curLen + size > buffer_.maxLen) return false;
    std::memcpy(buffer_.data + buffer_.curLen, bytes, size);
    buffer_.curLen += static_cast<nuint32>(size);
    return true;
  }
};

class InfoReader {
 public:
  explicit InfoReader(const Buf_T& buffer) : buffer_(buffer) {}
  bool U32(nuint32& value) { return Get(&value, 4); }
  bool Text(std::string& text) {
    nuint32 size = 0;
    if (!U32(size) || size > buffer_.curLen - at_) return false;
    text.assign(reinterpret_cast<const char*>(buffer_.data) + at_, size);
    at_ += size;
    return true;
  }

 private:
  const Buf_T& buffer_;
  std::size_t at_ = 0;
  bool Get(void* bytes, std::size_t size) {
    if (at_ + size > buffer_.curLen || buffer_.curLen > buffer_.maxLen) return false;
    std::memcpy(bytes, buffer_.data + at_, size);
    at_ += size;
    return true;
  }
};

std::string RdnText(const nw::Context& context, const nw::ObjectSummary& obj) {
  if (obj.rdnType.empty() || (context.flags & DCV_TYPELESS_NAMES)) return obj.rdn;
  return obj.rdnType + "=" + obj.rdn;
}

}  // namespace

// ---- Contexts ----

NWRCODE DSContextCreate(NWDSContextHandle* context) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSContextCreate")) return code;
  if (!context) return ERR_NULL_POINTER;
  engine.EnsureLoaded();
  nw::Context settings;
  settings.tree = engine.preferredTree;
  *context = engine.NewContext(settings);
  return 0;
}

NWRCODE DSContextClone(NWDSContextHandle source, NWDSContextHandle* clone) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSContextClone")) return code;
  if (!clone) return ERR_NULL_POINTER;
  const nw::Context* original = engine.FindContext(source);
  if (!original) return ERR_BAD_CONTEXT;
  *clone = engine.NewContext(*original);
  return 0;
}

NWDSContextHandle DSContextCopy(NWDSContextHandle source) {
  nw::Engine& engine = TheEngine();
  if (engine.Enter("DSContextCopy")) return ERR_CONTEXT_CREATION;
  const nw::Context* original = engine.FindContext(source);
  return original ? engine.NewContext(*original) : ERR_CONTEXT_CREATION;
}

NWRCODE DSContextFree(NWDSContextHandle context) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSContextFree")) return code;
  return engine.FreeContext(context) ? 0 : ERR_BAD_CONTEXT;
}

NWRCODE DSContextGetValue(NWDSContextHandle context, nuint32 key, nuint32 valueSize, void* value) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSContextGetValue")) return code;
  nw::Context* settings = engine.FindContext(context);
  if (!settings) return ERR_BAD_CONTEXT;
  if (!value) return ERR_NULL_POINTER;
  switch (key) {
    case DCK_FLAGS:
    case DCK_DSI_FLAGS: {
      if (valueSize != 0 && valueSize < sizeof(nuint32)) return ERR_INSUFFICIENT_BUFFER;
      nuint32 number = key == DCK_FLAGS ? settings->flags : settings->dsiFlags;
      std::memcpy(value, &number, sizeof number);
      return 0;
    }
    case DCK_NAME_CONTEXT:
      return CopyTextOut(nw::CanonicalOutputName(NamesOfTree(settings->tree), *settings, settings->nameContext), valueSize,
                         value);
    case DCK_TREE_NAME:
      return CopyTextOut(settings->tree, valueSize, value);
    default:
      return ERR_BAD_KEY;
  }
}

NWRCODE DSContextSetValue(NWDSContextHandle context, nuint32 key, const void* value) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSContextSetValue")) return code;
  nw::Context* settings = engine.FindContext(context);
  if (!settings) return ERR_BAD_CONTEXT;
  if (!value) return ERR_NULL_POINTER;
  switch (key) {
    case DCK_FLAGS:
      std::memcpy(&settings->flags, value, sizeof(nuint32));
      return 0;
    case DCK_DSI_FLAGS:
      std::memcpy(&settings->dsiFlags, value, sizeof(nuint32));
      return 0;
    case DCK_NAME_CONTEXT: {
      std::string nameContext;
      if (NWRCODE code = NormalizeNameContext(static_cast<const char*>(value), nameContext)) return code;
      settings->nameContext = nameContext;
      return 0;
    }
    case DCK_TREE_NAME: {
      const nw::DirectorySource* tree = engine.SourceNamed(static_cast<const char*>(value));
      bool connected = false;
      for (const nw::Connection& c : engine.Connections()) connected = connected || c.source == tree;
      if (!tree || !connected) return ERR_NO_CONNECTION;
      settings->tree = tree->TreeName();
      return 0;
    }
    default:
      return ERR_BAD_KEY;
  }
}

// ---- Names and the session ----

NWRCODE DSNameCanonical(NWDSContextHandle context, const char* name, char* canonical) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSNameCanonical")) return code;
  nw::Context* settings = engine.FindContext(context);
  if (!settings) return ERR_BAD_CONTEXT;
  if (!canonical) return ERR_NULL_POINTER;
  std::string fullName;
  if (NWRCODE code = nw::FullInputName(*settings, name, fullName)) return code;
  std::string result = nw::CanonicalOutputName(NamesOfTree(settings->tree), *settings, fullName);
  return nw::CopyOut(result, canonical, MAX_DN_BYTES) ? 0 : ERR_DN_TOO_LONG;
}

NWRCODE DSWhoAmI(NWDSContextHandle context, char* objectName) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSWhoAmI")) return code;
  nw::Context* settings = nullptr;
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = engine.ContextSource(context, settings, tree)) return code;
  if (!objectName) return ERR_NULL_POINTER;
  // The primary connection's user when it is in this tree, else the first connection's.
  const nw::Connection* chosen = nullptr;
  for (const nw::Connection& c : engine.Connections())
    if (c.source == tree && (!chosen || (c.primary && !chosen->primary))) chosen = &c;
  if (!chosen || chosen->user.empty()) return ERR_NOT_LOGGED_IN;
  // Signed in only while the session with the directory stands.
  if (NWRCODE code = tree->Available()) return code;
  return nw::CopyOut(nw::OutputName(*tree, *settings, chosen->user), objectName, MAX_DN_BYTES) ? 0 : ERR_DN_TOO_LONG;
}

NWRCODE DSTreeMakePreferred(nuint32 length, const char* treeName) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSTreeMakePreferred")) return code;
  if (!treeName) return ERR_NULL_POINTER;
  std::string name(treeName, strnlen(treeName, length));
  for (const nw::Connection& c : engine.Connections()) {
    if (nw::EqualsNoCase(c.source->TreeName(), name)) {
      engine.preferredTree = c.source->TreeName();
      return 0;
    }
  }
  return ERR_NO_CONNECTION;
}

// ---- Object information ----

NWRCODE DSObjectInfoRead(NWDSContextHandle context, const char* objectName, Buf_T* buffer) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSObjectInfoRead")) return code;
  nw::Context* settings = nullptr;
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = engine.ContextSource(context, settings, tree)) return code;
  nw::BufferState* state = engine.FindBuffer(buffer);
  if (!state) return ERR_INVALID_HANDLE;
  nw::ObjectSummary obj;
  if (NWRCODE code = tree->Summary(*settings, objectName, obj)) return code;
  state->ClearContent();
  std::string parent = obj.parentFullName.empty() ? "" : nw::CanonicalOutputName(*tree, *settings, obj.parentFullName);
  InfoWriter out(*buffer);
  bool written = out.U32(kObjectInfoMagic) && out.U32(settings->dsiFlags) && out.U32(obj.modified) &&
                 out.U32(obj.created) && out.Text(obj.baseClass) && out.Text(RdnText(*settings, obj)) &&
                 out.Text(nw::CanonicalOutputName(*tree, *settings, obj.fullName)) && out.Text(parent);
  if (!written) {
    buffer->curLen = 0;
    return ERR_INSUFFICIENT_BUFFER;
  }
  return 0;
}

NWRCODE DSObjectInfoField(NWDSContextHandle context, const Buf_T* buffer, nuint32 item, nuint32 length, void* value) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSObjectInfoField")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  if (!engine.FindBuffer(buffer)) return ERR_INVALID_HANDLE;
  if (!value) return ERR_NULL_POINTER;
  InfoReader in(*buffer);
  nuint32 magic = 0, selection = 0, modified = 0, created = 0;
  std::string texts[4];
  if (!in.U32(magic) || magic != kObjectInfoMagic || !in.U32(selection) || !in.U32(modified) || !in.U32(created) ||
      !in.Text(texts[0]) || !in.Text(texts[1]) || !in.Text(texts[2]) || !in.Text(texts[3]))
    return ERR_BUFFER_EMPTY;
  if (!(selection & item)) return ERR_INVALID_REQUEST;
  switch (item) {
    case DSI_MODIFICATION_TIME:
    case DSI_CREATION_TIME: {
      if (length < sizeof(nuint32)) return ERR_INSUFFICIENT_BUFFER;
      nuint32 time = item == DSI_MODIFICATION_TIME ? modified : created;
      std::memcpy(value, &time, sizeof time);
      return 0;
    }
    case DSI_BASE_CLASS: return CopyTextOut(texts[0], length, value);
    case DSI_ENTRY_RDN: return CopyTextOut(texts[1], length, value);
    case DSI_ENTRY_DN: return CopyTextOut(texts[2], length, value);
    case DSI_PARENT_DN: return CopyTextOut(texts[3], length, value);
    default: return ERR_INVALID_REQUEST;
  }
}

// ---- Buffers ----

NWRCODE DSBufferAlloc(std::size_t size, Buf_T** buffer) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSBufferAlloc")) return code;
  if (!buffer) return ERR_NULL_POINTER;
  if (size == 0) return ERR_BUFFER_ZERO_LENGTH;
  if (size > kMaxBufferSize) return ERR_NOT_ENOUGH_MEMORY;
  *buffer = engine.NewBuffer(size);
  return 0;
}

NWRCODE DSBufferInit(NWDSContextHandle context, nuint32 operation, Buf_T* buffer) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSBufferInit")) return code;
  if (!engine.FindContext(context)) return ERR_BAD_CONTEXT;
  nw::BufferState* state = engine.FindBuffer(buffer);
  if (!state) return ERR_INVALID_HANDLE;
  state->ClearContent();
  state->initialized = true;
  state->context = context;
  buffer->operation = operation;
  return 0;
}

NWRCODE DSBufferFree(Buf_T* buffer) {
  nw::Engine& engine = TheEngine();
  if (NWRCODE code = engine.Enter("DSBufferFree")) return code;
  if (!buffer) return ERR_NULL_POINTER;
  return engine.FreeBuffer(buffer) ? 0 : ERR_INVALID_HANDLE;
}

}  // namespace vestrel
