// Filter texts into filter tokens. The program does no parsing of its own beyond
// classifying lines: grouping, precedence and the final check of the expression belong
// to the library's filter builder, which reports a malformed expression by its codes.
#include "directory/D_NW_Filter.h"


#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "directory/D_NW_Format.h"
#include "directory/D_NW_Search.h"
#include "directory/NETWIN32.h"
#include "util/D_Util.h"

namespace vestrel {

namespace {

const std::string kBreak = "\r\n";
const std::string kPresent = "#PRESENT#";

// ---- Tokens ----

// A fresh NUL-terminated copy for the library, which frees it.
char* LibraryText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

NWRCODE AddToken(SearchState& state, nuint16 token) { return DSFilterAddToken(state.filter, token, nullptr, 0); }

NWRCODE AddNameToken(SearchState& state, const std::string& name, nuint32 syntax) {
  char* copy = LibraryText(name);
  if (!copy) return ERR_NOT_ENOUGH_MEMORY;
  return DSFilterAddToken(state.filter, FTOK_ANAME, copy, syntax);
}

nuint16 RelationToken(const std::string& op) {
  if (op == "=" || op == "#EQ#") return FTOK_EQ;
  if (op == ">=" || op == "#GE#") return FTOK_GE;
  if (op == "<=" || op == "#LE#") return FTOK_LE;
  return FTOK_APPROX;
}

// ---- Value records ----

// Lays a value record out in the caller's buffer: the record at the start, the texts
// and bytes it points to after it. Anything that does not fit fails the conversion.
class RecordWriter {
 public:
  RecordWriter(void* buffer, std::size_t size) : base_(static_cast<nuint8*>(buffer)), size_(size) {}

  // Reserves the record itself; false when the buffer cannot hold it.
  bool Reserve(std::size_t bytes) { return Take(bytes) != nullptr; }
  // Stores bytes after what is already laid out; null when they do not fit.
  nuint8* Store(const void* bytes, std::size_t count) {
    nuint8* at = Take(count);
    if (at && count) std::memcpy(at, bytes, count);
    return at;
  }
  char* StoreText(const std::string& text) { return reinterpret_cast<char*>(Store(text.c_str(), text.size() + 1)); }
  template <typename Record>
  void Put(const Record& record) {
    std::memcpy(base_, &record, sizeof(Record));
  }
  nuint8* Base() const { return base_; }

 private:
  nuint8* Take(std::size_t count) {
    // Keep records that follow aligned for their pointers.
    const std::size_t start = (used_ + alignof(void*) - 1) & ~(alignof(void*) - 1);
    if (start > size_ || count > size_ - start) return nullptr;
    used_ = start + count;
    return base_ + start;
  }
  nuint8* base_;
  std::size_t size_;
  std::size_t used_ = 0;
};

// A decimal number from 0 to 2147483647, blanks around it allowed.
bool ParseCount(const std::string& text, nuint32& number) {
  const std::string digits = TrimBlanks(text);
  if (digits.empty() || digits.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 2147483647u) return false;
  number = static_cast<nuint32>(value);
  return true;
}

bool IsTrueText(const std::string& text) {
  return EqualsNoCase(text, "T") || EqualsNoCase(text, "Y") || EqualsNoCase(text, "TRUE") || EqualsNoCase(text, "YES");
}

NWRCODE PlainText(RecordWriter& out, const std::string& text) {
  return out.StoreText(text) ? 0 : ERR_BAD_FILTER_VALUE;
}

// Syntax 6: the value's lines as a chain of list nodes, all nodes first, then the texts,
// so the library gets a list it can compare (a filter value holds one line).
NWRCODE CaseIgnoreList(RecordWriter& out, const std::string& text) {
  TextList lines;
  lines.SetText(text);
  if (lines.Empty()) lines.Add("");
  const std::size_t count = static_cast<std::size_t>(lines.Count());
  if (!out.Reserve(count * sizeof(CI_List_T))) return ERR_BAD_FILTER_VALUE;
  auto* nodes = reinterpret_cast<CI_List_T*>(out.Base());
  for (std::size_t i = 0; i < count; ++i) {
    char* stored = out.StoreText(lines[static_cast<int>(i)]);
    if (!stored) return ERR_BAD_FILTER_VALUE;
    CI_List_T node{i + 1 < count ? nodes + i + 1 : nullptr, stored};
    std::memcpy(nodes + i, &node, sizeof(node));
  }
  return 0;
}

// Syntax 9: "0x" and hexadecimal digits give those bytes, any other text its own
// characters. The length is that of the bytes stored.
NWRCODE OctetString(RecordWriter& out, std::size_t bufferSize, const std::string& text) {
  if (!out.Reserve(sizeof(Octet_String_T))) return ERR_BAD_FILTER_VALUE;
  const std::size_t room = bufferSize - sizeof(Octet_String_T);
  std::vector<nuint8> bytes;
  if (text.rfind("0x", 0) == 0) {
    const std::size_t pairs = DeleteChars(std::string_view(text).substr(2), "$_ ").size() / 2;
    if (pairs > room) return ERR_BAD_FILTER_VALUE;
    bytes.resize(std::max<std::size_t>(pairs, 1));
    int count = static_cast<int>(pairs);
    if (HexToBytes(text, count, bytes.data()) && static_cast<std::size_t>(count) == pairs)
      bytes.resize(pairs);
    else
      bytes.assign(text.begin(), text.end());
  } else {
    bytes.assign(text.begin(), text.end());
  }
  nuint8* stored = out.Store(bytes.data(), bytes.size());
  if (!stored && !bytes.empty()) return ERR_BAD_FILTER_VALUE;
  out.Put(Octet_String_T{static_cast<nuint32>(bytes.size()), bytes.empty() ? nullptr : stored});
  return 0;
}

NWRCODE FaxNumber(RecordWriter& out, const std::string& text) {
  if (!out.Reserve(sizeof(Fax_Number_T))) return ERR_BAD_FILTER_VALUE;
  char* number = out.StoreText(text);
  if (!number) return ERR_BAD_FILTER_VALUE;
  out.Put(Fax_Number_T{number, 0, nullptr});
  return 0;
}

NWRCODE EMailAddress(RecordWriter& out, const std::string& text) {
  if (!out.Reserve(sizeof(EMail_Address_T))) return ERR_BAD_FILTER_VALUE;
  char* address = out.StoreText(text);
  if (!address) return ERR_BAD_FILTER_VALUE;
  out.Put(EMail_Address_T{0, address});
  return 0;
}

// Syntax 15: 'ns#volume:path' or '(ns) volume:path'.
NWRCODE PathValue(RecordWriter& out, const std::string& text) {
  std::string rest = TrimLeftChars(text, "( ");
  ReplaceInTextVar(rest, ") ", "#", false);
  std::string head;
  std::string path;
  SplitText(rest, ":", head, path);
  std::string volume = head;
  nint32 nameSpace = 0;
  if (const std::size_t hash = head.find('#'); hash != std::string::npos) {
    nameSpace = TextToIntDef(head.substr(0, hash), 0);
    volume = head.substr(hash + 1);
  }
  if (nameSpace < 0) return ERR_BAD_FILTER_VALUE;
  if (!out.Reserve(sizeof(Path_T))) return ERR_BAD_FILTER_VALUE;
  char* storedVolume = out.StoreText(volume);
  char* storedPath = out.StoreText(path);
  if (!storedVolume || !storedPath) return ERR_BAD_FILTER_VALUE;
  out.Put(Path_T{static_cast<nuint32>(nameSpace), storedVolume, storedPath});
  return 0;
}

// Syntax 17: 'subject#attribute#privileges'.
NWRCODE AclValue(RecordWriter& out, const std::string& text) {
  std::array<std::string, 5> parts;
  if (SplitHashParts(text, parts) != 3) return ERR_BAD_FILTER_VALUE;
  const nuint32 privileges = ParseRightsText(parts[2], RightsKindOf(parts[1]));  // may raise a range failure
  if (!out.Reserve(sizeof(Object_ACL_T))) return ERR_BAD_FILTER_VALUE;
  char* attribute = out.StoreText(parts[1]);
  char* subject = out.StoreText(parts[0]);
  if (!attribute || !subject) return ERR_BAD_FILTER_VALUE;
  out.Put(Object_ACL_T{attribute, subject, privileges});
  return 0;
}

// Syntax 25: 'name#level#interval'.
NWRCODE TypedNameValue(RecordWriter& out, const std::string& text) {
  std::array<std::string, 5> parts;
  nuint32 level = 0;
  nuint32 interval = 0;
  if (SplitHashParts(text, parts) != 3 || !ParseCount(parts[1], level) || !ParseCount(parts[2], interval))
    return ERR_BAD_FILTER_VALUE;
  if (!out.Reserve(sizeof(Typed_Name_T))) return ERR_BAD_FILTER_VALUE;
  char* name = out.StoreText(parts[0]);
  if (!name) return ERR_BAD_FILTER_VALUE;
  out.Put(Typed_Name_T{name, level, interval});
  return 0;
}

// Syntaxes 19 and 24: a local date and time as a directory time.
NWRCODE TimeValue(RecordWriter& out, const std::string& text) {
  double dateTime = 0;
  if (!LocalTextToDateTime(text, dateTime)) return ERR_BAD_FILTER_VALUE;
  const nuint32 seconds = DateTimeToDirTime(true, dateTime);  // may raise a range failure
  if (!out.Reserve(sizeof(nuint32))) return ERR_BAD_FILTER_VALUE;
  out.Put(seconds);
  return 0;
}

NWRCODE ConvertValue(RecordWriter& out, std::size_t bufferSize, nuint32 syntaxId, const std::string& text) {
  switch (syntaxId) {
    case SYN_DIST_NAME:
    case SYN_CE_STRING:
    case SYN_CI_STRING:
    case SYN_PR_STRING:
    case SYN_NU_STRING:
    case SYN_TEL_NUMBER:
    case SYN_CLASS_NAME: return PlainText(out, text);
    case SYN_CI_LIST: return CaseIgnoreList(out, text);
    case SYN_BOOLEAN: {
      if (!out.Reserve(1)) return ERR_BAD_FILTER_VALUE;
      out.Put(static_cast<nuint8>(IsTrueText(text) ? 1 : 0));
      return 0;
    }
    case SYN_INTEGER:
    case SYN_COUNTER:
    case SYN_INTERVAL: {
      nuint32 number = 0;
      if (!ParseCount(text, number) || !out.Reserve(sizeof(nuint32))) return ERR_BAD_FILTER_VALUE;
      out.Put(number);
      return 0;
    }
    case SYN_OCTET_STRING: return OctetString(out, bufferSize, text);
    case SYN_FAX_NUMBER: return FaxNumber(out, text);
    case SYN_EMAIL_ADDRESS: return EMailAddress(out, text);
    case SYN_PATH: return PathValue(out, text);
    case SYN_OBJECT_ACL: return AclValue(out, text);
    case SYN_TIMESTAMP:
    case SYN_TIME: return TimeValue(out, text);
    case SYN_TYPED_NAME: return TypedNameValue(out, text);
    default: return ERR_INAPPROPRIATE_MATCHING;
  }
}

}  // namespace

// ---- Lines ----

std::string TrimBlanks(const std::string& text) { return TrimLeftChars(TrimRightChars(text, " \t"), " \t"); }

TextList FilterToLines(const std::string& filterText) {
  std::string text = filterText;
  auto ownLine = [&](const char* find, const std::string& token) {
    text = ReplaceInText(text, find, kBreak + token + kBreak);
  };
  ownLine("(", "(");
  ownLine(")", ")");
  for (const char* spelling : {"#AND#", "&&", "&"}) ownLine(spelling, "#AND#");
  for (const char* spelling : {"#OR#", "||", "|"}) ownLine(spelling, "#OR#");
  for (const char* spelling : {"#NOT#", "!"}) ownLine(spelling, "#NOT#");
  text = ReplaceInText(text, kBreak + " ", kBreak);
  text = ReplaceInText(text, kBreak + kBreak, kBreak);
  TextList lines;
  lines.SetText(text);
  return lines;
}

NWRCODE AddFilterLine(const std::string& line, SearchState& state) {
  const std::string item = TrimBlanks(line);
  if (item.empty()) return 0;
  if (!state.filter) {
    if (NWRCODE code = DSFilterCursorAlloc(&state.filter)) return code;
  }
  if (item == "(") return AddToken(state, FTOK_LPAREN);
  if (item == ")") return AddToken(state, FTOK_RPAREN);
  if (item == "#AND#") return AddToken(state, FTOK_AND);
  if (item == "#OR#") return AddToken(state, FTOK_OR);
  if (item == "#NOT#") return AddToken(state, FTOK_NOT);
  for (const char* op : {"<=", "#LE#", ">=", "#GE#", "=", "#EQ#", "#APPROX#", "#PRESENT#"}) {
    std::string attribute;
    std::string value;
    if (SplitComparison(op, item, attribute, value)) return AddComparisonTokens(attribute, op, value, state);
  }
  return ERR_INVALID_FILTER_SYNTAX;
}

bool SplitComparison(const std::string& op, const std::string& line, std::string& attribute, std::string& value) {
  const std::size_t at = op.empty() ? std::string::npos : line.find(op);
  if (at == std::string::npos) return false;
  attribute = TrimBlanks(line.substr(0, at));
  value = TrimBlanks(line.substr(at + op.size()));
  return true;
}

NWRCODE AddComparisonTokens(std::string attribute, std::string op, std::string value, SearchState& state) {
  if (EqualsNoCase(attribute, "Base Class")) {
    if (value == "*") return ERR_INVALID_FILTER_SYNTAX;
    if (NWRCODE code = AddToken(state, FTOK_BASECLS)) return code;
    if (EqualsNoCase(value, "o")) value = "Organization";
    else if (EqualsNoCase(value, "ou")) value = "Organizational Unit";
    return AddNameToken(state, value, SYN_CLASS_NAME);
  }
  if ((EqualsNoCase(attribute, "Name") || EqualsNoCase(attribute, "RDN")) && op == "=") {
    if (value == "*") return ERR_INVALID_FILTER_SYNTAX;
    if (NWRCODE code = AddToken(state, FTOK_RDN)) return code;
    return AddNameToken(state, value, SYN_DIST_NAME);
  }
  if (EqualsNoCase(attribute, "Aux Class")) attribute = "Object Class";
  nuint32 syntax = 0;
  if (NWRCODE code = DSAttrSyntaxId(state.context, attribute.c_str(), &syntax)) return code;
  if (op == "=" && value == "*") op = kPresent;
  const bool presence = op == kPresent;
  if (presence) {
    if (NWRCODE code = AddToken(state, FTOK_PRESENT)) return code;
  }
  if (NWRCODE code = AddNameToken(state, attribute, syntax)) return code;
  if (presence) return 0;
  if (NWRCODE code = AddToken(state, RelationToken(op))) return code;
  void* buffer = std::calloc(1, FilterValueBufferSize);
  if (!buffer) return ERR_NOT_ENOUGH_MEMORY;
  NWRCODE code = ERR_BAD_FILTER_VALUE;
  try {
    code = TextToSyntaxValue(state.context, attribute, buffer, FilterValueBufferSize, syntax, value);
  } catch (...) {
    std::free(buffer);
    throw;
  }
  if (code) {
    std::free(buffer);  // never reached the library
    return code;
  }
  return DSFilterAddToken(state.filter, FTOK_AVAL, buffer, syntax);
}

NWRCODE TextToSyntaxValue(NWDSContextHandle context, const std::string& attribute, void* buffer,
                          std::size_t bufferSize, nuint32 syntaxId, const std::string& text) {
  (void)context;
  (void)attribute;
  if (!buffer) return ERR_NULL_POINTER;
  std::memset(buffer, 0, bufferSize);
  RecordWriter out(buffer, bufferSize);
  try {
    NWRCODE code = ConvertValue(out, bufferSize, syntaxId, text);
    // A half-written record must not reach anyone.
    if (code) std::memset(buffer, 0, bufferSize);
    return code;
  } catch (const RangeCheckError&) {
    std::memset(buffer, 0, bufferSize);
    return ERR_BAD_FILTER_VALUE;
  }
}

int SplitHashParts(const std::string& text, std::array<std::string, 5>& parts) {
  for (std::string& part : parts) part.clear();
  int count = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t hash = text.find('#', start);
    if (hash == std::string::npos) hash = text.size();
    if (count < static_cast<int>(parts.size())) parts[static_cast<std::size_t>(count)] = text.substr(start, hash - start);
    ++count;
    start = hash + 1;
  }
  return count;
}

}  // namespace vestrel
