// Numbers, hexadecimal, zero-terminated texts, buffers and durations.
#include <cstring>
#include <limits>

#include "util/D_Util.h"

namespace vestrel {
namespace {

constexpr std::size_t kCopyLimit = kTextBufferSize - 1;  // the work area keeps a final zero
constexpr int kMaxHexBytes = 65535;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Digits in the given base accumulated into magnitude; false on an empty run, a
// foreign character, or a value above limit.
bool ParseMagnitude(std::string_view digits, int base, std::uint64_t limit, std::uint64_t& magnitude) {
  if (digits.empty()) return false;
  magnitude = 0;
  for (char c : digits) {
    const int value = HexDigitValue(c);
    if (value < 0 || value >= base) return false;
    magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(value);
    if (magnitude > limit) return false;
  }
  return true;
}

// Copies n = min(length, 2303) bytes from buffer at offset into a zeroed work area, the
// way a fixed 2304-byte area would receive them; bytes beyond bufferSize read as zero.
std::string CopyToWorkArea(const std::uint8_t* buffer, std::size_t bufferSize, std::size_t offset, std::size_t length) {
  const std::size_t n = std::min(length, kCopyLimit);
  std::string area(n, '\0');
  if (buffer == nullptr || offset >= bufferSize) return area;
  const std::size_t available = std::min(n, bufferSize - offset);
  std::memcpy(area.data(), buffer + offset, available);
  return area;
}

}  // namespace

std::int32_t TextToIntDef(std::string_view text, std::int32_t defaultValue) {
  const std::string digits = DeleteChars(text, " ");
  std::string_view rest = digits;
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  std::uint64_t magnitude = 0;
  if (!rest.empty() && rest.front() == '$') {
    // Hexadecimal spells the 32-bit pattern: "$FFFFFFFF" is -1.
    rest.remove_prefix(1);
    if (!ParseMagnitude(rest, 16, std::numeric_limits<std::uint32_t>::max(), magnitude)) return defaultValue;
    const auto pattern = static_cast<std::uint32_t>(magnitude);
    const std::uint32_t value = negative ? 0u - pattern : pattern;
    return static_cast<std::int32_t>(value);
  }
  const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
  if (!ParseMagnitude(rest, 10, limit, magnitude)) return defaultValue;
  const std::int64_t value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return static_cast<std::int32_t>(value);
}

std::string BytesToHex(const void* buffer, std::uint16_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  if (buffer == nullptr) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::string hex;
  hex.reserve(static_cast<std::size_t>(count) * 2);
  for (std::size_t i = 0; i < count; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

bool HexToBytes(std::string_view text, int& count, std::uint8_t* buffer) {
  if (text.substr(0, 2) == "0x") text.remove_prefix(2);
  const std::string digits = DeleteChars(text, "$_ ");
  bool ok = !digits.empty() && digits.size() % 2 == 0;
  const int pairs = static_cast<int>(std::min<std::size_t>(digits.size() / 2, kMaxHexBytes));
  int n = std::max(0, std::min(count, pairs));
  if (buffer == nullptr) n = 0;
  // Pairs converted before a bad one stay written, even when the result is false.
  for (int i = 0; i < n; ++i) {
    const int high = HexDigitValue(digits[2 * static_cast<std::size_t>(i)]);
    const int low = HexDigitValue(digits[2 * static_cast<std::size_t>(i) + 1]);
    if (high < 0 || low < 0) {
      ok = false;
      break;
    }
    buffer[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  if (ok) count = n;
  return ok;
}

std::string PCharToText(const char* text) { return text ? std::string(text) : std::string(); }

const char* TextPtr(const std::string& text) { return text.c_str(); }

const char* TextPtrWithNul(std::string& text) {
  if (text.size() < 255 && (text.empty() || text.back() != '\0')) text += '\0';
  // std::string keeps its own terminator after the appended NUL: two zero bytes.
  return text.data();
}

std::string BufferToText(const std::uint8_t* buffer, std::size_t bufferSize, std::size_t offset, std::size_t maxLength) {
  std::string area = CopyToWorkArea(buffer, bufferSize, offset, maxLength);
  const std::size_t end = area.find('\0');
  if (end != std::string::npos) area.resize(end);
  return area;
}

std::string BufferToLines(const std::uint8_t* buffer, std::size_t bufferSize, std::size_t offset, std::size_t length) {
  std::string area = CopyToWorkArea(buffer, bufferSize, offset, length);
  // Every copied byte is now non-zero, so the text runs to the end of the copy.
  for (char& c : area) {
    if (c == '\0') c = '\t';
  }
  return ReplaceInText(area, "\t", "\r\n");
}

DurationParts SplitSeconds(std::uint32_t seconds) {
  return DurationParts{static_cast<std::uint16_t>(seconds / 86400), static_cast<std::uint16_t>((seconds / 3600) % 24),
                       static_cast<std::uint16_t>((seconds / 60) % 60), static_cast<std::uint16_t>(seconds % 60)};
}

std::string SecondsToText(std::uint32_t seconds) {
  if (seconds == 0) return "0 sec";
  const DurationParts parts = SplitSeconds(seconds);
  std::string text;
  if (parts.days > 0) text += Format("%d days, ", parts.days);
  if (parts.hours > 0) text += Format("%d h, ", parts.hours);
  if (parts.minutes > 0) text += Format("%d min, ", parts.minutes);
  if (parts.seconds > 0) text += Format("%d sec", parts.seconds);
  return TrimRightChars(text, ", ");
}

}  // namespace vestrel
