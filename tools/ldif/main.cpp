// vestrel-ldif: writes a tree file as LDIF for an LDAP server with the test schema, so the
// demo trees (and generated large trees) load into a server with slapadd.
//   vestrel-ldif TREE.json [OUTPUT.ldif]
#include <fstream>
#include <iostream>

#include "platform/nwclient/Model.h"
#include "tools/ldif/TreeToLdif.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
    std::cerr << "usage: vestrel-ldif TREE.json [OUTPUT.ldif]\n"
                 "Writes the tree as LDIF for the test schema (tools/ldap-testbed/edirectory-mimic.schema);\n"
                 "without OUTPUT to standard output.\n";
    return argc == 2 ? 0 : 2;
  }
  try {
    const auto tree = vestrel::nw::LoadTreeFile(argv[1]);
    const vestrel::ldif::LdifResult result = vestrel::ldif::TreeToLdif(*tree);
    if (argc == 3) {
      std::ofstream out(argv[2], std::ios::binary);
      out << result.text;
      if (!out.flush()) {
        std::cerr << "vestrel-ldif: cannot write " << argv[2] << "\n";
        return 1;
      }
    } else {
      std::cout << result.text;
    }
    if (!result.skipped.empty())
      std::cerr << "vestrel-ldif: " << result.skipped.size() << " attributes have no place in the test schema and "
                << "were left out (the first: " << result.skipped.front() << ")\n";
    return 0;
  } catch (const vestrel::nw::LoadError& e) {
    std::cerr << "vestrel-ldif: " << e.what() << "\n";
    return 1;
  }
}
