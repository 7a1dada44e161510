// Stream attributes: read once through the file descriptor the library opens, shown as
// text; the application files of the management add-on ("AOT FILE") are decoded.
#include <unistd.h>

#include <vector>

#include "directory/D_NW_Format.h"
#include "directory/D_NW_FormatBytes.h"
#include "directory/NETWIN32.h"
#include "util/D_Util.h"

namespace vestrel {

NWRCODE ReadStreamFile(NWDSContextHandle context, const std::string& objectName, const std::string& attrName,
                       std::size_t& size, nuint8* buffer) {
  NWStreamHandle handle = -1;
  const NWRCODE code = DSStreamOpen(context, objectName.c_str(), attrName.c_str(), DS_READ_STREAM, &handle);
  if (code != 0) return code;
  const ssize_t count = ::read(handle, buffer, size);
  ::close(handle);
  if (count < 0) return ERR_STREAM_READ_FAULT;
  size = static_cast<std::size_t>(count);
  return 0;
}

NWRCODE ReadStreamText(NWDSContextHandle context, const std::string& objectName, const std::string& attrName,
                       bool withHeader, std::string& text) {
  std::vector<nuint8> buffer(StreamBufferSize, 0);
  text = "Cannot read Stream";
  std::size_t size = buffer.size();
  const NWRCODE code = ReadStreamFile(context, objectName, attrName, size, buffer.data());
  if (code != 0) return code;
  text = OctetView({buffer.data(), size}).Text(0);
  DecodeAotStream(buffer, size, attrName, text);
  if (withHeader) text = Format("Stream (%d bytes):", static_cast<nint32>(size)) + "\r\n" + text;
  return 0;
}

// ---- Application files ----

namespace {

constexpr std::size_t kAotHeaderSize = 24;
constexpr std::size_t kLongestItemText = 1023;
constexpr std::size_t kCharacterDumpLimit = StreamBufferSize - kAotHeaderSize;
const std::string kAotMagic = "AOT FILE";
const std::string kLineBreak = "\r\n";

bool HasTwoChars(const OctetView& bytes, std::size_t at) { return bytes.TextLength(at, 2) == 2; }

// Items of the free walk, one per call: a counted string, a plain string, two lead bytes
// before a string, or a number. Numbers gather in `line` until a string ends it.
class FreeWalk {
 public:
  FreeWalk(const OctetView& bytes, std::size_t end) : bytes_(bytes), end_(end) {}

  std::string Run() {
    std::string decoded = kLineBreak;
    std::size_t cursor = kAotHeaderSize;
    std::string line;
    while (cursor <= end_) {
      if (IsCountedString(cursor)) {
        const nuint32 length = bytes_.U32(cursor);
        line += bytes_.Text(cursor + 4, length);
        cursor = SkipFillerBytes(bytes_.From(0), cursor + 4 + length);
        decoded += line + kLineBreak;
        line.clear();
      } else if (IsPlainString(cursor)) {
        const std::string text = bytes_.Text(cursor, kLongestItemText + 1);
        if (text.size() > kLongestItemText) RaiseRangeCheck();
        line += text;
        cursor = SkipFillerBytes(bytes_.From(0), cursor + text.size());
        decoded += line + kLineBreak;
        line.clear();
      } else if (HasTwoChars(bytes_, cursor + 2) && bytes_.Byte(cursor + 2) >= 32) {
        cursor += 2;
      } else {
        line += Format("%4X ", bytes_.U32(cursor));
        cursor += 4;
      }
    }
    return decoded;
  }

 private:
  bool IsCountedString(std::size_t at) const { return bytes_.U32(at) < 255 && HasTwoChars(bytes_, at + 4); }
  bool IsPlainString(std::size_t at) const {
    return HasTwoChars(bytes_, at) && bytes_.Byte(at) >= 32 && bytes_.Byte(at + 1) >= 32;
  }

  const OctetView& bytes_;
  std::size_t end_;
};

// Fixed records of numbers, shown in hex in parentheses, then counted strings joined by
// " / ". A record cut short ends with " / ". A count above 1024 ends the walk: the bytes
// from there on are not records, and reading them as such would invent some.
std::string FixedRecords(const OctetView& bytes, std::size_t end, int nNumbers, int nStrings) {
  constexpr nuint32 kLargestCount = 1024;
  std::string decoded = kLineBreak;
  std::size_t cursor = kAotHeaderSize;
  bool lastRecord = false;
  while (!lastRecord) {
    const std::size_t recordStart = cursor;
    std::string hex;
    for (int i = 0; i < nNumbers; ++i) {
      if (cursor > end) return decoded;
      if (!hex.empty()) hex += "/";
      hex += Format("%4X", bytes.U32(cursor));
      cursor += 4;
    }
    if (!hex.empty()) decoded = Format("%s (%s) ", decoded, hex);
    std::string line;
    for (int i = 0; i < nStrings; ++i) {
      if (!line.empty()) line += " / ";
      if (cursor > end) break;
      const nuint32 length = bytes.U32(cursor);
      lastRecord = length > kLargestCount;
      if (lastRecord || bytes.Byte(cursor + 4) == 0) break;
      // Item texts hold at most 1023 characters; a count of 1024 does not fit.
      if (length == kLargestCount) RaiseRangeCheck();
      line += bytes.Text(cursor + 4, length);
      cursor += 4 + length;
    }
    decoded += line + kLineBreak;
    // A record that neither numbers nor strings moved on would repeat forever.
    if (cursor == recordStart) lastRecord = true;
  }
  return decoded;
}

// Bytes from 24 on as characters; every run of control bytes becomes one line break.
std::string CharacterDump(const OctetView& bytes, std::size_t count) {
  const std::size_t last = std::min(kAotHeaderSize + std::min(count, kCharacterDumpLimit), bytes.Size());
  std::string text;
  for (std::size_t at = kAotHeaderSize; at < last; ++at) {
    const nuint8 byte = bytes.Byte(at);
    if (byte >= 20)
      text += static_cast<char>(byte);
    else if (at == kAotHeaderSize || bytes.Byte(at - 1) >= 20)
      text += kLineBreak;
  }
  return text;
}

}  // namespace

std::size_t SkipFillerBytes(std::span<const nuint8> buffer, std::size_t cursor) {
  const OctetView bytes(buffer);
  if (bytes.U32(cursor) < 256) return cursor;
  int zeros = 0;
  std::size_t nonZeroAt = cursor;
  for (std::size_t i = 0; i < 4; ++i) {
    if (bytes.Byte(cursor + i) == 0)
      ++zeros;
    else
      nonZeroAt = cursor + i;
  }
  return zeros == 3 ? nonZeroAt : cursor;
}

std::string DecodeAotRecords(std::span<const nuint8> buffer, std::size_t count, int nNumbers, int nStrings) {
  const OctetView bytes(buffer);
  const std::size_t end = std::min(count, buffer.size());
  if (nNumbers == -1 && nStrings == -1) return FreeWalk(bytes, end).Run();
  return FixedRecords(bytes, end, std::max(nNumbers, 0), std::max(nStrings, 0));
}

void DecodeAotStream(std::span<const nuint8> buffer, std::size_t count, const std::string& attrName,
                     std::string& text) {
  const OctetView bytes(buffer);
  count = std::min(count, buffer.size());
  if (bytes.Text(0, kAotMagic.size()) != kAotMagic) return;
  if (count >= 8) text = Format("%s (%d bytes)", kAotMagic, static_cast<nint32>(count));
  if (count >= kAotHeaderSize)
    text += Format(" (%X/%X/%X %X/%X)", bytes.U32(8), bytes.U32(12), bytes.U32(16), bytes.U16(20), bytes.U16(22));
  if (count <= kAotHeaderSize) return;
  if (attrName == "App:Macros")
    text += kLineBreak + DecodeAotRecords(buffer, count, 3, 2);
  else if (attrName == "App:Copy Files")
    text += kLineBreak + DecodeAotRecords(buffer, count, 4, 1);
  else if (attrName == "App:Inventory" || attrName == "App:Program Groups")
    text += kLineBreak + DecodeAotRecords(buffer, count, -1, -1);
  else
    text += CharacterDump(bytes, count);
}

}  // namespace vestrel
