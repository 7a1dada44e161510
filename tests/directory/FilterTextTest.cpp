// Filter texts: lines, the token streams the library receives, and comparison values
// converted into value records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "directory/D_NW.h"
#include "platform/nwclient/FilterSearch.h"
#include "tests/directory/ZoneAndLocale.h"
#include "tests/platform/NwTestSupport.h"
#include "tests/platform/SearchTestTree.h"
#include "tests/support/RecordingUi.h"

namespace vestrel::testing {
namespace {

std::vector<std::string> NonEmptyLines(const std::string& filter) {
  std::vector<std::string> lines;
  for (const std::string& line : FilterToLines(filter).ToVector())
    if (!line.empty()) lines.push_back(line);
  return lines;
}

const char* kPartitionFilter =
    "(((Base Class=Organizational Unit) #OR# (Base Class=Organization) #OR# (Base Class=Country)) #AND# "
    "(Replica #PRESENT#))";

TEST(FilterLines, WorkedExamplesBreakIntoOneItemPerLine) {
  EXPECT_EQ(NonEmptyLines("(Base Class=NCP Server)"), (std::vector<std::string>{"(", "Base Class=NCP Server", ")"}));
  EXPECT_EQ(NonEmptyLines(kPartitionFilter),
            (std::vector<std::string>{"(", "(", "(", "Base Class=Organizational Unit", ")", "#OR#", "(",
                                      "Base Class=Organization", ")", "#OR#", "(", "Base Class=Country", ")", ")",
                                      "#AND#", "(", "Replica #PRESENT#", ")", ")"}));
}

TEST(FilterLines, OperatorSpellingsAndWhatIsNotSplit) {
  EXPECT_EQ(NonEmptyLines("a=1&&b=2&c=3"), (std::vector<std::string>{"a=1", "#AND#", "b=2", "#AND#", "c=3"}));
  EXPECT_EQ(NonEmptyLines("a=1||b=2|c=3"), (std::vector<std::string>{"a=1", "#OR#", "b=2", "#OR#", "c=3"}));
  EXPECT_EQ(NonEmptyLines("!a=1 #NOT# b=2"), (std::vector<std::string>{"#NOT#", "a=1 ", "#NOT#", "b=2"}));
  // Keywords are upper case only.
  EXPECT_EQ(NonEmptyLines("a=1 #and# b=2"), std::vector<std::string>{"a=1 #and# b=2"});
  // Parentheses inside a value split it.
  EXPECT_EQ(NonEmptyLines("Title=a(b)"), (std::vector<std::string>{"Title=a", "(", "b", ")"}));
}

TEST(FilterParts, SplitHashPartsAndTrimBlanks) {
  std::array<std::string, 5> parts;
  EXPECT_EQ(SplitHashParts("", parts), 0);
  EXPECT_EQ(SplitHashParts("a", parts), 1);
  EXPECT_EQ(parts[0], "a");
  EXPECT_EQ(SplitHashParts("a##c#", parts), 3);
  EXPECT_EQ(parts, (std::array<std::string, 5>{"a", "", "c", "", ""}));
  EXPECT_EQ(SplitHashParts("a#b#c#d#e#f", parts), 6);  // more than five: counted, five kept
  EXPECT_EQ(parts[4], "e");
  EXPECT_EQ(TrimBlanks(" \t a b\t "), "a b");
  EXPECT_EQ(TrimBlanks("\t \t"), "");
  std::string attribute, value;
  EXPECT_TRUE(SplitComparison("=", " a = b=c ", attribute, value));
  EXPECT_EQ(std::tie(attribute, value), std::make_tuple(std::string("a"), std::string("b=c")));
  EXPECT_FALSE(SplitComparison("#EQ#", "a#eq#b", attribute, value));
}

// ---- Token streams ----

struct Token {
  nuint16 token;
  nuint32 syntax;
  std::string name;
  bool operator==(const Token&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Token& t) { return out << t.token << "/" << t.syntax << "/" << t.name; }

class FilterTokens : public NwTest {
 protected:
  void SetUp() override {
    NwTest::SetUp();
    ASSERT_EQ(nwtest::ConnectTreeJson(kSearchTreeJson, "admin.ORG", true), "");
    ctx = Context("ORG_TREE");
  }
  void TearDown() override {
    nw::RecordFilterTokens(nullptr);
    EXPECT_EQ(nw::LiveFilterCursorCount(), 0u);
    EXPECT_EQ(nwtest::OpenBuffers(), 0u);
    NwTest::TearDown();
  }

  // The tokens of the filter as the library received them, and the search's code.
  std::vector<Token> Tokens(const std::string& filter, NWRCODE* code = nullptr) {
    recorded.clear();
    nw::RecordFilterTokens(&recorded);
    found.Clear();
    NWRCODE result = SearchNames(ctx, "[Root]", filter, &found, DS_SEARCH_SUBTREE);
    nw::RecordFilterTokens(nullptr);
    if (code) *code = result;
    std::vector<Token> tokens;
    for (const auto& r : recorded) tokens.push_back({r.token, r.syntax, r.name});
    return tokens;
  }
  std::string RecordedValueText(std::size_t index) const { return recorded.at(index).value.text; }

  NWDSContextHandle ctx = 0;
  TextList found;
  std::vector<nw::RecordedFilterToken> recorded;
};

TEST_F(FilterTokens, WorkedExamplesGiveTheirTokenStreams) {
  EXPECT_EQ(Tokens("(Base Class=NCP Server)"),
            (std::vector<Token>{{4, 0, ""}, {17, 0, ""}, {14, 20, "NCP Server"}, {5, 0, ""}, {0, 0, ""}}));
  EXPECT_EQ(Tokens("(Object Class#PRESENT#)"),
            (std::vector<Token>{{4, 0, ""}, {15, 0, ""}, {14, 20, "Object Class"}, {5, 0, ""}, {0, 0, ""}}));
  EXPECT_EQ(Tokens(""), Tokens("(Object Class#PRESENT#)"));  // the default filter

  const Token open{4, 0, ""}, close{5, 0, ""}, cls{17, 0, ""}, orToken{1, 0, ""};
  const std::vector<Token> expected{open,  open,  open, cls, {14, 20, "Organizational Unit"}, close, orToken,
                                    open,  cls,   {14, 20, "Organization"}, close, orToken, open, cls,
                                    {14, 20, "Country"}, close, close, {2, 0, ""}, open, {15, 0, ""},
                                    {14, SYN_REPLICA_POINTER, "Replica"}, close, close, {0, 0, ""}};
  EXPECT_EQ(Tokens(kPartitionFilter), expected);
}

TEST_F(FilterTokens, SpecialAttributesAndTheStarValue) {
  NWRCODE code = 0;
  EXPECT_EQ(Tokens("(Name=*)", &code), (std::vector<Token>{{4, 0, ""}}));
  EXPECT_EQ(code, ERR_INVALID_FILTER_SYNTAX);
  Tokens("(Base Class=*)", &code);
  EXPECT_EQ(code, ERR_INVALID_FILTER_SYNTAX);
  // Any other attribute with "=*" is a presence test.
  EXPECT_EQ(Tokens("(cn=*)", &code),
            (std::vector<Token>{{4, 0, ""}, {15, 0, ""}, {14, SYN_CI_STRING, "cn"}, {5, 0, ""}, {0, 0, ""}}));
  EXPECT_EQ(code, 0);
  EXPECT_GT(found.Count(), 3);
  // "ou" and "o" stand for the container classes.
  EXPECT_EQ(Tokens("(Base Class=ou)").at(2), (Token{14, 20, "Organizational Unit"}));
  EXPECT_EQ(found.ToVector(), (std::vector<std::string>{"Sales.ORG", "Lab.ORG"}));
  EXPECT_EQ(Tokens("(Base Class=O)").at(2), (Token{14, 20, "Organization"}));
  // "Name" and "RDN" with "=" test the relative name.
  EXPECT_EQ(Tokens("(RDN=admin)"), (std::vector<Token>{{4, 0, ""}, {16, 0, ""}, {14, 1, "admin"}, {5, 0, ""}, {0, 0, ""}}));
  EXPECT_EQ(found.ToVector(), std::vector<std::string>{"admin.ORG"});
  // "Name#EQ#x" is an ordinary comparison of the attribute "Name".
  EXPECT_EQ(Tokens("(Name#EQ#x)"),
            (std::vector<Token>{{4, 0, ""}, {14, 3, "Name"}, {7, 0, ""}, {6, 3, ""}, {5, 0, ""}, {0, 0, ""}}));
  EXPECT_EQ(RecordedValueText(3), "x");
  EXPECT_EQ(found.ToVector(), std::vector<std::string>{"admin.ORG"});
  EXPECT_EQ(Tokens("(Aux Class=User)").at(1), (Token{14, 20, "Object Class"}));
}

TEST_F(FilterTokens, OperatorsSplitAtTheirFirstOccurrence) {
  EXPECT_EQ(Tokens("(a=b=c)").at(2), (Token{7, 0, ""}));
  EXPECT_EQ(RecordedValueText(3), "b=c");
  EXPECT_EQ(found.ToVector(), std::vector<std::string>{"admin.ORG"});
  EXPECT_EQ(Tokens("(a<=b)").at(2), (Token{9, 0, ""}));
  EXPECT_EQ(RecordedValueText(3), "b");
  EXPECT_EQ(Tokens("(Login Grace Limit>=6)").at(2), (Token{8, 0, ""}));
  EXPECT_EQ(found.Count(), 2);
  EXPECT_EQ(Tokens("(Surname #APPROX# doe)").at(2), (Token{10, 0, ""}));
  EXPECT_EQ(Tokens("(a=1 #and# b=2)").size(), 6u);
  EXPECT_EQ(RecordedValueText(3), "1 #and# b=2");
}

TEST_F(FilterTokens, FailuresComeBackAsCodesAndFreeTheExpression) {
  NWRCODE code = 0;
  Tokens("(Surname)", &code);
  EXPECT_EQ(code, ERR_INVALID_FILTER_SYNTAX);
  Tokens("(Login Grace Limit=many)", &code);
  EXPECT_EQ(code, ERR_BAD_FILTER_VALUE);
  Tokens("(Network Address=x)", &code);
  EXPECT_EQ(code, ERR_INAPPROPRIATE_MATCHING);
  Tokens("(No Such Attribute=x)", &code);
  EXPECT_EQ(code, ERR_NO_SUCH_ATTRIBUTE);  // the library's code, unchanged
  // The builder's own checks: an operator without operands, empty parentheses.
  Tokens("(Surname=a #AND#)", &code);
  EXPECT_EQ(code, ERR_INVALID_FILTER_SYNTAX);
  Tokens("()", &code);
  EXPECT_EQ(code, ERR_INVALID_FILTER_SYNTAX);
  Tokens("(#NOT#)", &code);
  EXPECT_EQ(code, ERR_INVALID_FILTER_SYNTAX);
}

TEST_F(FilterTokens, UnbalancedParenthesesNeedNoLibraryCall) {
  nwtest::ResetCallCounts();
  NWRCODE code = 0;
  EXPECT_TRUE(Tokens("((Base Class=NCP Server)", &code).empty());
  EXPECT_EQ(code, ERR_INVALID_FILTER_SYNTAX);
  for (const char* op : {"DSBufferAlloc", "DSFilterCursorAlloc", "DSFilterAddToken", "DSSearchStep"})
    EXPECT_EQ(nwtest::CallCount(op), 0u) << op;
}

// ---- Value records ----

class SyntaxValues : public ::testing::Test {
 protected:
  NWRCODE Convert(nuint32 syntax, const std::string& text) {
    std::memset(buffer, 0xEE, sizeof buffer);
    return TextToSyntaxValue(0, "attr", buffer, FilterValueBufferSize, syntax, text);
  }
  template <typename Record>
  Record As() const {
    Record record;
    std::memcpy(&record, buffer, sizeof record);
    return record;
  }
  // A pointer written into the record points inside the buffer.
  bool Inside(const void* pointer) const {
    auto* p = static_cast<const char*>(pointer);
    return p >= reinterpret_cast<const char*>(buffer) && p < reinterpret_cast<const char*>(buffer) + FilterValueBufferSize;
  }
  std::string TextAt(const char* pointer) const { return Inside(pointer) ? std::string(pointer) : "<outside>"; }
  nuint32 U32() const { return As<nuint32>(); }

  alignas(8) nuint8 buffer[FilterValueBufferSize];
};

TEST_F(SyntaxValues, TextsNumbersAndBooleans) {
  for (nuint32 syntax : {1u, 2u, 3u, 4u, 5u, 10u, 20u}) {
    ASSERT_EQ(Convert(syntax, "Some Text"), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "Some Text");
    EXPECT_EQ(buffer[FilterValueBufferSize - 1], 0);  // zeroed first
  }
  EXPECT_EQ(Convert(3, std::string(FilterValueBufferSize - 1, 'x')), 0);
  EXPECT_EQ(Convert(3, std::string(FilterValueBufferSize, 'x')), ERR_BAD_FILTER_VALUE);

  for (const char* yes : {"T", "y", "TRUE", "Yes"}) {
    ASSERT_EQ(Convert(7, yes), 0);
    EXPECT_EQ(buffer[0], 1) << yes;
  }
  for (const char* no : {"1", "no", "", "true!"}) {
    ASSERT_EQ(Convert(7, no), 0);
    EXPECT_EQ(buffer[0], 0) << no;
  }
  for (nuint32 syntax : {8u, 22u, 27u}) {
    ASSERT_EQ(Convert(syntax, "42"), 0);
    EXPECT_EQ(U32(), 42u);
    ASSERT_EQ(Convert(syntax, "2147483647"), 0);
    EXPECT_EQ(U32(), 2147483647u);
    for (const char* bad : {"", "abc", "-1", "2147483648", "99999999999", "4x"}) EXPECT_EQ(Convert(syntax, bad), ERR_BAD_FILTER_VALUE) << bad;
  }
}

TEST_F(SyntaxValues, OctetsKeepTheLengthOfTheBytesStored) {
  ASSERT_EQ(Convert(9, "0x0A 0B_$0C"), 0);
  auto octets = As<Octet_String_T>();
  ASSERT_EQ(octets.length, 3u);
  ASSERT_TRUE(Inside(octets.data));
  EXPECT_EQ(std::vector<nuint8>(octets.data, octets.data + 3), (std::vector<nuint8>{0x0A, 0x0B, 0x0C}));
  EXPECT_EQ(octets.data, buffer + sizeof(Octet_String_T));
  // Not hexadecimal: the text's own characters.
  ASSERT_EQ(Convert(9, "0x0G"), 0);
  octets = As<Octet_String_T>();
  ASSERT_EQ(octets.length, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(octets.data), 4), "0x0G");
  ASSERT_EQ(Convert(9, "abc"), 0);
  EXPECT_EQ(As<Octet_String_T>().length, 3u);
  EXPECT_EQ(Convert(9, std::string(FilterValueBufferSize, 'a')), ERR_BAD_FILTER_VALUE);
  EXPECT_EQ(Convert(9, "0x" + std::string(2 * FilterValueBufferSize, 'A')), ERR_BAD_FILTER_VALUE);
}

TEST_F(SyntaxValues, RecordsWithTextsPointInsideTheBuffer) {
  ASSERT_EQ(Convert(11, "+1 555"), 0);
  auto fax = As<Fax_Number_T>();
  EXPECT_EQ(TextAt(fax.telephoneNumber), "+1 555");
  EXPECT_EQ(fax.numOfBits, 0u);
  EXPECT_EQ(fax.data, nullptr);

  ASSERT_EQ(Convert(14, "a@b.c"), 0);
  auto mail = As<EMail_Address_T>();
  EXPECT_EQ(mail.type, 0u);
  EXPECT_EQ(TextAt(mail.address), "a@b.c");

  ASSERT_EQ(Convert(6, "English\r\nGerman"), 0);
  auto list = As<CI_List_T>();
  EXPECT_EQ(TextAt(list.s), "English");
  ASSERT_TRUE(Inside(list.next));
  EXPECT_EQ(TextAt(list.next->s), "German");
  EXPECT_EQ(list.next->next, nullptr);

  ASSERT_EQ(Convert(25, "admin.ORG#1#60"), 0);
  auto typed = As<Typed_Name_T>();
  EXPECT_EQ(TextAt(typed.objectName), "admin.ORG");
  EXPECT_EQ(typed.level, 1u);
  EXPECT_EQ(typed.interval, 60u);
  for (const char* bad : {"a#1", "a#1#2#3", "a#x#1", "a#1#-2", "a#1#2#3#4#5#6"}) EXPECT_EQ(Convert(25, bad), ERR_BAD_FILTER_VALUE) << bad;
}

TEST_F(SyntaxValues, PathsInBothSpellings) {
  for (const char* text : {"(4) SYS:PUBLIC\\X", "4#SYS:PUBLIC\\X", "( 4) SYS:PUBLIC\\X"}) {
    ASSERT_EQ(Convert(15, text), 0) << text;
    auto path = As<Path_T>();
    EXPECT_EQ(path.nameSpaceType, 4u) << text;
    EXPECT_EQ(TextAt(path.volumeName), "SYS") << text;
    EXPECT_EQ(TextAt(path.path), "PUBLIC\\X") << text;
  }
  ASSERT_EQ(Convert(15, "VOL1:dir"), 0);
  EXPECT_EQ(As<Path_T>().nameSpaceType, 0u);
  EXPECT_EQ(TextAt(As<Path_T>().volumeName), "VOL1");
  ASSERT_EQ(Convert(15, "x#VOL1:dir"), 0);  // not a number: name space 0
  EXPECT_EQ(As<Path_T>().nameSpaceType, 0u);
  EXPECT_EQ(Convert(15, "-1#VOL1:dir"), ERR_BAD_FILTER_VALUE);
}

TEST_F(SyntaxValues, AccessControlEntriesNeedThreeParts) {
  ASSERT_EQ(Convert(17, "admin.ORG#[Entry Rights]#BR"), 0);
  auto acl = As<Object_ACL_T>();
  EXPECT_EQ(TextAt(acl.subjectName), "admin.ORG");
  EXPECT_EQ(TextAt(acl.protectedAttrName), "[Entry Rights]");
  EXPECT_EQ(acl.privileges, ParseRightsText("BR", RightsKindOf("[Entry Rights]")));
  EXPECT_NE(acl.privileges, 0u);
  ASSERT_EQ(Convert(17, "admin.ORG#Surname#7"), 0);
  EXPECT_EQ(As<Object_ACL_T>().privileges, 7u);
  for (const char* bad : {"admin.ORG#[Entry Rights]", "a#b#c#d", "a#b#-5"}) EXPECT_EQ(Convert(17, bad), ERR_BAD_FILTER_VALUE) << bad;
}

TEST_F(SyntaxValues, TimesInTheUsersLocalFormat) {
  ZoneAndLocale zone("UTC", "en_US");
  for (nuint32 syntax : {19u, 24u}) {
    ASSERT_EQ(Convert(syntax, "5/6/24, 8:00 AM"), 0);
    EXPECT_EQ(U32(), 1714982400u);  // 2024-05-06 08:00 UTC
    ASSERT_EQ(Convert(syntax, "5/6/24"), 0);
    EXPECT_EQ(U32(), 1714953600u);
    ASSERT_EQ(Convert(syntax, "5/6/24, 8:00:30 PM"), 0);
    EXPECT_EQ(U32(), 1714982400u + 12 * 3600 + 30);
    for (const char* bad : {"", "yesterday", "13/45/24", "12/31/1969, 11:00 PM"})
      EXPECT_EQ(Convert(syntax, bad), ERR_BAD_FILTER_VALUE) << bad;
  }
  ZoneAndLocale germanTwoHoursAhead("Etc/GMT-2", "de_DE");
  ASSERT_EQ(Convert(24, "06.05.24, 10:00"), 0);
  EXPECT_EQ(U32(), 1714982400u);
}

// What the program shows for a time reads back as that time, whatever the locale and zone.
TEST_F(SyntaxValues, TimesAsTheProgramShowsThemReadBack) {
  const nuint32 times[] = {
      1714982430u,  // 2024-05-06 08:00:30 UTC
      1714971600u,  // 2024-05-06 05:00 UTC, local midnight five hours west: the date alone
      2840238245u,  // 2060-01-02 03:04:05 UTC, a two-digit year past the default window
      0u,           // 1970-01-01 00:00 UTC: still 1969 west of Greenwich
  };
  for (const char* zone : {"Etc/GMT+5", "Etc/GMT-9"}) {
    for (const char* locale : {"en_US", "en_GB", "de_DE", "fr_FR", "es_ES", "ja_JP", "ko_KR", "zh_CN", "ru_RU",
                               "ar_EG", "he_IL", "hi_IN", "th_TH", "fa_IR", "tr_TR", "en_US_POSIX"}) {
      ZoneAndLocale setting(zone, locale);
      for (nuint32 time : times) {
        const std::string shown = DirTimeText(time, true);
        for (nuint32 syntax : {19u, 24u}) {
          ASSERT_EQ(Convert(syntax, shown), 0) << zone << " " << locale << " " << shown;
          EXPECT_EQ(U32(), time) << zone << " " << locale << " " << shown;
        }
        // The object times are shown to the minute.
        const double minute = std::floor(DirTimeToDateTime(time) * 1440.0) / 1440.0;
        double read = 0;
        ASSERT_TRUE(LocalTextToDateTime(ShortDateTimeText(minute), read)) << locale << " " << ShortDateTimeText(minute);
        EXPECT_EQ(std::lround(read * 1440.0), std::lround(minute * 1440.0)) << locale << " " << ShortDateTimeText(minute);
      }
    }
  }
}

TEST_F(SyntaxValues, SyntaxesWithoutComparisonAreRefused) {
  for (nuint32 syntax : {0u, 12u, 13u, 16u, 18u, 21u, 23u, 26u, 28u, 1000u})
    EXPECT_EQ(Convert(syntax, "x"), ERR_INAPPROPRIATE_MATCHING) << syntax;
}

}  // namespace
}  // namespace vestrel::testing
