// The names the client asks an LDAP server for are eDirectory's: those of its published
// subschema (a 9.1.4 server's, its X-NDS_NAME giving the directory's name), both ways.
#include <gtest/gtest.h>

#include "platform/nwclient/ldap/LdapSchema.h"

namespace vestrel::nw::ldap {
namespace {

struct Name {
  const char* directory;
  const char* ldap;
};

TEST(LdapSchema, AttributesGoByEDirectorysLdapNames) {
  const Name names[] = {
      {"Replica", "Replica"},
      {"Partition Status", "partitionStatus"},
      {"Transitive Vector", "transitiveVector"},
      {"Local Received Up To", "localReceivedUpTo"},
      {"Purge Vector", "purgeVector"},
      {"Synchronized Up To", "synchronizedUpTo"},
      {"Received Up To", "receivedUpTo"},
      {"Network Address", "networkAddress"},
      {"Version", "Version"},
      {"DS Revision", "dsRevision"},
      {"Object Class", "objectClass"},
      {"Aliased Object Name", "aliasedObjectName"},
      {"Home Directory", "ndsHomeDirectory"},
      {"Surname", "sn"},
      {"Internet EMail Address", "mail"},
      {"S", "st"},
      {"SA", "street"},
      {"Postal Office Box", "postOfficeBox"},
      {"UID", "ndsUID"},
      {"uniqueID", "uid"},
  };
  for (const Name& name : names) {
    SCOPED_TRACE(name.directory);
    EXPECT_EQ(LdapAttributeName(name.directory), name.ldap);
    EXPECT_EQ(DirectoryAttributeName(std::string(name.ldap) + ";binary"), name.directory);
  }
  // Names the rule gives as the schema has them.
  EXPECT_EQ(LdapAttributeName("Login Disabled"), "loginDisabled");
  EXPECT_EQ(LdapAttributeName("EMail Address"), "eMailAddress");
}

TEST(LdapSchema, ClassesGoByEDirectorysLdapNames) {
  const Name names[] = {
      {"Alias", "aliasObject"},          {"NCP Server", "ncpServer"},   {"Organizational Unit", "organizationalUnit"},
      {"Organization", "Organization"},  {"Country", "Country"},        {"Locality", "Locality"},
      {"User", "inetOrgPerson"},         {"Group", "groupOfNames"},     {"Top", "Top"},
      {"Partition", "Partition"},        {"Person", "Person"},          {"Organizational Role", "organizationalRole"},
      {"Organizational Person", "organizationalPerson"},
  };
  for (const Name& name : names) {
    SCOPED_TRACE(name.directory);
    EXPECT_EQ(LdapClassName(name.directory), name.ldap);
    EXPECT_EQ(DirectoryClassName(name.ldap), name.directory);
  }
}

}  // namespace
}  // namespace vestrel::nw::ldap
