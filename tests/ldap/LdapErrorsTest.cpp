// LDAP results as completion codes: the server's own NDS code first, then the table.
#include <gtest/gtest.h>
#include <ldap.h>

#include "platform/nwclient/ldap/LdapErrors.h"

namespace vestrel::nw::ldap {
namespace {

TEST(LdapErrors, TheNdsCodeInTheDiagnosticWins) {
  EXPECT_EQ(NdsCodeOf("NDS error: failed authentication (-669)"), -669);
  EXPECT_EQ(NdsCodeOf("NDS error: no such value (-602)"), -602);
  EXPECT_EQ(CodeOf(LDAP_NO_SUCH_ATTRIBUTE, "NDS error: no such value (-602)"), -602);
  EXPECT_EQ(CodeOf(LDAP_OTHER, "NDS error: transport failure (-625)"), ERR_TRANSPORT_FAILURE);
  for (const char* none : {"", "failed (-669)", "NDS error: odd (-x)", "NDS error: (-669", "NDS error: (-12345678)"})
    EXPECT_EQ(NdsCodeOf(none), 0) << none;
}

TEST(LdapErrors, PlainResultsMapByTheTable) {
  EXPECT_EQ(CodeOf(LDAP_SUCCESS, "NDS error: x (-601)"), 0);
  EXPECT_EQ(CodeOf(LDAP_SERVER_DOWN, "", true), ERR_UNREACHABLE_SERVER);  // never reached
  EXPECT_EQ(CodeOf(LDAP_SERVER_DOWN, ""), ERR_TRANSPORT_FAILURE);         // lost on the way
  EXPECT_EQ(CodeOf(LDAP_TIMEOUT, ""), kErrConnectionTimeout);
  EXPECT_EQ(CodeOf(LDAP_NO_SUCH_OBJECT, ""), ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(CodeOf(LDAP_INSUFFICIENT_ACCESS, ""), ERR_NO_ACCESS);
  EXPECT_EQ(CodeOf(LDAP_INVALID_CREDENTIALS, ""), kErrFailedAuthentication);
  EXPECT_EQ(CodeOf(LDAP_SIZELIMIT_EXCEEDED, ""), kErrQueryMaxCount);
  EXPECT_EQ(CodeOf(LDAP_PROTOCOL_ERROR, "unsupported extended operation"), kErrRequestNotSupported);
  EXPECT_EQ(CodeOf(LDAP_OTHER, ""), ERR_REMOTE_FAILURE);
  EXPECT_TRUE(BreaksConnection(LDAP_SERVER_DOWN));
  EXPECT_FALSE(BreaksConnection(LDAP_NO_SUCH_OBJECT));
  EXPECT_EQ(FailureText(LDAP_INVALID_CREDENTIALS, ""), "Invalid credentials");
  EXPECT_EQ(FailureText(LDAP_INVALID_CREDENTIALS, "NDS error: failed authentication (-669)"),
            "Invalid credentials (NDS error: failed authentication (-669))");
}

}  // namespace
}  // namespace vestrel::nw::ldap
