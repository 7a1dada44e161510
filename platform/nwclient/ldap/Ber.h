// The BER forms of the values and extended-operation fields a directory server sends over
// LDAP: a reader that never looks outside its bytes and a writer of the same forms.
// Integers are read from and written as their content bytes: a 32-bit field of 2^31 and
// more is read from the 5-byte INTEGER servers send in values as well as from its 4-byte
// signed form (liblber's integer scanner takes neither as the unsigned number).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vestrel::nw::ldap {

constexpr std::uint8_t kBerInteger = 0x02;
constexpr std::uint8_t kBerOctetString = 0x04;
constexpr std::uint8_t kBerSequence = 0x30;

class BerReader {
 public:
  explicit BerReader(std::string_view bytes) : rest_(bytes) {}

  bool AtEnd() const { return rest_.empty(); }
  // The tag of the next element; false at the end.
  bool PeekTag(std::uint8_t& tag) const;
  // The next element when it has this tag: its content. Nothing moves on a mismatch.
  bool Element(std::uint8_t tag, std::string_view& content);
  bool Sequence(BerReader& inner);
  // An INTEGER of 1 to 8 content bytes (two's complement, big-endian).
  bool Integer(std::int64_t& value);
  // An INTEGER from -2^31 to 2^32 - 1, kept as its 32-bit pattern (-1 and 2^32 - 1 alike).
  bool U32(std::uint32_t& value);
  bool OctetString(std::string& value);

 private:
  std::string_view rest_;
  // Splits the next element off rest; false for a malformed or truncated element.
  static bool Split(std::string_view& rest, std::uint8_t& tag, std::string_view& content);
};

class BerWriter {
 public:
  BerWriter& Integer(std::int64_t value);
  BerWriter& OctetString(std::string_view value);
  BerWriter& Sequence(const BerWriter& inner);
  BerWriter& Element(std::uint8_t tag, std::string_view content);
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// A 32-bit value field written as its unsigned value (2^31 and more take five bytes).
inline std::int64_t UnsignedField(std::uint32_t value) { return static_cast<std::int64_t>(value); }
// A 32-bit request field written as the directory's own client libraries write it: a
// signed 32-bit value of at most four bytes (0xFFFFFFFF is 02 01 ff), which a server
// whose decoder takes no more than four bytes reads.
inline std::int64_t SignedField(std::uint32_t value) { return static_cast<std::int32_t>(value); }

}  // namespace vestrel::nw::ldap
