// Hand-made value memory for formatter tests: a record at the start, the data its
// pointers reach after it, as the library lays values out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vestrel::testing {

class ValueMemoryBuilder {
 public:
  // room: the most bytes this value will ever hold (the storage never moves).
  explicit ValueMemoryBuilder(std::size_t recordSize, std::size_t room = 4096)
      : storage_((room + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)), used_(recordSize) {}

  std::uint8_t* Base() { return reinterpret_cast<std::uint8_t*>(storage_.data()); }
  std::size_t Size() const { return used_; }

  template <typename T>
  void SetRecord(const T& record, std::size_t at = 0) {
    std::memcpy(Base() + at, &record, sizeof(T));
  }
  // Reserves room for a record (say a list node) and returns its place.
  std::uint8_t* AddRoom(std::size_t bytes) {
    Align();
    std::uint8_t* at = Base() + used_;
    used_ += bytes;
    return at;
  }
  char* AddText(const std::string& text) {
    char* at = reinterpret_cast<char*>(Base() + used_);
    std::memcpy(at, text.c_str(), text.size() + 1);
    used_ += text.size() + 1;
    return at;
  }
  std::uint8_t* AddBytes(const std::vector<std::uint8_t>& bytes) {
    std::uint8_t* at = Base() + used_;
    if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
    used_ += bytes.size();
    return at;
  }
  // Cuts the value short (say, to end inside a text).
  void Truncate(std::size_t size) { used_ = size; }

 private:
  void Align() { used_ = (used_ + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1); }

  std::vector<std::max_align_t> storage_;
  std::size_t used_;
};

// Little-endian helpers for octet layouts.
inline void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  if (bytes.size() < at + 4) bytes.resize(at + 4);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void PutU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  if (bytes.size() < at + 2) bytes.resize(at + 2);
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void PutText(std::vector<std::uint8_t>& bytes, std::size_t at, const std::string& text) {
  if (bytes.size() < at + text.size() + 1) bytes.resize(at + text.size() + 1);
  std::memcpy(bytes.data() + at, text.c_str(), text.size() + 1);
}
// ASCII text as zero-terminated UTF-16LE.
inline void PutWide(std::vector<std::uint8_t>& bytes, std::size_t at, const std::string& text) {
  if (bytes.size() < at + 2 * text.size() + 2) bytes.resize(at + 2 * text.size() + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[at + 2 * i] = static_cast<std::uint8_t>(text[i]);
    bytes[at + 2 * i + 1] = 0;
  }
  bytes[at + 2 * text.size()] = 0;
  bytes[at + 2 * text.size() + 1] = 0;
}

}  // namespace vestrel::testing
