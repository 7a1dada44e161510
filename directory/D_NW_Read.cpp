// Attribute reading: the values of one attribute through the library, pseudo-attributes
// of the object and "|" chains, each value turned into lines by the value formatter.
#include "directory/D_NW_Read.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "directory/D_NW_Format.h"
#include "directory/D_NW_FormatBytes.h"
#include "directory/D_NW_Session.h"
#include "directory/NETWIN32.h"
#include "util/D_Util.h"

namespace vestrel {

namespace {

const std::string kLineBreak = "\r\n";

// The clone and the two buffers of one read, freed whatever happens.
class ReadResources {
 public:
  ~ReadResources() {
    if (reply) DSBufferFree(reply);
    if (request) DSBufferFree(request);
    if (hasClone) DSContextFree(clone);
  }
  NWDSContextHandle clone = 0;
  bool hasClone = false;
  Buf_T* request = nullptr;
  Buf_T* reply = nullptr;
};

NWRCODE PrepareBuffer(NWDSContextHandle context, std::size_t size, Buf_T*& buffer) {
  NWRCODE code = DSBufferAlloc(size, &buffer);
  if (code == 0) code = DSBufferInit(context, DSV_READ, buffer);
  return code;
}

// The text of a failure raised while a value is handled becomes that value's line.
template <typename Work>
void GuardValue(TextList& lines, Work work) {
  try {
    work();
  } catch (const RangeCheckError&) {
    lines.Add("Range check error");
  } catch (const std::exception& failure) {
    lines.Add(failure.what());
  }
}

// One read of the values of the attributes in a reply buffer.
class ValueReader {
 public:
  ValueReader(NWDSContextHandle clone, Buf_T* reply, const std::string& objectName, TextList& lines,
              int& capacity, void* raw, bool withDetails)
      : clone_(clone), reply_(reply), objectName_(objectName), lines_(lines), capacity_(capacity),
        rawRoom_(capacity), raw_(raw), withDetails_(withDetails) {}

  const AttrValueInfo& Info() const { return info_; }

  NWRCODE ReadReply() {
    nuint32 attrCount = 0;
    NWRCODE code = DSResultAttrCount(clone_, reply_, &attrCount);
    for (nuint32 a = 0; code == 0 && a < attrCount; ++a) code = ReadAttribute();
    return code;
  }

 private:
  NWRCODE ReadAttribute() {
    char attrName[MAX_SCHEMA_NAME_BYTES] = {};
    nuint32 valueCount = 0;
    nuint32 syntaxId = 0;
    NWRCODE code = DSResultNextAttr(clone_, reply_, attrName, &valueCount, &syntaxId);
    if (code != 0) return code;
    attrName[MAX_SCHEMA_NAME_BYTES - 1] = '\0';
    info_.syntaxId = syntaxId;
    info_.valueCount = valueCount;
    if (syntaxId == SYN_STREAM) return ReadStream(attrName);
    for (nuint32 i = 1; code == 0 && i <= valueCount; ++i)
      GuardValue(lines_, [&] { code = ReadValue(attrName, syntaxId, static_cast<int>(i)); });
    return code;
  }

  // A stream that cannot be decoded shows the failure's text as its line, as any other
  // value does, instead of leaving the read half done.
  NWRCODE ReadStream(const std::string& attrName) {
    NWRCODE code = 0;
    GuardValue(lines_, [&] {
      std::string text;
      code = ReadStreamText(clone_, objectName_, attrName, false, text);
      if (code == 0) lines_.Add(text);
    });
    return code;
  }

  NWRCODE ReadDetails(int index) {
    ValueDetail& detail = info_.details[index];
    NWRCODE code = NWDSGetAttrValFlags(clone_, reply_, &detail.flags);
    if (code == 0) code = NWDSGetAttrValModTime(clone_, reply_, &detail.modificationTime);
    return code;
  }

  NWRCODE ReadValue(const std::string& attrName, nuint32 syntaxId, int index) {
    NWRCODE code = 0;
    if (withDetails_ && index <= kMaxValueDetails) code = ReadDetails(index);
    nuint32 size = 0;
    const NWRCODE sizeCode = DSResultValueSize(clone_, reply_, syntaxId, &size);
    if (code == 0) code = sizeCode;
    if (size == 0) return code;
    std::vector<nuint8> memory(size);
    if (code == 0) code = DSResultNextValue(clone_, reply_, syntaxId, memory.data());
    if (code != 0) return code;
    info_.valueSize = size;
    code = FormatAttrValue(clone_, objectName_, attrName, lines_, memory.data(), size, syntaxId, index);
    if (raw_ != nullptr) {
      // Every value is copied into the caller's whole buffer; only the reported size
      // changes, so a large value never widens the room the next copy may fill.
      int room = rawRoom_;
      CopyRawValue(index, memory.data(), room, info_, raw_);
      capacity_ = room;
    }
    return code;
  }

  NWDSContextHandle clone_;
  Buf_T* reply_;
  const std::string& objectName_;
  TextList& lines_;
  int& capacity_;
  const int rawRoom_;
  void* raw_;
  const bool withDetails_;
  AttrValueInfo info_{};
};

bool IsLdapNameAttribute(const std::string& attrName) {
  return EqualsNoCase(attrName, "creatorsName") || EqualsNoCase(attrName, "modifiersName");
}

// The lines of one link of a path: a pseudo-attribute or the values of an attribute.
NWRCODE ReadPathHead(NWDSContextHandle context, const std::string& objectName, const std::string& head,
                     void* raw, int& capacity, TextList& lines) {
  NWRCODE code = 0;
  std::string text;
  if (EqualsNoCase(head, "CONTEXT"))
    text = ObjectParentName(context, objectName, code);
  else if (EqualsNoCase(head, "RDN"))
    text = ObjectRDN(context, objectName, code);
  else if (EqualsNoCase(head, "CLASS"))
    text = ObjectBaseClass(context, objectName, code);
  else if (EqualsNoCase(head, "createTimeStamp"))
    text = ShortDateTimeText(ObjectCreationTime(context, objectName));
  else if (EqualsNoCase(head, "modifyTimestamp"))
    text = ShortDateTimeText(ObjectModificationTime(context, objectName));
  else
    return ReadAttrValues(context, objectName, head, lines, capacity, raw, nullptr);
  if (code == 0) lines.Add(text);
  return code;
}

void AppendLines(TextList& target, const TextList& source) {
  for (int i = 0; i < source.Count(); ++i) target.Add(source[i]);
}

}  // namespace

NWRCODE ReadAttrValues(NWDSContextHandle context, const std::string& objectName, const std::string& attrName,
                       TextList& lines, int& capacity, void* raw, AttrValueInfo* info) {
  ReadResources resources;
  NWRCODE code = DSContextClone(context, &resources.clone);
  if (code != 0) return code;
  resources.hasClone = true;
  const NWDSContextHandle clone = resources.clone;
  // The alias object itself is read, not the object it points to.
  if (EqualsNoCase(attrName, "Aliased Object Name")) ModifyContextFlags(clone, '-', DCV_DEREF_ALIASES);

  code = PrepareBuffer(clone, DEFAULT_MESSAGE_LEN, resources.request);
  if (code == 0) code = DSRequestAddAttrName(clone, resources.request, attrName.c_str());
  if (code != 0) return code;
  nuint32 iteration = NO_MORE_ITERATIONS;
  code = PrepareBuffer(clone, MAX_MESSAGE_LEN, resources.reply);
  if (code != 0) return code;

  ValueReader reader(clone, resources.reply, objectName, lines, capacity, raw, info != nullptr);
  const nuint32 infoType = info != nullptr ? DS_VALUE_INFO : DS_ATTRIBUTE_VALUES;
  do {
    code = DSReadStep(clone, objectName.c_str(), infoType, false, resources.request, &iteration, resources.reply);
    if (code == 0) code = reader.ReadReply();
  } while (code == 0 && iteration != NO_MORE_ITERATIONS);
  if (info != nullptr) *info = reader.Info();
  return code;
}

NWRCODE ReadAttrToList(NWDSContextHandle context, const std::string& objectName, const std::string& attrName,
                       TextList& lines) {
  int capacity = 0;
  return ReadAttrValues(context, objectName, attrName, lines, capacity, nullptr, nullptr);
}

void CopyRawValue(int /*valueIndex*/, const void* value, int& capacity, const AttrValueInfo& info, void* raw) {
  if (capacity <= 0 || raw == nullptr) return;
  const auto room = static_cast<std::size_t>(capacity);
  std::memset(raw, 0, room);
  const ValueMemory memory(value, info.valueSize);
  switch (info.syntaxId) {
    case SYN_OCTET_STRING: {
      const auto record = memory.Record<Octet_String_T>();
      const std::span<const nuint8> octets = memory.Bytes(record.data, record.length);
      if (!octets.empty()) std::memcpy(raw, octets.data(), std::min(room, octets.size()));
      break;
    }
    case SYN_PATH: {
      const auto record = memory.Record<Path_T>();
      Path_T copy{record.nameSpaceType, nullptr, nullptr};
      if (room >= sizeof(Path_T)) {
        copy.volumeName = strdup(memory.Text(record.volumeName).c_str());
        copy.path = strdup(memory.Text(record.path).c_str());
      }
      std::memcpy(raw, &copy, std::min(room, sizeof(Path_T)));
      break;
    }
    default:
      if (memory.Size() > 0) std::memcpy(raw, memory.Begin(), std::min(room, memory.Size()));
      break;
  }
  capacity = static_cast<int>(info.valueSize);
}

NWRCODE ReadAttrPath(NWDSContextHandle context, const std::string& objectName, const std::string& path,
                     void* raw, int& capacity, TextList& lines) {
  std::string head;
  std::string rest;
  SplitText(path, "|", head, rest);
  TextList found;
  NWRCODE code = ReadPathHead(context, objectName, head, raw, capacity, found);
  if (code == 0 && !rest.empty()) {
    TextList chained;
    for (int i = 0; i < found.Count(); ++i) {
      const std::string name = IsLdapNameAttribute(head) ? AbsoluteName(LdapToDotName(found[i])) : found[i];
      TextList link;
      code = ReadAttrPath(context, name, rest, raw, capacity, link);
      if (code == 0) AppendLines(chained, link);
    }
    found = std::move(chained);
  }
  lines.Clear();
  AppendLines(lines, found);
  return code;
}

NWRCODE ReadAttrText(NWDSContextHandle context, const std::string& objectName, const std::string& path,
                     std::string& text, const std::string& prefix, const std::string& suffix,
                     const std::string& separator) {
  TextList found;
  int capacity = 0;
  const NWRCODE code = ReadAttrPath(context, objectName, path, nullptr, capacity, found);
  if (code != 0) return code;
  const bool wrap = !(prefix + suffix).empty();
  std::string joined;
  for (int i = 0; i < found.Count(); ++i) {
    if (i > 0) joined += kLineBreak;
    joined += wrap ? prefix + found[i] + suffix : found[i];
  }
  joined = TrimRightChars(joined, "\r\n");
  if (separator != kLineBreak) joined = ReplaceInText(joined, kLineBreak, separator, true, true);
  text = joined;
  return 0;
}

NWRCODE ReadAttrLines(NWDSContextHandle context, const std::string& objectName, const std::string& path,
                      std::string& text) {
  return ReadAttrText(context, objectName, path, text, "", "", kLineBreak);
}

std::string LdapToDotName(const std::string& name) {
  std::string text = ReplaceInText(name, ",o", ".o", true, false);
  text = ReplaceInText(text, ",c", ".c", true, false);
  text = ReplaceInText(text, ",", ".", true, false);
  text = ReplaceInText(text, "ou=", "", true, false);
  text = ReplaceInText(text, "cn=", "", true, false);
  return ReplaceInText(text, "o=", "", true, false);
}

}  // namespace vestrel
