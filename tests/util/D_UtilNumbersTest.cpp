#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "util/D_Util.h"

namespace vestrel {
namespace {

TEST(TextToInt, DecimalHexSignsAndBlanks) {
  EXPECT_EQ(TextToIntDef("42", -1), 42);
  EXPECT_EQ(TextToIntDef(" - 4 2 ", 0), -42);
  EXPECT_EQ(TextToIntDef("+7", 0), 7);
  EXPECT_EQ(TextToIntDef("$1F", 0), 31);
  EXPECT_EQ(TextToIntDef("$ff", 0), 255);
  EXPECT_EQ(TextToIntDef("-$10", 0), -16);
  EXPECT_EQ(TextToIntDef("$FFFFFFFF", 0), -1);  // the 32-bit pattern
  EXPECT_EQ(TextToIntDef("2147483647", 0), 2147483647);
  EXPECT_EQ(TextToIntDef("-2147483648", 0), INT32_MIN);
}

TEST(TextToInt, MalformedOrOverflowingGivesDefault) {
  for (const char* bad : {"", " ", "+", "-", "$", "12a", "1.5", "0x10", "--1", "2147483648", "-2147483649",
                          "$100000000", "99999999999999999999999"}) {
    EXPECT_EQ(TextToIntDef(bad, -77), -77) << bad;
  }
}

TEST(Hex, BytesToHexIsTwoUpperCaseDigitsPerByte) {
  const std::uint8_t bytes[] = {0x0A, 0xFF, 0x00};
  EXPECT_EQ(BytesToHex(bytes, 2), "0AFF");
  EXPECT_EQ(BytesToHex(bytes, 3), "0AFF00");
  EXPECT_EQ(BytesToHex(bytes, 0), "");
}

TEST(Hex, HexToBytesStripsPrefixAndSeparators) {
  std::array<std::uint8_t, 8> buffer{};
  int count = 8;
  EXPECT_TRUE(HexToBytes("0x0A_ff", count, buffer.data()));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(buffer[0], 0x0A);
  EXPECT_EQ(buffer[1], 0xFF);
  count = 8;
  EXPECT_TRUE(HexToBytes("$01 02$03", count, buffer.data()));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(buffer[2], 0x03);
}

TEST(Hex, HexToBytesFailuresLeaveCountButKeepConvertedPairs) {
  std::array<std::uint8_t, 8> buffer{};
  int count = 8;
  EXPECT_FALSE(HexToBytes("0X0A", count, buffer.data()));  // upper-case X is not a prefix
  EXPECT_EQ(count, 8);
  EXPECT_FALSE(HexToBytes("ABC", count, buffer.data()));
  EXPECT_EQ(count, 8);
  EXPECT_EQ(buffer[0], 0xAB);  // the whole pair of an odd text stays written
  EXPECT_FALSE(HexToBytes("11zz22", count, buffer.data()));
  EXPECT_EQ(buffer[0], 0x11);
  EXPECT_EQ(buffer[2], 0x00);  // nothing after the bad pair
  EXPECT_FALSE(HexToBytes("", count, buffer.data()));
  EXPECT_FALSE(HexToBytes("0x", count, buffer.data()));
  EXPECT_EQ(count, 8);
}

TEST(Hex, HexToBytesWritesNoMoreThanCount) {
  std::array<std::uint8_t, 4> buffer{};
  int count = 2;
  EXPECT_TRUE(HexToBytes("01020304", count, buffer.data()));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(buffer[2], 0);
  count = -5;
  EXPECT_TRUE(HexToBytes("01", count, buffer.data()));
  EXPECT_EQ(count, 0);
}

TEST(Hex, HexToBytesCapsAt65535Bytes) {
  const std::string text(2 * 70000, 'A');
  std::vector<std::uint8_t> buffer(65535 + 16, 0);
  int count = 100000;
  EXPECT_TRUE(HexToBytes(text, count, buffer.data()));
  EXPECT_EQ(count, 65535);
  EXPECT_EQ(buffer[65534], 0xAA);
  EXPECT_EQ(buffer[65535], 0);
}

TEST(ZeroTerminated, PointersAndNulSuffix) {
  EXPECT_EQ(PCharToText("ab\0cd"), "ab");
  EXPECT_EQ(PCharToText(nullptr), "");
  const std::string empty;
  EXPECT_STREQ(TextPtr(empty), "");

  std::string text;
  const char* p = TextPtrWithNul(text);
  EXPECT_EQ(text, std::string(1, '\0'));
  EXPECT_EQ(p[0], '\0');
  EXPECT_EQ(p[1], '\0');

  text = "ab";
  p = TextPtrWithNul(text);
  EXPECT_EQ(text.size(), 3u);
  EXPECT_EQ(std::memcmp(p, "ab\0\0", 4), 0);
  TextPtrWithNul(text);  // already ends in NUL
  EXPECT_EQ(text.size(), 3u);

  text.assign(255, 'x');
  TextPtrWithNul(text);
  EXPECT_EQ(text.size(), 255u);
  text.assign(254, 'x');
  TextPtrWithNul(text);
  EXPECT_EQ(text.size(), 255u);
}

class Buffers : public ::testing::Test {
 protected:
  std::array<std::uint8_t, kTextBufferSize> buffer{};
  void Put(std::size_t at, std::string_view bytes) { std::memcpy(buffer.data() + at, bytes.data(), bytes.size()); }
};

TEST_F(Buffers, BufferToTextStopsAtZeroOrLimit) {
  Put(10, std::string_view("abc\0def", 7));
  EXPECT_EQ(BufferToText(buffer.data(), buffer.size(), 10, 100), "abc");
  EXPECT_EQ(BufferToText(buffer.data(), buffer.size(), 10, 2), "ab");
  EXPECT_EQ(BufferToText(buffer.data(), buffer.size(), 14, 100), "def");
  buffer.fill('z');
  EXPECT_EQ(BufferToText(buffer.data(), buffer.size(), 0, 5000).size(), 2303u);
}

TEST_F(Buffers, BufferToTextNeverReadsOutsideTheBuffer) {
  const std::uint8_t small[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(BufferToText(small, 4, 2, 2303), "cd");
  EXPECT_EQ(BufferToText(small, 4, 4, 10), "");
  EXPECT_EQ(BufferToText(small, 4, 1000, 10), "");
  EXPECT_EQ(BufferToText(nullptr, 0, 0, 10), "");
}

TEST_F(Buffers, BufferToLinesMakesOneLinePerString) {
  Put(0, std::string_view("one\0two\0", 8));
  EXPECT_EQ(BufferToLines(buffer.data(), buffer.size(), 0, 7), "one\r\ntwo");
  EXPECT_EQ(BufferToLines(buffer.data(), buffer.size(), 0, 8), "one\r\ntwo\r\n");
  Put(0, "a\tb");
  EXPECT_EQ(BufferToLines(buffer.data(), buffer.size(), 0, 3), "a\r\nb");
  EXPECT_EQ(BufferToLines(buffer.data(), buffer.size(), 0, 0), "");
}

TEST_F(Buffers, BufferToLinesReadsPastTheEndAsZeros) {
  const std::uint8_t small[3] = {'x', 0, 'y'};
  EXPECT_EQ(BufferToLines(small, 3, 0, 5), "x\r\ny\r\n\r\n");
  EXPECT_EQ(BufferToLines(small, 3, 9, 1), "\r\n");
  EXPECT_EQ(BufferToLines(small, 3, 0, 100000).size(), 2u + 2 * 2301u);  // capped at 2303 bytes
}

TEST(Durations, SplitAndText) {
  const DurationParts parts = SplitSeconds(2 * 86400 + 3 * 3600 + 4 * 60 + 5);
  EXPECT_EQ(parts.days, 2);
  EXPECT_EQ(parts.hours, 3);
  EXPECT_EQ(parts.minutes, 4);
  EXPECT_EQ(parts.seconds, 5);
  EXPECT_EQ(SplitSeconds(UINT32_MAX).days, 49710);

  EXPECT_EQ(SecondsToText(0), "0 sec");
  EXPECT_EQ(SecondsToText(59), "59 sec");
  EXPECT_EQ(SecondsToText(60), "1 min");
  EXPECT_EQ(SecondsToText(61), "1 min, 1 sec");
  EXPECT_EQ(SecondsToText(3600), "1 h");
  EXPECT_EQ(SecondsToText(3661), "1 h, 1 min, 1 sec");
  EXPECT_EQ(SecondsToText(86400), "1 days");
  EXPECT_EQ(SecondsToText(86400 + 3600 + 5), "1 days, 1 h, 5 sec");
}

TEST(Formatting, WidthPadsWithBlanksPrecisionWithZeros) {
  EXPECT_EQ(Format("%4X", 255), "  FF");
  EXPECT_EQ(Format("%.4X", 255), "00FF");
  EXPECT_EQ(Format("%d of %s", -3, std::string("x")), "-3 of x");
  EXPECT_STREQ(RangeCheckError().what(), "Range check error");
}

}  // namespace
}  // namespace vestrel
