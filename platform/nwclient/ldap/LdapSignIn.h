// One sign-in made before a connection is opened, so that a password the user typed and
// the server refused can be asked for again.
#pragma once

#include <string>

#include "platform/nwclient/ldap/LdapSettings.h"

namespace vestrel::nw::ldap {

enum class SignInOutcome {
  Accepted,         // the server took the name and the password
  PasswordRefused,  // the server refused them: another password may be tried
  Failed,           // anything else (unreachable, TLS, timeout): another password would not help
};

// Connects and signs in with settings as the connection itself would, then leaves again.
// failure receives why it did not succeed, as the connection's messages say it
// ("sign-in as cn=admin,o=acme failed: Invalid credentials"); it never holds the password.
SignInOutcome TrySignIn(const LdapSettings& settings, std::string& failure);

}  // namespace vestrel::nw::ldap
