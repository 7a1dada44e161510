// vestrel-ldif: writes a tree file as LDIF for an LDAP server with the test schema, so the
// demo trees (and generated large trees) load into a server with slapadd.
//   vestrel-ldif [--now] TREE.json [OUTPUT.ldif]
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/nwclient/Model.h"
#include "tools/ldif/TreeToLdif.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  const bool now = !arguments.empty() && arguments.front() == "--now";
  if (now) arguments.erase(arguments.begin());
  if (arguments.empty() || arguments.size() > 2 || arguments.front() == "--help") {
    std::cerr << "usage: vestrel-ldif [--now] TREE.json [OUTPUT.ldif]\n"
                 "Writes the tree as LDIF for the test schema (tools/ldap-testbed/edirectory-mimic.schema);\n"
                 "without OUTPUT to standard output. --now moves every time of the tree by the distance\n"
                 "from the tree's clock to now, so a server shows the ages the file shows at its clock.\n";
    return arguments.size() == 1 ? 0 : 2;
  }
  using vestrel::ldif::TreeTimes;
  try {
    const vestrel::ldif::LdifResult result =
        vestrel::ldif::TreeFileToLdif(arguments[0], now ? TreeTimes::MovedToNow : TreeTimes::AsInFile);
    if (arguments.size() == 2) {
      std::ofstream out(arguments[1], std::ios::binary);
      out << result.text;
      if (!out.flush()) {
        std::cerr << "vestrel-ldif: cannot write " << arguments[1] << "\n";
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
