// The library's filter builder and searches: malformed token streams refused with
// codes, precedence, comparisons per syntax, steps, scopes, names and abandoning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/nwclient/FilterSearch.h"
#include "tests/platform/NwTestSupport.h"
#include "tests/platform/SearchTestTree.h"

namespace vestrel::testing {
namespace {

// One token with a value in malloc'd memory, as the program hands them over.
struct Tok {
  nuint16 token;
  void* value = nullptr;
  nuint32 syntax = 0;
};

Tok T(nuint16 token) { return {token}; }

void* Copy(const void* bytes, std::size_t size) {
  void* memory = std::calloc(1, size);
  std::memcpy(memory, bytes, size);
  return memory;
}

Tok Name(const std::string& name, nuint32 syntax = SYN_CI_STRING) { return {FTOK_ANAME, Copy(name.c_str(), name.size() + 1), syntax}; }
Tok TextValue(const std::string& text, nuint32 syntax = SYN_CI_STRING) {
  return {FTOK_AVAL, Copy(text.c_str(), text.size() + 1), syntax};
}
Tok NumberValue(nuint32 number, nuint32 syntax = SYN_INTEGER) { return {FTOK_AVAL, Copy(&number, sizeof number), syntax}; }
Tok OctetValue(std::vector<nuint8> bytes) {
  auto* memory = static_cast<nuint8*>(std::calloc(1, sizeof(Octet_String_T) + bytes.size()));
  std::memcpy(memory + sizeof(Octet_String_T), bytes.data(), bytes.size());
  Octet_String_T record{static_cast<nuint32>(bytes.size()), memory + sizeof(Octet_String_T)};
  std::memcpy(memory, &record, sizeof record);
  return {FTOK_AVAL, memory, SYN_OCTET_STRING};
}
Tok ListValue(const std::string& text) {
  auto* memory = static_cast<nuint8*>(std::calloc(1, sizeof(CI_List_T) + text.size() + 1));
  std::memcpy(memory + sizeof(CI_List_T), text.c_str(), text.size() + 1);
  CI_List_T node{nullptr, reinterpret_cast<char*>(memory + sizeof(CI_List_T))};
  std::memcpy(memory, &node, sizeof node);
  return {FTOK_AVAL, memory, SYN_CI_LIST};
}

// Comparison "attr op value" as four tokens.
std::vector<Tok> Compare(const std::string& attr, nuint16 op, Tok value) { return {Name(attr, value.syntax), T(op), value}; }

std::vector<Tok> Join(std::initializer_list<std::vector<Tok>> parts) {
  std::vector<Tok> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Adds tokens until one is refused: its index and code (-1, 0 when all went in). The
// library owns every value handed over; those never handed over are freed here.
std::pair<int, NWRCODE> Add(Filter_Cursor_T* cursor, const std::vector<Tok>& tokens) {
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (NWRCODE code = DSFilterAddToken(cursor, tokens[i].token, tokens[i].value, tokens[i].syntax)) {
      for (std::size_t j = i + 1; j < tokens.size(); ++j) std::free(tokens[j].value);
      return {static_cast<int>(i), code};
    }
  }
  return {-1, 0};
}

class FilterSearchTest : public NwTest {
 protected:
  void SetUp() override {
    NwTest::SetUp();
    ASSERT_EQ(nwtest::ConnectTreeJson(kSearchTreeJson, "admin.ORG", true), "");
    ctx = Context("ORG_TREE");
  }

  // A filter buffer holding the stored expression of tokens (END added here).
  Buf_T* StoredFilter(std::vector<Tok> tokens) {
    Buf_T* buffer = nullptr;
    EXPECT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &buffer), 0);
    EXPECT_EQ(DSBufferInit(ctx, DSV_SEARCH_FILTER, buffer), 0);
    Filter_Cursor_T* cursor = nullptr;
    EXPECT_EQ(DSFilterCursorAlloc(&cursor), 0);
    tokens.push_back(T(FTOK_END));
    EXPECT_EQ(Add(cursor, tokens), std::make_pair(-1, 0));
    EXPECT_EQ(DSFilterStore(ctx, buffer, cursor), 0);
    return buffer;
  }

  // Every name found, all steps run; code of the first failing call.
  std::vector<std::string> Search(std::vector<Tok> tokens, const std::string& base = "[Root]",
                                  nuint32 scope = DS_SEARCH_SUBTREE, nuint32 perStep = 50, int* steps = nullptr,
                                  NWRCODE* failure = nullptr) {
    Buf_T* filter = tokens.empty() ? nullptr : StoredFilter(std::move(tokens));
    Buf_T* reply = nullptr;
    EXPECT_EQ(DSBufferAlloc(MAX_MESSAGE_LEN, &reply), 0);
    std::vector<std::string> names;
    nuint32 handle = NO_MORE_ITERATIONS;
    int count = 0;
    do {
      nuint32 searched = 0;
      NWRCODE code = DSSearchStep(ctx, base.c_str(), scope, false, filter, nullptr, DS_ATTRIBUTE_NAMES, false,
                                  nullptr, &handle, perStep, &searched, reply);
      if (failure) *failure = code;
      if (code) break;
      ++count;
      nuint32 objects = 0;
      EXPECT_EQ(DSResultObjectCount(ctx, reply, &objects), 0);
      EXPECT_LE(objects, perStep);
      for (nuint32 i = 0; i < objects; ++i) {
        char name[MAX_DN_BYTES];
        Object_Info_T info{};
        EXPECT_EQ(DSResultNextObject(ctx, reply, name, nullptr, &info), 0);
        names.push_back(name);
      }
    } while (handle != NO_MORE_ITERATIONS);
    if (steps) *steps = count;
    DSBufferFree(reply);
    if (filter) DSBufferFree(filter);
    return names;
  }

  std::set<std::string> Found(std::vector<Tok> tokens) {
    auto names = Search(std::move(tokens));
    return {names.begin(), names.end()};
  }

  NWDSContextHandle ctx = 0;
};

using Names = std::set<std::string>;

TEST_F(FilterSearchTest, MalformedStreamsAreRefusedWithCodesAndNothingLeaks) {
  struct Case {
    const char* what;
    std::vector<Tok> tokens;
    std::pair<int, NWRCODE> refused;
  };
  std::vector<Case> cases;
  cases.push_back({"operator without operands", {T(FTOK_AND)}, {0, ERR_INVALID_FILTER_SYNTAX}});
  cases.push_back({"empty parentheses", {T(FTOK_LPAREN), T(FTOK_RPAREN)}, {1, ERR_INVALID_FILTER_SYNTAX}});
  cases.push_back({"closing first", {T(FTOK_RPAREN)}, {0, ERR_INVALID_FILTER_SYNTAX}});
  cases.push_back({"value without a comparison", {Name("Surname"), TextValue("x")}, {1, ERR_INVALID_FILTER_SYNTAX}});
  cases.push_back({"class test without a class", {T(FTOK_BASECLS), T(FTOK_AND)}, {1, ERR_EXPECTED_IDENTIFIER}});
  cases.push_back({"unbalanced at the end", {T(FTOK_LPAREN), T(FTOK_BASECLS), Name("User", 20), T(FTOK_END)},
                   {3, ERR_INVALID_FILTER_SYNTAX}});
  cases.push_back({"NOT after an operand", {T(FTOK_PRESENT), Name("Surname"), T(FTOK_NOT)}, {2, ERR_INVALID_FILTER_SYNTAX}});
  cases.push_back({"trailing operator", {T(FTOK_PRESENT), Name("Surname"), T(FTOK_OR), T(FTOK_END)},
                   {3, ERR_INVALID_FILTER_SYNTAX}});
  cases.push_back({"nothing at all", {T(FTOK_END)}, {0, ERR_FILTER_TREE_EMPTY}});
  cases.push_back({"after the end", {T(FTOK_PRESENT), Name("Surname"), T(FTOK_END), T(FTOK_AND)}, {3, ERR_TOO_MANY_TOKENS}});
  cases.push_back({"unknown token", {T(11)}, {0, ERR_INVALID_FILTER_SYNTAX}});
  cases.push_back({"value of a syntax without matching", {Name("Network Address", 12), T(FTOK_EQ), TextValue("x", 12)},
                   {2, ERR_INVALID_ATTR_SYNTAX}});
  for (Case& c : cases) {
    Filter_Cursor_T* cursor = nullptr;
    ASSERT_EQ(DSFilterCursorAlloc(&cursor), 0);
    EXPECT_EQ(Add(cursor, c.tokens), c.refused) << c.what;
    EXPECT_EQ(DSFilterFree(cursor), 0) << c.what;
  }
  EXPECT_EQ(nw::LiveFilterCursorCount(), 0u);
  EXPECT_EQ(DSFilterAddToken(nullptr, FTOK_ANAME, Name("x").value, 3), ERR_NULL_POINTER);  // value freed all the same
}

TEST_F(FilterSearchTest, StoreWantsAFinishedExpressionAndAFilterBuffer) {
  Buf_T* filter = nullptr;
  Buf_T* readBuffer = nullptr;
  ASSERT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &filter), 0);
  ASSERT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &readBuffer), 0);
  ASSERT_EQ(DSBufferInit(ctx, DSV_SEARCH_FILTER, filter), 0);
  ASSERT_EQ(DSBufferInit(ctx, DSV_READ, readBuffer), 0);
  Filter_Cursor_T* cursor = nullptr;
  ASSERT_EQ(DSFilterCursorAlloc(&cursor), 0);
  EXPECT_EQ(DSFilterStore(ctx, filter, cursor), ERR_FILTER_TREE_EMPTY);
  ASSERT_EQ(Add(cursor, {T(FTOK_BASECLS), Name("User", 20)}), std::make_pair(-1, 0));
  EXPECT_EQ(DSFilterStore(ctx, filter, cursor), ERR_INVALID_FILTER_SYNTAX);  // no end token yet
  ASSERT_EQ(Add(cursor, {T(FTOK_END)}), std::make_pair(-1, 0));
  EXPECT_EQ(DSFilterStore(ctx, readBuffer, cursor), ERR_BAD_VERB);
  // A refused store leaves the cursor to its owner; a stored one is used up.
  EXPECT_EQ(DSFilterStore(ctx, filter, cursor), 0);
  EXPECT_EQ(DSFilterFree(cursor), ERR_INVALID_HANDLE);
  EXPECT_EQ(nw::LiveFilterCursorCount(), 0u);
  DSBufferFree(filter);
  DSBufferFree(readBuffer);
}

TEST_F(FilterSearchTest, NotBindsTighterThanAndWhichBindsTighterThanOr) {
  auto cls = [](const char* name) { return std::vector<Tok>{T(FTOK_BASECLS), Name(name, SYN_CLASS_NAME)}; };
  auto rdn = [](const char* name) { return std::vector<Tok>{T(FTOK_RDN), Name(name, SYN_DIST_NAME)}; };
  auto present = [](const char* attr) { return std::vector<Tok>{T(FTOK_PRESENT), Name(attr)}; };
  // Group OR (User AND admin)
  EXPECT_EQ(Found(Join({cls("Group"), {T(FTOK_OR)}, cls("User"), {T(FTOK_AND)}, rdn("admin")})),
            (Names{"Staff.ORG", "admin.ORG"}));
  // (NOT User) AND Surname present: only users have surnames.
  EXPECT_EQ(Found(Join({{T(FTOK_NOT)}, cls("User"), {T(FTOK_AND)}, present("Surname")})), Names{});
  // Parentheses regroup.
  EXPECT_EQ(Found(Join({{T(FTOK_LPAREN)}, cls("Group"), {T(FTOK_OR)}, cls("User"), {T(FTOK_RPAREN), T(FTOK_AND)},
                        rdn("admin")})),
            Names{"admin.ORG"});
  EXPECT_EQ(Found(Join({{T(FTOK_NOT), T(FTOK_NOT)}, cls("Group")})), Names{"Staff.ORG"});
}

TEST_F(FilterSearchTest, ComparisonsFollowTheAttributeSyntax) {
  // Texts ignore case and blanks that do not matter; '*' matches any run.
  EXPECT_EQ(Found(Compare("Surname", FTOK_EQ, TextValue("ADMIN"))), Names{"admin.ORG"});
  EXPECT_EQ(Found(Compare("Surname", FTOK_EQ, TextValue("r*"))), Names{"mroe.Lab.ORG"});
  EXPECT_EQ(Found(Compare("Title", FTOK_EQ, TextValue(" chief admin "))), Names{"admin.ORG"});
  EXPECT_EQ(Found(Compare("Telephone Number", FTOK_EQ, TextValue("+1 5550100", SYN_TEL_NUMBER))), Names{"admin.ORG"});
  // Integers numerically and signed: as text "12" < "6", and -3 is no huge number.
  EXPECT_EQ(Found(Compare("Login Grace Limit", FTOK_GE, NumberValue(6))), (Names{"admin.ORG", "jdoe.Sales.ORG"}));
  EXPECT_EQ(Found(Compare("Login Grace Limit", FTOK_LE, NumberValue(0))), Names{"mroe.Lab.ORG"});
  EXPECT_EQ(Found(Compare("Login Disabled", FTOK_EQ, NumberValue(1, SYN_BOOLEAN))), Names{"jdoe.Sales.ORG"});
  EXPECT_EQ(Found(Compare("Login Disabled", FTOK_EQ, NumberValue(0, SYN_BOOLEAN))), Names{"admin.ORG"});
  // Times: 2024-04-15 00:00 UTC.
  EXPECT_EQ(Found(Compare("Last Login Time", FTOK_GE, NumberValue(1713139200u, SYN_TIME))), Names{"admin.ORG"});
  // Octets byte by byte.
  EXPECT_EQ(Found(Compare("Badge", FTOK_EQ, OctetValue({0x0A, 0x0B}))), Names{"admin.ORG"});
  EXPECT_EQ(Found(Compare("Badge", FTOK_GE, OctetValue({0x0A, 0x0C}))), Names{"jdoe.Sales.ORG"});
  EXPECT_EQ(Found(Compare("Badge", FTOK_EQ, OctetValue({0x0A}))), Names{});
  // Lists: equal as a whole, approximately by any element.
  EXPECT_EQ(Found(Compare("Language", FTOK_EQ, ListValue("english"))), Names{});
  EXPECT_EQ(Found(Compare("Language", FTOK_APPROX, ListValue("german"))), Names{"admin.ORG"});
  // Distinguished names by the object they name; an alias stands for its object.
  EXPECT_EQ(Found(Compare("Group Membership", FTOK_EQ, TextValue("staff.org", SYN_DIST_NAME))),
            (Names{"admin.ORG", "jdoe.Sales.ORG"}));
  EXPECT_EQ(Found(Compare("Member", FTOK_EQ, TextValue("Boss.Sales.ORG", SYN_DIST_NAME))), Names{"Staff.ORG"});
  EXPECT_EQ(Found(Compare("Member", FTOK_EQ, TextValue("nobody.ORG", SYN_DIST_NAME))), Names{});
  // Derived values are searchable: every partition root carries "Replica".
  EXPECT_EQ(Found({T(FTOK_PRESENT), Name("Replica", SYN_REPLICA_POINTER)}), (Names{"[Root]", "Lab.ORG"}));
  EXPECT_EQ(Found({T(FTOK_PRESENT), Name("No Such Thing")}), Names{});
}

TEST_F(FilterSearchTest, DistinguishedNamesResolveAgainstTheNameContext) {
  ASSERT_EQ(DSContextSetValue(ctx, DCK_NAME_CONTEXT, "ORG"), 0);
  EXPECT_EQ(Found(Compare("Member", FTOK_EQ, TextValue("jdoe.Sales", SYN_DIST_NAME))), Names{"Staff"});
  EXPECT_EQ(Found(Compare("Member", FTOK_EQ, TextValue(".jdoe.Sales.ORG", SYN_DIST_NAME))), Names{"Staff"});
}

TEST_F(FilterSearchTest, ScopesAndNamesInTheContextsForm) {
  EXPECT_EQ(Search({}, "Sales.ORG", DS_SEARCH_ENTRY), std::vector<std::string>{"Sales.ORG"});
  EXPECT_EQ(Search({}, "Sales.ORG", DS_SEARCH_SUBORDINATES), (std::vector<std::string>{"jdoe.Sales.ORG", "Boss.Sales.ORG"}));
  EXPECT_EQ(Search({}, "Lab.ORG", DS_SEARCH_SUBTREE), (std::vector<std::string>{"Lab.ORG", "mroe.Lab.ORG", "SRV2.Lab.ORG"}));
  NWRCODE failure = 0;
  Search({}, "Nowhere.ORG", DS_SEARCH_SUBTREE, 50, nullptr, &failure);
  EXPECT_EQ(failure, ERR_NO_SUCH_ENTRY);

  ASSERT_EQ(DSContextSetValue(ctx, DCK_NAME_CONTEXT, "ORG"), 0);
  EXPECT_EQ(Search({}, "Lab", DS_SEARCH_SUBTREE), (std::vector<std::string>{"Lab", "mroe.Lab", "SRV2.Lab"}));
  nuint32 flags = 0;
  ASSERT_EQ(DSContextGetValue(ctx, DCK_FLAGS, sizeof flags, &flags), 0);
  flags &= ~DCV_TYPELESS_NAMES;
  ASSERT_EQ(DSContextSetValue(ctx, DCK_FLAGS, &flags), 0);
  EXPECT_EQ(Search({}, "Lab", DS_SEARCH_SUBORDINATES), (std::vector<std::string>{"CN=mroe.OU=Lab", "CN=SRV2.OU=Lab"}));
}

TEST_F(FilterSearchTest, StepsHoldAtMostTheAskedCountAndEndWithHandleMinusOne) {
  int steps = 0;
  auto all = Search({}, "[Root]", DS_SEARCH_SUBTREE, 50, &steps);
  EXPECT_EQ(steps, 1);
  auto inTwos = Search({}, "[Root]", DS_SEARCH_SUBTREE, 2, &steps);
  EXPECT_EQ(inTwos, all);
  EXPECT_EQ(steps, static_cast<int>((all.size() + 1) / 2));
  EXPECT_EQ(nwtest::OpenIterations(), 0u);
}

TEST_F(FilterSearchTest, ObjectInformationAndTheEndOfAReply) {
  Buf_T* filter = StoredFilter({T(FTOK_RDN), Name("Boss", SYN_DIST_NAME), T(FTOK_OR), T(FTOK_RDN), Name("ORG", SYN_DIST_NAME)});
  Buf_T* reply = nullptr;
  ASSERT_EQ(DSBufferAlloc(MAX_MESSAGE_LEN, &reply), 0);
  nuint32 handle = NO_MORE_ITERATIONS;
  nuint32 searched = 0;
  ASSERT_EQ(DSSearchStep(ctx, "[Root]", 2, false, filter, nullptr, 0, false, nullptr, &handle, 50, &searched, reply), 0);
  EXPECT_EQ(handle, NO_MORE_ITERATIONS);
  nuint32 count = 0;
  ASSERT_EQ(DSResultObjectCount(ctx, reply, &count), 0);
  ASSERT_EQ(count, 2u);
  char name[MAX_DN_BYTES];
  Object_Info_T info{};
  ASSERT_EQ(DSResultNextObject(ctx, reply, name, nullptr, &info), 0);
  EXPECT_STREQ(name, "ORG");
  EXPECT_STREQ(info.baseClass, "Organization");
  EXPECT_EQ(info.subordinateCount, 5u);
  ASSERT_EQ(DSResultNextObject(ctx, reply, name, nullptr, &info), 0);
  EXPECT_STREQ(name, "Boss.Sales.ORG");
  EXPECT_STREQ(info.baseClass, "Alias");
  EXPECT_EQ(DSResultNextObject(ctx, reply, name, nullptr, &info), ERR_BUFFER_EMPTY);
  DSBufferFree(reply);
  DSBufferFree(filter);
}

TEST_F(FilterSearchTest, AnAbandonedIterationIsGoneAndFailuresAreCounted) {
  Buf_T* reply = nullptr;
  ASSERT_EQ(DSBufferAlloc(MAX_MESSAGE_LEN, &reply), 0);
  nuint32 handle = NO_MORE_ITERATIONS;
  nuint32 searched = 0;
  ASSERT_EQ(DSSearchStep(ctx, "[Root]", 2, false, nullptr, nullptr, 0, false, nullptr, &handle, 1, &searched, reply), 0);
  ASSERT_NE(handle, NO_MORE_ITERATIONS);
  EXPECT_EQ(nwtest::OpenIterations(), 1u);
  EXPECT_EQ(DSIterationEnd(ctx, handle, DSV_SEARCH), 0);
  EXPECT_EQ(nwtest::OpenIterations(), 0u);
  EXPECT_EQ(DSSearchStep(ctx, "[Root]", 2, false, nullptr, nullptr, 0, false, nullptr, &handle, 1, &searched, reply),
            ERR_INVALID_ITERATION);
  EXPECT_EQ(DSIterationEnd(ctx, handle, DSV_SEARCH), ERR_INVALID_ITERATION);

  nwtest::ResetCallCounts();
  nwtest::FailOperation("DSSearchStep", ERR_REMOTE_FAILURE, 0, 1);
  handle = NO_MORE_ITERATIONS;
  EXPECT_EQ(DSSearchStep(ctx, "[Root]", 2, false, nullptr, nullptr, 0, false, nullptr, &handle, 1, &searched, reply),
            ERR_REMOTE_FAILURE);
  EXPECT_EQ(nwtest::CallCount("DSSearchStep"), 1u);
  DSBufferFree(reply);
}

}  // namespace
}  // namespace vestrel::testing
