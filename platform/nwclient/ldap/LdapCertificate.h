// Why a TLS server's certificate was refused, in words a user can act on. libldap tells
// no more than that the handshake failed; a second connection that verifies nothing and
// sends nothing but what TLS needs fetches the certificate, which is then checked for the
// host it was asked for and for its dates.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "platform/nwclient/ldap/LdapSettings.h"

struct ldap_conncb;

namespace vestrel::nw::ldap {

// What is wrong with the certificate of the connection's server: a name that is not the
// host's, dates it is not valid at, else that no trusted authority signed it; "" when no
// certificate could be fetched. callbacks are the connection's own (timeouts, limits).
std::string CertificateProblem(const LdapSettings& settings, ldap_conncb* callbacks);

// The problem with a certificate (DER bytes) for host at the time now: "" when it is made
// out to host and valid then.
std::string CertificateMismatch(std::string_view der, const std::string& host, std::time_t now);

// Whether a file of certificate authorities holds PEM certificates, all of them readable.
// libldap takes a file without any for an empty list of authorities, without a word.
bool HoldsPemCertificates(const std::string& path);

}  // namespace vestrel::nw::ldap
