// A connection of the connections file that names an LDAP server:
//   { "ldap": "ldaps://dir.example.com", "tree": "ACME_TREE", "bindDn": "cn=admin,o=acme",
//     "passwordFile": "~/.config/vestrel/acme.pw", "caFile": "/etc/ssl/certs/acme-ca.pem",
//     "startTls": false, "allowPlaintext": false, "connectTimeout": 10, "requestTimeout": 60,
//     "primary": true }
// and the rules that keep it safe: TLS is verified, a password never travels in plain
// text to another machine unless the file says so, and a password file must be private.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace vestrel::nw::ldap {

// Asks for the password of bindDn on the connection (named by its Label); false when none
// is given. The program may install one (the window's sign-in); without it, a connection
// that names a bind DN needs a password source of its own.
using PasswordPrompt = std::function<bool(const std::string& connection, const std::string& bindDn, std::string& password)>;

// The environment variable a password may come from.
inline constexpr const char* kPasswordVariable = "VESTREL_LDAP_PASSWORD";

struct LdapSettings {
  std::string url;
  std::string host;      // from the URL, for messages and the plain-text rule
  int port = 0;          // from the URL; 0: the scheme's (389, 636)
  std::string treeName;  // empty: the name the server reports
  std::string bindDn;    // empty: anonymous
  std::string password;  // kept in memory only
  std::string caFile;    // empty: the system's certificate authorities
  bool ldaps = false;    // an ldaps:// URL
  bool startTls = false;
  bool primary = false;
  std::chrono::milliseconds connectTimeout{10000};
  std::chrono::milliseconds requestTimeout{60000};

  bool UsesTls() const { return ldaps || startTls; }
  // "ldaps://dir.example.com (ACME_TREE)": how messages name the connection.
  std::string Label() const;
};

// Reads one connection (item) of a connections file; where names it in messages
// ("connections.json: connections[2]"), baseDir is the file's folder. Throws LoadError
// for a connection that cannot or may not be used.
LdapSettings ParseLdapConnection(const nlohmann::json& item, const std::string& where, const std::string& baseDir,
                                 const PasswordPrompt& prompt);

// Whether a URL host is this machine (plain LDAP to it never leaves the machine).
bool IsLoopbackHost(const std::string& host);

}  // namespace vestrel::nw::ldap
