#include "platform/nwclient/ldap/LdapConnection.h"

#include <ldap.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/nwclient/ldap/Ber.h"
#include "platform/nwclient/ldap/LdapCertificate.h"
#include "platform/nwclient/ldap/LdapErrors.h"
#include "platform/nwclient/ldap/LdapHolders.h"
#include "platform/nwclient/ldap/LdapSchema.h"

namespace vestrel::nw::ldap {

namespace {

constexpr const char* kSystemCertificates = "/etc/ssl/certs/ca-certificates.crt";
constexpr const char* kCaHint = "is the server's certificate authority in \"caFile\"?";

std::chrono::milliseconds& RetryPause() {
  static std::chrono::milliseconds pause = LdapConnection::kDefaultRetryPause;
  return pause;
}

Clock::time_point& Deadline() {
  static Clock::time_point deadline = Clock::time_point::max();
  return deadline;
}

timeval TimevalOf(std::chrono::milliseconds span) {
  if (span.count() < 0) span = std::chrono::milliseconds(0);
  return timeval{static_cast<time_t>(span.count() / 1000), static_cast<suseconds_t>(span.count() % 1000 * 1000)};
}

std::chrono::milliseconds Left(Clock::time_point end) {
  if (end == Clock::time_point::max()) return std::chrono::hours(24);
  return std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
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

// "8 MB", "64 KB".
std::string Size(std::size_t bytes) {
  return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MB" : std::to_string(bytes >> 10) + " KB";
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

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else if (address->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  return text;
}

// ---- The socket under a connection ----

// A layer between the socket and TLS. libldap runs the TLS handshake on a non-blocking
// socket and, with GnuTLS, retries a read that would wait without end: a server that
// accepts and then says nothing would hold the program for ever. Here such a read or
// write waits for the socket, until the handshake must be over, and then fails.
// Outside the opening of a connection the layer passes everything on unchanged.
bool WaitForSocket(Sockbuf_IO_Desc* layer, short events) {
  auto* rules = static_cast<SocketRules*>(layer->sbiod_pvt);
  if (rules->handshakeEnd == Clock::time_point::max() || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
    return false;
  const std::chrono::milliseconds left = Left(rules->handshakeEnd);
  if (left.count() <= 0) {
    rules->handshakeTimedOut = true;
    errno = ETIMEDOUT;
    return false;
  }
  ber_socket_t fd = -1;
  ber_sockbuf_ctrl(layer->sbiod_sb, LBER_SB_OPT_GET_FD, &fd);
  pollfd wait{fd, events, 0};
  poll(&wait, 1, static_cast<int>(left.count()));
  return true;
}

int LayerSetup(Sockbuf_IO_Desc* layer, void* rules) {
  layer->sbiod_pvt = rules;
  return 0;
}

int LayerControl(Sockbuf_IO_Desc* layer, int option, void* argument) {
  return LBER_SBIOD_CTRL_NEXT(layer, option, argument);
}

ber_slen_t LayerRead(Sockbuf_IO_Desc* layer, void* buffer, ber_len_t length) {
  ber_slen_t got = 0;
  do got = LBER_SBIOD_READ_NEXT(layer, buffer, length);
  while (got < 0 && WaitForSocket(layer, POLLIN));
  return got;
}

ber_slen_t LayerWrite(Sockbuf_IO_Desc* layer, void* buffer, ber_len_t length) {
  ber_slen_t sent = 0;
  do sent = LBER_SBIOD_WRITE_NEXT(layer, buffer, length);
  while (sent < 0 && WaitForSocket(layer, POLLOUT));
  return sent;
}

Sockbuf_IO kHandshakeLayer = {LayerSetup, nullptr, LayerControl, LayerRead, LayerWrite, nullptr};
constexpr int kHandshakeLevel = LBER_SBIOD_LEVEL_PROVIDER + 5;  // above the socket, below TLS

// Called by libldap once the TCP connection stands, before TLS and before anything is sent.
int Connected(LDAP*, Sockbuf* socket, LDAPURLDesc*, sockaddr* peer, ldap_conncb* callbacks) {
  auto* rules = static_cast<SocketRules*>(callbacks->lc_arg);
  const LdapSettings& settings = *rules->settings;
  // A host name that is this machine's must also lead to it.
  if (!settings.UsesTls() && !settings.allowPlaintext && !IsLoopbackAddress(peer)) {
    rules->refusedPeer = AddressText(peer);
    return -1;
  }
  ber_socket_t fd = -1;
  ber_sockbuf_ctrl(socket, LBER_SB_OPT_GET_FD, &fd);
  // A read or write that blocks in the socket itself ends after the request timeout.
  const timeval limit = TimevalOf(settings.requestTimeout);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  // liblber refuses a message that declares more, before it allocates room for it.
  ber_len_t most = settings.maxReplyBytes;
  ber_sockbuf_ctrl(socket, LBER_SB_OPT_SET_MAX_INCOMING, &most);
  return ber_sockbuf_add_io(socket, &kHandshakeLayer, kHandshakeLevel, rules) == 0 ? 0 : -1;
}

void Disconnected(LDAP*, Sockbuf*, ldap_conncb*) {}

// ---- Reading what the server sent ----

int ResultCodeOf(LDAP* ld) {
  int code = LDAP_OTHER;
  ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
  return code;
}

std::string DiagnosticOf(LDAP* ld) {
  char* raw = nullptr;
  ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &raw);
  const Text text(raw);
  return text ? text.get() : "";
}

// Why the last wait lost the link, when liblber said more than libldap passes on: a
// message larger than the connection allows ends the link with ERANGE.
thread_local int lostLinkErrno = 0;

// The next message of a request, waiting at most until end: its type, 0 when the time
// passed, -1 when the link failed.
int NextMessage(LDAP* ld, int id, Clock::time_point end, Message& message) {
  LDAPMessage* raw = nullptr;
  timeval wait = TimevalOf(Left(end));
  errno = 0;
  const int type = ldap_result(ld, id, LDAP_MSG_ONE, &wait, &raw);
  lostLinkErrno = type < 0 ? errno : 0;
  message.reset(raw);
  return type;
}

struct Outcome {
  int result = LDAP_SUCCESS;
  std::string diagnostic;
};

Outcome ParseOutcome(LDAP* ld, LDAPMessage* message, LDAPControl*** controls = nullptr) {
  Outcome outcome;
  char* raw = nullptr;
  const int parsed = ldap_parse_result(ld, message, &outcome.result, nullptr, &raw, nullptr, controls, 0);
  const Text diagnostic(raw);
  if (parsed != LDAP_SUCCESS) outcome.result = parsed;
  outcome.diagnostic = diagnostic ? diagnostic.get() : "";
  return outcome;
}

// An entry, its attributes walked once; false when it cannot be read or its name holds a
// NUL character (a C library would see the name end there).
bool EntryOf(LDAP* ld, LDAPMessage* message, LdapEntry& entry, std::size_t& bytes) {
  BerElement* raw = nullptr;
  berval dn{0, nullptr};
  const int named = ldap_get_dn_ber(ld, message, &raw, &dn);
  const BerPosition position(raw);
  if (named != LDAP_SUCCESS || !position) return false;
  entry.dn.assign(dn.bv_val ? dn.bv_val : "", dn.bv_len);
  if (entry.dn.find('\0') != std::string::npos) return false;
  bytes += entry.dn.size();
  while (true) {
    berval name{0, nullptr};
    berval* rawValues = nullptr;
    const int read = ldap_get_attribute_ber(ld, message, position.get(), &name, &rawValues);
    std::unique_ptr<berval, MemoryDeleter> values(rawValues);
    if (read != LDAP_SUCCESS) return false;
    if (!name.bv_val) return true;
    LdapAttribute attribute;
    attribute.description.assign(name.bv_val, name.bv_len);
    bytes += attribute.description.size() + sizeof attribute;
    for (berval* value = values.get(); value && value->bv_val; ++value) {
      attribute.values.emplace_back(value->bv_val, value->bv_len);
      bytes += value->bv_len + sizeof(std::string);
    }
    entry.attributes.push_back(std::move(attribute));
  }
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

// The cookie of a paged search's result controls, read with the bounds-checked reader;
// false for a control that is no such SEQUENCE. No control: the search is over.
bool ReadPageCookie(LDAPControl** controls, std::string& cookie) {
  cookie.clear();
  const LDAPControl* control = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, nullptr);
  if (!control) return true;
  if (!control->ldctl_value.bv_val) return false;
  BerReader value(std::string_view(control->ldctl_value.bv_val, control->ldctl_value.bv_len));
  BerReader fields("");
  std::int64_t estimate = 0;
  return value.Sequence(fields) && value.AtEnd() && fields.Integer(estimate) && fields.OctetString(cookie) &&
         fields.AtEnd();
}

int ScopeOf(Scope scope) {
  return scope == Scope::Base ? LDAP_SCOPE_BASE : scope == Scope::OneLevel ? LDAP_SCOPE_ONELEVEL : LDAP_SCOPE_SUBTREE;
}

// The first URL of a search reference, for the message.
std::string ReferenceUrl(LDAP* ld, LDAPMessage* message) {
  char** urls = nullptr;
  std::string url;
  if (ldap_parse_reference(ld, message, &urls, nullptr, 0) == LDAP_SUCCESS && urls && urls[0]) url = urls[0];
  ber_memvfree(reinterpret_cast<void**>(urls));
  return url.substr(0, 200);
}

}  // namespace

// What a search met: the LDAP result and its words; problem, when set, is what the
// client found wrong with the answer and replaces the result's own words.
struct LdapConnection::Answer {
  int result = LDAP_SUCCESS;
  std::string diagnostic;
  std::string problem;
};

const LdapAttribute* LdapEntry::Find(std::string_view name) const {
  for (const LdapAttribute& attribute : attributes)
    if (SameAttribute(attribute.description, name)) return &attribute;
  return nullptr;
}

void LdapConnection::SetRetryPause(std::chrono::milliseconds pause) { RetryPause() = pause; }

void LdapConnection::SetDeadline(Clock::time_point deadline) { Deadline() = deadline; }

LdapConnection::LdapConnection(LdapSettings settings)
    : settings_(std::move(settings)), callbacks_(std::make_unique<ldap_conncb>()) {
  rules_.settings = &settings_;
  *callbacks_ = ldap_conncb{Connected, Disconnected, &rules_};
}

LdapConnection::~LdapConnection() { Close(); }

void LdapConnection::Close() {
  if (ld_) ldap_unbind_ext(ld_, nullptr, nullptr);
  ld_ = nullptr;
}

std::string LdapConnection::LinkLoss() const {
  return lostLinkErrno == ERANGE ? "the server sent a message larger than " + Size(settings_.maxReplyBytes) +
                                       " (\"maxReplyBytes\")"
                                 : "";
}

Clock::time_point LdapConnection::WaitEnd() const {
  return std::min(Clock::now() + settings_.requestTimeout, Deadline());
}

std::string LdapConnection::NoAnswerText() const {
  return Clock::now() >= Deadline() ? std::string("no answer before the program's time limit")
                                    : "no answer within " + Seconds(settings_.requestTimeout);
}

NWRCODE LdapConnection::Fail(int result, const std::string& diagnostic, const std::string& what, bool connecting) {
  const std::string words = result == LDAP_TIMEOUT ? what : what + ": " + FailureText(result, diagnostic);
  return Failed(result, CodeOf(result, diagnostic, connecting), words, connecting || BreaksConnection(result));
}

NWRCODE LdapConnection::Failed(int result, NWRCODE code, const std::string& words, bool dropLink) {
  static std::uint64_t failures = 0;
  lastResult_ = result;
  failure_ = words;
  failureStamp_ = ++failures;
  if (dropLink) {
    Close();
    brokenCode_ = code;
    brokenAt_ = Clock::now();
  }
  return code;
}

NWRCODE LdapConnection::Refuse(NWRCODE code, const std::string& words) { return Failed(LDAP_OTHER, code, words, false); }

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
  ldap_set_option(ld, LDAP_OPT_CONNECT_CB, callbacks_.get());
  if (settings_.UsesTls())
    if (NWRCODE code = SetUpTls(ld)) return code;
  rules_.handshakeTimedOut = false;
  rules_.refusedPeer.clear();
  rules_.handshakeEnd = std::min(Clock::now() + settings_.connectTimeout, Deadline());
  NWRCODE code = 0;
  if (settings_.startTls) {
    ++requests_;
    if (int result = ldap_start_tls_s(ld, nullptr, nullptr); result != LDAP_SUCCESS)
      code = OpenFailed(result, DiagnosticOf(ld), "cannot start TLS");
  }
  if (!code) code = SignIn(ld);
  rules_.handshakeEnd = Clock::time_point::max();
  if (!code) {
    brokenCode_ = 0;
    ++sessions_;
  }
  return code;
}

NWRCODE LdapConnection::SetUpTls(LDAP* ld) {
  // Verified whatever the machine's ldap.conf says.
  const int demand = LDAP_OPT_X_TLS_DEMAND;
  std::error_code error;
  const std::string authorities = !settings_.caFile.empty() ? settings_.caFile
                                  : std::filesystem::exists(kSystemCertificates, error) ? kSystemCertificates
                                                                                         : "";
  const int client = 0;
  // A context of the connection's own: without it libldap would fall back to the
  // machine's TLS settings, whatever this connection asks for.
  const bool set = ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand) == LDAP_OPT_SUCCESS &&
                   (authorities.empty() ||
                    (HoldsPemCertificates(authorities) &&
                     ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, authorities.c_str()) == LDAP_OPT_SUCCESS)) &&
                   ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &client) == LDAP_OPT_SUCCESS;
  if (set) return 0;
  const std::string problem = authorities.empty()
                                  ? "no TLS context can be made (no certificate authorities were found)"
                                  : "the certificate authorities in \"" + authorities +
                                        "\" cannot be used (a file of PEM certificates is expected)";
  return Failed(LDAP_CONNECT_ERROR, CodeOf(LDAP_CONNECT_ERROR, "", true), "cannot set up TLS: " + problem, true);
}

NWRCODE LdapConnection::OpenFailed(int result, const std::string& diagnostic, const std::string& stage) {
  if (!rules_.refusedPeer.empty())
    return Fail(LDAP_CONNECT_ERROR, "",
                "plain ldap:// to " + settings_.host + " reached " + rules_.refusedPeer +
                    ", another machine: names and the password would travel unencrypted; use ldaps:// or "
                    "\"startTls\": true (or \"allowPlaintext\": true to accept that)",
                true);
  if (rules_.handshakeTimedOut)
    return Fail(LDAP_TIMEOUT, "", stage + ": no answer within " + Seconds(settings_.connectTimeout), true);
  const bool tlsStage = stage != "cannot connect" && settings_.UsesTls() &&
                        (result == LDAP_SERVER_DOWN || result == LDAP_CONNECT_ERROR);
  if (!tlsStage) return Fail(result, diagnostic, stage, true);
  // libldap says no more of a refused certificate than "(unknown error code)": a second
  // look at the server's certificate, without signing in, tells what is wrong with it.
  const std::string problem = CertificateProblem(settings_, callbacks_.get());
  if (!problem.empty()) return Failed(LDAP_CONNECT_ERROR, CodeOf(result, "", true), stage + ": " + problem, true);
  return Fail(result, diagnostic, stage + " (" + kCaHint + ")", true);
}

NWRCODE LdapConnection::SignIn(LDAP* ld) {
  const std::string who = settings_.bindDn.empty() ? "anonymous sign-in failed" : "sign-in as " + settings_.bindDn + " failed";
  berval password{settings_.password.size(), settings_.password.data()};
  int id = 0;
  ++requests_;
  const Clock::time_point end = WaitEnd();
  if (int result = ldap_sasl_bind(ld, settings_.bindDn.c_str(), LDAP_SASL_SIMPLE, &password, nullptr, nullptr, &id);
      result != LDAP_SUCCESS) {
    const bool unreachable = result == LDAP_SERVER_DOWN || result == LDAP_CONNECT_ERROR;
    const int port = settings_.port ? settings_.port : settings_.ldaps ? 636 : 389;
    const bool tlsFailed = unreachable && settings_.ldaps &&
                           (rules_.handshakeTimedOut || Listening(settings_.host, port, settings_.connectTimeout));
    return OpenFailed(result, DiagnosticOf(ld), !unreachable ? who : tlsFailed ? "cannot set up TLS" : "cannot connect");
  }
  Message message;
  const int type = NextMessage(ld, id, end, message);
  if (type == 0) {
    ldap_abandon_ext(ld, id, nullptr, nullptr);
    return Fail(LDAP_TIMEOUT, "", NoAnswerText(), true);
  }
  if (type < 0) return OpenFailed(ResultCodeOf(ld), DiagnosticOf(ld), "cannot connect");
  if (type != LDAP_RES_BIND)
    return Failed(LDAP_DECODING_ERROR, CodeOf(LDAP_DECODING_ERROR, ""),
                  who + ": the server answered with a message of an unknown kind", true);
  const Outcome outcome = ParseOutcome(ld, message.get());
  if (outcome.result != LDAP_SUCCESS) return Fail(outcome.result, outcome.diagnostic, who, true);
  return 0;
}

NWRCODE LdapConnection::Search(LdapSearch& search, std::vector<LdapEntry>& entries) {
  entries.clear();
  const bool reused = ld_ != nullptr;
  if (NWRCODE code = Connect()) return code;
  const std::string cookie = search.cookie;
  Answer answer = SearchOnce(search, entries);
  // Servers close connections that sat idle: a search the server never began is asked
  // again on a new connection (a paged search cannot move to another connection).
  if (answer.result == LDAP_SERVER_DOWN && reused && entries.empty() && cookie.empty()) {
    Close();
    if (NWRCODE code = Open()) return code;
    answer = SearchOnce(search, entries);
  }
  if (answer.result == LDAP_SUCCESS) return 0;
  // An answer the client refuses drops the link: nothing more of it is read.
  if (!answer.problem.empty())
    return Failed(answer.result, CodeOf(answer.result, ""), "search failed: " + answer.problem, true);
  return Fail(answer.result, answer.diagnostic, answer.result == LDAP_TIMEOUT ? NoAnswerText() : "search failed");
}

LdapConnection::Answer LdapConnection::SearchOnce(LdapSearch& search, std::vector<LdapEntry>& entries) {
  std::vector<char*> attributes;
  static char kNoAttributes[] = "1.1";
  for (std::string& name : search.attributes) attributes.push_back(name.data());
  if (attributes.empty()) attributes.push_back(kNoAttributes);
  attributes.push_back(nullptr);
  const int deref = search.derefAliases ? LDAP_DEREF_ALWAYS : LDAP_DEREF_NEVER;
  ldap_set_option(ld_, LDAP_OPT_DEREF, &deref);

  LDAPControl* page = nullptr;
  if (search.pageSize > 0 && !(page = PageControl(search.pageSize, search.cookie))) return {LDAP_NO_MEMORY, "", ""};
  LDAPControl* controls[] = {page, nullptr};
  // The server is asked to stop at the limit too; the client stops there whatever it does.
  const int sizeLimit = static_cast<int>(std::min<std::size_t>(settings_.maxEntries + 1, 0x7FFFFFFF));
  int id = 0;
  ++requests_;
  const Clock::time_point end = WaitEnd();
  const int sent = ldap_search_ext(ld_, search.base.c_str(), ScopeOf(search.scope), search.filter.c_str(),
                                   attributes.data(), 0, page ? controls : nullptr, nullptr, nullptr, sizeLimit, &id);
  if (page) ldap_control_free(page);
  if (sent != LDAP_SUCCESS) return {sent, DiagnosticOf(ld_), ""};
  const bool paged = search.pageSize > 0;
  const std::size_t before = entries.size();
  std::string reference;
  search.cookie.clear();
  auto giveUp = [&](int result, std::string problem) {
    ldap_abandon_ext(ld_, id, nullptr, nullptr);
    return Answer{result, "", std::move(problem)};
  };
  while (true) {
    Message message;
    const int type = NextMessage(ld_, id, end, message);
    if (type == 0) return giveUp(LDAP_TIMEOUT, "");
    if (type < 0) return {ResultCodeOf(ld_), DiagnosticOf(ld_), LinkLoss()};
    if (type == LDAP_RES_SEARCH_ENTRY) {
      LdapEntry entry;
      if (!EntryOf(ld_, message.get(), entry, search.bytesSoFar))
        return giveUp(LDAP_DECODING_ERROR, "the server sent an entry with a malformed name");
      entries.push_back(std::move(entry));
      if (++search.entriesSoFar > settings_.maxEntries)
        return giveUp(LDAP_SIZELIMIT_EXCEEDED,
                      "the search brought more than " + std::to_string(settings_.maxEntries) + " entries (\"maxEntries\")");
      if (search.bytesSoFar > kMaxSearchBytes)
        return giveUp(LDAP_SIZELIMIT_EXCEEDED, "the search brought more than " + Size(kMaxSearchBytes) + " of entries");
    } else if (type == LDAP_RES_SEARCH_REFERENCE) {
      // Referrals are not followed: they name other servers. What they hold is missing.
      if (reference.empty()) reference = ReferenceUrl(ld_, message.get());
    } else if (type == LDAP_RES_SEARCH_RESULT) {
      LDAPControl** rawControls = nullptr;
      Outcome outcome = ParseOutcome(ld_, message.get(), paged ? &rawControls : nullptr);
      const Controls responseControls(rawControls);
      if (paged && !ReadPageCookie(responseControls.get(), search.cookie))
        return {LDAP_DECODING_ERROR, "", "the server's paged results control cannot be read"};
      if (!search.cookie.empty() && entries.size() == before)
        return {LDAP_DECODING_ERROR, "", "a page of the server's paged results brought no entries"};
      if (!search.cookie.empty() && !search.cookiesSeen.insert(search.cookie).second)
        return {LDAP_DECODING_ERROR, "", "the server repeated a paged results cookie"};
      if (outcome.result == LDAP_SUCCESS && !reference.empty())
        return {LDAP_REFERRAL, "", "the server refers to other servers for part of the answer (" + reference + ")"};
      return {outcome.result, outcome.diagnostic, ""};
    } else if (type != LDAP_RES_INTERMEDIATE) {
      return giveUp(LDAP_DECODING_ERROR, "the server answered with a message of an unknown kind");
    }
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
  const Clock::time_point end = WaitEnd();
  Message message;
  for (int type = NextMessage(ld_, id, end, message); type > 0 && type != LDAP_RES_SEARCH_RESULT;
       type = NextMessage(ld_, id, end, message)) {
  }
}

NWRCODE LdapConnection::Extended(const std::string& name, const std::string& value, const std::string& responseName,
                                 std::string& response) {
  response.clear();
  if (NWRCODE code = Connect()) return code;
  berval request{value.size(), const_cast<char*>(value.data())};
  int id = 0;
  ++requests_;
  const Clock::time_point end = WaitEnd();
  const std::string what = "request " + name + " failed";
  if (int sent = ldap_extended_operation(ld_, name.c_str(), &request, nullptr, nullptr, &id); sent != LDAP_SUCCESS)
    return Fail(sent, DiagnosticOf(ld_), what);
  Message message;
  const int type = NextMessage(ld_, id, end, message);
  if (type == 0) {
    ldap_abandon_ext(ld_, id, nullptr, nullptr);
    return Fail(LDAP_TIMEOUT, "", NoAnswerText());
  }
  if (type < 0) return Fail(ResultCodeOf(ld_), DiagnosticOf(ld_), what);
  if (type != LDAP_RES_EXTENDED)
    return Failed(LDAP_DECODING_ERROR, CodeOf(LDAP_DECODING_ERROR, ""),
                  what + ": the server answered with a message of an unknown kind", true);
  const Outcome outcome = ParseOutcome(ld_, message.get());
  if (outcome.result != LDAP_SUCCESS) return Fail(outcome.result, outcome.diagnostic, what);
  char* rawName = nullptr;
  berval* rawValue = nullptr;
  const int parsed = ldap_parse_extended_result(ld_, message.get(), &rawName, &rawValue, 0);
  const Text answeredName(rawName);
  const Berval answer(rawValue);
  // A success under another name answers some other request: nothing was done as asked.
  if (parsed != LDAP_SUCCESS || !answeredName || answeredName.get() != responseName)
    return Refuse(ERR_INVALID_SERVER_RESPONSE,
                  what + ": the server answered " +
                      (parsed != LDAP_SUCCESS ? std::string("with a response that cannot be read")
                       : !answeredName        ? "without a response name"
                                              : "as " + std::string(answeredName.get()).substr(0, 100)) +
                      ", not as " + responseName);
  if (answer && answer->bv_val) response.assign(answer->bv_val, answer->bv_len);
  return 0;
}

}  // namespace vestrel::nw::ldap
