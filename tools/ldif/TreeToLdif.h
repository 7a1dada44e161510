// A tree file as LDIF for an LDAP server with the test schema
// (tools/ldap-testbed/edirectory-mimic.schema): the objects with their classes and names,
// the servers' and partition roots' values exactly as the client library derives them
// from the file (replica pointers, status octets, vectors), encoded as the library's LDAP
// value codec decodes them. The tree root has no entry: over LDAP it is the root DSE.
#pragma once

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

// The base64 form LDIF carries a value in ("name:: ...").
std::string Base64(const std::string& bytes);

// The DN of an object of the tree ("cn=FS1,ou=HQ,o=ACME"); names the tree does not hold
// get default types (first cn, last o, ou between).
std::string DnOf(const nw::Tree& tree, const std::string& fullName);

}  // namespace vestrel::ldif
