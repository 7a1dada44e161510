// A tree file's tree on this machine as a real tree is reached over LDAP: slapd holds its
// objects, the double answers eDirectory's extended requests, and each NCP server has a
// proxy of its own standing in for that server's LDAP endpoint, so a request acts on the
// server it reaches, as on eDirectory. The tree's connection goes to a proxy of the
// tree's first server. Everything listens on 127.0.0.1 and stops with the bed.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/ldap-testbed/ExtOpDouble.h"
#include "tools/ldap-testbed/LdapProxy.h"
#include "tools/ldap-testbed/SlapdServer.h"

namespace vestrel::nw {
class Tree;
}

namespace vestrel::testbed {

class TreeBed {
 public:
  TreeBed() = default;
  ~TreeBed() { Stop(); }
  TreeBed(const TreeBed&) = delete;
  TreeBed& operator=(const TreeBed&) = delete;

  // Loads the tree into slapd (administrator adminDn with password), its times moved by
  // the distance from its clock to now, and starts the double and the proxies; "" or
  // what went wrong.
  std::string Start(nw::Tree& tree, const std::string& adminDn, const std::string& password);
  void Stop();

  const std::string& TreeUrl() const { return treeUrl_; }
  // Each server's dotted name ("FS1.HQ.ACME") and the URL of its proxy: the connection's "servers".
  std::vector<std::pair<std::string, std::string>> ServerUrls() const;
  // The proxy of a server (dotted name, any case); null when the tree has no such server
  // or its endpoint was stopped.
  LdapProxy* Proxy(const std::string& server);
  // The server's endpoint goes down: its proxy stops and its port closes.
  void StopServer(const std::string& server);
  // Every proxy holds each message this long, as over a slow link.
  void DelayMessages(std::chrono::milliseconds delay);

  ExtOpDouble& Operations() { return *operations_; }
  SlapdServer& Slapd() { return slapd_; }

 private:
  struct Endpoint {
    std::string name;  // dotted
    std::string dn;
    std::string url;
    std::unique_ptr<LdapProxy> proxy;
  };
  SlapdServer slapd_;
  std::unique_ptr<ExtOpDouble> operations_;
  std::unique_ptr<LdapProxy> treeProxy_;
  std::vector<Endpoint> servers_;
  std::string treeUrl_;
};

}  // namespace vestrel::testbed
