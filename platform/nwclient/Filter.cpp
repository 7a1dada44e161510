// The filter builder: tokens are checked one by one as they arrive, so an expression
// that cannot be completed is refused at the first token that breaks it; the finished
// expression is compiled into postfix order (NOT before AND before OR) when stored.
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "directory/NETWIN32.h"
#include "platform/nwclient/FilterSearch.h"

namespace vestrel {

namespace {

// What the builder accepts next.
enum class Expect { Operand, Name, Relation, Value, Operator, Done };

struct AcceptedToken {
  nuint16 token = 0;
  nuint32 syntax = 0;
  std::string name;
  nw::Value value;
};

}  // namespace

struct Filter_Cursor_T {
  std::vector<AcceptedToken> tokens;
  Expect expect = Expect::Operand;
  int depth = 0;                   // open parentheses
  std::vector<void*> ownedValues;  // token values handed over by the caller

  Filter_Cursor_T() = default;
  Filter_Cursor_T(const Filter_Cursor_T&) = delete;
  Filter_Cursor_T& operator=(const Filter_Cursor_T&) = delete;
  ~Filter_Cursor_T() {
    for (void* value : ownedValues) std::free(value);
  }
};

namespace {

// Cursors handed out and neither stored nor freed. The library keeps them until it ends,
// then releases them, as a process would.
struct CursorRegistry {
  std::unordered_set<Filter_Cursor_T*> live;
  CursorRegistry() = default;
  CursorRegistry(const CursorRegistry&) = delete;
  CursorRegistry& operator=(const CursorRegistry&) = delete;
  ~CursorRegistry() {
    for (Filter_Cursor_T* cursor : live) delete cursor;
  }
};

std::unordered_set<Filter_Cursor_T*>& LiveCursors() {
  static CursorRegistry registry;
  return registry.live;
}

std::vector<nw::RecordedFilterToken>*& Recorder() {
  static std::vector<nw::RecordedFilterToken>* sink = nullptr;
  return sink;
}

bool IsRelation(nuint16 token) {
  return token == FTOK_EQ || token == FTOK_GE || token == FTOK_LE || token == FTOK_APPROX;
}

// The memory a caller's value lives in: the whole allocation it came from.
std::size_t OwnedSize(const void* value) { return value ? malloc_usable_size(const_cast<void*>(value)) : 0; }

// Moves the builder on by one token; the code says why a token does not fit.
NWRCODE Advance(Filter_Cursor_T& cursor, nuint16 token) {
  switch (cursor.expect) {
    case Expect::Operand:
      if (token == FTOK_NOT) return 0;
      if (token == FTOK_LPAREN) {
        ++cursor.depth;
        return 0;
      }
      if (token == FTOK_BASECLS || token == FTOK_RDN || token == FTOK_PRESENT) {
        cursor.expect = Expect::Name;
        return 0;
      }
      if (token == FTOK_ANAME) {
        cursor.expect = Expect::Relation;
        return 0;
      }
      if (token == FTOK_END && cursor.tokens.empty()) return ERR_FILTER_TREE_EMPTY;
      return ERR_INVALID_FILTER_SYNTAX;
    case Expect::Name:
      if (token != FTOK_ANAME) return ERR_EXPECTED_IDENTIFIER;
      cursor.expect = Expect::Operator;
      return 0;
    case Expect::Relation:
      if (!IsRelation(token)) return ERR_INVALID_FILTER_SYNTAX;
      cursor.expect = Expect::Value;
      return 0;
    case Expect::Value:
      if (token != FTOK_AVAL) return ERR_INVALID_FILTER_SYNTAX;
      cursor.expect = Expect::Operator;
      return 0;
    case Expect::Operator:
      if (token == FTOK_AND || token == FTOK_OR) {
        cursor.expect = Expect::Operand;
        return 0;
      }
      if (token == FTOK_RPAREN && cursor.depth > 0) {
        --cursor.depth;
        return 0;
      }
      if (token == FTOK_END && cursor.depth == 0) {
        cursor.expect = Expect::Done;
        return 0;
      }
      return ERR_INVALID_FILTER_SYNTAX;
    case Expect::Done:
      return ERR_TOO_MANY_TOKENS;
  }
  return ERR_INVALID_FILTER_SYNTAX;
}

int Precedence(nw::FilterStep::Op op) {
  switch (op) {
    case nw::FilterStep::Op::Not: return 3;
    case nw::FilterStep::Op::And: return 2;
    case nw::FilterStep::Op::Or: return 1;
    default: return 0;
  }
}

// Shunting-yard over a token stream the builder has already checked: no recursion, so
// deep nesting costs memory, not stack.
std::shared_ptr<nw::CompiledFilter> Compile(const std::vector<AcceptedToken>& tokens) {
  using Op = nw::FilterStep::Op;
  auto filter = std::make_shared<nw::CompiledFilter>();
  struct Pending {
    bool paren = false;
    Op op = Op::And;
  };
  std::vector<Pending> stack;
  auto popOperatorsWhile = [&](auto keepPopping) {
    while (!stack.empty() && !stack.back().paren && keepPopping(stack.back().op)) {
      filter->steps.push_back({stack.back().op, 0});
      stack.pop_back();
    }
  };
  nw::FilterTest test;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const AcceptedToken& token = tokens[i];
    switch (token.token) {
      case FTOK_LPAREN: stack.push_back({true, Op::And}); break;
      case FTOK_RPAREN:
        popOperatorsWhile([](Op) { return true; });
        if (!stack.empty()) stack.pop_back();  // the matching "("
        break;
      case FTOK_NOT: stack.push_back({false, Op::Not}); break;
      case FTOK_AND:
      case FTOK_OR: {
        const Op op = token.token == FTOK_AND ? Op::And : Op::Or;
        popOperatorsWhile([&](Op top) { return Precedence(top) >= Precedence(op); });
        stack.push_back({false, op});
        break;
      }
      case FTOK_BASECLS: test = {}; test.kind = nw::FilterTest::Kind::BaseClass; break;
      case FTOK_RDN: test = {}; test.kind = nw::FilterTest::Kind::RelativeName; break;
      case FTOK_PRESENT: test = {}; test.kind = nw::FilterTest::Kind::Present; break;
      case FTOK_ANAME:
        // A name after 15, 16 or 17 completes that test; otherwise it opens a comparison.
        if (i > 0 && (tokens[i - 1].token == FTOK_BASECLS || tokens[i - 1].token == FTOK_RDN ||
                      tokens[i - 1].token == FTOK_PRESENT)) {
          test.name = token.name;
          filter->steps.push_back({Op::Test, filter->tests.size()});
          filter->tests.push_back(std::move(test));
        } else {
          test = {};
          test.kind = nw::FilterTest::Kind::Compare;
          test.name = token.name;
        }
        break;
      case FTOK_EQ:
      case FTOK_GE:
      case FTOK_LE:
      case FTOK_APPROX: test.relation = token.token; break;
      case FTOK_AVAL:
        test.syntax = token.syntax;
        test.value = token.value;
        filter->steps.push_back({Op::Test, filter->tests.size()});
        filter->tests.push_back(std::move(test));
        break;
      default: break;  // FTOK_END
    }
  }
  popOperatorsWhile([](Op) { return true; });
  return filter;
}

}  // namespace

// ---- Library operations ----

NWRCODE DSFilterCursorAlloc(Filter_Cursor_T** cursor) {
  if (NWRCODE code = nw::TheEngine().Enter("DSFilterCursorAlloc")) return code;
  if (!cursor) return ERR_NULL_POINTER;
  *cursor = new Filter_Cursor_T;
  LiveCursors().insert(*cursor);
  return 0;
}

NWRCODE DSFilterAddToken(Filter_Cursor_T* cursor, nuint16 token, void* value, nuint32 syntaxId) {
  // The value is ours whatever happens next: keep it with the cursor, or free it now.
  struct Holder {
    void* value;
    ~Holder() { std::free(value); }
  } holder{value};
  const bool liveCursor = cursor && LiveCursors().count(cursor) > 0;

  AcceptedToken accepted;
  accepted.token = token;
  accepted.syntax = syntaxId;
  const std::size_t size = OwnedSize(value);
  bool decoded = false;
  NWRCODE valueCode = 0;
  if (token == FTOK_ANAME) {
    const char* text = static_cast<const char*>(value);
    if (!text) valueCode = ERR_NULL_POINTER;
    else if (!std::memchr(text, 0, size)) valueCode = ERR_INVALID_ATTR_SYNTAX;
    else accepted.name = text;
  } else if (token == FTOK_AVAL) {
    if (!value) valueCode = ERR_NULL_POINTER;
    else if (!(decoded = nw::DecodeFilterValue(syntaxId, value, size, accepted.value))) valueCode = ERR_INVALID_ATTR_SYNTAX;
  }
  if (auto* sink = Recorder()) sink->push_back({token, syntaxId, accepted.name, accepted.value, decoded});

  if (NWRCODE code = nw::TheEngine().Enter("DSFilterAddToken")) return code;
  if (!cursor) return ERR_NULL_POINTER;
  if (!liveCursor) return ERR_INVALID_HANDLE;
  if (valueCode) return valueCode;
  const Expect before = cursor->expect;
  const int depthBefore = cursor->depth;
  if (NWRCODE code = Advance(*cursor, token)) {
    cursor->expect = before;
    cursor->depth = depthBefore;
    return code;
  }
  cursor->tokens.push_back(std::move(accepted));
  if (holder.value) {
    cursor->ownedValues.push_back(holder.value);
    holder.value = nullptr;
  }
  return 0;
}

NWRCODE DSAttrSyntaxId(NWDSContextHandle context, const char* attrName, nuint32* syntaxId) {
  if (NWRCODE code = nw::TheEngine().Enter("DSAttrSyntaxId")) return code;
  if (!attrName || !syntaxId) return ERR_NULL_POINTER;
  nw::Context* settings = nullptr;
  nw::DirectorySource* tree = nullptr;
  if (NWRCODE code = nw::TheEngine().ContextSource(context, settings, tree)) return code;
  nuint32 syntax = 0;
  if (!tree->SyntaxOf(attrName, syntax)) return ERR_NO_SUCH_ATTRIBUTE;
  *syntaxId = syntax;
  return 0;
}

NWRCODE DSFilterStore(NWDSContextHandle context, Buf_T* filterBuffer, Filter_Cursor_T* cursor) {
  if (NWRCODE code = nw::TheEngine().Enter("DSFilterStore")) return code;
  if (!filterBuffer || !cursor) return ERR_NULL_POINTER;
  if (!LiveCursors().count(cursor)) return ERR_INVALID_HANDLE;
  if (!nw::TheEngine().FindContext(context)) return ERR_BAD_CONTEXT;
  nw::BufferState* buffer = nw::TheEngine().FindBuffer(filterBuffer);
  if (!buffer) return ERR_INVALID_HANDLE;
  if (filterBuffer->operation != DSV_SEARCH_FILTER) return ERR_BAD_VERB;
  if (cursor->tokens.empty()) return ERR_FILTER_TREE_EMPTY;
  if (cursor->expect != Expect::Done) return ERR_INVALID_FILTER_SYNTAX;
  auto stored = std::make_unique<nw::StoredFilter>();
  stored->filter = Compile(cursor->tokens);
  buffer->ClearContent();
  buffer->payload = std::move(stored);
  // The buffer holds the expression now; the cursor is used up.
  LiveCursors().erase(cursor);
  delete cursor;
  return 0;
}

NWRCODE DSFilterFree(Filter_Cursor_T* cursor) {
  if (NWRCODE code = nw::TheEngine().Enter("DSFilterFree")) return code;
  if (!cursor) return ERR_NULL_POINTER;
  if (!LiveCursors().erase(cursor)) return ERR_INVALID_HANDLE;
  delete cursor;
  return 0;
}

namespace nw {

void RecordFilterTokens(std::vector<RecordedFilterToken>* sink) { Recorder() = sink; }

std::size_t LiveFilterCursorCount() { return LiveCursors().size(); }

}  // namespace nw

}  // namespace vestrel
