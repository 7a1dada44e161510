#include "platform/nwclient/ldap/LdapConnection.h"

#include <ldap.h>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/nwclient/ldap/Ber.h"
#include "platform/nwclient/ldap/LdapErrors.h"
#include "platform/nwclient/ldap/LdapSchema.h"

namespace vestrel::nw::ldap {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSystemCertificates = "/etc/ssl/certs/ca-certificates.crt";

std::chrono::milliseconds& RetryPause() {
  static std::chrono::milliseconds pause = LdapConnection::kDefaultRetryPause;
  return pause;
}

struct MessageDeleter {
  void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
using Message = std::unique_ptr<LDAPMessage, MessageDeleter>;

timeval TimevalOf(std::chrono::milliseconds span) {
  if (span.count() < 0) span = std::chrono::milliseconds(0);
  return timeval{static_cast<time_t>(span.count() / 1000), static_cast<suseconds_t>(span.count() % 1000 * 1000)};
}

// A server that has gone away makes the next write raise SIGPIPE, which would end the
// program; the failed write is reported as a lost connection instead.
void KeepBrokenPipesFromEndingTheProgram() {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) std::signal(SIGPIPE, SIG_IGN);
}

// Whether something accepts TCP connections at host and port within the timeout: tells a
// TLS session that failed from a server that is not there.
bool Listening(const std::string& host, int port, std::chrono::milliseconds timeout) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.empty() ? "localhost" : host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
    return false;
  bool open = false;
  for (addrinfo* at = found; at && !open; at = at->ai_next) {
    const int fd = socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK, at->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, at->ai_addr, at->ai_addrlen) == 0) {
      open = true;
    } else if (errno == EINPROGRESS) {
      pollfd wait{fd, POLLOUT, 0};
      int error = 0;
      socklen_t size = sizeof error;
      open = poll(&wait, 1, static_cast<int>(timeout.count())) == 1 &&
             getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    close(fd);
  }
  freeaddrinfo(found);
  return open;
}

int ResultCodeOf(LDAP* ld) {
  int code = LDAP_OTHER;
  ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
  return code;
}

std::string DiagnosticOf(LDAP* ld) {
  char* text = nullptr;
  ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text);
  std::string diagnostic = text ? text : "";
  ldap_memfree(text);
  return diagnostic;
}

// The next message of a request, waiting at most until the deadline: its type, 0 when
// the deadline passed, -1 when the link failed.
int NextMessage(LDAP* ld, int id, Clock::time_point deadline, Message& message) {
  LDAPMessage* raw = nullptr;
  timeval wait = TimevalOf(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
  const int type = ldap_result(ld, id, LDAP_MSG_ONE, &wait, &raw);
  message.reset(raw);
  return type;
}

struct Outcome {
  int result = LDAP_SUCCESS;
  std::string diagnostic;
};

Outcome ParseOutcome(LDAP* ld, LDAPMessage* message, LDAPControl*** controls = nullptr) {
  Outcome outcome;
  char* diagnostic = nullptr;
  const int parsed = ldap_parse_result(ld, message, &outcome.result, nullptr, &diagnostic, nullptr, controls, 0);
  if (parsed != LDAP_SUCCESS) outcome.result = parsed;
  outcome.diagnostic = diagnostic ? diagnostic : "";
  ldap_memfree(diagnostic);
  return outcome;
}

// "60 s", "0.5 s".
std::string Seconds(std::chrono::milliseconds span) {
  char text[32];
  if (span.count() % 1000 == 0)
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(span.count() / 1000));
  else
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(span.count()) / 1000);
  return text;
}

LdapEntry EntryOf(LDAP* ld, LDAPMessage* message) {
  LdapEntry entry;
  if (char* dn = ldap_get_dn(ld, message)) {
    entry.dn = dn;
    ldap_memfree(dn);
  }
  BerElement* position = nullptr;
  for (char* name = ldap_first_attribute(ld, message, &position); name;
       name = ldap_next_attribute(ld, message, position)) {
    LdapAttribute attribute;
    attribute.description = name;
    if (berval** values = ldap_get_values_len(ld, message, name)) {
      for (berval** value = values; *value; ++value) attribute.values.emplace_back((*value)->bv_val, (*value)->bv_len);
      ldap_value_free_len(values);
    }
    entry.attributes.push_back(std::move(attribute));
    ldap_memfree(name);
  }
  if (position) ber_free(position, 0);
  return entry;
}

// The simple paged results control (RFC 2696): SEQUENCE { size INTEGER, cookie OCTET
// STRING }. Written here, since libldap's helper refuses the size 0 that gives a search up.
LDAPControl* PageControl(std::size_t size, const std::string& cookie) {
  const std::string value =
      BerWriter().Sequence(BerWriter().Integer(static_cast<std::int64_t>(size)).OctetString(cookie)).Bytes();
  berval bytes{value.size(), const_cast<char*>(value.data())};
  LDAPControl* control = nullptr;
  return ldap_control_create(LDAP_CONTROL_PAGEDRESULTS, 0, &bytes, 1, &control) == LDAP_SUCCESS ? control : nullptr;
}

int ScopeOf(Scope scope) {
  return scope == Scope::Base ? LDAP_SCOPE_BASE : scope == Scope::OneLevel ? LDAP_SCOPE_ONELEVEL : LDAP_SCOPE_SUBTREE;
}

// The paged-results cookie of a search result's controls ("" at the end).
std::string PageCookie(LDAP* ld, LDAPControl** controls) {
  LDAPControl* control = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, nullptr);
  if (!control) return {};
  ber_int_t estimate = 0;
  berval cookie{0, nullptr};
  if (ldap_parse_pageresponse_control(ld, control, &estimate, &cookie) != LDAP_SUCCESS) return {};
  std::string text(cookie.bv_val ? cookie.bv_val : "", cookie.bv_len);
  ber_memfree(cookie.bv_val);
  return text;
}

}  // namespace

const LdapAttribute* LdapEntry::Find(std::string_view name) const {
  for (const LdapAttribute& attribute : attributes)
    if (SameAttribute(attribute.description, name)) return &attribute;
  return nullptr;
}

void LdapConnection::SetRetryPause(std::chrono::milliseconds pause) { RetryPause() = pause; }

LdapConnection::LdapConnection(LdapSettings settings) : settings_(std::move(settings)) {}

LdapConnection::~LdapConnection() { Close(); }

void LdapConnection::Close() {
  if (ld_) ldap_unbind_ext(ld_, nullptr, nullptr);
  ld_ = nullptr;
}

NWRCODE LdapConnection::Fail(int result, const std::string& diagnostic, const std::string& what, bool connecting) {
  lastResult_ = result;
  failure_ = result == LDAP_TIMEOUT ? what : what + ": " + FailureText(result, diagnostic);
  const NWRCODE code = CodeOf(result, diagnostic, connecting);
  if (connecting || BreaksConnection(result)) {
    Close();
    brokenCode_ = code;
    brokenAt_ = Clock::now();
  }
  return code;
}

NWRCODE LdapConnection::Connect() {
  if (ld_) return 0;
  if (brokenCode_ && Clock::now() < brokenAt_ + RetryPause()) return brokenCode_;
  return Open();
}

NWRCODE LdapConnection::Open() {
  KeepBrokenPipesFromEndingTheProgram();
  LDAP* ld = nullptr;
  if (int result = ldap_initialize(&ld, settings_.url.c_str()); result != LDAP_SUCCESS)
    return Fail(result, "", "cannot connect", true);
  ld_ = ld;  // from here on Close() releases it
  const int version = LDAP_VERSION3;
  const timeval connectTimeout = TimevalOf(settings_.connectTimeout);
  const timeval requestTimeout = TimevalOf(settings_.requestTimeout);
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(ld, LDAP_OPT_RESTART, LDAP_OPT_ON);
  ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &connectTimeout);
  ldap_set_option(ld, LDAP_OPT_TIMEOUT, &requestTimeout);
  if (settings_.UsesTls()) {
    // Verified whatever the machine's ldap.conf says.
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    std::error_code error;
    const std::string authorities = !settings_.caFile.empty() ? settings_.caFile
                                    : std::filesystem::exists(kSystemCertificates, error) ? kSystemCertificates
                                                                                           : "";
    if (!authorities.empty()) ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, authorities.c_str());
    const int client = 0;
    ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &client);
  }
  if (settings_.startTls) {
    ++requests_;
    if (int result = ldap_start_tls_s(ld, nullptr, nullptr); result != LDAP_SUCCESS)
      return Fail(result, DiagnosticOf(ld), "cannot start TLS (is the server's certificate authority in \"caFile\"?)",
                  true);
  }
  if (NWRCODE code = SignIn(ld)) return code;
  brokenCode_ = 0;
  return 0;
}

NWRCODE LdapConnection::SignIn(LDAP* ld) {
  const std::string who = settings_.bindDn.empty() ? "anonymous sign-in failed" : "sign-in as " + settings_.bindDn + " failed";
  berval password{settings_.password.size(), settings_.password.data()};
  int id = 0;
  ++requests_;
  const Clock::time_point deadline = Clock::now() + settings_.requestTimeout;
  if (int result = ldap_sasl_bind(ld, settings_.bindDn.c_str(), LDAP_SASL_SIMPLE, &password, nullptr, nullptr, &id);
      result != LDAP_SUCCESS) {
    const bool unreachable = result == LDAP_SERVER_DOWN || result == LDAP_CONNECT_ERROR;
    // libldap says no more of a failed TLS session than of a missing server.
    const int port = settings_.port ? settings_.port : settings_.ldaps ? 636 : 389;
    const bool tlsFailed = unreachable && settings_.ldaps && Listening(settings_.host, port, settings_.connectTimeout);
    return Fail(result, DiagnosticOf(ld),
                tlsFailed ? "cannot set up TLS (is the server's certificate authority in \"caFile\"?)"
                : unreachable ? "cannot connect"
                              : who,
                true);
  }
  Message message;
  const int type = NextMessage(ld, id, deadline, message);
  if (type == 0) {
    ldap_abandon_ext(ld, id, nullptr, nullptr);
    return Fail(LDAP_TIMEOUT, "", "no answer within " + Seconds(settings_.requestTimeout), true);
  }
  if (type < 0) return Fail(ResultCodeOf(ld), DiagnosticOf(ld), "cannot connect", true);
  const Outcome outcome = ParseOutcome(ld, message.get());
  if (outcome.result != LDAP_SUCCESS) return Fail(outcome.result, outcome.diagnostic, who, true);
  return 0;
}

NWRCODE LdapConnection::Search(LdapSearch& search, std::vector<LdapEntry>& entries) {
  entries.clear();
  const bool reused = ld_ != nullptr;
  if (NWRCODE code = Connect()) return code;
  const std::string cookie = search.cookie;
  std::string diagnostic;
  int result = SearchOnce(search, entries, diagnostic);
  // Servers close connections that sat idle: a search the server never began is asked
  // again on a new connection (a paged search cannot move to another connection).
  if (result == LDAP_SERVER_DOWN && reused && entries.empty() && cookie.empty()) {
    Close();
    if (NWRCODE code = Open()) return code;
    result = SearchOnce(search, entries, diagnostic);
  }
  if (result == LDAP_SUCCESS) return 0;
  return Fail(result, diagnostic,
              result == LDAP_TIMEOUT ? "no answer within " + Seconds(settings_.requestTimeout) : "search failed");
}

int LdapConnection::SearchOnce(LdapSearch& search, std::vector<LdapEntry>& entries, std::string& diagnostic) {
  std::vector<char*> attributes;
  static char kNoAttributes[] = "1.1";
  for (std::string& name : search.attributes) attributes.push_back(name.data());
  if (attributes.empty()) attributes.push_back(kNoAttributes);
  attributes.push_back(nullptr);
  const int deref = search.derefAliases ? LDAP_DEREF_ALWAYS : LDAP_DEREF_NEVER;
  ldap_set_option(ld_, LDAP_OPT_DEREF, &deref);

  LDAPControl* page = nullptr;
  if (search.pageSize > 0 && !(page = PageControl(search.pageSize, search.cookie))) return LDAP_NO_MEMORY;
  LDAPControl* controls[] = {page, nullptr};
  int id = 0;
  ++requests_;
  const Clock::time_point deadline = Clock::now() + settings_.requestTimeout;
  const int sent = ldap_search_ext(ld_, search.base.c_str(), ScopeOf(search.scope), search.filter.c_str(),
                                   attributes.data(), 0, page ? controls : nullptr, nullptr, nullptr, 0, &id);
  if (page) ldap_control_free(page);
  if (sent != LDAP_SUCCESS) {
    diagnostic = DiagnosticOf(ld_);
    return sent;
  }
  search.cookie.clear();
  while (true) {
    Message message;
    const int type = NextMessage(ld_, id, deadline, message);
    if (type == 0) {
      ldap_abandon_ext(ld_, id, nullptr, nullptr);
      return LDAP_TIMEOUT;
    }
    if (type < 0) {
      diagnostic = DiagnosticOf(ld_);
      return ResultCodeOf(ld_);
    }
    if (type == LDAP_RES_SEARCH_ENTRY) {
      entries.push_back(EntryOf(ld_, message.get()));
    } else if (type == LDAP_RES_SEARCH_RESULT) {
      LDAPControl** responseControls = nullptr;
      const Outcome outcome = ParseOutcome(ld_, message.get(), &responseControls);
      search.cookie = PageCookie(ld_, responseControls);
      ldap_controls_free(responseControls);
      diagnostic = outcome.diagnostic;
      return outcome.result;
    }
    // Referrals are not followed: they name other servers.
  }
}

void LdapConnection::AbandonPages(const LdapSearch& search) {
  if (!ld_ || search.cookie.empty()) return;
  LDAPControl* page = PageControl(0, search.cookie);
  if (!page) return;
  LDAPControl* controls[] = {page, nullptr};
  static char kNoAttributes[] = "1.1";
  char* attributes[] = {kNoAttributes, nullptr};
  int id = 0;
  ++requests_;
  const int sent = ldap_search_ext(ld_, search.base.c_str(), ScopeOf(search.scope), search.filter.c_str(), attributes,
                                   0, controls, nullptr, nullptr, 0, &id);
  ldap_control_free(page);
  if (sent != LDAP_SUCCESS) return;
  // The answer is read, so it does not wait in the session for a later request.
  const Clock::time_point deadline = Clock::now() + settings_.requestTimeout;
  Message message;
  for (int type = NextMessage(ld_, id, deadline, message); type > 0 && type != LDAP_RES_SEARCH_RESULT;
       type = NextMessage(ld_, id, deadline, message)) {
  }
}

NWRCODE LdapConnection::Extended(const std::string& name, const std::string& value, std::string& response) {
  response.clear();
  if (NWRCODE code = Connect()) return code;
  berval request{value.size(), const_cast<char*>(value.data())};
  int id = 0;
  ++requests_;
  const Clock::time_point deadline = Clock::now() + settings_.requestTimeout;
  if (int sent = ldap_extended_operation(ld_, name.c_str(), &request, nullptr, nullptr, &id); sent != LDAP_SUCCESS)
    return Fail(sent, DiagnosticOf(ld_), "request " + name + " failed");
  Message message;
  const int type = NextMessage(ld_, id, deadline, message);
  if (type == 0) {
    ldap_abandon_ext(ld_, id, nullptr, nullptr);
    return Fail(LDAP_TIMEOUT, "", "no answer within " + Seconds(settings_.requestTimeout));
  }
  if (type < 0) return Fail(ResultCodeOf(ld_), DiagnosticOf(ld_), "request " + name + " failed");
  const Outcome outcome = ParseOutcome(ld_, message.get());
  if (outcome.result != LDAP_SUCCESS) return Fail(outcome.result, outcome.diagnostic, "request " + name + " failed");
  berval* data = nullptr;
  if (ldap_parse_extended_result(ld_, message.get(), nullptr, &data, 0) == LDAP_SUCCESS && data) {
    response.assign(data->bv_val ? data->bv_val : "", data->bv_len);
    ber_bvfree(data);
  }
  return 0;
}

}  // namespace vestrel::nw::ldap
