#include "platform/nwclient/ldap/LdapNames.h"

#include <cctype>

#include "platform/nwclient/Model.h"
#include "platform/nwclient/ldap/Ber.h"

namespace vestrel::nw::ldap {

namespace {

bool IsTypeChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.'; }
bool IsSpace(char c) { return c == ' '; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
char LowerAscii(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Reads an RFC 4514 DN from left to right.
class DnParser {
 public:
  explicit DnParser(std::string_view text) : text_(text) {}

  bool Parse(Dn& dn) {
    dn.clear();
    SkipSpaces();
    if (at_ == text_.size()) return true;
    Rdn rdn;
    while (true) {
      Ava ava;
      if (!Type(ava.type) || !Expect('=') || !Value(ava.value)) return false;
      rdn.push_back(std::move(ava));
      if (at_ == text_.size()) break;
      const char separator = text_[at_++];
      if (separator == '+') continue;
      if (separator != ',' && separator != ';') return false;
      dn.push_back(std::move(rdn));
      rdn.clear();
    }
    dn.push_back(std::move(rdn));
    return true;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;

  void SkipSpaces() {
    while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
  }
  bool Expect(char c) {
    SkipSpaces();
    if (at_ == text_.size() || text_[at_] != c) return false;
    ++at_;
    SkipSpaces();
    return true;
  }
  bool Type(std::string& type) {
    SkipSpaces();
    const std::size_t start = at_;
    while (at_ < text_.size() && IsTypeChar(text_[at_])) ++at_;
    type.assign(text_.substr(start, at_ - start));
    return !type.empty();
  }
  bool Value(std::string& value) {
    if (at_ < text_.size() && text_[at_] == '#') return HexValueString(value) && NoNul(value);
    std::size_t keep = 0;  // length of value up to its last escaped or non-blank character
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == ',' || c == ';' || c == '+') break;
      ++at_;
      if (c != '\\') {
        value += c;
        if (!IsSpace(c)) keep = value.size();
        continue;
      }
      if (at_ == text_.size()) return false;
      const int high = HexValue(text_[at_]);
      if (high >= 0 && at_ + 1 < text_.size() && HexValue(text_[at_ + 1]) >= 0) {
        value += static_cast<char>(high * 16 + HexValue(text_[at_ + 1]));
        at_ += 2;
      } else {
        value += text_[at_++];
      }
      keep = value.size();
    }
    value.resize(keep);  // blanks before a separator do not belong to the value
    return NoNul(value);
  }
  // A name with a NUL character in it, written or escaped, would end early wherever a C
  // library reads it: such a name is no name.
  static bool NoNul(const std::string& value) { return value.find('\0') == std::string::npos; }
  // "#04034143 4D": the BER encoding of the value; a string's content is the value.
  bool HexValueString(std::string& value) {
    ++at_;
    std::string bytes;
    while (at_ + 1 < text_.size() && HexValue(text_[at_]) >= 0 && HexValue(text_[at_ + 1]) >= 0) {
      bytes += static_cast<char>(HexValue(text_[at_]) * 16 + HexValue(text_[at_ + 1]));
      at_ += 2;
    }
    SkipSpaces();
    if (bytes.empty() || (at_ < text_.size() && text_[at_] != ',' && text_[at_] != ';' && text_[at_] != '+'))
      return false;
    BerReader reader(bytes);
    std::uint8_t tag = 0;
    std::string_view content;
    if (!reader.PeekTag(tag) || !reader.Element(tag, content) || !reader.AtEnd()) return false;
    value.assign(content);
    return true;
  }
};

std::string EscapeDnValue(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const bool edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == value.size() && c == ' ');
    if (c == '\0') {
      out += "\\00";
      continue;
    }
    if (edge || c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';' || c == '=')
      out += '\\';
    out += c;
  }
  return out;
}

std::string EscapeDotted(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '.' || c == '=' || c == '+' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

// Splits at every unescaped separator; escapes stay in the pieces.
std::vector<std::string> SplitUnescaped(std::string_view text, char separator) {
  std::vector<std::string> pieces(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      pieces.back() += text.substr(i, 2);
      ++i;
    } else if (text[i] == separator) {
      pieces.emplace_back();
    } else {
      pieces.back() += text[i];
    }
  }
  return pieces;
}

std::string UnescapeDotted(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

std::string JoinComponents(const Dn& dn, bool typed) {
  std::string name;
  for (const Rdn& rdn : dn) {
    if (!name.empty()) name += '.';
    for (std::size_t i = 0; i < rdn.size(); ++i) {
      if (i) name += '+';
      if (typed) name += DottedType(rdn[i].type) + "=";
      name += EscapeDotted(rdn[i].value);
    }
  }
  return name;
}

}  // namespace

bool ParseDn(std::string_view text, Dn& dn) { return DnParser(text).Parse(dn); }

std::string FormatDn(const Dn& dn) {
  std::string text;
  for (std::size_t r = 0; r < dn.size(); ++r) {
    if (r) text += ',';
    for (std::size_t a = 0; a < dn[r].size(); ++a) {
      if (a) text += '+';
      text += dn[r][a].type + "=" + EscapeDnValue(dn[r][a].value);
    }
  }
  return text;
}

std::string TypelessName(const Dn& dn) { return dn.empty() ? "[Root]" : JoinComponents(dn, false); }

std::vector<std::string> TypedComponents(const Dn& dn) {
  std::vector<std::string> components;
  for (const Rdn& rdn : dn) components.push_back(JoinComponents({rdn}, true));
  return components;
}

std::vector<std::string> DottedComponents(std::string_view dotted) { return SplitUnescaped(dotted, '.'); }

bool ParseDottedName(std::string_view dotted, Dn& dn) {
  dn.clear();
  for (const std::string& component : DottedComponents(dotted)) {
    Rdn rdn;
    for (const std::string& piece : SplitUnescaped(component, '+')) {
      Ava ava;
      const std::vector<std::string> sides = SplitUnescaped(piece, '=');
      if (sides.size() == 2 && !sides[0].empty()) {
        ava.type = sides[0];
        ava.value = UnescapeDotted(sides[1]);
      } else if (sides.size() == 1) {
        ava.value = UnescapeDotted(piece);
      } else {
        return false;
      }
      if (ava.value.empty() || ava.value.find('\0') != std::string::npos) return false;
      rdn.push_back(std::move(ava));
    }
    dn.push_back(std::move(rdn));
  }
  return !dn.empty();
}

std::string DottedType(std::string_view ldapType) {
  return EqualsNoCase(ldapType, "st") ? "S" : nw::UpperAscii(std::string(ldapType));
}

std::string LdapType(std::string_view dottedType) {
  if (EqualsNoCase(dottedType, "S")) return "st";
  std::string type(dottedType);
  for (char& c : type) c = LowerAscii(c);
  return type;
}

bool SameDn(const Dn& a, const Dn& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t r = 0; r < a.size(); ++r) {
    if (a[r].size() != b[r].size()) return false;
    for (std::size_t i = 0; i < a[r].size(); ++i)
      if (LdapType(a[r][i].type) != LdapType(b[r][i].type) || !EqualsNoCase(a[r][i].value, b[r][i].value))
        return false;
  }
  return true;
}

std::string NameKey(std::string_view typelessName) { return nw::UpperAscii(std::string(typelessName)); }

}  // namespace vestrel::nw::ldap
