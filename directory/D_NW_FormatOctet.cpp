// Octet strings: many attributes keep structured records inside octets; they are
// recognised by the attribute's name. Every layout reads through OctetView, so a short
// value shows zeros and empty texts where its bytes are missing.
#include <array>
#include <string_view>

#include "directory/D_NW_Format.h"
#include "directory/D_NW_FormatBytes.h"
#include "util/D_Util.h"

namespace vestrel {

namespace {

// Text copies and hex dumps take at most 65535 bytes.
void RequireCopyableLength(const OctetView& octets) {
  if (octets.Size() > 0xFFFF) RaiseRangeCheck();
}

std::string OctetsAsText(const OctetView& octets) {
  RequireCopyableLength(octets);
  const std::span<const nuint8> bytes = octets.From(0);
  return BufferToText(bytes.data(), bytes.size(), 0, bytes.size());
}

std::string OctetsAsLines(const OctetView& octets) {
  RequireCopyableLength(octets);
  const std::span<const nuint8> bytes = octets.From(0);
  return BufferToLines(bytes.data(), bytes.size(), 0, bytes.size());
}

std::string HexDump(const OctetView& octets) { return octets.Hex(0, octets.Size()); }

// A bindery property: its name, then its text, or its data in hex when it has no text.
std::string BinderyPropertyText(const OctetView& octets) {
  std::string value = octets.Text(47);
  if (value.empty()) {
    constexpr std::size_t kHeaderAndTrailer = 51;
    if (octets.Size() < kHeaderAndTrailer) RaiseRangeCheck();
    value = TrimRightChars(octets.Hex(47, octets.Size() - kHeaderAndTrailer), "0");
  }
  return Format("%s: %s", octets.Text(5), value);
}

std::string PublicKeyText(const OctetView& o) {
  return Format("[%X,%X,%s,%X] %s", o.U32(0), o.U32(4), o.Hex(8, 14), o.U32(22), o.WideText(26));
}

std::string InventoryResourceText(const OctetView& o) {
  return Format("[%.2X,%d,%d,%d] %s", o.U32(0), o.I32(4), o.I32(8), o.I32(12), o.WideText(16));
}

std::string InventoryPortText(const OctetView& o) {
  return Format("[%.4X,%d,%d,%d] %s", o.U16(0), o.I32(4), o.I32(8), o.I32(12), o.WideText(16));
}

std::string InventoryAreaText(const OctetView& o) {
  return Format("[%X,%X,%X,%X,%X] %s", o.U32(0), o.U32(4), o.U32(8), o.U32(12), o.U32(16), o.WideText(20));
}

std::string BhConfigText(const OctetView& o) {
  return Format("[%d] ", o.I32(0)) + Format("%s ", o.Text(4)) + Format("%s ", o.Text(92));
}

// "%4X" pads with blanks, as the vectors are shown.
std::string VectorText(const OctetView& o) {
  return Format("(%4X/%4X/%4X) %s", o.U32(0), o.U32(4), o.U32(8), o.WideText(12));
}

// One replica's status: the first value carries the error and its name at 28; later
// values have their name at 24 and never show an error.
std::string ReplicaStatusText(const OctetView& o, int valueIndex) {
  if (o.Size() < kPartitionStatusMinBytes) RaiseRangeCheck();
  const nint32 state = o.I32(4);
  if (state < 0) RaiseRangeCheck();
  const bool first = valueIndex == 1;
  const nuint32 errorCode = o.U32(16);
  std::string text = Format("%s ", o.WideText(first ? 28 : 24));
  text += Format("/ Replica %d ", o.I32(12));
  text += Format("/ Last Sync:  %s", DirTimeText(o.U32(8), false));
  text += "/ ";
  text += ReplicaStateText(state);
  text += " ";
  if (first && errorCode != 0) text += Format("/ Error %4X", errorCode);
  return text;
}

// ---- Printer configuration ----

constexpr std::string_view kPortTypes[] = {"Other", "Parallel", "Serial", "XNP", "Apple", "Unix", "AIO"};
constexpr std::string_view kStopBits[] = {"1", "1.5", "2"};
constexpr std::string_view kParities[] = {"no", "even", "odd"};
constexpr std::string_view kFormChanges[] = {"as needed", "minimize within Qs", "never", "minimize across Qs"};

std::string InterruptText(const OctetView& o) {
  return o.U16(52) == 0 ? std::string("Polling") : Format("IRQ %d", o.U16(54));
}

std::string LoadText(const OctetView& o) { return o.U16(50) == 0 ? "Manual" : "Auto"; }

// 300 doubled per step of the code: 0 to 7 give 300 to 38400 baud. A code whose rate
// does not fit a 32-bit number is a range failure.
nint32 BaudRate(nuint16 code) {
  constexpr nuint16 kLargestFittingCode = 22;
  if (code > kLargestFittingCode) RaiseRangeCheck();
  return static_cast<nint32>(300u << code);
}

std::string SerialPortText(const OctetView& o) {
  std::string text = Format("Serial (COM%d:)", o.U16(48) + 1);
  text += Format(" / %s", InterruptText(o));
  text += Format(" / %s load", LoadText(o));
  if (o.U16(56) != 0) text += " / Xon/Xoff ";
  text += Format(" / %d bd", BaudRate(o.U16(58)));
  text += Format(" / %d Data bits", o.U16(60));
  text += Format(" / %s Stop bits", TextAtIndex(o.U16(62), kStopBits));
  text += Format(" / %s parity", TextAtIndex(o.U16(64), kParities));
  return text;
}

std::string PrinterConfigurationText(const OctetView& o) {
  const nuint16 portType = o.U16(0);
  std::string text = TextAtIndex(portType, kPortTypes);
  switch (portType) {
    case 1:
      text += Format(" (LPT%d:)", o.U16(48) + 1);
      text += Format(" / %s", InterruptText(o));
      text += Format(" / %s load", LoadText(o));
      break;
    case 2:
      text = SerialPortText(o);
      break;
    case 4:
      text += Format(" %s %s (%s)", o.Text(48), o.Text(116), o.Text(82));
      break;
    case 5:
      text += Format(" %s/%s", o.Text(48), o.Text(304));
      break;
    default:
      break;
  }
  text += Format(" / %s", o.U16(10) == 0 ? "Text" : "Postscript");
  text += Format(" / Service Interval: %d", o.U16(8));
  text += Format(" / Buffer Size: %dkB", o.U16(4));
  text += Format(" / Starting Form: %d", o.U16(2));
  text += Format(" / Form Change: %s", TextAtIndex(o.U16(6), kFormChanges));
  text += Format(" / Driver Name: %s", o.Text(16));
  text += "\r\n";
  return text;
}

// ---- The table of named layouts ----

using OctetLayout = std::string (*)(const OctetView& octets, int valueIndex);

struct NamedLayout {
  std::string_view name;
  OctetLayout layout;
};

const NamedLayout kNamedLayouts[] = {
    {"App:GUID", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"App:Drive Mappings", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"App:Parameters", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"App:Path", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"App:Version String", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"App:Working Directory", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"DirXML-EntitlementResult", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"ZEN:INV Disk Info", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"bhObjectGUID", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"rbsTaskRights", [](const OctetView& o, int) { return OctetsAsText(o); }},
    {"Bindery Property", [](const OctetView& o, int) { return BinderyPropertyText(o); }},
    {"snmpTrapDescription", [](const OctetView& o, int) { return OctetsAsLines(o); }},
    {"CA Public Key", [](const OctetView& o, int) { return PublicKeyText(o); }},
    {"Public Key", [](const OctetView& o, int) { return PublicKeyText(o); }},
    {"memberQuery", [](const OctetView& o, int) { return Format("%s - %s", o.WideText(12), HexDump(o)); }},
    {"WM:INV DMA", [](const OctetView& o, int) { return InventoryResourceText(o); }},
    {"WM:INV Interrupt", [](const OctetView& o, int) { return InventoryResourceText(o); }},
    {"WM:INV Port", [](const OctetView& o, int) { return InventoryPortText(o); }},
    {"WM:INV CPU Information", [](const OctetView& o, int) { return Format("[%d] %s", o.I32(0), o.WideText(8)); }},
    {"WM:INV Shared Memory", [](const OctetView& o, int) { return InventoryAreaText(o); }},
    {"WM:INV Volume", [](const OctetView& o, int) { return InventoryAreaText(o); }},
    {"NGW: Location", [](const OctetView& o, int) { return Format("[%s] %s", o.Hex(0, 13), o.Text(13)); }},
    {"App:Folder List",
     [](const OctetView& o, int) { return Format("(%X/%X/%X) %s", o.U32(0), o.U32(4), o.U32(8), o.Text(12)); }},
    {"App:FS Rights Path",
     [](const OctetView& o, int) {
       return Format("(%d/%d/%d/%d) %s", o.I32(0), o.I32(4), o.I32(8), o.Byte(12), o.Text(13));
     }},
    {"bhConfig", [](const OctetView& o, int) { return BhConfigText(o); }},
    {"FW0 USER ADD", [](const OctetView& o, int) { return o.Text(15); }},
    {"Partition Status", [](const OctetView& o, int index) { return ReplicaStatusText(o, index); }},
    {"Local Received Up To", [](const OctetView& o, int) { return VectorText(o); }},
    {"Transitive Vector", [](const OctetView& o, int) { return VectorText(o); }},
    {"Printer Configuration", [](const OctetView& o, int) { return PrinterConfigurationText(o); }},
};

}  // namespace

std::string FormatOctetValue(std::span<const nuint8> octets, const std::string& attrName, int valueIndex) {
  const OctetView view(octets);
  for (const NamedLayout& named : kNamedLayouts)
    if (EqualsNoCase(attrName, named.name)) return named.layout(view, valueIndex);
  return HexDump(view);
}

std::vector<std::string_view> OctetLayoutNames() {
  std::vector<std::string_view> names;
  for (const NamedLayout& named : kNamedLayouts) names.push_back(named.name);
  return names;
}

std::string FormatOctetValue(const Octet_String_T& record, const std::string& attrName, int valueIndex) {
  if (record.data == nullptr) return FormatOctetValue(std::span<const nuint8>(), attrName, valueIndex);
  return FormatOctetValue(std::span<const nuint8>(record.data, record.length), attrName, valueIndex);
}

}  // namespace vestrel
