// One session with an LDAP server over OpenLDAP's client library: connecting (TLS
// verified, StartTLS when asked), signing in, searches (paged when asked) and extended
// operations. A link that breaks or stops answering is dropped; the next request after a
// short pause connects again, and requests in between fail at once with the code the
// link broke with, so a scan over a dead server ends quickly instead of waiting out a
// timeout per row.
//
// The server is not trusted: every wait ends at the connection's timeouts (the TLS
// handshake included) and at the program's deadline, no message may be larger than
// maxReplyBytes, no search may bring more than maxEntries entries or page without end,
// and plain LDAP without "allowPlaintext" is refused unless the address reached is this
// machine's own.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "directory/NTypes.h"
#include "platform/nwclient/ldap/LdapSettings.h"

typedef struct ldap LDAP;
struct ldap_conncb;

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
  // What the search has brought so far, over all its pages.
  std::size_t entriesSoFar = 0;
  std::size_t bytesSoFar = 0;
  std::unordered_set<std::string> cookiesSeen;
};

using Clock = std::chrono::steady_clock;

// What the socket under a connection obeys, and what it saw while the connection was opened.
struct SocketRules {
  const LdapSettings* settings = nullptr;
  Clock::time_point handshakeEnd = Clock::time_point::max();  // while opening: the TLS handshake's end
  bool handshakeTimedOut = false;
  std::string refusedPeer;  // a plain connection reached this address of another machine
};

class LdapConnection {
 public:

  // The most bytes of entries one search may bring, over all its pages.
  static constexpr std::size_t kMaxSearchBytes = 64 << 20;

  explicit LdapConnection(LdapSettings settings);
  ~LdapConnection();
  LdapConnection(const LdapConnection&) = delete;
  LdapConnection& operator=(const LdapConnection&) = delete;

  const LdapSettings& Settings() const { return settings_; }
  // Connects and signs in unless a session stands.
  NWRCODE Connect();
  // Every entry of one search (one page when paged); a size limit or a referral gives the
  // entries that came with its code.
  NWRCODE Search(LdapSearch& search, std::vector<LdapEntry>& entries);
  // An extended request: its answer counts only when the server names it responseName;
  // another name, or none, is an invalid server response.
  NWRCODE Extended(const std::string& name, const std::string& value, const std::string& responseName,
                   std::string& response);
  // Ends a paged search the server holds for us (a page of size 0 with its cookie).
  void AbandonPages(const LdapSearch& search);
  // Records a failure found in what the server sent (a name no program can use): code,
  // and the words FailureMessage gives.
  NWRCODE Refuse(NWRCODE code, const std::string& words);

  // The last failure in words ("cannot connect: Can't contact LDAP server"); never holds
  // the password.
  const std::string& FailureMessage() const { return failure_; }
  // The LDAP result code of the last failed request (0 when none failed).
  int LastResult() const { return lastResult_; }
  std::uint64_t Requests() const { return requests_; }
  // Counts the sessions opened: values kept from an earlier session are older than this one.
  std::uint64_t Session() const { return sessions_; }
  // Which failure of all connections came last: a larger stamp is a later failure.
  std::uint64_t FailureStamp() const { return failureStamp_; }

  // How long a broken link rests before a request connects again (tests shorten it).
  static constexpr std::chrono::milliseconds kDefaultRetryPause{5000};
  static void SetRetryPause(std::chrono::milliseconds pause);
  // A time no wait of any connection goes past (a program whose whole run has a time
  // limit); Clock::time_point::max() for none.
  static void SetDeadline(Clock::time_point deadline);

 private:
  struct Answer;

  LdapSettings settings_;
  LDAP* ld_ = nullptr;
  Clock::time_point brokenAt_{};
  NWRCODE brokenCode_ = 0;
  std::string failure_;
  int lastResult_ = 0;
  std::uint64_t requests_ = 0;
  std::uint64_t failureStamp_ = 0;
  std::uint64_t sessions_ = 0;
  SocketRules rules_;
  std::unique_ptr<ldap_conncb> callbacks_;

  NWRCODE Open();
  void Close();
  // Verification and authorities of a TLS connection; a refused option refuses the connection.
  NWRCODE SetUpTls(LDAP* ld);
  // Records a failed request; a result that breaks the link drops it.
  NWRCODE Fail(int result, const std::string& diagnostic, const std::string& what, bool connecting = false);
  NWRCODE Failed(int result, NWRCODE code, const std::string& words, bool dropLink);
  // A connection that could not be opened: what stage (starting TLS, signing in) met.
  NWRCODE OpenFailed(int result, const std::string& diagnostic, const std::string& stage);
  NWRCODE SignIn(LDAP* ld);
  // One search on the open connection.
  Answer SearchOnce(LdapSearch& search, std::vector<LdapEntry>& entries);
  // The end of a wait that starts now: the request timeout or the deadline, the earlier.
  Clock::time_point WaitEnd() const;
  std::string NoAnswerText() const;
  // Words for a link lost for a reason of its own ("" for the usual one).
  std::string LinkLoss() const;
};

}  // namespace vestrel::nw::ldap
