// vestrel-ldap-testbed: a throw-away slapd loaded with a tree file and, in front of it, the
// stand-in for eDirectory's partition and replica operations, with one endpoint per
// server of the tree; all on 127.0.0.1. For trying Vestrel on a live tree without an
// eDirectory server (scripts/demo-ldap). Prints the URL to connect to and, on a second
// line, the servers' own URLs as a JSON object (a connection's "servers"); runs until
// SIGTERM or SIGINT, then stops slapd by its pid.
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/nwclient/Model.h"
#include "tools/ldap-testbed/TreeBed.h"

#ifndef VESTREL_DEMO_TREES
#define VESTREL_DEMO_TREES "trees"
#endif

namespace {

constexpr const char* kUsage =
    "usage: vestrel-ldap-testbed [--tree TREE.json] [--admin DN] [--password-file FILE] [--delay MS]\n"
    "Starts slapd on 127.0.0.1 loaded with the tree (default: the demo tree ACME_TREE), with the\n"
    "stand-in for eDirectory's partition and replica operations in front of it and an endpoint\n"
    "for each server, prints the URL to connect to and, on a second line, the servers' URLs\n"
    "(a connection's \"servers\"), and runs until it is stopped (SIGTERM, SIGINT). Every time\n"
    "of the tree is moved by the distance from the tree's clock to now, so its ages show as\n"
    "over the tree file. The administrator (default cn=admin,o=ACME) signs in with the\n"
    "password in FILE (default: secret). --delay holds each request for MS milliseconds, as over\n"
    "a slow link.\n";

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

  std::unique_ptr<vestrel::nw::Tree> tree;
  try {
    tree = vestrel::nw::LoadTreeFile(options.tree);
  } catch (const vestrel::nw::LoadError& e) {
    std::cerr << "vestrel-ldap-testbed: " << e.what() << "\n";
    return 1;
  }
  vestrel::testbed::TreeBed bed;
  if (const std::string problem = bed.Start(*tree, options.admin, options.password); !problem.empty()) {
    std::cerr << "vestrel-ldap-testbed: " << problem << "\n";
    return 1;
  }
  bed.DelayMessages(std::chrono::milliseconds(options.delayMs));
  // The tree's URL, then where each server's own LDAP server answers (a connection's "servers").
  nlohmann::json servers = nlohmann::json::object();
  for (const auto& [name, url] : bed.ServerUrls()) servers[name] = url;
  std::cout << bed.TreeUrl() << "\n" << servers.dump() << std::endl;
  std::cerr << "vestrel-ldap-testbed: " << options.tree << " in slapd (its folder: " << bed.Slapd().Folder()
            << "), sign in as " << options.admin << "; stop with Ctrl+C or SIGTERM\n";
  int signal = 0;
  sigwait(&stopSignals, &signal);
  return 0;  // the proxies, then slapd, stop as the bed goes out of scope
}
