// Points XDG_CONFIG_HOME at a fresh, empty folder for the lifetime of the object, so a
// test never reads or writes the settings of the user or of another test.
#pragma once

#include <string>

namespace vestrel::testing {

class TempConfigHome {
 public:
  TempConfigHome();
  ~TempConfigHome();
  TempConfigHome(const TempConfigHome&) = delete;
  TempConfigHome& operator=(const TempConfigHome&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string saved_;
  bool hadSaved_ = false;
};

}  // namespace vestrel::testing
