#include "tools/ldap-testbed/SlapdServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ldap.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/nwclient/ldap/LdapHolders.h"

#ifndef VESTREL_TESTBED_DIR
#define VESTREL_TESTBED_DIR "."
#endif

extern char** environ;

namespace vestrel::testbed {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kStartTimeout = 20s;
constexpr auto kStopTimeout = 5s;
constexpr int kLaunchAttempts = 3;

// Debian puts the server's programs in /usr/sbin, which an ordinary user's PATH may lack.
std::string Program(const std::string& name) {
  const std::string system = "/usr/sbin/" + name;
  return fs::exists(system) ? system : name;
}

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return argv;
}

// Runs a program to its end: its exit status (-1 when it could not start) and output.
int Run(std::vector<std::string> args, std::string& output) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> argv = Argv(args);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  output.clear();
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out.flush());
}

bool RunningAsRoot() { return geteuid() == 0; }

// As root the server runs as openldap: its folder must be that user's.
std::string HandOverToServerUser(const std::string& folder) {
  if (!RunningAsRoot()) return "";
  const passwd* user = getpwnam("openldap");
  if (!user) return "there is no user openldap for slapd to run as (is the slapd package installed?)";
  std::error_code error;
  if (chown(folder.c_str(), user->pw_uid, user->pw_gid) != 0) return "cannot hand " + folder + " to openldap";
  for (const auto& entry : fs::recursive_directory_iterator(folder, error))
    if (lchown(entry.path().c_str(), user->pw_uid, user->pw_gid) != 0) return "cannot hand " + folder + " to openldap";
  return "";
}

std::string Config(const std::string& folder, const SlapdOptions& options, const std::string& passwordHash) {
  std::ostringstream config;
  config << "include /etc/ldap/schema/core.schema\n"
         << "include /etc/ldap/schema/cosine.schema\n"
         << "include /etc/ldap/schema/inetorgperson.schema\n"
         << "include " << folder << "/edirectory-mimic.schema\n"
         << "pidfile " << folder << "/slapd.pid\n"
         << "argsfile " << folder << "/slapd.args\n"
         << "modulepath /usr/lib/ldap\n"
         << "moduleload back_mdb\n"
         << "sizelimit unlimited\n"
         // The empty suffix: o=... and c=... trees sit side by side, as under a tree root.
         << "database mdb\n"
         << "maxsize 1073741824\n"
         << "suffix \"\"\n"
         << "rootdn \"" << options.rootDn << "\"\n"
         << "rootpw " << passwordHash << "\n"
         << "directory " << folder << "/db\n"
         << "access to * by * read\n";
  if (!options.tlsCertificate.empty())
    config << "TLSCertificateFile " << folder << "/cert.pem\n"
           << "TLSCertificateKeyFile " << folder << "/key.pem\n";
  return config.str();
}

}  // namespace

std::string MimicSchemaPath() { return std::string(VESTREL_TESTBED_DIR) + "/edirectory-mimic.schema"; }

std::string MakeLoopbackCertificate(const std::string& folder) {
  std::string output;
  const int status = Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                          "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", folder + "/key.pem",
                          "-out", folder + "/cert.pem"},
                         output);
  return status == 0 ? "" : "openssl cannot make a certificate: " + output;
}

std::string CertificateDer(const std::string& pemFile) {
  std::string output;
  const std::string derFile = pemFile + ".der";
  if (Run({"openssl", "x509", "-in", pemFile, "-outform", "DER", "-out", derFile}, output) != 0) return "";
  std::ifstream in(derFile, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

std::string SlapdServer::Replace(const std::string& dn, const std::string& attribute,
                                 const std::vector<std::string>& values) {
  LDAP* raw = nullptr;
  if (ldap_initialize(&raw, Url().c_str()) != LDAP_SUCCESS) return "no LDAP handle";
  const nw::ldap::Session ld(raw);
  const int version = LDAP_VERSION3;
  ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  berval password{options_.rootPassword.size(), options_.rootPassword.data()};
  if (int code = ldap_sasl_bind_s(raw, options_.rootDn.c_str(), LDAP_SASL_SIMPLE, &password, nullptr, nullptr, nullptr))
    return ldap_err2string(code);
  std::vector<berval> bytes;
  for (const std::string& value : values) bytes.push_back({value.size(), const_cast<char*>(value.data())});
  std::vector<berval*> pointers;
  for (berval& value : bytes) pointers.push_back(&value);
  pointers.push_back(nullptr);
  std::string name = attribute;
  LDAPMod change{LDAP_MOD_REPLACE | LDAP_MOD_BVALUES, name.data(), {}};
  change.mod_bvalues = pointers.data();
  LDAPMod* changes[] = {&change, nullptr};
  const int code = ldap_modify_ext_s(raw, dn.c_str(), changes, nullptr, nullptr);
  return code == LDAP_SUCCESS ? "" : ldap_err2string(code);
}

std::string SlapdServer::Start(const std::string& ldif, const SlapdOptions& options) {
  options_ = options;
  Stop();
  char pattern[] = "/tmp/vestrel-slapd-XXXXXX";
  if (!mkdtemp(pattern)) return "cannot make a temporary folder for slapd";
  folder_ = pattern;
  std::string output;
  if (Run({Program("slappasswd"), "-h", "{SSHA}", "-s", options.rootPassword}, output) != 0)
    return "slappasswd failed (is the slapd package installed?): " + output;
  const std::string hash = output.substr(0, output.find('\n'));
  const std::string config = folder_ + "/slapd.conf";
  fs::create_directory(folder_ + "/db");
  // The schema is copied: as openldap, slapd may not see into the checkout.
  const std::string schema = ReadFile(MimicSchemaPath());
  if (schema.empty()) return "cannot read the test schema " + MimicSchemaPath();
  if (!WriteFile(config, Config(folder_, options, hash)) || !WriteFile(folder_ + "/data.ldif", ldif) ||
      !WriteFile(folder_ + "/edirectory-mimic.schema", schema))
    return "cannot write slapd's files into " + folder_;
  const bool tls = !options.tlsCertificate.empty();
  if (tls && (!WriteFile(folder_ + "/cert.pem", ReadFile(options.tlsCertificate)) ||
              !WriteFile(folder_ + "/key.pem", ReadFile(options.tlsKey))))
    return "cannot copy the certificate into " + folder_;
  if (Run({Program("slapadd"), "-q", "-f", config, "-l", folder_ + "/data.ldif"}, output) != 0)
    return "slapadd refused the tree: " + output;
  if (std::string problem = HandOverToServerUser(folder_); !problem.empty()) return problem;
  std::string problem;
  for (int attempt = 0; attempt < kLaunchAttempts; ++attempt) {
    problem = Launch(config, tls);
    // Another program may take the free port between looking and listening.
    if (problem.empty() || problem.find("Address already in use") == std::string::npos) break;
  }
  return problem;
}

std::string SlapdServer::Launch(const std::string& config, bool tls) {
  port_ = FreeLoopbackPort();
  tlsPort_ = tls ? FreeLoopbackPort() : 0;
  const std::string log = folder_ + "/slapd.log";
  const std::string urls = Url() + "/" + (tls ? " " + TlsUrl() + "/" : "");
  std::vector<std::string> args = {Program("slapd"), "-f", config, "-h", urls, "-d", "0"};
  if (RunningAsRoot()) args.insert(args.end(), {"-u", "openldap", "-g", "openldap"});
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  // The server takes its signals whatever the starting thread blocks (a program that
  // waits for its own stop signal blocks them).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> argv = Argv(args);
  const int spawned = posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    pid_ = -1;
    return "slapd cannot be started (is the slapd package installed?)";
  }
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return "slapd ended at start: " + ReadFile(log);
    }
    if (Answers()) return "";
    std::this_thread::sleep_for(50ms);
  }
  Stop();
  return "slapd did not answer within 20 s";
}

bool SlapdServer::Answers() const {
  LDAP* ld = nullptr;
  if (ldap_initialize(&ld, Url().c_str()) != LDAP_SUCCESS) return false;
  const int version = LDAP_VERSION3;
  timeval timeout{1, 0};
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
  LDAPMessage* result = nullptr;
  char noAttributes[] = "1.1";
  char* attributes[] = {noAttributes, nullptr};
  const int code = ldap_search_ext_s(ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0, nullptr, nullptr,
                                     &timeout, 0, &result);
  ldap_msgfree(result);
  ldap_unbind_ext(ld, nullptr, nullptr);
  return code == LDAP_SUCCESS;
}

void SlapdServer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    pid_ = -1;
  }
  if (!folder_.empty()) {
    std::error_code error;
    fs::remove_all(folder_, error);
    folder_.clear();
  }
}

}  // namespace vestrel::testbed
