// D_XML: the two tag helpers of the XML writer, and the character references that keep
// every exported document plain ASCII (and so true to any 8-bit declaration).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vestrel {

// "<name>content</name>", or XmlEmptyElement(name) when content is empty. Neither name
// nor content is escaped: callers pass escaped content.
std::string XmlElement(const std::string& name, const std::string& content);
// "<name/>"
std::string XmlEmptyElement(const std::string& name);

// The character U+FFFD that stands for bytes that are not UTF-8 and for characters a
// document may not hold.
inline constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes the UTF-8 character at text[pos] and moves pos past it. A byte that does not
// start a well-formed sequence (overlong, surrogate, beyond U+10FFFF, cut short) gives
// kReplacementChar and moves pos by that one byte. pos must be < text.size().
char32_t NextCodePoint(std::string_view text, std::size_t& pos);

// Appends "&#N;" with N the decimal code point.
void AppendCharRef(std::string& out, char32_t codePoint);

// The bytes a writer copies as they are; the others it writes in another form.
using PlainBytes = std::array<bool, 256>;
// The end of the run of plain bytes that starts at pos.
std::size_t PlainRunEnd(std::string_view text, std::size_t pos, const PlainBytes& plain);

// Text as XML character data in ASCII: "&", "<" and ">" become "&amp;", "&lt;" and "&gt;";
// every character outside ASCII becomes a numeric character reference; control characters
// XML does not allow (all below a blank except TAB, LF and CR, and U+FFFE, U+FFFF) become
// "&#65533;", so the document stays well-formed.
std::string XmlText(std::string_view text);
void AppendXmlText(std::string& out, std::string_view text);

}  // namespace vestrel
