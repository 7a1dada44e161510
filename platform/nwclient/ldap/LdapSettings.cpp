#include "platform/nwclient/ldap/LdapSettings.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ldap.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/nwclient/Model.h"
#include "platform/nwclient/ldap/LdapNames.h"

namespace vestrel::nw::ldap {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kLongestTimeoutSeconds = 3600;
// A password file holds one line; anything much longer is no password file.
constexpr std::size_t kLongestPasswordFile = 4096;

class Place {
 public:
  explicit Place(std::string where) : where_(std::move(where)) {}
  [[noreturn]] void Fail(const std::string& problem) const { throw LoadError(where_ + ": " + problem); }
  [[noreturn]] void Fail(const char* key, const std::string& problem) const {
    throw LoadError(where_ + "." + key + ": " + problem);
  }

 private:
  std::string where_;
};

std::string TextOf(const json& item, const char* key, const Place& at) {
  auto it = item.find(key);
  if (it == item.end()) return {};
  if (!it->is_string()) at.Fail(key, "expected a text");
  std::string text = it->get<std::string>();
  // A C library call would see the text end there: "cn=admin\u0000,o=OTHER" signs in as cn=admin.
  if (text.find('\0') != std::string::npos) at.Fail(key, "contains a NUL character");
  return text;
}

bool FlagOf(const json& item, const char* key, const Place& at) {
  auto it = item.find(key);
  if (it == item.end()) return false;
  if (!it->is_boolean()) at.Fail(key, "expected true or false");
  return it->get<bool>();
}

std::chrono::milliseconds SecondsOf(const json& item, const char* key, const Place& at, std::chrono::milliseconds fallback) {
  auto it = item.find(key);
  if (it == item.end()) return fallback;
  if (!it->is_number() || !(it->get<double>() > 0) || it->get<double>() > kLongestTimeoutSeconds)
    at.Fail(key, "expected a number of seconds above 0 and up to 3600");
  return std::chrono::milliseconds(static_cast<long long>(std::ceil(it->get<double>() * 1000)));
}

std::size_t CountOf(const json& item, const char* key, const Place& at, std::size_t fallback, std::size_t least,
                    std::size_t most) {
  auto it = item.find(key);
  if (it == item.end()) return fallback;
  if (!it->is_number_integer() || it->get<std::int64_t>() < static_cast<std::int64_t>(least) ||
      it->get<std::int64_t>() > static_cast<std::int64_t>(most))
    at.Fail(key, "expected a whole number from " + std::to_string(least) + " to " + std::to_string(most));
  return static_cast<std::size_t>(it->get<std::int64_t>());
}

void CheckKeys(const json& item, const Place& at) {
  static const char* const kKeys[] = {"ldap",           "tree",          "bindDn",         "passwordFile",
                                      "caFile",         "startTls",      "allowPlaintext", "connectTimeout",
                                      "requestTimeout", "maxReplyBytes", "maxEntries",     "servers",
                                      "primary"};
  for (auto it = item.begin(); it != item.end(); ++it) {
    const std::string& key = it.key();
    if (!key.empty() && key[0] == '_') continue;  // comments such as "_note"
    bool known = false;
    for (const char* k : kKeys) known = known || key == k;
    if (!known) at.Fail("unknown key \"" + key + "\" for an LDAP connection");
  }
}

// "~/x" in the home folder, a relative path against the connections file's folder.
std::string ResolvePath(const std::string& path, const std::string& baseDir) {
  if (path.rfind("~/", 0) == 0) {
    const char* home = std::getenv("HOME");
    return (fs::path(home ? home : "") / path.substr(2)).string();
  }
  fs::path resolved(path);
  if (resolved.is_relative() && !baseDir.empty()) resolved = fs::path(baseDir) / resolved;
  return resolved.string();
}

void CheckUrl(LdapSettings& settings, const Place& at) {
  std::string key;
  if (const std::string problem = TakeUrl(settings, key); !problem.empty()) at.Fail(key.c_str(), problem);
}

// The "servers" map: dotted server names to the URLs of their own LDAP servers.
std::vector<std::pair<std::string, std::string>> ServerUrlsOf(const json& item, const LdapSettings& tree,
                                                              const Place& at) {
  std::vector<std::pair<std::string, std::string>> servers;
  auto it = item.find("servers");
  if (it == item.end()) return servers;
  if (!it->is_object()) at.Fail("servers", "expected {\"SERVER.NAME\": \"ldaps://...\", ...}");
  for (auto server = it->begin(); server != it->end(); ++server) {
    const std::string where = "servers." + server.key();
    if (!server->is_string()) at.Fail(where.c_str(), "expected a text");
    LdapSettings check = tree;
    check.url = server->get<std::string>();
    std::string key;
    if (check.url.find('\0') != std::string::npos) at.Fail(where.c_str(), "contains a NUL character");
    if (const std::string problem = TakeUrl(check, key); !problem.empty()) at.Fail(where.c_str(), problem);
    servers.emplace_back(server.key(), check.url);
  }
  return servers;
}

}  // namespace

std::string TakeUrl(LdapSettings& settings, std::string& key) {
  key = "ldap";
  // libldap takes a list of URLs separated by blanks or commas and tries each in turn: a
  // connection names exactly one server, the one its rules were checked for.
  if (settings.url.find_first_of(" ,\t\r\n") != std::string::npos)
    return "\"" + settings.url + "\" names more than one server; give one ldap:// or ldaps:// URL";
  LDAPURLDesc* url = nullptr;
  if (ldap_url_parse(settings.url.c_str(), &url) != LDAP_URL_SUCCESS) return "\"" + settings.url + "\" is no LDAP URL";
  const std::string scheme = UpperAscii(url->lud_scheme ? url->lud_scheme : "");
  settings.host = url->lud_host ? url->lud_host : "";
  settings.port = url->lud_port;
  ldap_free_urldesc(url);
  if (scheme != "LDAP" && scheme != "LDAPS") return "expected an ldap:// or ldaps:// URL";
  settings.ldaps = scheme == "LDAPS";
  if (settings.ldaps && settings.startTls) {
    key = "startTls";
    return "an ldaps:// connection is encrypted already";
  }
  if (!settings.UsesTls() && !settings.allowPlaintext && !IsLoopbackHost(settings.host))
    return "plain ldap:// to " + settings.host +
           " would send names and the password unencrypted; use ldaps:// or \"startTls\": true "
           "(or \"allowPlaintext\": true to accept that)";
  return "";
}

std::string LdapSettings::Label() const { return url + (treeName.empty() ? "" : " (" + treeName + ")"); }

bool IsLoopbackHost(const std::string& host) {
  if (host.empty() || host == "localhost") return true;  // libldap's default host is localhost
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  const std::string bare = host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
  return inet_pton(AF_INET6, bare.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool IsLoopbackAddress(const sockaddr* address) {
  if (!address) return false;
  if (address->sa_family == AF_INET)
    return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
  if (address->sa_family != AF_INET6) return false;
  const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
  return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& problem) {
  // Opened without waiting, so a FIFO named here is refused instead of blocking the program.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd >= 0) close(fd);
    problem = "\"" + path + "\" cannot be read" + (fd >= 0 ? ": it is no regular file" : "");
    return false;
  }
  std::string refusal;
  if (info.st_uid != geteuid())
    refusal = "\"" + path + "\" belongs to another user; a password file must be your own";
  else if (info.st_mode & (S_IRWXG | S_IRWXO))
    refusal = "\"" + path + "\" may be read by other users; allow only its owner (chmod 600)";
  else if (static_cast<std::size_t>(info.st_size) > kLongestPasswordFile)
    refusal = "\"" + path + "\" is larger than " + std::to_string(kLongestPasswordFile) + " bytes: no password file";
  std::string content(refusal.empty() ? static_cast<std::size_t>(info.st_size) : 0, '\0');
  const ssize_t got = refusal.empty() ? read(fd, content.data(), content.size()) : 0;
  close(fd);
  if (refusal.empty() && got != static_cast<ssize_t>(content.size())) refusal = "\"" + path + "\" cannot be read";
  if (!refusal.empty()) {
    problem = refusal;
    return false;
  }
  // The first line is the password; the line break an editor leaves is no part of it.
  password = content.substr(0, content.find('\n'));
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

void KeepSecretsInMemory() {
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  const rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);
}

LdapSettings ParseLdapConnection(const json& item, const std::string& where, const std::string& baseDir,
                                 const PasswordPrompt& prompt) {
  const Place at(where);
  CheckKeys(item, at);
  LdapSettings settings;
  settings.url = TextOf(item, "ldap", at);
  settings.treeName = TextOf(item, "tree", at);
  if (settings.treeName.size() > 32) at.Fail("tree", "a tree name has 1 to 32 characters");
  settings.bindDn = TextOf(item, "bindDn", at);
  settings.caFile = TextOf(item, "caFile", at);
  settings.startTls = FlagOf(item, "startTls", at);
  settings.allowPlaintext = FlagOf(item, "allowPlaintext", at);
  settings.primary = FlagOf(item, "primary", at);
  settings.connectTimeout = SecondsOf(item, "connectTimeout", at, settings.connectTimeout);
  settings.requestTimeout = SecondsOf(item, "requestTimeout", at, settings.requestTimeout);
  settings.maxReplyBytes = CountOf(item, "maxReplyBytes", at, settings.maxReplyBytes, 64 << 10, 1 << 30);
  settings.maxEntries = CountOf(item, "maxEntries", at, settings.maxEntries, 1, 10000000);
  CheckUrl(settings, at);
  settings.servers = ServerUrlsOf(item, settings, at);

  if (!settings.caFile.empty()) {
    settings.caFile = ResolvePath(settings.caFile, baseDir);
    std::ifstream ca(settings.caFile);
    if (!ca) at.Fail("caFile", "\"" + settings.caFile + "\" cannot be read");
  }
  Dn bindName;
  if (!ParseDn(settings.bindDn, bindName)) at.Fail("bindDn", "\"" + settings.bindDn + "\" is no LDAP DN");
  const std::string passwordFile = TextOf(item, "passwordFile", at);
  if (settings.bindDn.empty()) {
    if (!passwordFile.empty()) at.Fail("passwordFile", "a password needs a \"bindDn\"");
    return settings;  // an anonymous connection
  }
  if (!passwordFile.empty()) {
    std::string problem;
    if (!ReadPasswordFile(ResolvePath(passwordFile, baseDir), settings.password, problem)) at.Fail("passwordFile", problem);
  } else if (const char* variable = std::getenv(kPasswordVariable); variable && *variable) {
    settings.password = variable;
  } else if (!prompt) {
    at.Fail(std::string("no password for ") + settings.bindDn + ": give \"passwordFile\" or set " + kPasswordVariable);
  } else if (!prompt(settings.Label(), settings.bindDn, settings.password)) {
    at.Fail("the sign-in as " + settings.bindDn + " was cancelled");
  }
  // A simple bind with a name and no password signs in anonymously: never what is meant.
  if (settings.password.empty()) at.Fail("the password for " + settings.bindDn + " is empty");
  KeepSecretsInMemory();
  return settings;
}

}  // namespace vestrel::nw::ldap
