// One attribute value as the library hands it over, dispatched on its syntax id. The
// value memory holds the record and the data its pointers reach; ValueMemory checks
// every pointer and text against it before anything is read.
#include <array>
#include <cstddef>
#include <vector>

#include "directory/D_NW_Format.h"
#include "directory/D_NW_FormatBytes.h"
#include "directory/D_NW_Partitions.h"
#include "util/D_Util.h"

namespace vestrel {

namespace {

using Lines = std::vector<std::string>;

std::string HexOfMemory(const ValueMemory& memory) {
  return OctetView({memory.Begin(), memory.Size()}).Hex(0, memory.Size());
}

// Syntax 0: the record names the attribute and its syntax; the value bytes follow it.
std::string UnknownSyntaxText(const ValueMemory& memory) {
  const auto record = memory.Record<Unknown_Attr_T>();
  const std::span<const nuint8> bytes = memory.Bytes(memory.Begin() + sizeof(Unknown_Attr_T), record.valueLen);
  return Format("%s [%d] %s", memory.Text(record.attrName), static_cast<nint32>(record.syntaxID),
                OctetView(bytes).Hex(0, bytes.size()));
}

// A chain of nodes inside the memory. A chain with more nodes than the memory can hold
// loops back on itself and is a range failure.
template <typename Node, typename Visit>
void WalkChain(const ValueMemory& memory, Visit visit) {
  const std::size_t maxNodes = memory.Size() / sizeof(Node);
  const void* at = memory.Begin();
  for (std::size_t count = 0; at != nullptr; ++count) {
    if (count >= maxNodes) RaiseRangeCheck();
    const auto node = memory.RecordAt<Node>(at);
    visit(node);
    at = node.next;
  }
}

Lines CaseIgnoreListLines(const ValueMemory& memory) {
  Lines lines;
  WalkChain<CI_List_T>(memory, [&](const CI_List_T& node) { lines.push_back(memory.Text(node.s)); });
  return lines;
}

Lines OctetListLines(const ValueMemory& memory, const std::string& attrName, int valueIndex) {
  Lines lines;
  WalkChain<Octet_List_T>(memory, [&](const Octet_List_T& node) {
    lines.push_back(FormatOctetValue(memory.Bytes(node.data, node.length), attrName, valueIndex));
  });
  return lines;
}

std::string OctetStringText(const ValueMemory& memory, const std::string& attrName, int valueIndex) {
  const auto record = memory.Record<Octet_String_T>();
  return FormatOctetValue(memory.Bytes(record.data, record.length), attrName, valueIndex);
}

std::string NetAddressValueText(const ValueMemory& memory) {
  const auto record = memory.Record<Net_Address_T>();
  if (record.address == nullptr) return {};
  const std::span<const nuint8> address = memory.Bytes(record.address, record.addressLength);
  return NetAddressText(record.addressType, address.data(), address.size(), true);
}

std::string PathText(const ValueMemory& memory) {
  const auto record = memory.Record<Path_T>();
  return Format("(%d) %s:%s", static_cast<nint32>(record.nameSpaceType), memory.Text(record.volumeName),
                memory.Text(record.path));
}

// Only the name, type and number are shown, and the state of a replica that is not on;
// the address hints need not be there.
std::string ReplicaPointerText(const ValueMemory& memory) {
  const auto record = memory.Record<Replica_Pointer_T>(offsetof(Replica_Pointer_T, count));
  nuint32 type = 0, state = 0;
  SplitReplicaType(record.replicaType, type, state);
  std::string text = Format("%s [%s] [Nr: %d]", memory.Text(record.serverName), ReplicaTypeName(type),
                            static_cast<nint32>(record.replicaNumber));
  if (state != RS_ON) text += Format(" [%s]", ReplicaStateName(state));
  return text;
}

std::string AclValueText(const ValueMemory& memory) {
  const auto record = memory.Record<Object_ACL_T>();
  return FormatAclValue(record.privileges, memory.Text(record.subjectName), memory.Text(record.protectedAttrName));
}

Lines PostalAddressLines(const ValueMemory& memory) {
  const auto record = memory.Record<std::array<char*, 6>>();
  Lines lines;
  for (const char* line : record) lines.push_back(memory.Text(line));
  return lines;
}

std::string IntervalText(const ValueMemory& memory) {
  const auto seconds = memory.Record<nint32>();
  if (seconds < 0) RaiseRangeCheck();
  return SecondsToText(static_cast<nuint32>(seconds));
}

// The lines of every syntax but the stream, which needs the directory.
Lines ValueLines(const ValueMemory& memory, const std::string& attrName, nuint32 syntaxId, int valueIndex) {
  switch (syntaxId) {
    case SYN_UNKNOWN: return {UnknownSyntaxText(memory)};
    case SYN_DIST_NAME: case SYN_CE_STRING: case SYN_CI_STRING: case SYN_PR_STRING:
    case SYN_NU_STRING: case SYN_TEL_NUMBER: case SYN_CLASS_NAME:
      return {memory.Text(memory.Begin())};
    case SYN_CI_LIST: return CaseIgnoreListLines(memory);
    case SYN_BOOLEAN: return {BoolToText(memory.Record<nuint8>() != 0)};
    case SYN_INTEGER: case SYN_COUNTER: return {Format("%d", memory.Record<nint32>())};
    case SYN_OCTET_STRING: return {OctetStringText(memory, attrName, valueIndex)};
    case SYN_FAX_NUMBER:
      return {memory.Text(memory.Record<Fax_Number_T>(sizeof(char*)).telephoneNumber)};
    case SYN_NET_ADDRESS: return {NetAddressValueText(memory)};
    case SYN_OCTET_LIST: return OctetListLines(memory, attrName, valueIndex);
    case SYN_EMAIL_ADDRESS: return {memory.Text(memory.Record<EMail_Address_T>().address)};
    case SYN_PATH: return {PathText(memory)};
    case SYN_REPLICA_POINTER: return {ReplicaPointerText(memory)};
    case SYN_OBJECT_ACL: return {AclValueText(memory)};
    case SYN_PO_ADDRESS: return PostalAddressLines(memory);
    case SYN_TIMESTAMP: case SYN_TIME: return {DirTimeText(memory.Record<nuint32>(), true)};
    case SYN_BACK_LINK: return {memory.Text(memory.Record<Back_Link_T>().objectName)};
    case SYN_TYPED_NAME: {
      const auto record = memory.Record<Typed_Name_T>();
      return {Format("%s#%d#%d", memory.Text(record.objectName), static_cast<nint32>(record.level),
                     static_cast<nint32>(record.interval))};
    }
    case SYN_HOLD: {
      const auto record = memory.Record<Hold_T>();
      return {Format("%s (%d)", memory.Text(record.objectName), static_cast<nint32>(record.amount))};
    }
    case SYN_INTERVAL: return {IntervalText(memory)};
    default: return {Format("[%X] %s", syntaxId, HexOfMemory(memory))};
  }
}

}  // namespace

NWRCODE FormatAttrValue(NWDSContextHandle context, const std::string& objectName, const std::string& attrName,
                        TextList& lines, const void* value, std::size_t valueSize, nuint32 syntaxId,
                        int valueIndex) {
  if (syntaxId == SYN_STREAM) {
    std::string text;
    const NWRCODE code = ReadStreamText(context, objectName, attrName, false, text);
    if (code == 0) lines.Add(text);
    return code;
  }
  // All lines are made first, so a malformed value adds nothing before its failure.
  for (std::string& line : ValueLines(ValueMemory(value, valueSize), attrName, syntaxId, valueIndex))
    lines.Add(std::move(line));
  return 0;
}

}  // namespace vestrel
