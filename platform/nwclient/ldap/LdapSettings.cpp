#include "platform/nwclient/ldap/LdapSettings.h"

#include <ldap.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/nwclient/Model.h"
#include "platform/nwclient/ldap/LdapNames.h"

namespace vestrel::nw::ldap {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kLongestTimeoutSeconds = 3600;

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
  return it->get<std::string>();
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

void CheckKeys(const json& item, const Place& at) {
  static const char* const kKeys[] = {"ldap", "tree", "bindDn", "passwordFile", "caFile", "startTls",
                                      "allowPlaintext", "connectTimeout", "requestTimeout", "primary"};
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

std::string ReadPasswordFile(const std::string& path, const Place& at) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    at.Fail("passwordFile", "\"" + path + "\" cannot be read");
  if (info.st_mode & (S_IRWXG | S_IRWXO))
    at.Fail("passwordFile", "\"" + path + "\" may be read by other users; allow only its owner (chmod 600)");
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  if (!in) at.Fail("passwordFile", "\"" + path + "\" cannot be read");
  std::string password = content.str();
  // The line break an editor leaves at the end is no part of the password.
  if (!password.empty() && password.back() == '\n') password.pop_back();
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

void CheckUrl(LdapSettings& settings, bool allowPlaintext, const Place& at) {
  LDAPURLDesc* url = nullptr;
  if (ldap_url_parse(settings.url.c_str(), &url) != LDAP_URL_SUCCESS) at.Fail("ldap", "\"" + settings.url + "\" is no LDAP URL");
  const std::string scheme = UpperAscii(url->lud_scheme ? url->lud_scheme : "");
  settings.host = url->lud_host ? url->lud_host : "";
  settings.port = url->lud_port;
  ldap_free_urldesc(url);
  if (scheme != "LDAP" && scheme != "LDAPS") at.Fail("ldap", "expected an ldap:// or ldaps:// URL");
  settings.ldaps = scheme == "LDAPS";
  if (settings.ldaps && settings.startTls) at.Fail("startTls", "an ldaps:// connection is encrypted already");
  if (!settings.UsesTls() && !allowPlaintext && !IsLoopbackHost(settings.host))
    at.Fail("ldap", "plain ldap:// to " + settings.host +
                        " would send names and the password unencrypted; use ldaps:// or \"startTls\": true "
                        "(or \"allowPlaintext\": true to accept that)");
}

}  // namespace

std::string LdapSettings::Label() const { return url + (treeName.empty() ? "" : " (" + treeName + ")"); }

bool IsLoopbackHost(const std::string& host) {
  return host.empty() || host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
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
  settings.primary = FlagOf(item, "primary", at);
  settings.connectTimeout = SecondsOf(item, "connectTimeout", at, settings.connectTimeout);
  settings.requestTimeout = SecondsOf(item, "requestTimeout", at, settings.requestTimeout);
  CheckUrl(settings, FlagOf(item, "allowPlaintext", at), at);

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
    settings.password = ReadPasswordFile(ResolvePath(passwordFile, baseDir), at);
  } else if (const char* variable = std::getenv(kPasswordVariable); variable && *variable) {
    settings.password = variable;
  } else if (!prompt) {
    at.Fail(std::string("no password for ") + settings.bindDn + ": give \"passwordFile\" or set " + kPasswordVariable);
  } else if (!prompt(settings.Label(), settings.bindDn, settings.password)) {
    at.Fail("the sign-in as " + settings.bindDn + " was cancelled");
  }
  // A simple bind with a name and no password signs in anonymously: never what is meant.
  if (settings.password.empty()) at.Fail("the password for " + settings.bindDn + " is empty");
  return settings;
}

}  // namespace vestrel::nw::ldap
