// One session with an LDAP server over OpenLDAP's client library: connecting (TLS
// verified, StartTLS when asked), signing in, searches (paged when asked) and extended
// operations, each bounded by the connection's timeouts. A link that breaks or stops
// answering is dropped; the next request after a short pause connects again, and
// requests in between fail at once with the code the link broke with, so a scan over a
// dead server ends quickly instead of waiting out a timeout per row.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "directory/NTypes.h"
#include "platform/nwclient/ldap/LdapSettings.h"

typedef struct ldap LDAP;

namespace vestrel::nw::ldap {

struct LdapAttribute {
  std::string description;  // as the server named it, options included ("Replica;binary")
  std::vector<std::string> values;
};

struct LdapEntry {
  std::string dn;
  std::vector<LdapAttribute> attributes;
  // The attribute of that name (options and case ignored), or null.
  const LdapAttribute* Find(std::string_view name) const;
};

enum class Scope { Base, OneLevel, Subtree };

struct LdapSearch {
  std::string base;
  Scope scope = Scope::Base;
  std::string filter = "(objectClass=*)";
  std::vector<std::string> attributes;  // none: the entries' names only
  bool derefAliases = false;            // follow aliases while searching and at the base
  std::size_t pageSize = 0;             // 0: not paged
  std::string cookie;                   // in: where the paged search goes on; out: "" at its end
};

class LdapConnection {
 public:
  explicit LdapConnection(LdapSettings settings);
  ~LdapConnection();
  LdapConnection(const LdapConnection&) = delete;
  LdapConnection& operator=(const LdapConnection&) = delete;

  const LdapSettings& Settings() const { return settings_; }
  // Connects and signs in unless a session stands.
  NWRCODE Connect();
  // Every entry of one search (one page when paged); a size limit gives the entries that
  // came with its code.
  NWRCODE Search(LdapSearch& search, std::vector<LdapEntry>& entries);
  NWRCODE Extended(const std::string& name, const std::string& value, std::string& response);
  // Ends a paged search the server holds for us (a page of size 0 with its cookie).
  void AbandonPages(const LdapSearch& search);

  // The last failure in words ("cannot connect: Can't contact LDAP server"); never holds
  // the password.
  const std::string& FailureMessage() const { return failure_; }
  // The LDAP result code of the last failed request (0 when none failed).
  int LastResult() const { return lastResult_; }
  std::uint64_t Requests() const { return requests_; }

  // How long a broken link rests before a request connects again (tests shorten it).
  static constexpr std::chrono::milliseconds kDefaultRetryPause{5000};
  static void SetRetryPause(std::chrono::milliseconds pause);

 private:
  LdapSettings settings_;
  LDAP* ld_ = nullptr;
  std::chrono::steady_clock::time_point brokenAt_{};
  NWRCODE brokenCode_ = 0;
  std::string failure_;
  int lastResult_ = 0;
  std::uint64_t requests_ = 0;

  NWRCODE Open();
  void Close();
  // Records a failed request; a result that breaks the link drops it.
  NWRCODE Fail(int result, const std::string& diagnostic, const std::string& what, bool connecting = false);
  NWRCODE SignIn(LDAP* ld);
  // One search on the open connection: an LDAP result code.
  int SearchOnce(LdapSearch& search, std::vector<LdapEntry>& entries, std::string& diagnostic);
};

}  // namespace vestrel::nw::ldap
