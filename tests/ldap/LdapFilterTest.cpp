// Filters as LDAP filters: the two scan filters in the form servers answer, names and
// values escaped, comparisons LDAP cannot make turned into a test nothing passes.
#include <gtest/gtest.h>

#include "platform/nwclient/ldap/LdapFilter.h"

namespace vestrel::nw::ldap {
namespace {

using Op = FilterStep::Op;

FilterTest Check(FilterTest::Kind kind, const std::string& name, nuint16 relation = 0, nuint32 syntax = 0,
                Value value = {}) {
  FilterTest test;
  test.kind = kind;
  test.name = name;
  test.relation = relation;
  test.syntax = syntax;
  test.value = std::move(value);
  return test;
}

Value Text(const std::string& text) {
  Value v;
  v.text = text;
  return v;
}

// One test alone.
std::string One(const FilterTest& test, const DnLookup& dnOf = {}) {
  CompiledFilter filter;
  filter.tests = {test};
  filter.steps = {{Op::Test, 0}};
  return LdapFilterText(filter, dnOf);
}

TEST(LdapFilter, TheScanFiltersReadAsServersExpectThem) {
  EXPECT_EQ(One(Check(FilterTest::Kind::BaseClass, "NCP Server")), "(objectClass=ncpServer)");
  // ((OU OR O OR C) AND Replica present), in postfix order as the filter builder stores it.
  CompiledFilter partitions;
  partitions.tests = {Check(FilterTest::Kind::BaseClass, "Organizational Unit"),
                      Check(FilterTest::Kind::BaseClass, "Organization"), Check(FilterTest::Kind::BaseClass, "Country"),
                      Check(FilterTest::Kind::Present, "Replica")};
  partitions.steps = {{Op::Test, 0}, {Op::Test, 1}, {Op::Or, 0}, {Op::Test, 2}, {Op::Or, 0}, {Op::Test, 3}, {Op::And, 0}};
  EXPECT_EQ(LdapFilterText(partitions, {}),
            "(&(|(objectClass=organizationalUnit)(objectClass=Organization)(objectClass=Country))(Replica=*))");
}

TEST(LdapFilter, ComparisonsUseLdapNamesAndEscapedValues) {
  EXPECT_EQ(One(Check(FilterTest::Kind::Compare, "Version", FTOK_EQ, SYN_CI_STRING, Text("eDirectory*"))),
            "(Version=eDirectory*)");
  // Only an equality keeps "*" as a wildcard; "(", ")", "\" and NUL never stay.
  EXPECT_EQ(One(Check(FilterTest::Kind::Compare, "Version", FTOK_GE, SYN_CI_STRING, Text(std::string("(a*b)\\\0", 7)))),
            "(Version>=\\28a\\2ab\\29\\5c\\00)");
  Value number;
  number.number = static_cast<nuint32>(-5);
  EXPECT_EQ(One(Check(FilterTest::Kind::Compare, "DS Revision", FTOK_LE, SYN_INTEGER, number)), "(dsRevision<=-5)");
  Value when;
  when.number = 1714982100;
  EXPECT_EQ(One(Check(FilterTest::Kind::Compare, "Login Time", FTOK_GE, SYN_TIME, when)),
            "(loginTime>=20240506075500Z)");
  Value octets;
  octets.bytes = {0x00, 0x2A, 0x41};
  EXPECT_EQ(One(Check(FilterTest::Kind::Compare, "ACME:Badge", FTOK_EQ, SYN_OCTET_STRING, octets)),
            "(aCMEBadge=\\00\\2aA)");
  EXPECT_EQ(One(Check(FilterTest::Kind::Compare, "Object Class", FTOK_EQ, SYN_CLASS_NAME, Text("NCP Server"))),
            "(objectClass=ncpServer)");
  EXPECT_EQ(One(Check(FilterTest::Kind::RelativeName, "CN=FS*")), "(|(cn=FS*)(ou=FS*)(o=FS*)(c=FS*)(l=FS*)(st=FS*)(dc=FS*))");
}

TEST(LdapFilter, NamesBecomeDnsAndUnknownNamesOrSyntaxesMatchNothing) {
  const DnLookup dnOf = [](const std::string& name, std::string& dn) {
    if (name != "admin.ACME") return false;
    dn = "cn=admin,o=ACME";
    return true;
  };
  EXPECT_EQ(One(Check(FilterTest::Kind::Compare, "Member", FTOK_EQ, SYN_DIST_NAME, Text("admin.ACME")), dnOf),
            "(member=cn=admin,o=ACME)");
  EXPECT_EQ(One(Check(FilterTest::Kind::Compare, "Member", FTOK_EQ, SYN_DIST_NAME, Text("nobody.ACME")), dnOf),
            kMatchNothing);
  Value address;
  address.number = 9;
  EXPECT_EQ(One(Check(FilterTest::Kind::Compare, "Network Address", FTOK_EQ, SYN_NET_ADDRESS, address)), kMatchNothing);
  // NOT of such a comparison passes everything, as it does over a tree file.
  CompiledFilter negated;
  negated.tests = {Check(FilterTest::Kind::Compare, "Network Address", FTOK_EQ, SYN_NET_ADDRESS, address)};
  negated.steps = {{Op::Test, 0}, {Op::Not, 0}};
  EXPECT_EQ(LdapFilterText(negated, {}), std::string("(!") + kMatchNothing + ")");
}

TEST(LdapFilter, DeepNestingCostsNoStack) {
  CompiledFilter filter;
  filter.tests = {Check(FilterTest::Kind::Present, "CN")};
  filter.steps = {{Op::Test, 0}};
  for (int i = 0; i < 200000; ++i) filter.steps.push_back({Op::Not, 0});
  const std::string text = LdapFilterText(filter, {});
  EXPECT_EQ(text.size(), 200000 * 3 + std::string("(cn=*)").size());
  // A malformed expression (operators without operands) matches nothing.
  CompiledFilter broken;
  broken.steps = {{Op::And, 0}};
  EXPECT_EQ(LdapFilterText(broken, {}), kMatchNothing);
}

}  // namespace
}  // namespace vestrel::nw::ldap
