#include "platform/nwclient/ldap/LdapValues.h"

#include <cstdio>
#include <vector>

#include "platform/nwclient/ldap/Ber.h"
#include "platform/nwclient/ldap/LdapSchema.h"

namespace vestrel::nw::ldap {

namespace {

constexpr std::int64_t kMaxU32 = 0xFFFFFFFFll;
constexpr std::int64_t kMinI32 = -0x80000000ll;

Value Malformed() {
  Value value;
  value.malformed = true;
  return value;
}

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
std::string_view AsText(const Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A decimal number from low to high, without blanks; false otherwise.
bool ParseDecimal(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 12) return false;
  std::int64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  value = negative ? -number : number;
  return value >= low && value <= high;
}

// A 32-bit field: any number from -2^31 to 2^32 - 1, kept as its bit pattern.
bool ParseField(std::string_view text, nuint32& value) {
  std::int64_t number = 0;
  if (!ParseDecimal(text, kMinI32, kMaxU32, number)) return false;
  value = static_cast<nuint32>(number);
  return true;
}

bool ParseUnsigned(std::string_view text, std::int64_t high, nuint32& value) {
  std::int64_t number = 0;
  if (!ParseDecimal(text, 0, high, number)) return false;
  value = static_cast<nuint32>(number);
  return true;
}

// "a#b#c": the text cut at its first count - 1 "#" (fromRight: at its last ones).
bool SplitFields(std::string_view text, std::size_t count, bool fromRight, std::vector<std::string_view>& fields) {
  fields.assign(count, {});
  for (std::size_t i = 0; i + 1 < count; ++i) {
    const std::size_t at = fromRight ? text.rfind('#') : text.find('#');
    if (at == std::string_view::npos) return false;
    if (fromRight) {
      fields[count - 1 - i] = text.substr(at + 1);
      text = text.substr(0, at);
    } else {
      fields[i] = text.substr(0, at);
      text = text.substr(at + 1);
    }
  }
  fields[fromRight ? 0 : count - 1] = text;
  return true;
}

// RFC 4517 postal form: items separated by "$"; "\24" is a "$", "\5C" a "\".
bool ParsePostal(std::string_view text, std::vector<std::string>& items) {
  items.assign(1, {});
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '$') {
      items.emplace_back();
    } else if (text[i] == '\\') {
      const std::string_view code = text.substr(i + 1, 2);
      if (code == "24") items.back() += '$';
      else if (code == "5C" || code == "5c") items.back() += '\\';
      else return false;
      i += 2;
    } else {
      items.back() += text[i];
    }
  }
  return true;
}

std::string PostalText(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) text += '$';
    for (char c : items[i]) text += c == '$' ? "\\24" : c == '\\' ? "\\5C" : std::string(1, c);
  }
  return text;
}

Value NetAddress(std::string_view bytes) {
  Value value;
  BerReader reader(bytes);
  BerReader inner("");
  std::string address;
  if (reader.Sequence(inner) && inner.U32(value.number) && inner.OctetString(address) && inner.AtEnd() &&
      reader.AtEnd()) {
    value.bytes = ToBytes(address);
    return value;
  }
  const std::size_t hash = bytes.find('#');
  if (hash == std::string_view::npos || !ParseField(bytes.substr(0, hash), value.number)) return Malformed();
  value.bytes = ToBytes(bytes.substr(hash + 1));
  return value;
}

Value TimeStamp(std::string_view bytes) {
  Value value;
  BerReader reader(bytes);
  BerReader inner("");
  const bool ber = reader.Sequence(inner) && inner.U32(value.number) && inner.U32(value.number2) &&
                   inner.U32(value.number3) && inner.AtEnd() && reader.AtEnd();
  std::vector<std::string_view> fields;
  const bool text = !ber && SplitFields(bytes, 3, false, fields) && ParseUnsigned(fields[0], kMaxU32, value.number) &&
                    ParseUnsigned(fields[1], 0xFFFF, value.number2) && ParseUnsigned(fields[2], 0xFFFF, value.number3);
  // Replica and event numbers are 16-bit fields of the record.
  if ((!ber && !text) || value.number2 > 0xFFFF || value.number3 > 0xFFFF) return Malformed();
  return value;
}

Value ReplicaPointer(std::string_view bytes) {
  Value value;
  BerReader reader(bytes);
  BerReader pointer("");
  std::string server;
  nuint32 rootId = 0;
  if (!reader.Sequence(pointer) || !reader.AtEnd() || !pointer.OctetString(server) || !pointer.U32(value.number) ||
      !pointer.U32(value.state) || !pointer.U32(rootId) || !pointer.U32(value.number2))
    return Malformed();
  value.text = server;
  BerReader hints("");
  if (pointer.AtEnd()) return value;  // a pointer without address hints
  if (!pointer.Sequence(hints) || !pointer.AtEnd()) return Malformed();
  bool first = true;
  while (!hints.AtEnd()) {
    BerReader hint("");
    nuint32 type = 0;
    std::string address;
    if (!hints.Sequence(hint) || !hint.U32(type) || !hint.OctetString(address) || !hint.AtEnd()) return Malformed();
    if (first) {  // the record shows the first hint
      value.number3 = type;
      value.bytes = ToBytes(address);
      first = false;
    }
  }
  return value;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yoe = year - era * 400;
  const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool ParseGeneralizedTime(std::string_view text, nuint32& seconds) {
  int year, month, day, hour, minute = 0, second = 0;
  if (!Digits(text, 0, 4, year) || !Digits(text, 4, 2, month) || !Digits(text, 6, 2, day) || !Digits(text, 8, 2, hour))
    return false;
  std::size_t at = 10;
  if (Digits(text, at, 2, minute)) {
    at += 2;
    if (Digits(text, at, 2, second)) at += 2;
  }
  if (at < text.size() && (text[at] == '.' || text[at] == ',')) {  // a fraction of a second is dropped
    ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  }
  std::int64_t offset = 0;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    int hours = 0, minutes = 0;
    if (!Digits(text, at + 1, 2, hours)) return false;
    std::size_t end = at + 3;
    if (Digits(text, end, 2, minutes)) end += 2;
    offset = (text[at] == '+' ? 1 : -1) * (hours * 3600 + minutes * 60);
    at = end;
  } else {
    return false;
  }
  if (at != text.size() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  const std::int64_t total = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
  if (total < 0 || total > kMaxU32) return false;
  seconds = static_cast<nuint32>(total);
  return true;
}

std::string GeneralizedTime(nuint32 seconds) {
  const std::int64_t days = seconds / 86400;
  const std::int64_t rest = seconds % 86400;
  // Civil date from days (the inverse of DaysFromCivil).
  const std::int64_t z = days + 719468;
  const std::int64_t era = z / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld%02lld%02lld%02lld%02lld%02lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

Value DecodeValue(nuint32 syntax, std::string_view bytes) {
  Value value;
  std::vector<std::string_view> fields;
  switch (syntax) {
    case SYN_DIST_NAME: case SYN_CE_STRING: case SYN_CI_STRING: case SYN_PR_STRING: case SYN_NU_STRING:
    case SYN_TEL_NUMBER: case SYN_FAX_NUMBER:
      value.text.assign(bytes);
      return value;
    case SYN_CLASS_NAME:
      value.text = DirectoryClassName(bytes);
      return value;
    case SYN_CI_LIST:
      return ParsePostal(bytes, value.texts) ? value : Malformed();
    case SYN_PO_ADDRESS:
      if (!ParsePostal(bytes, value.texts) || value.texts.size() > 6) return Malformed();
      value.texts.resize(6);
      return value;
    case SYN_BOOLEAN:
      if (bytes != "TRUE" && bytes != "FALSE") return Malformed();
      value.number = bytes == "TRUE" ? 1 : 0;
      return value;
    case SYN_INTEGER: case SYN_COUNTER: case SYN_INTERVAL:
      return ParseField(bytes, value.number) ? value : Malformed();
    case SYN_NET_ADDRESS:
      return NetAddress(bytes);
    case SYN_OCTET_LIST:
      value.octets.push_back(ToBytes(bytes));
      return value;
    case SYN_EMAIL_ADDRESS:
      if (!SplitFields(bytes, 2, false, fields) || !ParseField(fields[0], value.number)) return Malformed();
      value.text.assign(fields[1]);
      return value;
    case SYN_PATH:
      if (!SplitFields(bytes, 3, false, fields) || !ParseField(fields[0], value.number)) return Malformed();
      value.texts = {std::string(fields[1]), std::string(fields[2])};
      return value;
    case SYN_REPLICA_POINTER:
      return ReplicaPointer(bytes);
    case SYN_OBJECT_ACL: {
      // privileges#scope#subject#attribute: the subject may hold "#", the others do not.
      std::vector<std::string_view> head, tail;
      if (!SplitFields(bytes, 3, false, head) || !SplitFields(head[2], 2, true, tail) ||
          !ParseField(head[0], value.number))
        return Malformed();
      value.text.assign(tail[0]);
      value.texts = {std::string(tail[1])};
      return value;
    }
    case SYN_TIMESTAMP:
      return TimeStamp(bytes);
    case SYN_BACK_LINK:
      if (!SplitFields(bytes, 2, false, fields) || !ParseField(fields[0], value.number)) return Malformed();
      value.text.assign(fields[1]);
      return value;
    case SYN_TIME:
      return ParseGeneralizedTime(bytes, value.number) ? value : Malformed();
    case SYN_TYPED_NAME:
      if (!SplitFields(bytes, 3, true, fields) || !ParseField(fields[1], value.number) ||
          !ParseField(fields[2], value.number2))
        return Malformed();
      value.text.assign(fields[0]);
      return value;
    case SYN_HOLD:
      if (!SplitFields(bytes, 2, true, fields) || !ParseField(fields[1], value.number)) return Malformed();
      value.text.assign(fields[0]);
      return value;
    default:  // octet strings, streams and syntaxes the client does not know: the bytes
      value.bytes = ToBytes(bytes);
      return value;
  }
}

std::string EncodeValue(nuint32 syntax, const Value& value, bool ber) {
  const auto number = [](nuint32 n) { return std::to_string(static_cast<nint32>(n)); };
  switch (syntax) {
    case SYN_DIST_NAME: case SYN_CE_STRING: case SYN_CI_STRING: case SYN_PR_STRING: case SYN_NU_STRING:
    case SYN_TEL_NUMBER: case SYN_FAX_NUMBER:
      return value.text;
    case SYN_CLASS_NAME:
      return LdapClassName(value.text);
    case SYN_CI_LIST: case SYN_PO_ADDRESS:
      return PostalText(value.texts);
    case SYN_BOOLEAN:
      return value.number ? "TRUE" : "FALSE";
    case SYN_INTEGER: case SYN_COUNTER: case SYN_INTERVAL:
      return number(value.number);
    case SYN_NET_ADDRESS:
      if (ber) return BerWriter().Sequence(BerWriter().Integer(value.number).OctetString(AsText(value.bytes))).Bytes();
      return std::to_string(value.number) + "#" + std::string(AsText(value.bytes));
    case SYN_OCTET_LIST:
      return value.octets.empty() ? std::string() : std::string(AsText(value.octets.front()));
    case SYN_EMAIL_ADDRESS:
      return number(value.number) + "#" + value.text;
    case SYN_PATH:
      return number(value.number) + "#" + (value.texts.size() > 0 ? value.texts[0] : "") + "#" +
             (value.texts.size() > 1 ? value.texts[1] : "");
    case SYN_REPLICA_POINTER: {
      BerWriter hints;
      if (!value.bytes.empty())
        hints.Sequence(BerWriter().Integer(UnsignedField(value.number3)).OctetString(AsText(value.bytes)));
      BerWriter pointer;
      pointer.OctetString(value.text)
          .Integer(UnsignedField(value.number))
          .Integer(UnsignedField(value.state))
          .Integer(0)  // replica root id
          .Integer(UnsignedField(value.number2))
          .Sequence(hints);
      return BerWriter().Sequence(pointer).Bytes();
    }
    case SYN_OBJECT_ACL:
      return std::to_string(value.number) + "#entry#" + value.text + "#" + (value.texts.empty() ? "" : value.texts[0]);
    case SYN_TIMESTAMP:
      if (ber)
        return BerWriter()
            .Sequence(BerWriter().Integer(UnsignedField(value.number)).Integer(value.number2).Integer(value.number3))
            .Bytes();
      return std::to_string(value.number) + "#" + std::to_string(value.number2) + "#" + std::to_string(value.number3);
    case SYN_BACK_LINK:
      return number(value.number) + "#" + value.text;
    case SYN_TIME:
      return GeneralizedTime(value.number);
    case SYN_TYPED_NAME:
      return value.text + "#" + number(value.number) + "#" + number(value.number2);
    case SYN_HOLD:
      return value.text + "#" + number(value.number);
    default:
      return std::string(AsText(value.bytes));
  }
}

}  // namespace vestrel::nw::ldap
