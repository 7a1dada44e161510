// Rights letters, time texts and conversions, context names and the decoding of
// application-file streams.
#include <gtest/gtest.h>

#include <cmath>
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
using testing::ValueMemoryBuilder;
using testing::ZoneAndLocale;
using Bytes = std::vector<std::uint8_t>;

// ---- Rights ----

TEST(Rights, LettersStandInFixedPlaces) {
  EXPECT_EQ(RightsText(0x01 | 0x10, EntryRights), "[B   AI]");
  EXPECT_EQ(RightsText(0x40, EntryRights), "[      ]");
  EXPECT_EQ(RightsText(0x1F, EntryRights), "[BCDRAI]");
  EXPECT_EQ(RightsText(0x02 | 0x40, AttributeRights), "[ R   I]");
  EXPECT_EQ(RightsText(0x2F, AttributeRights), "[CRWSA ]");
  EXPECT_EQ(FormatAclValue(0x11, "admin.ORG", "[Entry Rights]"), "[B   AI] admin.ORG / [Entry Rights]");
  EXPECT_EQ(FormatAclValue(0x02, "[Public]", "Telephone Number"), "[ R    ] [Public] / Telephone Number");
}

TEST(Rights, KindAndAclTextRules) {
  EXPECT_EQ(RightsKindOf("[Entry Rights]"), EntryRights);
  EXPECT_EQ(RightsKindOf("x [Inheritance Mask] y"), EntryRights);
  EXPECT_EQ(RightsKindOf("[entry rights]"), AttributeRights);
  EXPECT_EQ(RightsKindOf("[All Attributes Rights]"), AttributeRights);
  EXPECT_EQ(AclText("BR", "u", "a"), "[BR] u / a");
  EXPECT_EQ(AclText("[BR]", "u", "a"), "[BR] u / a");
}

TEST(Rights, ParsingGivesBackEveryCombinationOfBits) {
  for (RightsKind kind : {EntryRights, AttributeRights}) {
    const std::vector<nuint32> bits = kind == EntryRights ? std::vector<nuint32>{0x01, 0x02, 0x04, 0x08, 0x10, 0x40}
                                                          : std::vector<nuint32>{0x01, 0x02, 0x04, 0x08, 0x20, 0x40};
    for (unsigned mask = 0; mask < 64; ++mask) {
      nuint32 privileges = 0;
      for (std::size_t i = 0; i < bits.size(); ++i)
        if (mask & (1u << i)) privileges |= bits[i];
      EXPECT_EQ(ParseRightsText(RightsText(privileges, kind), kind), privileges) << kind << " " << privileges;
    }
  }
  EXPECT_EQ(ParseRightsText(" 1 7", EntryRights), 17u);
  EXPECT_EQ(ParseRightsText("BR", EntryRights), 0x01u | 0x08u | 0x40u);
  EXPECT_EQ(ParseRightsText("br", AttributeRights), 0u);  // letters are case-sensitive
  EXPECT_THROW(ParseRightsText("-3", EntryRights), RangeCheckError);
}

// ---- Time ----

TEST(DirectoryTime, BiasFollowsTheZone) {
  {
    ZoneAndLocale zone("UTC", "de_DE");
    EXPECT_EQ(TimeZoneBias(), 0);
  }
  {
    ZoneAndLocale zone("UTC-2", "de_DE");  // two hours east of UTC
    EXPECT_EQ(TimeZoneBias(), -120);
  }
  ZoneAndLocale zone("EST5", "de_DE");
  EXPECT_EQ(TimeZoneBias(), 300);
}

TEST(DirectoryTime, TextsInTheLocaleAndZone) {
  {
    ZoneAndLocale zone("UTC", "de_DE");
    EXPECT_EQ(DirTimeText(0, true), "01.01.70");  // midnight: the date alone
    EXPECT_EQ(DirTimeText(3661, true), "01.01.70 01:01:01");
    EXPECT_EQ(DirTimeText(1700000000, false), "14.11.23 22:13:20");
    EXPECT_EQ(ShortDateTimeText(25569.5), "01.01.70 12:00");
    EXPECT_EQ(ShortDateTimeText(25569.0), "01.01.70 00:00");
  }
  {
    ZoneAndLocale zone("UTC-2", "de_DE");
    EXPECT_EQ(DirTimeText(0, true), "01.01.70 02:00:00");
    EXPECT_EQ(DirTimeText(0, false), "01.01.70");
  }
  {
    ZoneAndLocale zone("UTC", "en_US");
    EXPECT_EQ(DirTimeText(3661, true), "1/1/70 1:01:01 AM");
  }
  // The POSIX default locale shows what plain en_US shows.
  ZoneAndLocale zone("UTC", "en_US_POSIX");
  EXPECT_EQ(DirTimeText(3661, true), "1/1/70 1:01:01 AM");
}

TEST(DirectoryTime, TimeStampValuesShowLocalTime) {
  ZoneAndLocale zone("UTC-1", "de_DE");
  ValueMemoryBuilder stamp(sizeof(TimeStamp_T));
  stamp.SetRecord(TimeStamp_T{3600, 1, 2});
  TextList lines;
  FormatAttrValue(0, "o", "a", lines, stamp.Base(), stamp.Size(), SYN_TIMESTAMP, 1);
  FormatAttrValue(0, "o", "a", lines, stamp.Base(), sizeof(nuint32), SYN_TIME, 1);
  EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"01.01.70 02:00:00", "01.01.70 02:00:00"}));
}

TEST(DirectoryTime, DateTimeBackToDirectoryTime) {
  ZoneAndLocale zone("UTC-2", "de_DE");
  EXPECT_EQ(DateTimeToDirTime(false, 25569.0), 0u);
  EXPECT_EQ(DateTimeToDirTime(true, 25569.0 + 2.0 / 24), 0u);
  EXPECT_EQ(DateTimeToDirTime(false, 25569.0 + 1.4 / 86400), 1u);
  EXPECT_EQ(DateTimeToDirTime(false, 25569.0 + 1.6 / 86400), 2u);
  for (nuint32 seconds : {0u, 1u, 86399u, 1700000000u, 4294967295u})
    EXPECT_EQ(DateTimeToDirTime(false, DirTimeToDateTime(seconds)), seconds);
  EXPECT_THROW(DateTimeToDirTime(false, 25568.0), RangeCheckError);
  EXPECT_THROW(DateTimeToDirTime(false, 25569.0 + 4294967296.0 / 86400), RangeCheckError);
  EXPECT_THROW(DateTimeToDirTime(false, std::nan("")), RangeCheckError);
  EXPECT_THROW(DateTimeToDirTime(true, 25569.0), RangeCheckError);  // 02:00 local is before 1970 UTC
}

// ---- Names ----

TEST(ContextNames, JoinAndParent) {
  EXPECT_EQ(JoinContextName("Sales.Acme", ".."), "Acme");
  EXPECT_EQ(JoinContextName(".Sales.Acme", "[ .. ]"), "Acme");
  EXPECT_EQ(JoinContextName("Acme", ".."), "[Root]");
  EXPECT_EQ(JoinContextName("[Root]", ".."), "[Root]");
  EXPECT_EQ(JoinContextName("[Root]", "Acme"), AbsoluteName("Acme"));
  EXPECT_EQ(JoinContextName("", "Acme"), ".Acme");
  EXPECT_EQ(JoinContextName("Sales.Acme", ""), "Sales.Acme");
  EXPECT_EQ(JoinContextName("Sales.Acme", "."), "Sales.Acme");
  EXPECT_EQ(JoinContextName("Sales.Acme", ".SRV1.Acme"), ".SRV1.Acme");
  EXPECT_EQ(JoinContextName(".Acme", "SRV1"), ".SRV1.Acme");
  EXPECT_EQ(JoinContextName("Acme", "SRV1"), "SRV1.Acme");
}

// ---- Application-file streams ----

// A stream buffer as the reader has it: zero-filled past the bytes read.
struct Stream {
  Bytes buffer = Bytes(StreamBufferSize, 0);
  std::size_t count = 0;

  void Put(const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + count);
    count += bytes.size();
  }
  void PutU32At(nuint32 value) {
    Bytes bytes;
    PutU32(bytes, 0, value);
    Put(bytes);
  }
  void PutChars(const std::string& text) { Put(Bytes(text.begin(), text.end())); }
  void Header() {
    PutChars("AOT FILE");
    PutU32At(0xA);
    PutU32At(0xB);
    PutU32At(0xC);
    Put({0x0D, 0, 0x0E, 0});
  }
  std::string Decode(const std::string& attr, std::string text = "start") const {
    DecodeAotStream(buffer, count, attr, text);
    return text;
  }
};

TEST(AotStream, OnlyApplicationFilesAreDecoded) {
  Stream plain;
  plain.PutChars("AOT FIL");
  EXPECT_EQ(plain.Decode("App:Macros"), "start");
  Stream shortOne;
  shortOne.PutChars("AOT FILE");
  shortOne.Put({1, 2});
  EXPECT_EQ(shortOne.Decode("App:Macros"), "AOT FILE (10 bytes)");
  Stream header;
  header.Header();
  EXPECT_EQ(header.Decode("App:Macros"), "AOT FILE (24 bytes) (A/B/C D/E)");
}

TEST(AotStream, CharacterDumpBreaksLinesAtRunsOfControlBytes) {
  Stream stream;
  stream.Header();
  stream.PutChars("abc");
  stream.Put({1, 2, 3});
  stream.PutChars("def");
  EXPECT_EQ(stream.Decode("App:Other"), "AOT FILE (33 bytes) (A/B/C D/E)abc\r\ndef\r\n");
  Stream leading;
  leading.Header();
  leading.Put({5});
  leading.PutChars("x");
  EXPECT_EQ(leading.Decode("App:Other"), "AOT FILE (26 bytes) (A/B/C D/E)\r\nx\r\n");
}

TEST(AotStream, FixedRecords) {
  Stream macros;
  macros.Header();
  for (nuint32 n : {1u, 2u, 0x1234u}) macros.PutU32At(n);
  macros.PutU32At(2);
  macros.PutChars("ab");
  macros.PutU32At(3);
  macros.PutChars("cde");
  EXPECT_EQ(macros.Decode("App:Macros"), "AOT FILE (49 bytes) (A/B/C D/E)\r\n\r\n (   1/   2/1234) ab / cde\r\n");

  // A record cut short ends with " / ".
  Stream cut;
  cut.Header();
  for (nuint32 n : {1u, 2u, 3u}) cut.PutU32At(n);
  cut.PutU32At(2);
  cut.PutChars("ab");
  EXPECT_EQ(DecodeAotRecords(cut.buffer, cut.count, 3, 2), "\r\n (   1/   2/   3) ab / \r\n");

  Stream copies;
  copies.Header();
  for (nuint32 n : {9u, 8u, 7u, 6u}) copies.PutU32At(n);
  copies.PutU32At(4);
  copies.PutChars("file");
  EXPECT_EQ(DecodeAotRecords(copies.buffer, copies.count, 4, 1), "\r\n (   9/   8/   7/   6) file\r\n");

  // A count above 1024 ends the walk: the bytes after it are not shown as records; a
  // count of exactly 1024 cannot be held.
  Stream big;
  big.Header();
  for (nuint32 n : {1u, 2u, 3u}) big.PutU32At(n);
  big.PutU32At(1025);
  big.PutChars("x");
  EXPECT_EQ(DecodeAotRecords(big.buffer, big.count, 3, 2), "\r\n (   1/   2/   3) \r\n");
  for (nuint32 n : {4u, 5u, 6u, 7u}) big.PutU32At(n);
  big.PutU32At(2);
  big.PutChars("ab");
  EXPECT_EQ(DecodeAotRecords(big.buffer, big.count, 3, 2), "\r\n (   1/   2/   3) \r\n");
  Stream full;
  full.Header();
  for (nuint32 n : {1u, 2u, 3u}) full.PutU32At(n);
  full.PutU32At(1024);
  full.PutChars(std::string(1024, 'x'));
  EXPECT_THROW(full.Decode("App:Macros"), RangeCheckError);
}

TEST(AotStream, FreeWalkOfCountedAndPlainStrings) {
  Stream stream;
  stream.Header();
  stream.PutU32At(6);
  stream.Put({'H', 'e', 'l', 'l', 'o', 0});
  stream.PutU32At(0x1234);
  stream.Put({'W', 'o', 'r', 'l', 'd', 0});
  EXPECT_EQ(DecodeAotRecords(stream.buffer, stream.count, -1, -1), "\r\nHello\r\n1234 World\r\n");
  EXPECT_EQ(stream.Decode("App:Inventory"), "AOT FILE (44 bytes) (A/B/C D/E)\r\n\r\nHello\r\n1234 World\r\n");

  // Two lead bytes before a string are stepped over; numbers after the last string are
  // not shown.
  Stream lead;
  lead.Header();
  lead.Put({0x01, 0x00, 'A', 'B', 'C', 0, 0, 0});
  lead.PutU32At(0x99);
  EXPECT_EQ(DecodeAotRecords(lead.buffer, lead.count, -1, -1), "\r\nABC\r\n");

  Stream longText;
  longText.Header();
  longText.PutChars(std::string(1023, 'x'));
  EXPECT_EQ(DecodeAotRecords(longText.buffer, longText.count, -1, -1), "\r\n" + std::string(1023, 'x') + "\r\n");
  longText.PutChars("y");
  EXPECT_THROW(DecodeAotRecords(longText.buffer, longText.count, -1, -1), RangeCheckError);
}

TEST(AotStream, FillerBytesAndTheEndOfTheBuffer) {
  const Bytes filler{0x00, 0x00, 0x41, 0x00, 0x00, 0x41, 0x42, 0x00, 0x41, 0x00, 0x00, 0x00};
  EXPECT_EQ(SkipFillerBytes(filler, 0), 2u);
  EXPECT_EQ(SkipFillerBytes(filler, 4), 4u);  // two non-zero bytes
  EXPECT_EQ(SkipFillerBytes(filler, 8), 8u);  // below 256
  EXPECT_EQ(SkipFillerBytes(filler, 11), 11u);
  // A buffer that ends without zeros: nothing past it is read.
  Bytes tight{'A', 'O', 'T', ' ', 'F', 'I', 'L', 'E'};
  tight.resize(40, 'z');
  std::string text;
  DecodeAotStream(tight, tight.size(), "App:Inventory", text);
  EXPECT_EQ(text.substr(0, 20), "AOT FILE (40 bytes) ");
  text.clear();
  DecodeAotStream(tight, 5000, "App:Other", text);
  EXPECT_EQ(text, "AOT FILE (40 bytes) (7A7A7A7A/7A7A7A7A/7A7A7A7A 7A7A/7A7A)" + std::string(16, 'z'));
}

}  // namespace
}  // namespace vestrel
