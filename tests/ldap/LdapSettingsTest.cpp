// LDAP connections of the connections file: what is read, and what is refused before
// any password could leave the machine (plain text to another host, a list of servers,
// a password file others can read or that is no file, NUL characters, no password
// source, unknown keys). No message holds the password.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/nwclient/Model.h"
#include "platform/nwclient/ldap/LdapSettings.h"

namespace vestrel::nw::ldap {
namespace {

using nlohmann::json;

class LdapSettingsTest : public ::testing::Test {
 protected:
  LdapSettingsTest() {
    char pattern[] = "/tmp/vestrel-settings-XXXXXX";
    folder_ = mkdtemp(pattern);
    unsetenv(kPasswordVariable);
  }
  ~LdapSettingsTest() override {
    unsetenv(kPasswordVariable);
    std::filesystem::remove_all(folder_);
  }

  std::string PasswordFile(const std::string& content, mode_t mode) {
    const std::string path = folder_ + "/pw";
    std::ofstream(path, std::ios::binary) << content;
    chmod(path.c_str(), mode);
    return path;
  }

  LdapSettings Parse(const json& item, const PasswordPrompt& prompt = {}) {
    return ParseLdapConnection(item, "c.json: connections[0]", folder_, prompt);
  }
  // The message of a connection that is refused ("" when it is accepted).
  std::string Refusal(const json& item, const PasswordPrompt& prompt = {}) {
    try {
      Parse(item, prompt);
      return "";
    } catch (const LoadError& e) {
      EXPECT_EQ(std::string(e.what()).find(kSecret), std::string::npos) << e.what();
      return e.what();
    }
  }

  static constexpr const char* kSecret = "S3cret-pw";
  std::string folder_;
};

TEST_F(LdapSettingsTest, AConnectionNamesServerTreeSignInAndTimeouts) {
  PasswordFile(kSecret, 0600);
  const LdapSettings settings =
      Parse({{"ldap", "ldaps://dir.example.com"}, {"tree", "ACME_TREE"}, {"bindDn", "cn=admin,o=acme"},
             {"passwordFile", "pw"}, {"primary", true}, {"connectTimeout", 2.5}, {"_note", "comments are allowed"}},
            {});
  EXPECT_TRUE(settings.ldaps);
  EXPECT_TRUE(settings.UsesTls());
  EXPECT_EQ(settings.host, "dir.example.com");
  EXPECT_EQ(settings.treeName, "ACME_TREE");
  EXPECT_EQ(settings.bindDn, "cn=admin,o=acme");
  EXPECT_TRUE(settings.primary);
  EXPECT_EQ(settings.connectTimeout, std::chrono::milliseconds(2500));
  EXPECT_EQ(settings.requestTimeout, std::chrono::milliseconds(60000));
  EXPECT_EQ(settings.Label(), "ldaps://dir.example.com (ACME_TREE)");
}

TEST_F(LdapSettingsTest, ThePasswordComesFromAPrivateFileTheEnvironmentOrThePrompt) {
  PasswordFile(std::string(kSecret) + "\r\n", 0600);
  const json item = {{"ldap", "ldaps://dir.example.com"}, {"bindDn", "cn=admin,o=acme"}, {"passwordFile", "pw"}};
  EXPECT_EQ(Parse(item).password, kSecret);  // the editor's line break is no part of it
  PasswordFile(kSecret, 0640);
  EXPECT_NE(Refusal(item).find("may be read by other users; allow only its owner (chmod 600)"), std::string::npos);
  PasswordFile(kSecret, 0604);
  EXPECT_NE(Refusal(item).find("may be read by other users"), std::string::npos);
  PasswordFile("", 0600);
  EXPECT_NE(Refusal(item).find("the password for cn=admin,o=acme is empty"), std::string::npos);
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"bindDn", "cn=admin,o=acme"}, {"passwordFile", "missing"}})
                .find("cannot be read"),
            std::string::npos);

  const json noFile = {{"ldap", "ldaps://dir.example.com"}, {"tree", "T"}, {"bindDn", "cn=admin,o=acme"}};
  EXPECT_EQ(Refusal(noFile),
            "c.json: connections[0]: no password for cn=admin,o=acme: give \"passwordFile\" or set VESTREL_LDAP_PASSWORD");
  std::string askedConnection, askedName;
  const PasswordPrompt prompt = [&](const std::string& connection, const std::string& name, std::string& password) {
    askedConnection = connection;
    askedName = name;
    password = kSecret;
    return true;
  };
  EXPECT_EQ(Parse(noFile, prompt).password, kSecret);
  EXPECT_EQ(askedConnection, "ldaps://dir.example.com (T)");
  EXPECT_EQ(askedName, "cn=admin,o=acme");
  EXPECT_EQ(Refusal(noFile, [](const std::string&, const std::string&, std::string&) { return false; }),
            "c.json: connections[0]: the sign-in as cn=admin,o=acme was cancelled");
  setenv(kPasswordVariable, kSecret, 1);
  EXPECT_EQ(Parse(noFile).password, kSecret);

  // Without a bind DN the sign-in is anonymous; a password would have nobody to sign in.
  EXPECT_EQ(Parse({{"ldap", "ldaps://dir.example.com"}}).bindDn, "");
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"passwordFile", "pw"}}).find("a password needs a \"bindDn\""),
            std::string::npos);
}

TEST_F(LdapSettingsTest, PlainLdapLeavesThisMachineOnlyWhenTheFileSaysSo) {
  setenv(kPasswordVariable, kSecret, 1);
  const std::string refusal = Refusal({{"ldap", "ldap://dir.example.com"}, {"bindDn", "cn=a,o=b"}});
  EXPECT_EQ(refusal,
            "c.json: connections[0].ldap: plain ldap:// to dir.example.com would send names and the password "
            "unencrypted; use ldaps:// or \"startTls\": true (or \"allowPlaintext\": true to accept that)");
  EXPECT_EQ(Refusal({{"ldap", "ldap://dir.example.com"}, {"allowPlaintext", true}}), "");
  EXPECT_EQ(Refusal({{"ldap", "ldap://dir.example.com"}, {"startTls", true}}), "");
  for (const char* local : {"ldap://127.0.0.1:3890", "ldap://127.9.8.7", "ldap://localhost", "ldap://[::1]:389"})
    EXPECT_EQ(Refusal({{"ldap", local}}), "") << local;
  // Loopback is an address, not a name that starts like one.
  for (const char* far : {"ldap://127.0.0.1.example.com", "ldap://127.example.com", "ldap://[::2]", "ldap://0x7f000001"})
    EXPECT_NE(Refusal({{"ldap", far}}).find("would send names and the password unencrypted"), std::string::npos) << far;
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"startTls", true}}).find("encrypted already"), std::string::npos);
}

TEST_F(LdapSettingsTest, ALoopbackAddressIsOneOfThisMachine) {
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  const auto is = [](const auto& address) { return IsLoopbackAddress(reinterpret_cast<const sockaddr*>(&address)); };
  for (const char* text : {"127.0.0.1", "127.255.1.2"}) {
    inet_pton(AF_INET, text, &v4.sin_addr);
    EXPECT_TRUE(is(v4)) << text;
  }
  inet_pton(AF_INET, "192.0.2.10", &v4.sin_addr);
  EXPECT_FALSE(is(v4));
  for (const auto& [text, loopback] : {std::pair{"::1", true}, {"::ffff:127.0.0.1", true}, {"2001:db8::1", false}}) {
    inet_pton(AF_INET6, text, &v6.sin6_addr);
    EXPECT_EQ(is(v6), loopback) << text;
  }
  EXPECT_FALSE(IsLoopbackAddress(nullptr));
}

TEST_F(LdapSettingsTest, AConnectionNamesExactlyOneServer) {
  // libldap would try each of a list in turn, the second one without the first one's checks.
  for (const char* list : {"ldaps://127.0.0.1:40099/ ldap://192.0.2.10", "ldaps://a.example.com,ldap://b.example.com",
                           "ldaps://a.example.com\tldap://b.example.com"})
    EXPECT_NE(Refusal({{"ldap", list}}).find("names more than one server; give one ldap:// or ldaps:// URL"),
              std::string::npos)
        << list;
}

TEST_F(LdapSettingsTest, ServersMayBeNamedWithTheirOwnUrlsUnderTheSameRules) {
  const LdapSettings settings =
      Parse({{"ldap", "ldaps://dir.example.com"},
             {"servers", {{"FS2.HQ.ACME", "ldaps://fs2.example.com:1636"}, {"FS3.HQ.ACME", "ldap://127.0.0.1:3890"}}}});
  EXPECT_EQ(settings.servers, (std::vector<std::pair<std::string, std::string>>{
                                  {"FS2.HQ.ACME", "ldaps://fs2.example.com:1636"}, {"FS3.HQ.ACME", "ldap://127.0.0.1:3890"}}));
  EXPECT_EQ(Refusal({{"ldap", "ldaps://dir.example.com"}, {"servers", {{"FS2.HQ.ACME", "ldap://fs2.example.com"}}}}),
            "c.json: connections[0].servers.FS2.HQ.ACME: plain ldap:// to fs2.example.com would send names and the "
            "password unencrypted; use ldaps:// or \"startTls\": true (or \"allowPlaintext\": true to accept that)");
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"servers", {{"FS2.HQ.ACME", "ldaps://a ldaps://b"}}}})
                .find("names more than one server"),
            std::string::npos);
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"servers", {"ldaps://fs2"}}}).find("servers: expected {"),
            std::string::npos);
}

TEST_F(LdapSettingsTest, NulCharactersAreRefusedWhereverTheyStand) {
  setenv(kPasswordVariable, kSecret, 1);
  const std::string nul(1, '\0');
  EXPECT_EQ(Refusal({{"ldap", "ldaps://dir.example.com"}, {"bindDn", "cn=admin" + nul + ",o=OTHER"}}),
            "c.json: connections[0].bindDn: contains a NUL character");
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com" + nul + "x"}}).find(".ldap: contains a NUL character"),
            std::string::npos);
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"tree", "T" + nul}}).find(".tree: contains a NUL character"),
            std::string::npos);
  // Escaped in a DN, it is refused as well.
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"bindDn", "cn=admin\\00,o=OTHER"}}).find("is no LDAP DN"),
            std::string::npos);
}

TEST_F(LdapSettingsTest, APasswordFileIsASmallPrivateRegularFileOfOnesOwn) {
  const json item = {{"ldap", "ldaps://dir.example.com"}, {"bindDn", "cn=admin,o=acme"}, {"passwordFile", "pw"}};
  PasswordFile(std::string(kSecret) + "\nsecond line\n", 0600);
  EXPECT_EQ(Parse(item).password, kSecret);  // the first line only
  PasswordFile(std::string(5000, 'x'), 0600);
  EXPECT_NE(Refusal(item).find("is larger than 4096 bytes"), std::string::npos);
  // A FIFO is refused at once instead of waiting for a writer.
  std::filesystem::remove(folder_ + "/pw");
  ASSERT_EQ(mkfifo((folder_ + "/pw").c_str(), 0600), 0);
  EXPECT_NE(Refusal(item).find("cannot be read: it is no regular file"), std::string::npos);
  std::filesystem::remove(folder_ + "/pw");
  if (geteuid() == 0) {  // only root can give a file away
    PasswordFile(kSecret, 0600);
    ASSERT_EQ(chown((folder_ + "/pw").c_str(), 65534, 65534), 0);
    EXPECT_NE(Refusal(item).find("belongs to another user"), std::string::npos);
  }
}

TEST_F(LdapSettingsTest, APasswordInMemoryKeepsItOutOfCoreDumps) {
  PasswordFile(kSecret, 0600);
  Parse({{"ldap", "ldaps://dir.example.com"}, {"bindDn", "cn=admin,o=acme"}, {"passwordFile", "pw"}});
  EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
  rlimit core{};
  ASSERT_EQ(getrlimit(RLIMIT_CORE, &core), 0);
  EXPECT_EQ(core.rlim_cur, 0u);
}

TEST_F(LdapSettingsTest, MistakesInTheEntryAreNamed) {
  EXPECT_EQ(Refusal({{"ldap", "ldaps://dir.example.com"}, {"passwrodFile", "pw"}}),
            "c.json: connections[0]: unknown key \"passwrodFile\" for an LDAP connection");
  EXPECT_NE(Refusal({{"ldap", "http://dir"}}).find("no LDAP URL"), std::string::npos);
  EXPECT_NE(Refusal({{"ldap", 5}}).find("connections[0].ldap: expected a text"), std::string::npos);
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"bindDn", "admin.acme"}}).find("is no LDAP DN"), std::string::npos);
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"requestTimeout", 0}}).find("above 0 and up to 3600"), std::string::npos);
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"caFile", "none.pem"}}).find("none.pem\" cannot be read"),
            std::string::npos);
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"tree", std::string(33, 'T')}}).find("1 to 32"), std::string::npos);
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"maxReplyBytes", 1000}}).find("from 65536 to 1073741824"),
            std::string::npos);
  EXPECT_NE(Refusal({{"ldap", "ldaps://dir.example.com"}, {"maxEntries", 0.5}}).find("a whole number from 1"),
            std::string::npos);
}

}  // namespace
}  // namespace vestrel::nw::ldap
