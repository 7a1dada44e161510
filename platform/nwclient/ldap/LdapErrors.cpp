#include "platform/nwclient/ldap/LdapErrors.h"

#include <ldap.h>

namespace vestrel::nw::ldap {

namespace {

struct CodeEntry {
  int ldapResult;
  NWRCODE code;
};

// LDAP result codes (RFC 4511, and libldap's own negative ones) -> the client's codes.
constexpr CodeEntry kCodes[] = {
    {LDAP_SERVER_DOWN, ERR_TRANSPORT_FAILURE},
    {LDAP_CONNECT_ERROR, ERR_TRANSPORT_FAILURE},
    {LDAP_TIMEOUT, kErrConnectionTimeout},
    {LDAP_TIMELIMIT_EXCEEDED, kErrConnectionTimeout},
    {LDAP_DECODING_ERROR, ERR_INVALID_SERVER_RESPONSE},
    {LDAP_ENCODING_ERROR, ERR_SYSTEM_ERROR},
    {LDAP_LOCAL_ERROR, ERR_SYSTEM_ERROR},
    {LDAP_PARAM_ERROR, ERR_SYSTEM_ERROR},
    {LDAP_NO_MEMORY, ERR_NOT_ENOUGH_MEMORY},
    {LDAP_PROTOCOL_ERROR, kErrRequestNotSupported},
    {LDAP_SIZELIMIT_EXCEEDED, kErrQueryMaxCount},
    {LDAP_ADMINLIMIT_EXCEEDED, kErrQueryMaxCount},
    {LDAP_STRONG_AUTH_REQUIRED, kErrFailedAuthentication},
    {LDAP_CONFIDENTIALITY_REQUIRED, kErrFailedAuthentication},
    {LDAP_INAPPROPRIATE_AUTH, kErrFailedAuthentication},
    {LDAP_INVALID_CREDENTIALS, kErrFailedAuthentication},
    {LDAP_NO_SUCH_ATTRIBUTE, ERR_NO_SUCH_ATTRIBUTE},
    {LDAP_NO_SUCH_OBJECT, ERR_NO_SUCH_ENTRY},
    {LDAP_ALIAS_PROBLEM, ERR_NO_SUCH_ENTRY},
    {LDAP_ALIAS_DEREF_PROBLEM, ERR_NO_SUCH_ENTRY},
    {LDAP_INVALID_DN_SYNTAX, ERR_ILLEGAL_DS_NAME},
    {LDAP_INSUFFICIENT_ACCESS, ERR_NO_ACCESS},
    {LDAP_BUSY, ERR_UNREACHABLE_SERVER},
    {LDAP_UNAVAILABLE, ERR_UNREACHABLE_SERVER},
    {LDAP_UNWILLING_TO_PERFORM, ERR_INVALID_REQUEST},
    {LDAP_UNAVAILABLE_CRITICAL_EXTENSION, kErrRequestNotSupported},
    // The client follows no referral: the servers it names were not reached.
    {LDAP_REFERRAL, ERR_ALL_REFERRALS_FAILED},
    {LDAP_USER_CANCELLED, ERR_REQUEST_CANCELLED},
};

}  // namespace

NWRCODE NdsCodeOf(std::string_view diagnostic) {
  const std::size_t marker = diagnostic.find("NDS error");
  if (marker == std::string_view::npos) return 0;
  const std::size_t open = diagnostic.rfind("(-");
  if (open == std::string_view::npos || open < marker) return 0;
  NWRCODE code = 0;
  std::size_t at = open + 2;
  std::size_t digits = 0;
  for (; at < diagnostic.size() && diagnostic[at] >= '0' && diagnostic[at] <= '9' && digits < 6; ++at, ++digits)
    code = code * 10 + (diagnostic[at] - '0');
  if (digits == 0 || at >= diagnostic.size() || diagnostic[at] != ')') return 0;
  return -code;
}

NWRCODE CodeOf(int ldapResult, std::string_view diagnostic, bool connecting) {
  if (ldapResult == LDAP_SUCCESS) return 0;
  if (NWRCODE code = NdsCodeOf(diagnostic)) return code;
  if (connecting && ldapResult == LDAP_SERVER_DOWN) return ERR_UNREACHABLE_SERVER;
  for (const CodeEntry& entry : kCodes)
    if (entry.ldapResult == ldapResult) return entry.code;
  return ERR_REMOTE_FAILURE;
}

bool BreaksConnection(int ldapResult) {
  return ldapResult == LDAP_SERVER_DOWN || ldapResult == LDAP_CONNECT_ERROR || ldapResult == LDAP_TIMEOUT ||
         ldapResult == LDAP_DECODING_ERROR;
}

std::string FailureText(int ldapResult, std::string_view diagnostic) {
  std::string text = ldap_err2string(ldapResult);
  if (!diagnostic.empty()) text += " (" + std::string(diagnostic) + ")";
  return text;
}

}  // namespace vestrel::nw::ldap
