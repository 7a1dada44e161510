#include "TempConfigHome.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace vestrel::testing {

TempConfigHome::TempConfigHome() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vestrel-config-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) throw std::runtime_error("cannot create a temporary settings folder");
  path_ = name.data();
  if (const char* saved = std::getenv("XDG_CONFIG_HOME")) {
    saved_ = saved;
    hadSaved_ = true;
  }
  setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
}

TempConfigHome::~TempConfigHome() {
  if (hadSaved_)
    setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace vestrel::testing
