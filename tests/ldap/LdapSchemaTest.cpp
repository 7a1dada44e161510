// The names the client asks an LDAP server for are eDirectory's, as its published subschema
// (a 9.1.4 server's) gives them, where the rule of LdapAttributeName would give others.
#include <gtest/gtest.h>

#include "platform/nwclient/ldap/LdapSchema.h"

namespace vestrel::nw::ldap {
namespace {

struct Name {
  const char* directory;
  const char* ldap;
};

TEST(LdapSchema, NamesAreThoseOfEDirectorysSchemaBothWays) {
  const Name attributes[] = {{"Home Directory", "ndsHomeDirectory"}, {"Version", "Version"}, {"SA", "street"},
                             {"Postal Office Box", "postOfficeBox"},  {"UID", "ndsUID"},      {"uniqueID", "uid"}};
  for (const Name& name : attributes) {
    SCOPED_TRACE(name.directory);
    EXPECT_EQ(LdapAttributeName(name.directory), name.ldap);
    EXPECT_EQ(DirectoryAttributeName(std::string(name.ldap) + ";binary"), name.directory);
  }
  const Name classes[] = {{"Alias", "aliasObject"}, {"Locality", "Locality"}, {"Person", "Person"}};
  for (const Name& name : classes) {
    SCOPED_TRACE(name.directory);
    EXPECT_EQ(LdapClassName(name.directory), name.ldap);
    EXPECT_EQ(DirectoryClassName(name.ldap), name.directory);
  }
}

}  // namespace
}  // namespace vestrel::nw::ldap
