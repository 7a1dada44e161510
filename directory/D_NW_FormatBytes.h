// Bounded readers for untrusted value bytes, shared by the value formatter, the stream
// decoder and the attribute reader. Nothing here reads outside the bytes it was given.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "directory/NTypes.h"

namespace vestrel {

// UTF-16 little-endian code units up to the first zero unit (or the end) as UTF-8;
// unpaired surrogates become U+FFFD. An odd last byte is ignored.
std::string Utf16LeToUtf8(std::span<const nuint8> bytes);

// Fixed offsets into octets, as the octet layouts use them: a number whose bytes are
// missing reads them as 0, a text runs to its zero byte or to the end of the octets.
class OctetView {
 public:
  explicit OctetView(std::span<const nuint8> bytes) : bytes_(bytes) {}

  std::size_t Size() const { return bytes_.size(); }
  nuint8 Byte(std::size_t at) const { return at < bytes_.size() ? bytes_[at] : 0; }
  nuint16 U16(std::size_t at) const;
  nuint32 U32(std::size_t at) const;
  nint32 I32(std::size_t at) const { return static_cast<nint32>(U32(at)); }
  // Big-endian u16, as in network addresses.
  nuint16 U16Be(std::size_t at) const;
  // The zero-terminated 8-bit text at the offset (A(n)).
  std::string Text(std::size_t at) const;
  // At most maxLength characters of that text.
  std::string Text(std::size_t at, std::size_t maxLength) const;
  // Number of non-zero bytes from the offset, counting no further than limit.
  std::size_t TextLength(std::size_t at, std::size_t limit) const;
  // The zero-terminated UTF-16 text at the offset (W(n)).
  std::string WideText(std::size_t at) const;
  // Hex dump of the count bytes from the offset that exist; a count above 65535 is a
  // range failure.
  std::string Hex(std::size_t at, std::size_t count) const;
  std::span<const nuint8> From(std::size_t at) const {
    return at < bytes_.size() ? bytes_.subspan(at) : std::span<const nuint8>();
  }

 private:
  std::span<const nuint8> bytes_;
};

// The value memory of one value: records and the data their pointers reach. Every
// access is checked against [memory, memory + size); a record that points elsewhere, or
// a text without its terminator inside the memory, is a range failure.
class ValueMemory {
 public:
  ValueMemory(const void* memory, std::size_t size)
      : begin_(reinterpret_cast<std::uintptr_t>(memory)), size_(memory ? size : 0) {}

  std::size_t Size() const { return size_; }
  const nuint8* Begin() const { return reinterpret_cast<const nuint8*>(begin_); }
  bool Contains(const void* pointer, std::size_t length) const;

  // The first `needed` bytes of a T at pointer must lie inside the memory; the rest of
  // the record, when the memory ends before it, reads as zero.
  template <typename T>
  T RecordAt(const void* pointer, std::size_t needed = sizeof(T)) const {
    RequireInside(pointer, needed);
    T record;
    std::memset(static_cast<void*>(&record), 0, sizeof(T));
    std::memcpy(static_cast<void*>(&record), pointer, std::min(sizeof(T), Available(pointer)));
    return record;
  }
  template <typename T>
  T Record(std::size_t needed = sizeof(T)) const {
    return RecordAt<T>(Begin(), needed);
  }
  // The zero-terminated text at pointer; a null pointer is an empty text.
  std::string Text(const void* pointer) const;
  // length bytes at pointer; a null pointer with length 0 is no bytes.
  std::span<const nuint8> Bytes(const void* pointer, std::size_t length) const;

 private:
  std::size_t Available(const void* pointer) const;
  void RequireInside(const void* pointer, std::size_t length) const;

  std::uintptr_t begin_;
  std::size_t size_;
};

// Throws the range failure the attribute reader shows as "Range check error".
[[noreturn]] void RaiseRangeCheck();

}  // namespace vestrel
