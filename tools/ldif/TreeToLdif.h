// A tree file as LDIF for an LDAP server with the test schema
// (tools/ldap-testbed/edirectory-mimic.schema): the objects with their classes and names,
// the servers' and partition roots' values exactly as the client library derives them
// from the file (replica pointers, status octets, vectors), encoded as the library's LDAP
// value codec decodes them. The tree root has no entry: over LDAP it is the root DSE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vestrel::nw {
class Tree;
}

namespace vestrel::ldif {

struct LdifResult {
  std::string text;
  // "Surname of admin.ACME": values the test schema has no place for, left out.
  std::vector<std::string> skipped;
};

LdifResult TreeToLdif(const nw::Tree& tree);

// How the times of a tree file go into LDIF.
enum class TreeTimes {
  AsInFile,  // as the file has them
  // Moved by the distance from the tree's clock to now, so that a server whose clock is
  // now shows the ages the file shows at its own clock (the test bed's servers).
  MovedToNow,
};
// The tree file at path as LDIF (throws nw::LoadError as nw::LoadTreeFile does).
LdifResult TreeFileToLdif(const std::string& path, TreeTimes times);

// Moves every time of the tree by seconds: the objects' creation and modification, the
// replicas' last syncs, time and time stamp values, and the tree's clock. A time of 0
// (none) stays 0; the others stay within 1 .. 2^32 - 1.
void MoveTimes(nw::Tree& tree, std::int64_t seconds);
// The seconds that move the tree's clock to now; 0 for a tree without a clock.
std::int64_t SecondsToNow(const nw::Tree& tree, std::int64_t now);

// The base64 form LDIF carries a value in ("name:: ...").
std::string Base64(const std::string& bytes);

// The DN of an object of the tree ("cn=FS1,ou=HQ,o=ACME"); names the tree does not hold
// get default types (first cn, last o, ou between).
std::string DnOf(const nw::Tree& tree, const std::string& fullName);

}  // namespace vestrel::ldif
