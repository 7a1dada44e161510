// Value memory: the published value record of a syntax followed by every text and byte
// string it points to, all in one block whose size is exactly what they need. The same
// walk measures (no memory) and writes, so size and layout cannot disagree.
#include <cstring>
#include <new>

#include "platform/nwclient/Engine.h"

namespace vestrel::nw {

namespace {

class Layout {
 public:
  explicit Layout(std::uint8_t* base) : base_(base) {}

  std::size_t Size() const { return offset_; }

  template <class T>
  T* Record() {
    std::size_t at = Reserve(sizeof(T), alignof(T));
    return base_ ? new (base_ + at) T{} : nullptr;
  }

  char** Pointers(std::size_t count) {
    std::size_t at = Reserve(sizeof(char*) * count, alignof(char*));
    if (!base_) return nullptr;
    char** pointers = reinterpret_cast<char**>(base_ + at);
    for (std::size_t i = 0; i < count; ++i) pointers[i] = nullptr;
    return pointers;
  }

  char* Text(const std::string& text) {
    std::size_t at = Reserve(text.size() + 1, 1);
    if (!base_) return nullptr;
    std::memcpy(base_ + at, text.c_str(), text.size() + 1);
    return reinterpret_cast<char*>(base_ + at);
  }

  nuint8* Data(const Bytes& bytes) {
    std::size_t at = Reserve(bytes.size(), 1);
    if (!base_) return nullptr;
    if (!bytes.empty()) std::memcpy(base_ + at, bytes.data(), bytes.size());
    return base_ + at;
  }

 private:
  std::uint8_t* base_;
  std::size_t offset_ = 0;

  std::size_t Reserve(std::size_t size, std::size_t align) {
    offset_ = (offset_ + align - 1) / align * align;
    std::size_t at = offset_;
    offset_ += size;
    return at;
  }
};

template <class T>
void Scalar(Layout& layout, T value) {
  if (T* record = layout.Record<T>()) *record = value;
}

void CaseIgnoreList(Layout& layout, const std::vector<std::string>& texts) {
  std::vector<std::string> items = texts.empty() ? std::vector<std::string>{""} : texts;
  std::vector<CI_List_T*> nodes;
  for (std::size_t i = 0; i < items.size(); ++i) nodes.push_back(layout.Record<CI_List_T>());
  for (std::size_t i = 0; i < items.size(); ++i) {
    char* text = layout.Text(items[i]);
    if (nodes[i]) {
      nodes[i]->s = text;
      nodes[i]->next = i + 1 < nodes.size() ? nodes[i + 1] : nullptr;
    }
  }
}

void OctetList(Layout& layout, const std::vector<Bytes>& octets) {
  std::vector<Bytes> items = octets.empty() ? std::vector<Bytes>{Bytes{}} : octets;
  std::vector<Octet_List_T*> nodes;
  for (std::size_t i = 0; i < items.size(); ++i) nodes.push_back(layout.Record<Octet_List_T>());
  for (std::size_t i = 0; i < items.size(); ++i) {
    nuint8* data = layout.Data(items[i]);
    if (nodes[i]) {
      nodes[i]->length = static_cast<nuint32>(items[i].size());
      nodes[i]->data = data;
      nodes[i]->next = i + 1 < nodes.size() ? nodes[i + 1] : nullptr;
    }
  }
}

void ReplicaPointer(Layout& layout, const Value& v) {
  auto* record = layout.Record<Replica_Pointer_T>();
  char* server = layout.Text(v.text);
  nuint8* hint = layout.Data(v.bytes);
  if (!record) return;
  record->serverName = server;
  // The state of a replica that is not on travels in the type's upper half, as the
  // directory keeps it.
  record->replicaType = v.state == 0 ? v.number : (v.number & 0xFFFF) | ((v.state & 0xFFFF) << 16);
  record->replicaNumber = v.number2;
  record->count = v.bytes.empty() ? 0 : 1;
  record->replicaAddressHint[0].addressType = v.number3;
  record->replicaAddressHint[0].addressLength = static_cast<nuint32>(v.bytes.size());
  record->replicaAddressHint[0].address = v.bytes.empty() ? nullptr : hint;
}

void UnknownSyntax(Layout& layout, const Attribute& attr, const Value& v) {
  auto* record = layout.Record<Unknown_Attr_T>();
  layout.Data(v.bytes);  // the value right after the record
  char* name = layout.Text(attr.name);
  if (!record) return;
  record->attrName = name;
  record->syntaxID = v.number;
  record->valueLen = static_cast<nuint32>(v.bytes.size());
}

void Lay(Layout& layout, const Attribute& attr, const Value& v) {
  if (v.malformed) {
    static const Bytes kNoRecord{0xFF};  // not even a text: it has no terminator
    layout.Data(kNoRecord);
    return;
  }
  switch (attr.syntax) {
    case SYN_DIST_NAME: case SYN_CE_STRING: case SYN_CI_STRING: case SYN_PR_STRING: case SYN_NU_STRING:
    case SYN_TEL_NUMBER: case SYN_CLASS_NAME:
      layout.Text(v.text);
      break;
    case SYN_CI_LIST:
      CaseIgnoreList(layout, v.texts);
      break;
    case SYN_BOOLEAN:
      Scalar<nuint8>(layout, v.number ? 1 : 0);
      break;
    case SYN_INTEGER: case SYN_COUNTER: case SYN_INTERVAL:
      Scalar<nint32>(layout, static_cast<nint32>(v.number));
      break;
    case SYN_OCTET_STRING: {
      auto* record = layout.Record<Octet_String_T>();
      nuint8* data = layout.Data(v.bytes);
      if (record) *record = Octet_String_T{static_cast<nuint32>(v.bytes.size()), data};
      break;
    }
    case SYN_FAX_NUMBER: {
      auto* record = layout.Record<Fax_Number_T>();
      char* number = layout.Text(v.text);
      nuint8* bits = layout.Data(v.bytes);
      if (record) *record = Fax_Number_T{number, static_cast<nuint32>(v.bytes.size() * 8), v.bytes.empty() ? nullptr : bits};
      break;
    }
    case SYN_NET_ADDRESS: {
      auto* record = layout.Record<Net_Address_T>();
      nuint8* address = layout.Data(v.bytes);
      if (record) *record = Net_Address_T{v.number, static_cast<nuint32>(v.bytes.size()), address};
      break;
    }
    case SYN_OCTET_LIST:
      OctetList(layout, v.octets);
      break;
    case SYN_EMAIL_ADDRESS: {
      auto* record = layout.Record<EMail_Address_T>();
      char* address = layout.Text(v.text);
      if (record) *record = EMail_Address_T{v.number, address};
      break;
    }
    case SYN_PATH: {
      auto* record = layout.Record<Path_T>();
      char* volume = layout.Text(v.texts.size() > 0 ? v.texts[0] : "");
      char* path = layout.Text(v.texts.size() > 1 ? v.texts[1] : "");
      if (record) *record = Path_T{v.number, volume, path};
      break;
    }
    case SYN_REPLICA_POINTER:
      ReplicaPointer(layout, v);
      break;
    case SYN_OBJECT_ACL: {
      auto* record = layout.Record<Object_ACL_T>();
      char* attrName = layout.Text(v.texts.empty() ? "" : v.texts[0]);
      char* subject = layout.Text(v.text);
      if (record) *record = Object_ACL_T{attrName, subject, v.number};
      break;
    }
    case SYN_PO_ADDRESS: {
      char** lines = layout.Pointers(6);
      for (std::size_t i = 0; i < 6; ++i) {
        char* line = layout.Text(i < v.texts.size() ? v.texts[i] : "");
        if (lines) lines[i] = line;
      }
      break;
    }
    case SYN_TIMESTAMP:
      Scalar(layout, TimeStamp_T{v.number, static_cast<nuint16>(v.number2), static_cast<nuint16>(v.number3)});
      break;
    case SYN_STREAM:  // the content is read through DSStreamOpen; the value is its size
      Scalar<nuint32>(layout, static_cast<nuint32>(v.bytes.size()));
      break;
    case SYN_BACK_LINK: {
      auto* record = layout.Record<Back_Link_T>();
      char* name = layout.Text(v.text);
      if (record) *record = Back_Link_T{v.number, name};
      break;
    }
    case SYN_TIME:
      Scalar<nuint32>(layout, v.number);
      break;
    case SYN_TYPED_NAME: {
      auto* record = layout.Record<Typed_Name_T>();
      char* name = layout.Text(v.text);
      if (record) *record = Typed_Name_T{name, v.number, v.number2};
      break;
    }
    case SYN_HOLD: {
      auto* record = layout.Record<Hold_T>();
      char* name = layout.Text(v.text);
      if (record) *record = Hold_T{name, v.number};
      break;
    }
    case SYN_UNKNOWN:
      UnknownSyntax(layout, attr, v);
      break;
    default:  // ids the client does not know: the raw value bytes
      layout.Data(v.bytes);
      break;
  }
}

void LocalizeName(const NameBook& names, const Context& context, std::string& name) {
  std::vector<std::string> typed;
  std::string spelling;
  if (names.KnownName(name, typed, spelling)) name = OutputName(names, context, name);
}

}  // namespace

std::size_t ValueSize(const Attribute& attr, const Value& value) {
  Layout layout(nullptr);
  Lay(layout, attr, value);
  return layout.Size();
}

void WriteValue(const Attribute& attr, const Value& value, void* memory) {
  Layout layout(static_cast<std::uint8_t*>(memory));
  Lay(layout, attr, value);
}

void LocalizeValueNames(const NameBook& names, const Context& context, Attribute& attr) {
  switch (attr.syntax) {
    case SYN_DIST_NAME: case SYN_REPLICA_POINTER: case SYN_OBJECT_ACL: case SYN_BACK_LINK:
    case SYN_TYPED_NAME: case SYN_HOLD:
      for (Value& v : attr.values) LocalizeName(names, context, v.text);
      break;
    default:
      break;
  }
}

}  // namespace vestrel::nw
