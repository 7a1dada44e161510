// Octet strings by attribute name: worked layouts, short values that must read nothing
// past their octets, and the range failures of the layouts.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "directory/D_NW.h"
#include "tests/directory/ValueMemoryBuilder.h"
#include "tests/directory/ZoneAndLocale.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

using testing::PutText;
using testing::PutU16;
using testing::PutU32;
using testing::PutWide;
using testing::ZoneAndLocale;
using Bytes = std::vector<std::uint8_t>;

std::string Octets(const std::string& attr, const Bytes& octets, int index = 1) {
  return FormatOctetValue(std::span<const nuint8>(octets), attr, index);
}

Bytes PartitionStatus(nuint32 state, nuint32 syncTime, nuint32 number, nuint32 error, std::size_t nameAt,
                      const std::string& name) {
  Bytes bytes(nameAt, 0);
  PutU32(bytes, 4, state);
  PutU32(bytes, 8, syncTime);
  PutU32(bytes, 12, number);
  PutU32(bytes, 16, error);
  PutWide(bytes, nameAt, name);
  return bytes;
}

TEST(OctetLayout, PartitionStatusLines) {
  ZoneAndLocale zone("UTC", "de_DE");
  EXPECT_EQ(Octets("Partition Status", PartitionStatus(0, 0, 1, 0x2D5, 28, "SRV1.ORG"), 1),
            "SRV1.ORG / Replica 1 / Last Sync:  01.01.70/ (local error) / Error  2D5");
  EXPECT_EQ(Octets("partition status", PartitionStatus(2, 3661, 2, 0, 28, "SRV2"), 1),
            "SRV2 / Replica 2 / Last Sync:  01.01.70 01:01:01/ (in sync) ");
  // Later values keep their name at 24 and never show an error.
  EXPECT_EQ(Octets("Partition Status", PartitionStatus(1, 0, 3, 0x2D5, 24, "SRV3"), 2),
            "SRV3 / Replica 3 / Last Sync:  01.01.70/ (remote error) ");
  EXPECT_EQ(Octets("Partition Status", PartitionStatus(7, 0, 3, 0, 28, "S"), 1),
            "S / Replica 3 / Last Sync:  01.01.70/ (7 - unknown) ");
  EXPECT_THROW(Octets("Partition Status", PartitionStatus(0xFFFFFFFF, 0, 1, 0, 28, "S")), RangeCheckError);
  // A value too short for its state would read as a local error that is not there.
  for (std::size_t size : {0, 1, 19}) EXPECT_THROW(Octets("Partition Status", Bytes(size, 0)), RangeCheckError) << size;
  EXPECT_EQ(Octets("Partition Status", PartitionStatus(2, 0, 1, 0, 20, "")), " / Replica 1 / Last Sync:  01.01.70/ (in sync) ");
  // The last sync time is shown as it is, whatever the zone.
  ZoneAndLocale east("UTC-3", "de_DE");
  EXPECT_EQ(Octets("Partition Status", PartitionStatus(2, 0, 1, 0, 28, "S")),
            "S / Replica 1 / Last Sync:  01.01.70/ (in sync) ");
}

TEST(OctetLayout, VectorsPadTheirNumbersWithBlanks) {
  Bytes vector;
  PutU32(vector, 0, 0x1A);
  PutU32(vector, 4, 0x12345);
  PutU32(vector, 8, 0);
  PutWide(vector, 12, "SRV1");
  EXPECT_EQ(Octets("Transitive Vector", vector), "(  1A/12345/   0) SRV1");
  EXPECT_EQ(Octets("LOCAL RECEIVED UP TO", vector), "(  1A/12345/   0) SRV1");
}

TEST(OctetLayout, TextsAndHexDumps) {
  Bytes path;
  PutText(path, 0, "\\\\SRV\\SYS\\APP");
  path.push_back('x');  // after the terminator: not shown
  EXPECT_EQ(Octets("App:Path", path), "\\\\SRV\\SYS\\APP");
  // A text without a terminator shows what is there.
  EXPECT_EQ(Octets("App:GUID", Bytes{'a', 'b', 'c'}), "abc");
  EXPECT_EQ(Octets("snmpTrapDescription", Bytes{'a', 0, 'b', 0, 'c'}), "a\r\nb\r\nc");
  EXPECT_EQ(Octets("Not In The Table", Bytes{0x00, 0xAB, 0x10}), "00AB10");
  EXPECT_EQ(Octets("Anything", Bytes{}), "");
  EXPECT_THROW(Octets("Other", Bytes(65536, 1)), RangeCheckError);
  EXPECT_THROW(Octets("App:Path", Bytes(65536, 'a')), RangeCheckError);
}

TEST(OctetLayout, BinderyProperty) {
  Bytes withText(60, 0);
  PutText(withText, 5, "IDENTIFICATION");
  PutText(withText, 47, "Full Name");
  EXPECT_EQ(Octets("Bindery Property", withText), "IDENTIFICATION: Full Name");
  // No text: the data between the header and the four trailing bytes, trailing zero
  // digits dropped.
  Bytes data(56, 0);
  PutText(data, 5, "NET_ADDRESS");
  data[48] = 0x12;
  data[49] = 0x30;
  EXPECT_EQ(Octets("Bindery Property", data), "NET_ADDRESS: 00123");
  Bytes tooShort(50, 0);
  PutText(tooShort, 5, "X");
  EXPECT_THROW(Octets("Bindery Property", tooShort), RangeCheckError);
  tooShort.resize(52);
  PutText(tooShort, 47, "ab");
  EXPECT_EQ(Octets("Bindery Property", tooShort), "X: ab");
}

TEST(OctetLayout, InventoryKeysAndLocations) {
  Bytes dma;
  PutU32(dma, 0, 5);
  PutU32(dma, 4, 1);
  PutU32(dma, 8, 0xFFFFFFFF);
  PutU32(dma, 12, 3);
  PutWide(dma, 16, "DMA");
  EXPECT_EQ(Octets("WM:INV DMA", dma), "[05,1,-1,3] DMA");
  PutU16(dma, 0, 0x3F8);
  EXPECT_EQ(Octets("WM:INV Port", dma), "[03F8,1,-1,3] DMA");

  Bytes cpu;
  PutU32(cpu, 0, 2);
  PutWide(cpu, 8, "Pentium");
  EXPECT_EQ(Octets("WM:INV CPU Information", cpu), "[2] Pentium");

  Bytes key;
  PutU32(key, 0, 0xAB);
  PutU32(key, 4, 1);
  for (int i = 0; i < 14; ++i) key.push_back(static_cast<std::uint8_t>(i));
  PutU32(key, 22, 0x10);
  PutWide(key, 26, "key");
  EXPECT_EQ(Octets("Public Key", key), "[AB,1,000102030405060708090A0B0C0D,10] key");

  Bytes location;
  for (int i = 0; i < 13; ++i) location.push_back(0x11);
  PutText(location, 13, "Site");
  EXPECT_EQ(Octets("NGW: Location", location), "[11111111111111111111111111] Site");

  Bytes rights;
  PutU32(rights, 0, 1);
  PutU32(rights, 4, 2);
  PutU32(rights, 8, 3);
  rights.push_back(4);
  PutText(rights, 13, "SYS:APPS");
  EXPECT_EQ(Octets("App:FS Rights Path", rights), "(1/2/3/4) SYS:APPS");
  EXPECT_EQ(Octets("App:Folder List", rights), "(1/2/3) \x04SYS:APPS");

  Bytes config(100, 0);
  PutU32(config, 0, 7);
  PutText(config, 4, "alpha");
  PutText(config, 92, "beta");
  EXPECT_EQ(Octets("bhConfig", config), "[7] alpha beta ");
  Bytes user(20, 0);
  PutText(user, 15, "JOE");
  EXPECT_EQ(Octets("FW0 USER ADD", user), "JOE");
}

Bytes Printer(nuint16 portType) {
  Bytes bytes(320, 0);
  PutU16(bytes, 0, portType);
  PutU16(bytes, 2, 1);    // starting form
  PutU16(bytes, 4, 3);    // buffer size
  PutU16(bytes, 6, 1);    // form change
  PutU16(bytes, 8, 5);    // service interval
  PutU16(bytes, 10, 0);   // text
  PutText(bytes, 16, "HP");
  return bytes;
}

TEST(OctetLayout, PrinterConfiguration) {
  Bytes parallel = Printer(1);
  PutU16(parallel, 48, 0);
  PutU16(parallel, 50, 1);
  PutU16(parallel, 52, 1);
  PutU16(parallel, 54, 7);
  EXPECT_EQ(Octets("Printer Configuration", parallel),
            "Parallel (LPT1:) / IRQ 7 / Auto load / Text / Service Interval: 5 / Buffer Size: 3kB"
            " / Starting Form: 1 / Form Change: minimize within Qs / Driver Name: HP\r\n");

  Bytes serial = Printer(2);
  PutU16(serial, 48, 1);
  PutU16(serial, 56, 1);
  PutU16(serial, 58, 5);
  PutU16(serial, 60, 8);
  PutU16(serial, 62, 1);
  PutU16(serial, 64, 9);
  PutU16(serial, 10, 1);
  EXPECT_EQ(Octets("Printer Configuration", serial),
            "Serial (COM2:) / Polling / Manual load / Xon/Xoff  / 9600 bd / 8 Data bits / 1.5 Stop bits"
            " / n/a parity / Postscript / Service Interval: 5 / Buffer Size: 3kB / Starting Form: 1"
            " / Form Change: minimize within Qs / Driver Name: HP\r\n");
  PutU16(serial, 58, 40);  // a rate that does not fit a number
  EXPECT_THROW(Octets("Printer Configuration", serial), RangeCheckError);

  Bytes apple = Printer(4);
  PutText(apple, 48, "LW");
  PutText(apple, 82, "Zone");
  PutText(apple, 116, "Type");
  EXPECT_EQ(Octets("Printer Configuration", apple).substr(0, 21), "Apple LW Type (Zone) ");
  Bytes unix = Printer(5);
  PutText(unix, 48, "host");
  PutText(unix, 304, "queue");
  EXPECT_EQ(Octets("Printer Configuration", unix).substr(0, 16), "Unix host/queue ");
  Bytes odd = Printer(9);
  PutU16(odd, 6, 9);
  EXPECT_EQ(Octets("Printer Configuration", odd),
            "n/a / Text / Service Interval: 5 / Buffer Size: 3kB / Starting Form: 1 / Form Change: n/a"
            " / Driver Name: HP\r\n");
}

// Every named layout, cut short at every length, reads only the octets it has: the
// values live in exactly sized heap blocks, so a sanitizer build catches any overread.
TEST(OctetLayout, ShortValuesOfEveryLayoutStayInsideTheirOctets) {
  constexpr std::string_view kNames[] = {
      "App:GUID", "Bindery Property", "snmpTrapDescription", "CA Public Key", "memberQuery",
      "WM:INV DMA", "WM:INV Port", "WM:INV CPU Information", "WM:INV Volume", "NGW: Location",
      "App:Folder List", "App:FS Rights Path", "bhConfig", "FW0 USER ADD", "Partition Status",
      "Transitive Vector", "Printer Configuration", "unknown"};
  for (std::string_view name : kNames) {
    for (std::size_t length = 0; length <= 320; ++length) {
      std::vector<nuint8> octets(length, 0x41);
      for (int index : {1, 2}) {
        try {
          Octets(std::string(name), octets, index);
        } catch (const RangeCheckError&) {
          // Only the bindery property without text may fail, the serial printer, and a
          // partition status too short for its state.
          EXPECT_TRUE(name == "Bindery Property" || name == "Printer Configuration" ||
                      (name == "Partition Status" && length < kPartitionStatusMinBytes))
              << name << " " << length;
        }
      }
    }
  }
  // Missing numbers read as zero, missing texts as empty.
  EXPECT_EQ(Octets("Transitive Vector", Bytes{0x1A}), "(  1A/   0/   0) ");
  EXPECT_EQ(Octets("WM:INV CPU Information", Bytes{}), "[0] ");
}

TEST(OctetLayout, Utf16TextsBecomeUtf8) {
  Bytes vector(12, 0);
  // "Ä", a pair for U+1F600, then a lone high surrogate.
  for (nuint16 unit : {0x00C4, 0xD83D, 0xDE00, 0xD800, 0x0041, 0x0000}) PutU16(vector, vector.size(), unit);
  EXPECT_EQ(Octets("Transitive Vector", vector), "(   0/   0/   0) \xC3\x84\xF0\x9F\x98\x80\xEF\xBF\xBD" "A");
  // A name without its terminating zero, and an odd last byte.
  Bytes cut(12, 0);
  cut.push_back('Z');
  cut.push_back(0);
  cut.push_back('Y');
  EXPECT_EQ(Octets("Transitive Vector", cut), "(   0/   0/   0) Z");
}

}  // namespace
}  // namespace vestrel
