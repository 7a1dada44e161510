// Evaluating a compiled filter on one object: value records decoded from the caller's
// memory, and comparisons per syntax (texts with or without case, numbers, booleans,
// times, octets, names by the object they resolve to).
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/nwclient/FilterSearch.h"

namespace vestrel::nw {

namespace {

// ---- Decoding value records ----

// Reads a value record whose memory is [base, base + size): nothing outside is touched.
class RecordReader {
 public:
  RecordReader(const void* base, std::size_t size) : base_(static_cast<const nuint8*>(base)), size_(size) {}

  template <typename Record>
  bool Read(Record& record) const {
    if (size_ < sizeof(Record)) return false;
    std::memcpy(&record, base_, sizeof(Record));
    return true;
  }
  // A NUL-terminated text that must start and end inside the memory; null reads as "".
  bool Text(const char* pointer, std::string& text) const {
    if (!pointer) {
      text.clear();
      return true;
    }
    const std::size_t offset = Offset(pointer);
    if (offset >= size_) return false;
    const void* end = std::memchr(base_ + offset, 0, size_ - offset);
    if (!end) return false;
    text.assign(reinterpret_cast<const char*>(base_ + offset), static_cast<const nuint8*>(end) - (base_ + offset));
    return true;
  }
  bool Bytes(const nuint8* pointer, nuint32 length, nw::Bytes& bytes) const {
    bytes.clear();
    if (length == 0) return true;
    if (!pointer) return false;
    const std::size_t offset = Offset(pointer);
    if (offset > size_ || length > size_ - offset) return false;
    bytes.assign(base_ + offset, base_ + offset + length);
    return true;
  }
  bool Contains(const void* pointer, std::size_t length) const {
    const std::size_t offset = Offset(pointer);
    return offset <= size_ && length <= size_ - offset;
  }
  std::size_t Offset(const void* pointer) const {
    // Compared as addresses so that a pointer elsewhere never becomes a read.
    const auto address = reinterpret_cast<std::uintptr_t>(pointer);
    const auto start = reinterpret_cast<std::uintptr_t>(base_);
    return address < start ? static_cast<std::size_t>(-1) : address - start;
  }
  const nuint8* Base() const { return base_; }

 private:
  const nuint8* base_;
  std::size_t size_;
};

bool DecodeList(const RecordReader& reader, Value& out) {
  CI_List_T node{};
  if (!reader.Read(node)) return false;
  // Each node lies in the memory; a chain longer than the memory can hold is a loop.
  const std::size_t maxNodes = 4096;
  for (std::size_t count = 0;; ++count) {
    if (count == maxNodes) return false;
    std::string text;
    if (!reader.Text(node.s, text)) return false;
    out.texts.push_back(std::move(text));
    if (!node.next) return true;
    if (!reader.Contains(node.next, sizeof(CI_List_T))) return false;
    std::memcpy(&node, reader.Base() + reader.Offset(node.next), sizeof(CI_List_T));
  }
}

}  // namespace

bool DecodeFilterValue(nuint32 syntax, const void* record, std::size_t size, Value& out) {
  out = Value{};
  if (!record) return false;
  RecordReader reader(record, size);
  switch (syntax) {
    case SYN_DIST_NAME:
    case SYN_CE_STRING:
    case SYN_CI_STRING:
    case SYN_PR_STRING:
    case SYN_NU_STRING:
    case SYN_TEL_NUMBER:
    case SYN_CLASS_NAME: return reader.Text(static_cast<const char*>(record), out.text);
    case SYN_CI_LIST: return DecodeList(reader, out);
    case SYN_BOOLEAN: {
      nuint8 flag = 0;
      if (!reader.Read(flag)) return false;
      out.number = flag ? 1 : 0;
      return true;
    }
    case SYN_INTEGER:
    case SYN_COUNTER:
    case SYN_INTERVAL:
    case SYN_TIME: return reader.Read(out.number);
    case SYN_TIMESTAMP: {
      nuint32 seconds = 0;  // the whole seconds open the record
      if (!reader.Read(seconds)) return false;
      out.number = seconds;
      return true;
    }
    case SYN_OCTET_STRING: {
      Octet_String_T octets{};
      return reader.Read(octets) && reader.Bytes(octets.data, octets.length, out.bytes);
    }
    case SYN_FAX_NUMBER: {
      Fax_Number_T fax{};
      return reader.Read(fax) && reader.Text(fax.telephoneNumber, out.text);
    }
    case SYN_EMAIL_ADDRESS: {
      EMail_Address_T mail{};
      if (!reader.Read(mail)) return false;
      out.number = mail.type;
      return reader.Text(mail.address, out.text);
    }
    case SYN_PATH: {
      Path_T path{};
      if (!reader.Read(path)) return false;
      out.number = path.nameSpaceType;
      out.texts.resize(2);
      return reader.Text(path.volumeName, out.texts[0]) && reader.Text(path.path, out.texts[1]);
    }
    case SYN_OBJECT_ACL: {
      Object_ACL_T acl{};
      if (!reader.Read(acl)) return false;
      out.texts.resize(1);
      out.number = acl.privileges;
      return reader.Text(acl.protectedAttrName, out.texts[0]) && reader.Text(acl.subjectName, out.text);
    }
    case SYN_TYPED_NAME: {
      Typed_Name_T typed{};
      if (!reader.Read(typed)) return false;
      out.number = typed.level;
      out.number2 = typed.interval;
      return reader.Text(typed.objectName, out.text);
    }
    default: return false;  // no matching rule for this syntax
  }
}

namespace {

// ---- Comparing ----

// Result of comparing an attribute value with a filter value.
enum class Order { Less, Equal, Greater, None };

Order OrderOf(int comparison) { return comparison < 0 ? Order::Less : comparison > 0 ? Order::Greater : Order::Equal; }

template <typename T>
Order CompareNumbers(T a, T b) {
  return a < b ? Order::Less : b < a ? Order::Greater : Order::Equal;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

enum class TextRule { Exact, IgnoreCase, IgnoreCaseAndBlanks, Telephone, Numeric };

TextRule RuleOf(nuint32 syntax) {
  switch (syntax) {
    case SYN_CE_STRING:
    case SYN_PR_STRING: return TextRule::Exact;
    case SYN_NU_STRING: return TextRule::Numeric;
    case SYN_TEL_NUMBER:
    case SYN_FAX_NUMBER: return TextRule::Telephone;
    default: return TextRule::IgnoreCase;
  }
}

// The form in which two texts of a rule are compared: case-ignoring texts lose their
// case and the blanks that do not matter (leading, trailing, runs); numbers and
// telephone numbers lose their blanks (and hyphens); approximate matches drop all blanks.
std::string Normalized(const std::string& text, TextRule rule) {
  std::string out;
  out.reserve(text.size());
  bool pendingBlank = false;
  for (char c : text) {
    if (rule == TextRule::Telephone && c == '-') continue;
    if (IsBlank(c)) {
      pendingBlank = rule == TextRule::IgnoreCase || rule == TextRule::Exact;
      continue;
    }
    if (pendingBlank && !out.empty()) out += ' ';
    pendingBlank = false;
    out += rule == TextRule::Exact ? c : Upper(c);
  }
  return out;
}

// '*' in the pattern stands for any run of characters. Greedy with one back-track point:
// linear in practice, at worst pattern length times text length.
bool WildcardMatch(const std::string& pattern, const std::string& text) {
  std::size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool TextMatches(nuint16 relation, const std::string& value, const std::string& wanted, TextRule rule) {
  if (relation == FTOK_APPROX) rule = rule == TextRule::Exact ? TextRule::Exact : TextRule::IgnoreCaseAndBlanks;
  const std::string a = Normalized(value, rule);
  const std::string b = Normalized(wanted, rule);
  switch (relation) {
    case FTOK_EQ:
    case FTOK_APPROX: return b.find('*') != std::string::npos ? WildcardMatch(b, a) : a == b;
    case FTOK_GE: return a >= b;
    case FTOK_LE: return a <= b;
    default: return false;
  }
}

bool OrderMatches(nuint16 relation, Order order) {
  switch (relation) {
    case FTOK_EQ:
    case FTOK_APPROX: return order == Order::Equal;
    case FTOK_GE: return order == Order::Equal || order == Order::Greater;
    case FTOK_LE: return order == Order::Equal || order == Order::Less;
    default: return false;
  }
}

bool SameName(const std::string& valueName, const std::string& resolvedName) {
  return !resolvedName.empty() && EqualsNoCase(valueName, resolvedName);
}

Order CompareLists(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int c = Normalized(a[i], TextRule::IgnoreCase).compare(Normalized(b[i], TextRule::IgnoreCase));
    if (c != 0) return OrderOf(c);
  }
  return CompareNumbers(a.size(), b.size());
}

bool ListApproxMatches(const std::vector<std::string>& value, const std::vector<std::string>& wanted) {
  for (const std::string& w : wanted)
    for (const std::string& v : value)
      if (TextMatches(FTOK_APPROX, v, w, TextRule::IgnoreCase)) return true;
  return false;
}

bool IsTextSyntax(nuint32 syntax) {
  return (syntax >= SYN_DIST_NAME && syntax <= SYN_NU_STRING) || syntax == SYN_TEL_NUMBER || syntax == SYN_CLASS_NAME;
}

bool IsNumberSyntax(nuint32 syntax) {
  return syntax == SYN_BOOLEAN || syntax == SYN_INTEGER || syntax == SYN_COUNTER || syntax == SYN_INTERVAL;
}

bool IsTimeSyntax(nuint32 syntax) { return syntax == SYN_TIMESTAMP || syntax == SYN_TIME; }

// Values of the same syntax, by that syntax's rules.
bool SameSyntaxMatches(const FilterTest& test, const std::string& resolvedName, const Value& value) {
  const Value& wanted = test.value;
  const nuint16 relation = test.relation;
  switch (test.syntax) {
    case SYN_DIST_NAME:
      if (relation == FTOK_EQ || relation == FTOK_APPROX) return SameName(value.text, resolvedName);
      return TextMatches(relation, value.text, resolvedName.empty() ? wanted.text : resolvedName, TextRule::IgnoreCase);
    case SYN_CI_LIST:
      if (relation == FTOK_APPROX) return ListApproxMatches(value.texts, wanted.texts);
      return OrderMatches(relation, CompareLists(value.texts, wanted.texts));
    case SYN_BOOLEAN:
    case SYN_INTEGER:
    case SYN_COUNTER:
    case SYN_INTERVAL:
      return OrderMatches(relation, CompareNumbers(static_cast<nint32>(value.number), static_cast<nint32>(wanted.number)));
    case SYN_TIMESTAMP:
    case SYN_TIME: return OrderMatches(relation, CompareNumbers(value.number, wanted.number));
    case SYN_OCTET_STRING: {
      const Order order = OrderOf(std::lexicographical_compare(value.bytes.begin(), value.bytes.end(),
                                                               wanted.bytes.begin(), wanted.bytes.end())
                                      ? -1
                                      : value.bytes == wanted.bytes ? 0 : 1);
      return OrderMatches(relation, order);
    }
    case SYN_FAX_NUMBER: return TextMatches(relation, value.text, wanted.text, TextRule::Telephone);
    case SYN_EMAIL_ADDRESS: return TextMatches(relation, value.text, wanted.text, TextRule::IgnoreCase);
    case SYN_PATH: {
      if (value.texts.size() < 2 || wanted.texts.size() < 2) return false;
      if (relation != FTOK_EQ && relation != FTOK_APPROX) return false;
      return value.number == wanted.number && TextMatches(relation, value.texts[0], wanted.texts[0], TextRule::IgnoreCase) &&
             TextMatches(relation, value.texts[1], wanted.texts[1], TextRule::IgnoreCase);
    }
    case SYN_OBJECT_ACL: {
      if (value.texts.empty() || wanted.texts.empty()) return false;
      if (relation != FTOK_EQ && relation != FTOK_APPROX) return false;
      // Approximately: the same attribute and subject, whatever the rights.
      return EqualsNoCase(value.texts[0], wanted.texts[0]) && SameName(value.text, resolvedName) &&
             (relation == FTOK_APPROX || value.number == wanted.number);
    }
    case SYN_TYPED_NAME:
      if (relation != FTOK_EQ && relation != FTOK_APPROX) return false;
      return SameName(value.text, resolvedName) && value.number == wanted.number && value.number2 == wanted.number2;
    default:
      if (IsTextSyntax(test.syntax)) return TextMatches(relation, value.text, wanted.text, RuleOf(test.syntax));
      return false;
  }
}

// An object's attributes, computed when the first test needs them.
class ObjectAttributes {
 public:
  ObjectAttributes(const Tree& tree, const Object& obj) : tree_(tree), obj_(obj) {}
  const Attribute* Find(const std::string& name) {
    if (!loaded_) {
      attributes_ = EffectiveAttributes(tree_, obj_);
      loaded_ = true;
    }
    for (const Attribute& attr : attributes_)
      if (EqualsNoCase(attr.name, name)) return &attr;
    return nullptr;
  }

 private:
  const Tree& tree_;
  const Object& obj_;
  bool loaded_ = false;
  std::vector<Attribute> attributes_;
};

// A relative name as the filter gives it, without a type prefix ("CN=x" -> "x").
std::string WithoutType(const std::string& name) {
  const std::size_t equals = name.find('=');
  if (equals == std::string::npos) return name;
  NameType type;
  return ParseNameType(name.substr(0, equals), type) ? name.substr(equals + 1) : name;
}

bool TestPasses(const FilterTest& test, const std::string& resolvedName, const Object& obj,
                ObjectAttributes& attributes) {
  switch (test.kind) {
    case FilterTest::Kind::BaseClass: return EqualsNoCase(obj.baseClass, test.name);
    case FilterTest::Kind::RelativeName:
      return !obj.IsRoot() && TextMatches(FTOK_EQ, obj.rdn, WithoutType(test.name), TextRule::IgnoreCase);
    case FilterTest::Kind::Present: {
      const Attribute* attr = attributes.Find(test.name);
      return attr && !attr->values.empty();
    }
    case FilterTest::Kind::Compare: {
      const Attribute* attr = attributes.Find(test.name);
      if (!attr) return false;
      for (const Value& value : attr->values)
        if (ValueMatches(test, resolvedName, *attr, value)) return true;
      return false;
    }
  }
  return false;
}

}  // namespace

bool ValueMatches(const FilterTest& test, const std::string& resolvedName, const Attribute& attr, const Value& value) {
  if (attr.syntax == test.syntax) return SameSyntaxMatches(test, resolvedName, value);
  // A value kept under another syntax than the schema's: compare what the two share.
  if (IsTextSyntax(attr.syntax) && IsTextSyntax(test.syntax) && test.syntax != SYN_DIST_NAME)
    return TextMatches(test.relation, value.text, test.value.text, TextRule::IgnoreCase);
  if (IsNumberSyntax(attr.syntax) && IsNumberSyntax(test.syntax))
    return OrderMatches(test.relation,
                        CompareNumbers(static_cast<nint32>(value.number), static_cast<nint32>(test.value.number)));
  if (IsTimeSyntax(attr.syntax) && IsTimeSyntax(test.syntax))
    return OrderMatches(test.relation, CompareNumbers(value.number, test.value.number));
  return false;
}

std::vector<std::string> ResolveFilterNames(const CompiledFilter& filter, const Tree& tree, const Context& context) {
  std::vector<std::string> names(filter.tests.size());
  for (std::size_t i = 0; i < filter.tests.size(); ++i) {
    const FilterTest& test = filter.tests[i];
    if (test.kind != FilterTest::Kind::Compare) continue;
    if (test.syntax != SYN_DIST_NAME && test.syntax != SYN_OBJECT_ACL && test.syntax != SYN_TYPED_NAME) continue;
    Object* obj = nullptr;
    if (ResolveName(tree, context, test.value.text.c_str(), obj) == 0 && obj) {
      names[i] = obj->FullName();
    } else {
      // A name of no object can still equal a stored name of a removed object.
      std::string fullName;
      if (FullInputName(context, test.value.text.c_str(), fullName) == 0) names[i] = fullName;
    }
  }
  return names;
}

bool FilterMatches(const CompiledFilter& filter, const std::vector<std::string>& names, const Tree& tree,
                   const Object& obj) {
  ObjectAttributes attributes(tree, obj);
  std::vector<bool> stack;
  stack.reserve(filter.steps.size());
  for (const FilterStep& step : filter.steps) {
    switch (step.op) {
      case FilterStep::Op::Test: {
        static const std::string noName;
        const std::string& name = step.test < names.size() ? names[step.test] : noName;
        stack.push_back(TestPasses(filter.tests[step.test], name, obj, attributes));
        break;
      }
      case FilterStep::Op::Not:
        if (stack.empty()) return false;
        stack.back() = !stack.back();
        break;
      case FilterStep::Op::And:
      case FilterStep::Op::Or: {
        if (stack.size() < 2) return false;
        const bool right = stack.back();
        stack.pop_back();
        stack.back() = step.op == FilterStep::Op::And ? (stack.back() && right) : (stack.back() || right);
        break;
      }
    }
  }
  return stack.size() == 1 && stack.back();
}

}  // namespace vestrel::nw
