// TLS is verified: a server whose certificate no trusted authority signed is refused,
// with ldaps:// and with StartTLS alike; naming its authority in caFile lets it in.
#include "LdapServerTest.h"

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

TEST_F(Tls, AServerCertificateNoTrustedAuthoritySignedIsRefused) {
  StartTlsServer();
  const std::string refused = Connect(Entry(server.TlsUrl()));
  EXPECT_NE(refused.find(server.TlsUrl() +
                         " (ACME_TREE): cannot set up TLS (is the server's certificate authority in \"caFile\"?): "),
            std::string::npos)
      << refused;
  nlohmann::json startTls = Entry(server.Url());
  startTls["startTls"] = true;
  const std::string refusedStartTls = Connect(startTls);
  EXPECT_NE(refusedStartTls.find(server.Url() +
                                 " (ACME_TREE): cannot start TLS (is the server's certificate authority in \"caFile\"?): "),
            std::string::npos)
      << refusedStartTls;
  EXPECT_EQ(Requests(), 0u);  // no tree of that name is connected
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
