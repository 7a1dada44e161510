// vestrel-ldap-testbed: a throw-away slapd loaded with a tree file and, in front of it, the
// stand-in for eDirectory's partition and replica operations; both on 127.0.0.1. For
// trying Vestrel on a live tree without an eDirectory server (scripts/demo-ldap).
// Prints the URL to connect to, runs until SIGTERM or SIGINT, then stops slapd by its pid.
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/nwclient/Model.h"
#include "tools/ldap-testbed/ExtOpDouble.h"
#include "tools/ldap-testbed/LdapProxy.h"
#include "tools/ldap-testbed/SlapdServer.h"
#include "tools/ldif/TreeToLdif.h"

#ifndef VESTREL_DEMO_TREES
#define VESTREL_DEMO_TREES "trees"
#endif

namespace {

constexpr const char* kUsage =
    "usage: vestrel-ldap-testbed [--tree TREE.json] [--admin DN] [--password-file FILE] [--delay MS]\n"
    "Starts slapd on 127.0.0.1 loaded with the tree (default: the demo tree ACME_TREE), with the\n"
    "stand-in for eDirectory's partition and replica operations in front of it, prints the URL\n"
    "to connect to and runs until it is stopped (SIGTERM, SIGINT). Every time of the tree is\n"
    "moved by the distance from the tree's clock to now, so its ages show as over the tree file.\n"
    "The administrator (default cn=admin,o=ACME) signs in with the password in FILE (default:\n"
    "secret). --delay holds each request for MS milliseconds, as over a slow link.\n";

struct Options {
  std::string tree = std::string(VESTREL_DEMO_TREES) + "/acme.json";
  std::string admin = "cn=admin,o=ACME";
  std::string password = "secret";
  int delayMs = 0;
};

// false (with a message) for arguments that do not fit.
bool ReadOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::cout << kUsage;
      std::exit(0);
    }
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (value && arg == "--tree") {
      options.tree = value;
    } else if (value && arg == "--admin") {
      options.admin = value;
    } else if (value && arg == "--password-file") {
      std::ifstream in(value);
      if (!std::getline(in, options.password) || options.password.empty()) {
        std::cerr << "vestrel-ldap-testbed: no password in " << value << "\n";
        return false;
      }
    } else if (value && arg == "--delay") {
      options.delayMs = std::max(0, std::atoi(value));
    } else {
      std::cerr << kUsage;
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ReadOptions(argc, argv, options)) return 2;
  // The signals that end the test bed are taken by sigwait below, in no other thread.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::string ldif;
  try {
    ldif = vestrel::ldif::TreeFileToLdif(options.tree, vestrel::ldif::TreeTimes::MovedToNow).text;
  } catch (const vestrel::nw::LoadError& e) {
    std::cerr << "vestrel-ldap-testbed: " << e.what() << "\n";
    return 1;
  }
  vestrel::testbed::SlapdServer server;
  vestrel::testbed::SlapdOptions slapd;
  slapd.rootDn = options.admin;
  slapd.rootPassword = options.password;
  if (const std::string problem = server.Start(ldif, slapd); !problem.empty()) {
    std::cerr << "vestrel-ldap-testbed: " << problem << "\n";
    return 1;
  }
  vestrel::testbed::ExtOpDouble operations(server.Url(), options.admin, options.password);
  vestrel::testbed::LdapProxy proxy(server.Port(), &operations);
  if (!proxy.Listening()) {
    std::cerr << "vestrel-ldap-testbed: cannot listen on 127.0.0.1\n";
    return 1;
  }
  proxy.DelayMessages(std::chrono::milliseconds(options.delayMs));
  std::cout << proxy.Url() << std::endl;
  std::cerr << "vestrel-ldap-testbed: " << options.tree << " in slapd (its folder: " << server.Folder()
            << "), sign in as " << options.admin << "; stop with Ctrl+C or SIGTERM\n";
  int signal = 0;
  sigwait(&stopSignals, &signal);
  return 0;  // the proxy, then slapd, stop as they go out of scope
}
