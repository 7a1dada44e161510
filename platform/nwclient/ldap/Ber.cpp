#include "platform/nwclient/ldap/Ber.h"

namespace vestrel::nw::ldap {

namespace {

constexpr std::size_t kMaxLengthBytes = 4;
constexpr std::size_t kMaxIntegerBytes = 8;

}  // namespace

bool BerReader::Split(std::string_view& rest, std::uint8_t& tag, std::string_view& content) {
  if (rest.size() < 2) return false;
  tag = static_cast<std::uint8_t>(rest[0]);
  if ((tag & 0x1F) == 0x1F) return false;  // multi-byte tags appear in none of these forms
  std::size_t at = 1;
  std::size_t length = static_cast<std::uint8_t>(rest[at++]);
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    // The indefinite form (count 0) is not allowed in LDAP.
    if (count == 0 || count > kMaxLengthBytes || rest.size() - at < count) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<std::uint8_t>(rest[at++]);
  }
  if (length > rest.size() - at) return false;
  content = rest.substr(at, length);
  rest.remove_prefix(at + length);
  return true;
}

bool BerReader::PeekTag(std::uint8_t& tag) const {
  if (rest_.empty()) return false;
  tag = static_cast<std::uint8_t>(rest_[0]);
  return true;
}

bool BerReader::Element(std::uint8_t tag, std::string_view& content) {
  std::string_view rest = rest_;
  std::uint8_t found = 0;
  if (!Split(rest, found, content) || found != tag) return false;
  rest_ = rest;
  return true;
}

bool BerReader::Sequence(BerReader& inner) {
  std::string_view content;
  if (!Element(kBerSequence, content)) return false;
  inner = BerReader(content);
  return true;
}

bool BerReader::Integer(std::int64_t& value) {
  std::string_view rest = rest_;
  std::uint8_t tag = 0;
  std::string_view content;
  if (!Split(rest, tag, content) || tag != kBerInteger || content.empty() || content.size() > kMaxIntegerBytes)
    return false;
  // Sign-extend from the first content byte, then shift the others in.
  std::uint64_t bits = static_cast<std::uint8_t>(content[0]) & 0x80 ? ~std::uint64_t{0} : 0;
  for (char byte : content) bits = (bits << 8) | static_cast<std::uint8_t>(byte);
  value = static_cast<std::int64_t>(bits);
  rest_ = rest;
  return true;
}

bool BerReader::U32(std::uint32_t& value) {
  std::string_view before = rest_;
  std::int64_t number = 0;
  if (!Integer(number)) return false;
  if (number < -0x80000000ll || number > 0xFFFFFFFFll) {
    rest_ = before;
    return false;
  }
  value = static_cast<std::uint32_t>(number);
  return true;
}

bool BerReader::OctetString(std::string& value) {
  std::string_view content;
  if (!Element(kBerOctetString, content)) return false;
  value.assign(content);
  return true;
}

BerWriter& BerWriter::Element(std::uint8_t tag, std::string_view content) {
  bytes_ += static_cast<char>(tag);
  const std::size_t length = content.size();
  if (length < 0x80) {
    bytes_ += static_cast<char>(length);
  } else {
    std::string digits;
    for (std::size_t rest = length; rest; rest >>= 8) digits.insert(digits.begin(), static_cast<char>(rest & 0xFF));
    bytes_ += static_cast<char>(0x80 | digits.size());
    bytes_ += digits;
  }
  bytes_.append(content);
  return *this;
}

BerWriter& BerWriter::Integer(std::int64_t value) {
  // The shortest two's complement form: drop leading bytes that only repeat the sign.
  std::string content;
  for (int shift = 56; shift >= 0; shift -= 8) content += static_cast<char>((static_cast<std::uint64_t>(value) >> shift) & 0xFF);
  std::size_t start = 0;
  while (start + 1 < content.size()) {
    const auto lead = static_cast<std::uint8_t>(content[start]);
    const auto next = static_cast<std::uint8_t>(content[start + 1]);
    if (!((lead == 0x00 && !(next & 0x80)) || (lead == 0xFF && (next & 0x80)))) break;
    ++start;
  }
  return Element(kBerInteger, std::string_view(content).substr(start));
}

BerWriter& BerWriter::OctetString(std::string_view value) { return Element(kBerOctetString, value); }

BerWriter& BerWriter::Sequence(const BerWriter& inner) { return Element(kBerSequence, inner.Bytes()); }

}  // namespace vestrel::nw::ldap
