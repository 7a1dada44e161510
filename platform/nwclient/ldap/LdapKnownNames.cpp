#include "platform/nwclient/ldap/LdapKnownNames.h"

namespace vestrel::nw::ldap {

KnownNames::KnownNames() { nodes_.push_back({0, {}}); }

std::string KnownNames::ChildKey(std::uint32_t parent, const Rdn& rdn) {
  return std::to_string(parent) + '/' + NameKey(TypelessName({rdn}));
}

std::uint32_t KnownNames::Walk(const Dn& name, std::size_t& below) const {
  std::uint32_t node = 0;
  below = name.size();
  while (below > 0) {
    auto child = children_.find(ChildKey(node, name[below - 1]));
    if (child == children_.end()) break;
    node = child->second;
    --below;
  }
  return node;
}

void KnownNames::Learn(const Dn& dn) {
  std::size_t below = 0;
  std::uint32_t node = Walk(dn, below);
  for (; below > 0 && nodes_.size() <= kMaxLevels; --below) {
    const Rdn& rdn = dn[below - 1];
    const auto added = static_cast<std::uint32_t>(nodes_.size());
    children_.emplace(ChildKey(node, rdn), added);
    nodes_.push_back({node, rdn});
    node = added;
  }
}

Dn KnownNames::NameOf(std::uint32_t node) const {
  Dn name;
  for (; node != 0; node = nodes_[node].parent) name.push_back(nodes_[node].rdn);
  return name;
}

bool KnownNames::Find(const Dn& name, Entry& entry) const {
  std::size_t below = 0;
  const std::uint32_t node = Walk(name, below);
  if (below > 0 || node == 0) return false;
  const Dn known = NameOf(node);
  entry = {FormatDn(known), TypedComponents(known), TypelessName(known)};
  return true;
}

std::size_t KnownNames::DeepestContainer(const Dn& name, std::string& dn) const {
  std::size_t below = 0;
  std::uint32_t node = Walk(name, below);
  if (below == 0 && node != 0) {  // the name itself is known: its container is the one above
    node = nodes_[node].parent;
    below = 1;
  }
  dn = node == 0 ? std::string() : FormatDn(NameOf(node));
  return node == 0 ? name.size() : below;
}

}  // namespace vestrel::nw::ldap
