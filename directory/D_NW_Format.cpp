// Small conversions that go with values: replica states, network addresses, rights
// letters, directory times and local date-time texts, context names.
#include "directory/D_NW_Format.h"

#include <cmath>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include "directory/D_NW_FormatBytes.h"
#include "directory/D_NW_Session.h"
#include "util/D_Util.h"

namespace vestrel {

std::string ReplicaStateText(nint32 state) {
  switch (state) {
    case RS_LOCAL_ERROR: return "(local error)";
    case RS_REMOTE_ERROR: return "(remote error)";
    case RS_IN_SYNC: return "(in sync)";
    default: return Format("(%d - unknown)", state);
  }
}

// ---- Network addresses ----

namespace {

std::string IpAddressText(const OctetView& bytes, std::size_t first, std::size_t portAt) {
  return Format("%d.%d.%d.%d:%d", bytes.Byte(first), bytes.Byte(first + 1), bytes.Byte(first + 2),
                bytes.Byte(first + 3), bytes.U16Be(portAt));
}

}  // namespace

std::string NetAddressText(nuint32 addressType, const nuint8* address, std::size_t length, bool withType) {
  if (address == nullptr) return {};
  const OctetView bytes({address, length});
  std::string text;
  switch (addressType) {
    case 0:  // IPX: network and node
      text = Format("%s:%s", bytes.Hex(0, 4), bytes.Hex(4, 6));
      break;
    case 1: case 7: case 10: case 11:  // address, then the port
      text = IpAddressText(bytes, 0, 4);
      break;
    case 8: case 9:  // the port, then the address
      text = IpAddressText(bytes, 2, 0);
      break;
    case 13:
      text = bytes.WideText(0);
      break;
    default:
      return Format("(%d) [%s]", static_cast<nint32>(addressType), bytes.Hex(0, 12));
  }
  return withType ? Format("(%d) ", static_cast<nint32>(addressType)) + text : text;
}

// ---- Access-control entries ----

namespace {

struct RightLetter {
  char letter;
  nuint32 bit;
};
constexpr RightLetter kEntryLetters[] = {{'B', 0x01}, {'C', 0x02}, {'D', 0x04}, {'R', 0x08}, {'A', 0x10}};
constexpr RightLetter kAttributeLetters[] = {{'C', 0x01}, {'R', 0x02}, {'W', 0x04}, {'S', 0x08}, {'A', 0x20}};
constexpr nuint32 kInheritBit = 0x40;

std::span<const RightLetter> LettersOf(RightsKind kind) {
  if (kind == EntryRights) return kEntryLetters;
  return kAttributeLetters;
}

// Entry rights show "I" while inheritance is not blocked; attribute rights while it is set.
bool InheritShown(nuint32 privileges, RightsKind kind) {
  const bool bitSet = (privileges & kInheritBit) != 0;
  return kind == EntryRights ? !bitSet : bitSet;
}

}  // namespace

RightsKind RightsKindOf(const std::string& protectedAttrName) {
  const bool entry = protectedAttrName.find("[Entry Rights]") != std::string::npos ||
                     protectedAttrName.find("[Inheritance Mask]") != std::string::npos;
  return entry ? EntryRights : AttributeRights;
}

std::string RightsText(nuint32 privileges, RightsKind kind) {
  std::string row;
  for (const RightLetter& right : LettersOf(kind)) row += (privileges & right.bit) ? right.letter : ' ';
  row += InheritShown(privileges, kind) ? 'I' : ' ';
  return Format("[%s]", row);
}

std::string AclText(const std::string& rights, const std::string& subject, const std::string& attribute) {
  const std::string bracketed = rights.find('[') == std::string::npos ? "[" + rights + "]" : rights;
  return Format("%s %s / %s", bracketed, subject, attribute);
}

std::string FormatAclValue(nuint32 privileges, const std::string& subject, const std::string& attribute) {
  return AclText(RightsText(privileges, RightsKindOf(attribute)), subject, attribute);
}

nuint32 ParseRightsText(const std::string& text, RightsKind kind) {
  const nint32 number = TextToIntDef(DeleteChars(text, " "), 0);
  if (number < 0) RaiseRangeCheck();
  if (number != 0) return static_cast<nuint32>(number);
  nuint32 privileges = 0;
  for (const RightLetter& right : LettersOf(kind))
    if (text.find(right.letter) != std::string::npos) privileges |= right.bit;
  const bool hasI = text.find('I') != std::string::npos;
  if (kind == EntryRights ? !hasI : hasI) privileges |= kInheritBit;
  return privileges;
}

// ---- Time ----

int TimeZoneBias() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return static_cast<int>(-local.tm_gmtoff / 60);
}

namespace {

constexpr double kUnixEpochDay = 25569.0;
constexpr double kMsPerDay = 86400000.0;

// The user's locale for date and time texts; the POSIX default stands for plain en_US.
icu::Locale DisplayLocale() {
  icu::Locale locale = icu::Locale::getDefault();
  if (std::string(locale.getName()) == "en_US_POSIX") return icu::Locale("en_US");
  return locale;
}

// One formatter per locale and style, made on first use. The value already holds the
// wall-clock time to show, so the formatter works in GMT.
const icu::DateFormat* DateFormatter(icu::DateFormat::EStyle dateStyle, icu::DateFormat::EStyle timeStyle) {
  static thread_local std::map<std::string, std::unique_ptr<icu::DateFormat>> formatters;
  const icu::Locale locale = DisplayLocale();
  const std::string key = Format("%s/%d/%d", locale.getName(), static_cast<int>(dateStyle),
                                 static_cast<int>(timeStyle));
  auto found = formatters.find(key);
  if (found == formatters.end()) {
    std::unique_ptr<icu::DateFormat> formatter(
        icu::DateFormat::createDateTimeInstance(dateStyle, timeStyle, locale));
    if (formatter) formatter->setTimeZone(*icu::TimeZone::getGMT());
    found = formatters.emplace(key, std::move(formatter)).first;
  }
  return found->second.get();
}

// ICU puts a narrow no-break space before the day period ("12:00:00 AM"); the grids and
// exported documents want a plain blank there.
std::string PlainBlanks(std::string text) { return ReplaceInText(text, "\xE2\x80\xAF", " "); }

bool FormatPart(double dateTime, icu::DateFormat::EStyle dateStyle, icu::DateFormat::EStyle timeStyle,
                std::string& text) {
  const icu::DateFormat* formatter = DateFormatter(dateStyle, timeStyle);
  if (formatter == nullptr || !std::isfinite(dateTime)) return false;
  icu::UnicodeString out;
  // Whole milliseconds: the day fraction of 01:01:01 is a hair below it in binary.
  formatter->format(std::round((dateTime - kUnixEpochDay) * kMsPerDay), out);
  if (out.isBogus()) return false;
  std::string utf8;
  out.toUTF8String(utf8);
  text = PlainBlanks(utf8);
  return true;
}

bool IsMidnight(double dateTime) {
  const double ms = std::round((dateTime - kUnixEpochDay) * kMsPerDay);
  return std::fmod(ms, kMsPerDay) == 0.0;
}

// Locale short date and long time; midnight shows the date alone. A part that cannot
// be formatted is left out; the text may end up empty.
std::string LocalDateTimeText(double dateTime) {
  std::string date;
  std::string time;
  const bool hasDate = FormatPart(dateTime, icu::DateFormat::kShort, icu::DateFormat::kNone, date);
  if (hasDate && IsMidnight(dateTime)) return date;
  const bool hasTime = FormatPart(dateTime, icu::DateFormat::kNone, icu::DateFormat::kMedium, time);
  if (hasDate && hasTime) return date + " " + time;
  return hasDate ? date : time;
}

}  // namespace

std::string DirTimeText(nuint32 directoryTime, bool toLocal) {
  double dateTime = DirTimeToDateTime(directoryTime);
  if (toLocal) dateTime -= TimeZoneBias() / 1440.0;
  return LocalDateTimeText(dateTime);
}

std::string ShortDateTimeText(double dateTime) {
  std::string date;
  std::string time;
  FormatPart(dateTime, icu::DateFormat::kShort, icu::DateFormat::kNone, date);
  FormatPart(dateTime, icu::DateFormat::kNone, icu::DateFormat::kShort, time);
  return date + " " + time;
}

namespace {

icu::UnicodeString PatternOf(icu::DateFormat::EStyle dateStyle, icu::DateFormat::EStyle timeStyle) {
  icu::UnicodeString pattern;
  if (const auto* format = dynamic_cast<const icu::SimpleDateFormat*>(DateFormatter(dateStyle, timeStyle)))
    format->toPattern(pattern);
  return pattern;
}

// The forms a date-time text is read in, most likely first: the texts DirTimeText and
// ShortDateTimeText write (short date, a blank, medium or short time), the locale's own
// joined forms, and the date alone.
std::vector<icu::UnicodeString> ReadablePatterns() {
  const icu::UnicodeString date = PatternOf(icu::DateFormat::kShort, icu::DateFormat::kNone);
  const icu::UnicodeString blank(" ");
  std::vector<icu::UnicodeString> patterns{
      date + blank + PatternOf(icu::DateFormat::kNone, icu::DateFormat::kMedium),
      date + blank + PatternOf(icu::DateFormat::kNone, icu::DateFormat::kShort),
      PatternOf(icu::DateFormat::kShort, icu::DateFormat::kMedium),
      PatternOf(icu::DateFormat::kShort, icu::DateFormat::kShort),
      date};
  // Texts are shown with plain blanks where ICU puts a narrow no-break space.
  for (icu::UnicodeString& pattern : patterns)
    pattern.findAndReplace(icu::UnicodeString(static_cast<UChar>(0x202F)), blank);
  return patterns;
}

bool ParseWith(const icu::UnicodeString& pattern, const icu::UnicodeString& text, UDate& millis) {
  UErrorCode status = U_ZERO_ERROR;
  icu::SimpleDateFormat format(pattern, DisplayLocale(), status);
  if (U_FAILURE(status)) return false;
  // The wall-clock time is wanted, so no zone shifts it.
  format.setTimeZone(*icu::TimeZone::getGMT());
  format.setLenient(false);
  // A two-digit year means 1969 to 2068: directory times begin in 1970, whose first
  // hours are still 1969 west of Greenwich.
  constexpr UDate kFirstOf1969 = -365.0 * kMsPerDay;
  format.set2DigitYearStart(kFirstOf1969, status);
  icu::ParsePosition position(0);
  const UDate parsed = format.parse(text, position);
  if (U_FAILURE(status) || position.getErrorIndex() >= 0 || position.getIndex() != text.length()) return false;
  millis = parsed;
  return true;
}

}  // namespace

bool LocalTextToDateTime(const std::string& text, double& dateTime) {
  const std::string trimmed = TrimLeftChars(TrimRightChars(text, " \t"), " \t");
  if (trimmed.empty()) return false;
  const icu::UnicodeString input = icu::UnicodeString::fromUTF8(PlainBlanks(trimmed));
  for (const icu::UnicodeString& pattern : ReadablePatterns()) {
    UDate millis = 0;
    if (pattern.isEmpty() || !ParseWith(pattern, input, millis)) continue;
    dateTime = kUnixEpochDay + millis / kMsPerDay;
    return true;
  }
  return false;
}

nuint32 DateTimeToDirTime(bool fromLocal, double dateTime) {
  if (fromLocal) dateTime += TimeZoneBias() / 1440.0;
  // nearbyint rounds halves to even in the default rounding mode.
  const double seconds = std::nearbyint((dateTime - kUnixEpochDay) * 86400.0);
  if (!(seconds >= 0.0 && seconds <= 4294967295.0)) RaiseRangeCheck();
  return static_cast<nuint32>(seconds);
}

// ---- Names ----

std::string JoinContextName(const std::string& context, const std::string& name) {
  if (name.empty() || name == ".") return context;
  if (name == "[ .. ]" || name == "..") {
    const std::string withoutDots = TrimLeftChars(context, ".");
    const std::size_t dot = withoutDots.find('.');
    return dot == std::string::npos ? "[Root]" : withoutDots.substr(dot + 1);
  }
  if (context.empty() || context == "[Root]" || name.front() == '.') return AbsoluteName(name);
  if (context.front() == '.') return "." + name + context;
  return name + "." + context;
}

}  // namespace vestrel
