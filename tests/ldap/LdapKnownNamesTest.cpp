// The names the LDAP source has seen: found again by their dotted names, typed or not, in
// any case; the deepest known container of a name not seen; and a full book that stops
// learning instead of growing.
#include <gtest/gtest.h>

#include "platform/nwclient/ldap/LdapKnownNames.h"

namespace vestrel::nw::ldap {
namespace {

Dn FromDn(const std::string& text) {
  Dn dn;
  EXPECT_TRUE(ParseDn(text, dn)) << text;
  return dn;
}

Dn FromDotted(const std::string& text) {
  Dn dn;
  EXPECT_TRUE(ParseDottedName(text, dn)) << text;
  return dn;
}

TEST(KnownNames, NamesAndTheirContainersAreFoundAgain) {
  KnownNames names;
  names.Learn(FromDn("cn=FS1,ou=HQ,o=ACME"));
  names.Learn(FromDn("cn=FS2,ou=HQ,o=ACME"));
  EXPECT_EQ(names.Levels(), 4u);  // ACME and HQ once, below them FS1 and FS2

  KnownNames::Entry entry;
  ASSERT_TRUE(names.Find(FromDotted("fs1.hq.acme"), entry));
  EXPECT_EQ(entry.dn, "cn=FS1,ou=HQ,o=ACME");
  EXPECT_EQ(entry.typed, (std::vector<std::string>{"CN=FS1", "OU=HQ", "O=ACME"}));
  EXPECT_EQ(entry.spelling, "FS1.HQ.ACME");
  ASSERT_TRUE(names.Find(FromDotted("OU=HQ.O=ACME"), entry));
  EXPECT_EQ(entry.dn, "ou=HQ,o=ACME");
  EXPECT_FALSE(names.Find(FromDotted("FS3.HQ.ACME"), entry));

  std::string dn;
  EXPECT_EQ(names.DeepestContainer(FromDotted("FS3.HQ.ACME"), dn), 1u);
  EXPECT_EQ(dn, "ou=HQ,o=ACME");
  EXPECT_EQ(names.DeepestContainer(FromDotted("A.B.OTHER"), dn), 3u);
  EXPECT_EQ(dn, "");
}

TEST(KnownNames, AFullBookLearnsNothingMore) {
  KnownNames names;
  for (std::size_t i = 0; names.Levels() < KnownNames::kMaxLevels; ++i)
    names.Learn(FromDn("cn=S" + std::to_string(i) + ",ou=D" + std::to_string(i / 1000) + ",o=T"));
  names.Learn(FromDn("cn=LATE,o=T"));
  KnownNames::Entry entry;
  EXPECT_FALSE(names.Find(FromDotted("LATE.T"), entry));
  EXPECT_TRUE(names.Find(FromDotted("S0.D0.T"), entry));
  EXPECT_LE(names.Levels(), KnownNames::kMaxLevels + 1);
}

}  // namespace
}  // namespace vestrel::nw::ldap
