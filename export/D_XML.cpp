#include "export/D_XML.h"

#include <array>
#include <charconv>

namespace vestrel {

std::string XmlEmptyElement(const std::string& name) { return "<" + name + "/>"; }

std::string XmlElement(const std::string& name, const std::string& content) {
  if (content.empty()) return XmlEmptyElement(name);
  std::string element;
  element.reserve(name.size() * 2 + content.size() + 5);
  element += '<';
  element += name;
  element += '>';
  element += content;
  element += "</";
  element += name;
  element += '>';
  return element;
}

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
  const unsigned char lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int length = 0;
  char32_t codePoint = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, codePoint = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, codePoint = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, codePoint = lead & 0x07, minimum = 0x10000;
  }
  if (length == 0 || text.size() - pos < static_cast<std::size_t>(length)) {
    ++pos;
    return kReplacementChar;
  }
  for (int i = 1; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[pos + i]);
    if (!IsContinuation(byte)) {
      ++pos;
      return kReplacementChar;
    }
    codePoint = (codePoint << 6) | (byte & 0x3F);
  }
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  if (codePoint < minimum || codePoint > 0x10FFFF || surrogate) {
    ++pos;
    return kReplacementChar;
  }
  pos += static_cast<std::size_t>(length);
  return codePoint;
}

void AppendCharRef(std::string& out, char32_t codePoint) {
  std::array<char, 16> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(),
                                    static_cast<unsigned long>(codePoint));
  out += "&#";
  out.append(digits.data(), result.ptr);
  out += ';';
}

namespace {

// Characters XML 1.0 forbids even as references.
bool IsForbiddenInXml(char32_t c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF;
}

// Bytes copied as they are: ASCII but markup and the control characters XML forbids.
constexpr PlainBytes kPlainXmlBytes = [] {
  PlainBytes plain{};
  for (int byte = 0x20; byte < 0x80; ++byte) plain[byte] = true;
  plain['\t'] = plain['\n'] = plain['\r'] = true;
  plain['&'] = plain['<'] = plain['>'] = false;
  return plain;
}();

}  // namespace

std::size_t PlainRunEnd(std::string_view text, std::size_t pos, const PlainBytes& plain) {
  while (pos < text.size() && plain[static_cast<unsigned char>(text[pos])]) ++pos;
  return pos;
}

void AppendXmlText(std::string& out, std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    // Runs of plain characters are copied in one piece.
    const std::size_t end = PlainRunEnd(text, pos, kPlainXmlBytes);
    out.append(text, pos, end - pos);
    pos = end;
    if (pos >= text.size()) break;
    switch (text[pos]) {
      case '&': out += "&amp;"; ++pos; continue;
      case '<': out += "&lt;"; ++pos; continue;
      case '>': out += "&gt;"; ++pos; continue;
      default: break;
    }
    const char32_t c = NextCodePoint(text, pos);
    AppendCharRef(out, IsForbiddenInXml(c) ? kReplacementChar : c);
  }
}

std::string XmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendXmlText(out, text);
  return out;
}

}  // namespace vestrel
