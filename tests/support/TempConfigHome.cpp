#include "TempConfigHome.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace vestrel::testing {

ScopedEnvironment::ScopedEnvironment(std::string name, const char* value) : name_(std::move(name)) {
  if (const char* saved = std::getenv(name_.c_str())) {
    saved_ = saved;
    hadSaved_ = true;
  }
  if (value)
    setenv(name_.c_str(), value, 1);
  else
    unsetenv(name_.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
  if (hadSaved_)
    setenv(name_.c_str(), saved_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

TempFolder::TempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = name.data();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

TempXdgFolder::TempXdgFolder(const char* variable) : folder_("vestrel-xdg"), variable_(variable, folder_.Path().c_str()) {}

}  // namespace vestrel::testing
