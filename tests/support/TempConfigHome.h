// Environment variables and XDG folders of a test's own: a variable set for the lifetime
// of an object and restored afterwards, and a fresh, empty folder named by XDG_CONFIG_HOME
// or XDG_CACHE_HOME, so a test never reads or writes the files of the user or of another test.
#pragma once

#include <string>

namespace vestrel::testing {

// Sets (or, with nullptr, unsets) an environment variable while this lives.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const char* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::string saved_;
  bool hadSaved_ = false;
};

// A fresh temporary folder, removed with everything in it when this goes.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "vestrel-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A fresh folder that the XDG variable names while this lives.
class TempXdgFolder {
 public:
  explicit TempXdgFolder(const char* variable);
  const std::string& Path() const { return folder_.Path(); }

 private:
  TempFolder folder_;
  ScopedEnvironment variable_;
};

class TempConfigHome : public TempXdgFolder {
 public:
  TempConfigHome() : TempXdgFolder("XDG_CONFIG_HOME") {}
};

class TempCacheHome : public TempXdgFolder {
 public:
  TempCacheHome() : TempXdgFolder("XDG_CACHE_HOME") {}
};

}  // namespace vestrel::testing
