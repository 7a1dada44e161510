#include "tools/ldap-testbed/TreeBed.h"

#include <ctime>

#include "platform/nwclient/Model.h"
#include "tools/ldif/TreeToLdif.h"

namespace vestrel::testbed {

namespace {

// [Root]'s ring, which has no entry in slapd, for the double's answers.
std::vector<RootReplica> RootRingOf(const nw::Tree& tree) {
  std::vector<RootReplica> ring;
  if (const nw::Partition* root = tree.Root().partition)
    for (const nw::Replica& replica : root->ring)
      ring.push_back({ldif::DnOf(tree, replica.server->object->FullName()), replica.type});
  return ring;
}

}  // namespace

std::string TreeBed::Start(nw::Tree& tree, const std::string& adminDn, const std::string& password) {
  Stop();
  // The server's clock is now: the tree's ages show as at the file's own clock.
  ldif::MoveTimes(tree, ldif::SecondsToNow(tree, std::time(nullptr)));
  SlapdOptions options;
  options.rootDn = adminDn;
  options.rootPassword = password;
  if (std::string problem = slapd_.Start(ldif::TreeToLdif(tree).text, options); !problem.empty()) return problem;
  operations_ = std::make_unique<ExtOpDouble>(slapd_.Url(), adminDn, password);
  operations_->SetRootRing(RootRingOf(tree));
  for (const auto& server : tree.servers) {
    Endpoint endpoint;
    endpoint.name = server->object->FullName();
    endpoint.dn = ldif::DnOf(tree, endpoint.name);
    endpoint.proxy = std::make_unique<LdapProxy>(slapd_.Port(), operations_.get(), endpoint.dn);
    if (!endpoint.proxy->Listening()) return "a proxy cannot listen on 127.0.0.1";
    endpoint.url = endpoint.proxy->Url();
    servers_.push_back(std::move(endpoint));
  }
  treeProxy_ = std::make_unique<LdapProxy>(slapd_.Port(), operations_.get(), servers_.empty() ? "" : servers_[0].dn);
  if (!treeProxy_->Listening()) return "a proxy cannot listen on 127.0.0.1";
  treeUrl_ = treeProxy_->Url();
  return "";
}

void TreeBed::Stop() {
  treeProxy_.reset();
  servers_.clear();
  operations_.reset();
  slapd_.Stop();
  treeUrl_.clear();
}

std::vector<std::pair<std::string, std::string>> TreeBed::ServerUrls() const {
  std::vector<std::pair<std::string, std::string>> urls;
  for (const Endpoint& server : servers_) urls.emplace_back(server.name, server.url);
  return urls;
}

LdapProxy* TreeBed::Proxy(const std::string& server) {
  for (Endpoint& endpoint : servers_)
    if (nw::EqualsNoCase(endpoint.name, server)) return endpoint.proxy.get();
  return nullptr;
}

void TreeBed::StopServer(const std::string& server) {
  for (Endpoint& endpoint : servers_)
    if (nw::EqualsNoCase(endpoint.name, server)) endpoint.proxy.reset();
}

void TreeBed::DelayMessages(std::chrono::milliseconds delay) {
  if (treeProxy_) treeProxy_->DelayMessages(delay);
  for (Endpoint& endpoint : servers_)
    if (endpoint.proxy) endpoint.proxy->DelayMessages(delay);
}

}  // namespace vestrel::testbed
