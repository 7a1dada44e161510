#include "platform/nwclient/ldap/LdapCertificate.h"

#include <arpa/inet.h>
#include <gnutls/x509.h>
#include <ldap.h>

#include <chrono>
#include <fstream>
#include <memory>

#include "platform/nwclient/ldap/LdapHolders.h"

namespace vestrel::nw::ldap {

namespace {

// Certificates GnuTLS read from a list, given back with the list.
struct CertificateList {
  gnutls_x509_crt_t* items = nullptr;
  unsigned count = 0;
  ~CertificateList() {
    for (unsigned i = 0; i < count; ++i) gnutls_x509_crt_deinit(items[i]);
    gnutls_free(items);
  }
};

// The most bytes a file of authorities may have (the system's bundle has some 200 KB).
constexpr std::size_t kMaxAuthorityBytes = 16 << 20;

struct CertificateDeleter {
  void operator()(gnutls_x509_crt_int* certificate) const { gnutls_x509_crt_deinit(certificate); }
};

timeval TimevalOf(std::chrono::milliseconds span) {
  return timeval{static_cast<time_t>(span.count() / 1000), static_cast<suseconds_t>(span.count() % 1000 * 1000)};
}

// "2024-05-06" (UTC).
std::string DateText(std::time_t time) {
  std::tm parts{};
  char text[16] = "";
  if (gmtime_r(&time, &parts)) std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
  return text;
}

bool MadeOutTo(gnutls_x509_crt_t certificate, const std::string& host) {
  unsigned char address[16];
  if (inet_pton(AF_INET, host.c_str(), address) == 1) return gnutls_x509_crt_check_ip(certificate, address, 4, 0) != 0;
  if (inet_pton(AF_INET6, host.c_str(), address) == 1) return gnutls_x509_crt_check_ip(certificate, address, 16, 0) != 0;
  return gnutls_x509_crt_check_hostname2(certificate, host.c_str(), 0) != 0;
}

}  // namespace

std::string CertificateMismatch(std::string_view der, const std::string& host, std::time_t now) {
  gnutls_x509_crt_t raw = nullptr;
  if (gnutls_x509_crt_init(&raw) < 0) return "the server's certificate cannot be read";
  const std::unique_ptr<gnutls_x509_crt_int, CertificateDeleter> certificate(raw);
  gnutls_datum_t bytes{reinterpret_cast<unsigned char*>(const_cast<char*>(der.data())),
                       static_cast<unsigned int>(der.size())};
  if (gnutls_x509_crt_import(raw, &bytes, GNUTLS_X509_FMT_DER) < 0) return "the server's certificate cannot be read";
  if (!MadeOutTo(raw, host)) return "the server's certificate is not made out to " + host;
  const std::time_t ends = gnutls_x509_crt_get_expiration_time(raw);
  const std::time_t begins = gnutls_x509_crt_get_activation_time(raw);
  if (ends != static_cast<std::time_t>(-1) && now > ends)
    return "the server's certificate expired on " + DateText(ends);
  if (begins != static_cast<std::time_t>(-1) && now < begins)
    return "the server's certificate is valid only from " + DateText(begins);
  return "";
}

std::string CertificateProblem(const LdapSettings& settings, ldap_conncb* callbacks) {
  LDAP* ld = nullptr;
  if (ldap_initialize(&ld, settings.url.c_str()) != LDAP_SUCCESS) return "";
  const Session session(ld);
  const int version = LDAP_VERSION3;
  const timeval connectTimeout = TimevalOf(settings.connectTimeout);
  const timeval requestTimeout = TimevalOf(settings.requestTimeout);
  const int verifyNothing = LDAP_OPT_X_TLS_NEVER;
  const int client = 0;
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &connectTimeout);
  ldap_set_option(ld, LDAP_OPT_TIMEOUT, &requestTimeout);
  ldap_set_option(ld, LDAP_OPT_CONNECT_CB, callbacks);
  ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &verifyNothing);
  // Without a context of its own the look would take the machine's TLS settings.
  if (ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &client) != LDAP_OPT_SUCCESS) return "";
  const int opened = settings.startTls ? ldap_start_tls_s(ld, nullptr, nullptr) : ldap_connect(ld);
  berval der{0, nullptr};
  if (opened != LDAP_SUCCESS || ldap_get_option(ld, LDAP_OPT_X_TLS_PEERCERT, &der) != LDAP_OPT_SUCCESS || !der.bv_val)
    return "";
  const Text derBytes(der.bv_val);
  std::string problem = CertificateMismatch(std::string_view(der.bv_val, der.bv_len), settings.host, std::time(nullptr));
  if (problem.empty())
    problem = "the server's certificate is not signed by an authority this machine trusts (is the server's "
              "certificate authority in \"caFile\"?)";
  return problem;
}

bool HoldsPemCertificates(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  char chunk[1 << 16];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxAuthorityBytes) return false;
  }
  gnutls_datum_t bytes{reinterpret_cast<unsigned char*>(text.data()), static_cast<unsigned>(text.size())};
  CertificateList list;
  return gnutls_x509_crt_list_import2(&list.items, &list.count, &bytes, GNUTLS_X509_FMT_PEM, 0) >= 0 && list.count > 0;
}

}  // namespace vestrel::nw::ldap
