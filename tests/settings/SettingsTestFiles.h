// Files and folders for the settings tests: a private temporary folder per test and
// whole-file reads and writes.
#pragma once

#include <sys/stat.h>

#include <string>

namespace vestrel::testing {

// A fresh folder under the system's temporary folder, removed with its content.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the folder, sorted.
  std::string Listing() const;

 private:
  std::string path_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
struct stat StatOf(const std::string& path);

}  // namespace vestrel::testing
