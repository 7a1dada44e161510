// Search filters and searches of the embedded directory: the filter builder behind
// DSFilterCursorAlloc / DSFilterAddToken / DSFilterStore, the compiled filter a search
// evaluates, and a recording hook for tests.
//
// Token values (names of FTOK_ANAME, value records of FTOK_AVAL) come from std::malloc;
// the builder owns them from the moment DSFilterAddToken is called and frees them with
// std::free when the cursor goes (DSFilterFree, or DSFilterStore on success), even when
// the token is refused.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "directory/NTypes.h"
#include "platform/nwclient/Engine.h"
#include "platform/nwclient/Model.h"

namespace vestrel::nw {

// One test of a filter: a leaf of the expression.
struct FilterTest {
  enum class Kind { BaseClass, RelativeName, Present, Compare };
  Kind kind = Kind::Present;
  std::string name;       // class name, relative name or attribute name
  nuint16 relation = 0;   // FTOK_EQ, FTOK_GE, FTOK_LE or FTOK_APPROX (Compare only)
  nuint32 syntax = 0;     // syntax of the comparison value
  Value value;            // decoded comparison value, fields as in Model.h
};

// The expression in postfix order: tests and the operators that combine them.
struct FilterStep {
  enum class Op { Test, And, Or, Not };
  Op op = Op::Test;
  std::size_t test = 0;  // index into tests (Test only)
};

struct CompiledFilter {
  std::vector<FilterTest> tests;
  std::vector<FilterStep> steps;
};

// What DSFilterStore leaves in a buffer prepared for DSV_SEARCH_FILTER.
struct StoredFilter : BufferPayload {
  std::shared_ptr<const CompiledFilter> filter;
};

// Decodes a value record of syntax into the neutral form. The record lies in memory of
// size bytes; every pointer in it must point inside that memory and every text must end
// there. False for a malformed record or a syntax that cannot be compared.
bool DecodeFilterValue(nuint32 syntax, const void* record, std::size_t size, Value& out);

// Names of distinguished-name fields of the filter's values, resolved once per search
// against the searching context (index = test index; empty when the test has none).
std::vector<std::string> ResolveFilterNames(const CompiledFilter& filter, const Tree& tree, const Context& context);

// Whether obj passes the filter; names = ResolveFilterNames of the same filter.
bool FilterMatches(const CompiledFilter& filter, const std::vector<std::string>& names, const Tree& tree,
                   const Object& obj);

// One attribute value against one comparison value of the test (relation and syntax of
// the test; resolvedName from ResolveFilterNames).
bool ValueMatches(const FilterTest& test, const std::string& resolvedName, const Attribute& attr,
                  const Value& value);

// ---- Test hook ----
// Every DSFilterAddToken call, as the library received it (value decoded when possible).
struct RecordedFilterToken {
  nuint16 token = 0;
  nuint32 syntax = 0;
  std::string name;  // FTOK_ANAME text
  Value value;       // FTOK_AVAL value (decoded)
  bool decoded = false;
};
// Starts recording into sink (not owned); nullptr stops.
void RecordFilterTokens(std::vector<RecordedFilterToken>* sink);
// Cursors allocated and not yet freed or stored (to find leaks in tests).
std::size_t LiveFilterCursorCount();

}  // namespace vestrel::nw
