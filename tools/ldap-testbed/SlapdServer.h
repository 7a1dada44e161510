// A throw-away OpenLDAP server for tests and benchmarks: slapd from Debian's package,
// started from a temporary folder of its own (configuration, database, log) with the test
// schema, loaded offline with slapadd, listening on 127.0.0.1 at a free port, stopped by
// its own pid. Nothing under /etc or /var is touched. Run as root, slapd works as the
// unprivileged user openldap.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vestrel::testbed {

// The schema file with eDirectory's LDAP names (edirectory-mimic.schema).
std::string MimicSchemaPath();

// A TCP port on 127.0.0.1 that nothing listens on just now.
int FreeLoopbackPort();

struct SlapdOptions {
  std::string rootDn = "cn=admin,o=ACME";  // may sign in with rootPassword
  std::string rootPassword = "secret";
  // PEM files: when given, the server also listens for ldaps:// and offers StartTLS.
  std::string tlsCertificate;
  std::string tlsKey;
};

// A self-signed certificate for 127.0.0.1 and its key, written into folder by openssl
// (cert.pem, key.pem); "" or what went wrong.
std::string MakeLoopbackCertificate(const std::string& folder);
// The DER bytes of a PEM certificate file (openssl converts it); "" when it cannot.
std::string CertificateDer(const std::string& pemFile);

class SlapdServer {
 public:
  SlapdServer() = default;
  ~SlapdServer() { Stop(); }
  SlapdServer(const SlapdServer&) = delete;
  SlapdServer& operator=(const SlapdServer&) = delete;

  // Loads ldif and starts the server; "" or what went wrong (with slapd's own words).
  std::string Start(const std::string& ldif, const SlapdOptions& options = {});
  // Stops the server by its pid and removes its folder.
  void Stop();
  bool Running() const { return pid_ > 0; }
  int Port() const { return port_; }
  std::string Url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }
  std::string TlsUrl() const { return "ldaps://127.0.0.1:" + std::to_string(tlsPort_); }
  const std::string& Folder() const { return folder_; }
  // Replaces every value of an attribute of dn (none: the attribute goes), signed in as
  // the server's administrator, as another client would; "" or what went wrong.
  std::string Replace(const std::string& dn, const std::string& attribute, const std::vector<std::string>& values);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int tlsPort_ = 0;
  std::string folder_;
  SlapdOptions options_;

  std::string Launch(const std::string& config, bool tls);
  bool Answers() const;
};

}  // namespace vestrel::testbed
