// A connection of the connections file that names an LDAP server:
//   { "ldap": "ldaps://dir.example.com", "tree": "ACME_TREE", "bindDn": "cn=admin,o=acme",
//     "passwordFile": "~/.config/vestrel/acme.pw", "caFile": "/etc/ssl/certs/acme-ca.pem",
//     "startTls": false, "allowPlaintext": false, "connectTimeout": 10, "requestTimeout": 60,
//     "maxReplyBytes": 8388608, "maxEntries": 100000, "primary": true }
// and the rules that keep it safe: one server per connection, TLS is verified, a password
// never travels in plain text to another machine unless the file says so, a password
// file must be private, and no server can send more than the limits allow.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

struct sockaddr;

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
  bool allowPlaintext = false;  // plain LDAP to another machine was accepted
  bool primary = false;
  std::chrono::milliseconds connectTimeout{10000};
  std::chrono::milliseconds requestTimeout{60000};
  std::size_t maxReplyBytes = 8 << 20;  // the largest message the server may send
  std::size_t maxEntries = 100000;      // the most entries one search may bring
  // Where the tree's servers are reached for the requests a server carries out on itself:
  // dotted server names ("FS2.HQ.ACME") and the URLs of their LDAP servers. A server
  // not named here is reached at its own network address.
  std::vector<std::pair<std::string, std::string>> servers;

  bool UsesTls() const { return ldaps || startTls; }
  // "ldaps://dir.example.com (ACME_TREE)": how messages name the connection.
  std::string Label() const;
};

// Reads one connection (item) of a connections file; where names it in messages
// ("connections.json: connections[2]"), baseDir is the file's folder. Throws LoadError
// for a connection that cannot or may not be used.
LdapSettings ParseLdapConnection(const nlohmann::json& item, const std::string& where, const std::string& baseDir,
                                 const PasswordPrompt& prompt);

// Takes settings.url apart into host, port and scheme and checks it by the rules above
// (one server, ldap:// or ldaps://, no plain LDAP to another machine unless allowed):
// "" or the problem, with key the connection key it concerns.
std::string TakeUrl(LdapSettings& settings, std::string& key);

// Whether a URL host names this machine: a numeric loopback address (127.0.0.0/8, ::1)
// or "localhost", whose address is checked again when the connection is made.
bool IsLoopbackHost(const std::string& host);
// Whether an address the connection reached is a loopback address.
bool IsLoopbackAddress(const ::sockaddr* address);

// The password in a password file: its first line. The file must be a regular file of
// the user's own that no one else may read, and small; false with the problem in words.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& problem);

// Once a password is in memory: no core dump may hold it, and programs started later
// do not inherit the password variable.
void KeepSecretsInMemory();

}  // namespace vestrel::nw::ldap
