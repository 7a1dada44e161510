#include "app/CommandLine.h"

#include <ostream>
#include <string_view>

#include "util/BuildInfo.h"

namespace vestrel {

std::string WindowUsageText() {
  return R"(Usage: vestrel [--help] [--version]

Vestrel checks and repairs the partitions and replicas of an eDirectory (NDS) tree. Its
window scans a tree for its NCP servers and partitions, shows every replica ring with its
status, runs the partition and replica operations and exports what it found.

  -h, --help    show this help and exit
  --version     show the version and exit

The trees come from the connections file ($VESTREL_CONNECTIONS, else
$XDG_CONFIG_HOME/vestrel/connections.json), else from the demo trees. A connection to an
LDAP server with a "bindDn" takes its password from "passwordFile", else from
$VESTREL_LDAP_PASSWORD, else the window asks for it. The manual page vestrel(1) tells
the connection keys, where exports and workbooks go and where the settings are kept.
)";
}

std::string WindowVersionText() { return std::string("vestrel ") + kVersionNumber; }

std::optional<int> AnswerCommandLine(int argc, const char* const* argv, std::ostream& out) {
  bool version = false;
  for (int i = 1; i < argc && argv[i]; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") break;
    if (argument == "--help" || argument == "-h") {
      out << WindowUsageText();
      return 0;
    }
    version = version || argument == "--version";
  }
  if (!version) return std::nullopt;
  out << WindowVersionText() << '\n';
  return 0;
}

}  // namespace vestrel
