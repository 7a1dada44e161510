#include "directory/D_NW_FormatBytes.h"

#include "util/D_Util.h"

namespace vestrel {

void RaiseRangeCheck() { throw RangeCheckError(); }

namespace {

void AppendUtf8(std::string& out, char32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string Utf16LeToUtf8(std::span<const nuint8> bytes) {
  constexpr char32_t kReplacement = 0xFFFD;
  const std::size_t unitCount = bytes.size() / 2;
  auto unitAt = [&](std::size_t i) {
    return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  };
  std::string out;
  for (std::size_t i = 0; i < unitCount; ++i) {
    const char16_t unit = unitAt(i);
    if (unit == 0) break;
    if (IsHighSurrogate(unit) && i + 1 < unitCount && IsLowSurrogate(unitAt(i + 1))) {
      const char16_t low = unitAt(++i);
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00));
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

// ---- OctetView ----

nuint16 OctetView::U16(std::size_t at) const {
  return static_cast<nuint16>(Byte(at) | (Byte(at + 1) << 8));
}

nuint32 OctetView::U32(std::size_t at) const {
  return static_cast<nuint32>(Byte(at)) | (static_cast<nuint32>(Byte(at + 1)) << 8) |
         (static_cast<nuint32>(Byte(at + 2)) << 16) | (static_cast<nuint32>(Byte(at + 3)) << 24);
}

nuint16 OctetView::U16Be(std::size_t at) const {
  return static_cast<nuint16>((Byte(at) << 8) | Byte(at + 1));
}

std::size_t OctetView::TextLength(std::size_t at, std::size_t limit) const {
  std::size_t length = 0;
  while (length < limit && at + length < bytes_.size() && bytes_[at + length] != 0) ++length;
  return length;
}

std::string OctetView::Text(std::size_t at) const { return Text(at, bytes_.size()); }

std::string OctetView::Text(std::size_t at, std::size_t maxLength) const {
  const std::size_t length = TextLength(at, maxLength);
  if (length == 0) return {};
  return std::string(reinterpret_cast<const char*>(bytes_.data() + at), length);
}

std::string OctetView::WideText(std::size_t at) const { return Utf16LeToUtf8(From(at)); }

std::string OctetView::Hex(std::size_t at, std::size_t count) const {
  if (count > 0xFFFF) RaiseRangeCheck();
  const std::span<const nuint8> rest = From(at);
  const std::size_t present = std::min(count, rest.size());
  return BytesToHex(rest.data(), static_cast<std::uint16_t>(present));
}

// ---- ValueMemory ----

bool ValueMemory::Contains(const void* pointer, std::size_t length) const {
  const auto at = reinterpret_cast<std::uintptr_t>(pointer);
  if (pointer == nullptr || at < begin_) return false;
  const std::size_t offset = at - begin_;
  // A zero-length run may sit right at the end (an empty octet string).
  return offset <= size_ && length <= size_ - offset;
}

std::size_t ValueMemory::Available(const void* pointer) const {
  return size_ - (reinterpret_cast<std::uintptr_t>(pointer) - begin_);
}

void ValueMemory::RequireInside(const void* pointer, std::size_t length) const {
  if (!Contains(pointer, length)) RaiseRangeCheck();
}

std::string ValueMemory::Text(const void* pointer) const {
  if (pointer == nullptr) return {};
  RequireInside(pointer, 1);
  const auto* text = static_cast<const char*>(pointer);
  const void* terminator = std::memchr(text, 0, Available(pointer));
  if (terminator == nullptr) RaiseRangeCheck();
  return std::string(text, static_cast<const char*>(terminator) - text);
}

std::span<const nuint8> ValueMemory::Bytes(const void* pointer, std::size_t length) const {
  if (pointer == nullptr && length == 0) return {};
  RequireInside(pointer, length);
  return {static_cast<const nuint8*>(pointer), length};
}

}  // namespace vestrel
