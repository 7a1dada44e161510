// Names both ways between dotted names and LDAP DNs: RFC 4514 escapes, multi-valued
// names, the root, and what a malformed DN is.
#include <gtest/gtest.h>

#include "platform/nwclient/ldap/LdapNames.h"

namespace vestrel::nw::ldap {
namespace {

Dn Parsed(const std::string& text) {
  Dn dn;
  EXPECT_TRUE(ParseDn(text, dn)) << text;
  return dn;
}

TEST(LdapNames, ADnIsTheTypedAndTypelessDottedNameAndBack) {
  const Dn dn = Parsed("cn=FS1,ou=HQ,o=ACME");
  ASSERT_EQ(dn.size(), 3u);
  EXPECT_EQ(dn[0][0].type, "cn");
  EXPECT_EQ(dn[0][0].value, "FS1");
  EXPECT_EQ(TypelessName(dn), "FS1.HQ.ACME");
  EXPECT_EQ(TypedComponents(dn), (std::vector<std::string>{"CN=FS1", "OU=HQ", "O=ACME"}));
  EXPECT_EQ(FormatDn(dn), "cn=FS1,ou=HQ,o=ACME");
  // State names are S in dotted names.
  EXPECT_EQ(TypedComponents(Parsed("l=Berlin,st=BE,c=DE")), (std::vector<std::string>{"L=Berlin", "S=BE", "C=DE"}));

  Dn back;
  ASSERT_TRUE(ParseDottedName("CN=FS1.OU=HQ.O=ACME", back));
  for (Rdn& rdn : back) rdn[0].type = LdapType(rdn[0].type);
  EXPECT_EQ(FormatDn(back), "cn=FS1,ou=HQ,o=ACME");
  EXPECT_EQ(LdapType("S"), "st");
}

TEST(LdapNames, TheRootIsTheEmptyDn) {
  const Dn root = Parsed("");
  EXPECT_TRUE(root.empty());
  EXPECT_EQ(TypelessName(root), "[Root]");
  EXPECT_EQ(FormatDn(root), "");
  EXPECT_TRUE(Parsed("  ").empty());
}

TEST(LdapNames, SpecialCharactersAreEscapedForEachFormAndReadBack) {
  // A value with every character RFC 4514 escapes, and a dot.
  const Dn dn = {{{"cn", "Smith, J.+\"<x>\\;y=z"}}, {{"o", "ACME"}}};
  const std::string text = FormatDn(dn);
  EXPECT_EQ(text, "cn=Smith\\, J.\\+\\\"\\<x\\>\\\\\\;y\\=z,o=ACME");
  EXPECT_EQ(Parsed(text)[0][0].value, dn[0][0].value);
  // Dotted names escape ".", "=", "+" and "\".
  EXPECT_EQ(TypelessName(dn), "Smith, J\\.\\+\"<x>\\\\;y\\=z.ACME");
  Dn dotted;
  ASSERT_TRUE(ParseDottedName(TypelessName(dn), dotted));
  ASSERT_EQ(dotted.size(), 2u);
  EXPECT_EQ(dotted[0][0].value, dn[0][0].value);
  EXPECT_EQ(dotted[0][0].type, "");

  // Leading "#" or blank and a trailing blank are escaped; hex escapes and BER hex values read.
  EXPECT_EQ(FormatDn({{{"cn", "#1 "}}}), "cn=\\#1\\ ");
  EXPECT_EQ(FormatDn({{{"cn", " a"}}}), "cn=\\ a");
  EXPECT_EQ(Parsed("cn=\\23\\2C\\c3\\a4")[0][0].value, "#,\xc3\xa4");
  EXPECT_EQ(Parsed("cn=#0403414243")[0][0].value, "ABC");
  // Blanks around separators are not part of the values.
  const Dn spaced = Parsed("cn = a , o=b ");
  EXPECT_EQ(spaced[0][0].value, "a");
  EXPECT_EQ(spaced[1][0].value, "b");
}

TEST(LdapNames, MultiValuedNamesKeepEveryValue) {
  const Dn dn = Parsed("cn=a+sn=b,o=X");
  ASSERT_EQ(dn[0].size(), 2u);
  EXPECT_EQ(TypelessName(dn), "a+b.X");
  EXPECT_EQ(TypedComponents(dn).front(), "CN=a+SN=b");
  EXPECT_EQ(FormatDn(dn), "cn=a+sn=b,o=X");
  Dn dotted;
  ASSERT_TRUE(ParseDottedName("CN=a+SN=b.X", dotted));
  EXPECT_EQ(dotted[0].size(), 2u);
}

TEST(LdapNames, MalformedNamesAreRefused) {
  Dn dn;
  for (const char* bad : {"cn", "=x", "cn=a,", "cn=a,,o=b", "cn=a\\", "cn=#zz", "cn=#04", "c n=a"})
    EXPECT_FALSE(ParseDn(bad, dn)) << bad;
  for (const char* bad : {"", "a..b", ".a", "a.", "CN=.b"}) EXPECT_FALSE(ParseDottedName(bad, dn)) << bad;
}

TEST(LdapNames, SameDnIgnoresCaseOfTypesAndValues) {
  EXPECT_TRUE(SameDn(Parsed("CN=fs1,OU=hq,O=acme"), Parsed("cn=FS1,ou=HQ,o=ACME")));
  EXPECT_TRUE(SameDn(Parsed("st=BE"), Dn{{{"S", "be"}}}));
  EXPECT_FALSE(SameDn(Parsed("cn=FS1,o=ACME"), Parsed("cn=FS1,ou=ACME")));
  EXPECT_FALSE(SameDn(Parsed("cn=FS1,o=ACME"), Parsed("cn=FS1")));
  EXPECT_EQ(NameKey("fs1.Hq.ACME"), "FS1.HQ.ACME");
}

}  // namespace
}  // namespace vestrel::nw::ldap
