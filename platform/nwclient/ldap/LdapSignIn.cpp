#include "platform/nwclient/ldap/LdapSignIn.h"

#include <ldap.h>

#include "platform/nwclient/ldap/LdapConnection.h"

namespace vestrel::nw::ldap {

SignInOutcome TrySignIn(const LdapSettings& settings, std::string& failure) {
  LdapConnection trial(settings);
  if (trial.Connect() == 0) {
    failure.clear();
    return SignInOutcome::Accepted;
  }
  failure = trial.FailureMessage();
  // eDirectory answers a wrong password with this result too ("NDS error: failed
  // authentication (-669)" in its message).
  return trial.LastResult() == LDAP_INVALID_CREDENTIALS ? SignInOutcome::PasswordRefused : SignInOutcome::Failed;
}

}  // namespace vestrel::nw::ldap
