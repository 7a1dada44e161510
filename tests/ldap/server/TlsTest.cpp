// TLS is verified: a server whose certificate no trusted authority signed, or that is made
// out to another name, is refused with ldaps:// and with StartTLS alike, and the message
// says which; naming its authority in caFile lets it in; a caFile that holds no
// certificate refuses the connection rather than letting the machine's TLS settings stand in.
#include <ctime>

#include "LdapServerTest.h"
#include "platform/nwclient/ldap/LdapCertificate.h"

namespace vestrel::testing {
namespace {

class Tls : public LdapServerTest {
 protected:
  void StartTlsServer() {
    ASSERT_EQ(testbed::MakeLoopbackCertificate(folder), "");
    testbed::SlapdOptions options;
    options.tlsCertificate = folder + "/cert.pem";
    options.tlsKey = folder + "/key.pem";
    ASSERT_EQ(server.Start(AcmeLdif(), options), "") << "slapd must start for this test";
  }
};

TEST_F(Tls, ARefusedCertificateIsRefusedWithItsCause) {
  StartTlsServer();
  const std::string untrusted =
      "the server's certificate is not signed by an authority this machine trusts (is the server's certificate "
      "authority in \"caFile\"?)";
  EXPECT_EQ(Connect(Entry(server.TlsUrl())),
            "connections text: connections[0]: " + server.TlsUrl() + " (ACME_TREE): cannot set up TLS: " + untrusted);
  nlohmann::json startTls = Entry(server.Url());
  startTls["startTls"] = true;
  EXPECT_EQ(Connect(startTls),
            "connections text: connections[0]: " + server.Url() + " (ACME_TREE): cannot start TLS: " + untrusted);
  // Trusted, but made out to 127.0.0.1 and asked for as localhost.
  nlohmann::json otherName = Entry("ldaps://localhost:" + server.TlsUrl().substr(server.TlsUrl().rfind(':') + 1));
  otherName["caFile"] = "cert.pem";
  EXPECT_NE(Connect(otherName).find("cannot set up TLS: the server's certificate is not made out to localhost"),
            std::string::npos);
  EXPECT_EQ(Requests(), 0u);  // no tree of that name is connected
}

// The checks behind the message, on the test bed's certificate (valid for two days from now).
TEST_F(Tls, ACertificateIsCheckedForItsHostAndItsDates) {
  ASSERT_EQ(testbed::MakeLoopbackCertificate(folder), "");
  const std::string der = testbed::CertificateDer(folder + "/cert.pem");
  ASSERT_FALSE(der.empty());
  const std::time_t now = std::time(nullptr);
  EXPECT_EQ(nw::ldap::CertificateMismatch(der, "127.0.0.1", now), "");
  EXPECT_EQ(nw::ldap::CertificateMismatch(der, "127.0.0.2", now),
            "the server's certificate is not made out to 127.0.0.2");
  EXPECT_EQ(nw::ldap::CertificateMismatch(der, "127.0.0.1", now + 10 * 86400).rfind("the server's certificate expired on 20", 0), 0u);
  EXPECT_EQ(nw::ldap::CertificateMismatch(der, "127.0.0.1", now - 10 * 86400).rfind("the server's certificate is valid only from 20", 0), 0u);
  EXPECT_EQ(nw::ldap::CertificateMismatch("not a certificate", "127.0.0.1", now), "the server's certificate cannot be read");
}

TEST_F(Tls, ACaFileWithoutCertificatesRefusesTheConnection) {
  StartTlsServer();
  // No certificate at all (libldap would take it for no authorities), and a PEM block
  // that is none (libldap makes no TLS context of its own then).
  std::ofstream(folder + "/text.pem") << "not a certificate\n";
  std::ofstream(folder + "/broken.pem") << "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n";
  for (const char* file : {"text.pem", "broken.pem"}) {
    for (const bool startTls : {false, true}) {
      SCOPED_TRACE(std::string(file) + (startTls ? " with StartTLS" : " with ldaps://"));
      const std::string url = startTls ? server.Url() : server.TlsUrl();
      nlohmann::json entry = Entry(url);
      entry["caFile"] = file;
      if (startTls) entry["startTls"] = true;
      EXPECT_EQ(Connect(entry), "connections text: connections[0]: " + url +
                                    " (ACME_TREE): cannot set up TLS: the certificate authorities in \"" + folder +
                                    "/" + file + "\" cannot be used (a file of PEM certificates is expected)");
    }
  }
}

TEST_F(Tls, ItsAuthorityInCaFileLetsTheConnectionIn) {
  StartTlsServer();
  nlohmann::json entry = Entry(server.TlsUrl());
  entry["caFile"] = "cert.pem";
  ASSERT_EQ(Connect(entry), "");
  std::string version;
  EXPECT_EQ(ReadAttrLines(Context(), "FS2.HQ.ACME", "Version", version), 0);
  EXPECT_EQ(version, "eDirectory 8.8 SP8");
}

}  // namespace
}  // namespace vestrel::testing
