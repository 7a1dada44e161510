// The names the LDAP source has seen, so that the dotted names the program passes back
// become DNs without asking the server: every object found, and the containers above it.
// The book is a tree of name components: each level is kept once, below its parent, so
// a name takes memory in proportion to its own length whatever its depth, and names that
// share containers share them here too. A full book learns nothing more; a name it lacks
// is looked up on the server one level at a time, as any name not seen yet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/nwclient/ldap/LdapNames.h"

namespace vestrel::nw::ldap {

class KnownNames {
 public:
  // Levels the book holds at most (a real tree's servers, partitions and their containers
  // take a small part of it).
  static constexpr std::size_t kMaxLevels = 200000;

  KnownNames();

  // Remembers dn and the containers above it, as far as the book has room.
  void Learn(const Dn& dn);

  struct Entry {
    std::string dn;                  // the DN as the server spells it
    std::vector<std::string> typed;  // "CN=FS1", "OU=HQ", ... one per level
    std::string spelling;            // the typeless name as the server spells it
  };
  // The object of a (typeless or typed) name; false when the book does not know it.
  bool Find(const Dn& name, Entry& entry) const;
  // The deepest container above name that the book knows: how many levels of name lie
  // below it (name.size() when it knows none) and its DN.
  std::size_t DeepestContainer(const Dn& name, std::string& dn) const;
  std::size_t Levels() const { return nodes_.size() - 1; }

 private:
  struct Node {
    std::uint32_t parent;
    Rdn rdn;
  };
  std::vector<Node> nodes_;                                  // nodes_[0]: the root
  std::unordered_map<std::string, std::uint32_t> children_;  // parent and component key -> node

  static std::string ChildKey(std::uint32_t parent, const Rdn& rdn);
  // Follows name from the root: the node reached and how many levels of name lie below it.
  std::uint32_t Walk(const Dn& name, std::size_t& below) const;
  // The name of a node, its own level first.
  Dn NameOf(std::uint32_t node) const;
};

}  // namespace vestrel::nw::ldap
