#include "platform/nwclient/ldap/LdapFilter.h"

#include <cstdio>
#include <vector>

#include "platform/nwclient/ldap/LdapSchema.h"
#include "platform/nwclient/ldap/LdapValues.h"

namespace vestrel::nw::ldap {

namespace {

// The filter as a tree in one array, built and written without recursion, so a deeply
// nested filter costs memory, not stack, and time in proportion to its size.
struct Node {
  char op = 0;       // 0 for a test, else '&', '|' or '!'
  std::string test;  // a test's text
  std::vector<std::size_t> children;
};

// "(a AND b) AND c" is one "(&abc)": the form servers and people read most easily.
std::size_t Combine(std::vector<Node>& nodes, char op, std::size_t left, std::size_t right) {
  Node node;
  node.op = op;
  if (nodes[left].op == op)
    node.children = std::move(nodes[left].children);
  else
    node.children.push_back(left);
  node.children.push_back(right);
  nodes.push_back(std::move(node));
  return nodes.size() - 1;
}

std::string Render(const std::vector<Node>& nodes, std::size_t root) {
  std::string text;
  std::vector<std::pair<std::size_t, std::size_t>> walk{{root, 0}};  // node, next child
  while (!walk.empty()) {
    const std::size_t index = walk.back().first;
    const std::size_t next = walk.back().second;
    const Node& node = nodes[index];
    if (node.op == 0) {
      text += node.test;
      walk.pop_back();
    } else if (next < node.children.size()) {
      if (next == 0) (text += '(') += node.op;
      walk.back().second = next + 1;
      walk.push_back({node.children[next], 0});
    } else {
      text += ')';
      walk.pop_back();
    }
  }
  return text;
}

std::string Relation(nuint16 relation) {
  switch (relation) {
    case FTOK_GE: return ">=";
    case FTOK_LE: return "<=";
    case FTOK_APPROX: return "~=";
    default: return "=";
  }
}

// "CN=x" -> "x": the relative-name test ignores the type.
std::string WithoutType(const std::string& name) {
  const std::size_t equals = name.find('=');
  if (equals == std::string::npos) return name;
  NameType type;
  return ParseNameType(name.substr(0, equals), type) ? name.substr(equals + 1) : name;
}

// The value of a comparison as LDAP text; false when LDAP cannot compare it.
bool ComparisonValue(const FilterTest& test, const std::string& ldapAttr, const DnLookup& dnOf, std::string& text) {
  const Value& value = test.value;
  const bool wildcards = test.relation == FTOK_EQ || test.relation == FTOK_APPROX;
  switch (test.syntax) {
    case SYN_DIST_NAME: {
      std::string dn;
      if (!dnOf(value.text, dn)) return false;
      text = EscapeFilterValue(dn, false);
      return true;
    }
    case SYN_CE_STRING: case SYN_CI_STRING: case SYN_PR_STRING: case SYN_NU_STRING: case SYN_TEL_NUMBER:
      text = EscapeFilterValue(value.text, wildcards);
      return true;
    case SYN_CLASS_NAME:
      text = EscapeFilterValue(SameAttribute(ldapAttr, kObjectClass) ? LdapClassName(value.text) : value.text, wildcards);
      return true;
    case SYN_BOOLEAN:
      text = value.number ? "TRUE" : "FALSE";
      return true;
    case SYN_INTEGER: case SYN_COUNTER: case SYN_INTERVAL:
      text = std::to_string(static_cast<nint32>(value.number));
      return true;
    case SYN_TIME:
      text = GeneralizedTime(value.number);
      return true;
    case SYN_OCTET_STRING:
      text = EscapeFilterValue(std::string_view(reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size()),
                               false);
      return true;
    default:
      return false;
  }
}

std::string TestText(const FilterTest& test, const DnLookup& dnOf) {
  switch (test.kind) {
    case FilterTest::Kind::BaseClass:
      return "(objectClass=" + EscapeFilterValue(LdapClassName(test.name), false) + ")";
    case FilterTest::Kind::RelativeName: {
      const std::string value = EscapeFilterValue(WithoutType(test.name), true);
      std::string text = "(|";
      for (const std::string& attr : NamingAttributes()) text += "(" + attr + "=" + value + ")";
      return text + ")";
    }
    case FilterTest::Kind::Present:
      return "(" + LdapAttributeName(test.name) + "=*)";
    case FilterTest::Kind::Compare: {
      const std::string attr = LdapAttributeName(test.name);
      std::string value;
      if (!ComparisonValue(test, attr, dnOf, value)) return kMatchNothing;
      return "(" + attr + Relation(test.relation) + value + ")";
    }
  }
  return kMatchNothing;
}

}  // namespace

std::string EscapeFilterValue(std::string_view value, bool keepWildcards) {
  std::string out;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c == '*' && !keepWildcards) || c == '(' || c == ')' || c == '\\' || byte == 0) {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "\\%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

std::string LdapFilterText(const CompiledFilter& filter, const DnLookup& dnOf) {
  std::vector<Node> nodes;
  std::vector<std::size_t> stack;
  for (const FilterStep& step : filter.steps) {
    switch (step.op) {
      case FilterStep::Op::Test: {
        Node test;
        test.test = step.test < filter.tests.size() ? TestText(filter.tests[step.test], dnOf) : kMatchNothing;
        nodes.push_back(std::move(test));
        stack.push_back(nodes.size() - 1);
        break;
      }
      case FilterStep::Op::Not: {
        if (stack.empty()) return kMatchNothing;
        Node negation;
        negation.op = '!';
        negation.children.push_back(stack.back());
        nodes.push_back(std::move(negation));
        stack.back() = nodes.size() - 1;
        break;
      }
      case FilterStep::Op::And:
      case FilterStep::Op::Or: {
        if (stack.size() < 2) return kMatchNothing;
        const std::size_t right = stack.back();
        stack.pop_back();
        stack.back() = Combine(nodes, step.op == FilterStep::Op::And ? '&' : '|', stack.back(), right);
        break;
      }
    }
  }
  return stack.size() == 1 ? Render(nodes, stack.back()) : kMatchNothing;
}

}  // namespace vestrel::nw::ldap
