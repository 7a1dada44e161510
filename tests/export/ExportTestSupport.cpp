#include "ExportTestSupport.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace vestrel::testing {

StringGrid SampleServerGrid() {
  StringGrid grid(3, 3, 1, 1);
  grid.SetCell(1, 0, "Server");
  grid.SetCell(2, 0, "Network Address");
  grid.SetCell(0, 1, "1");
  grid.SetCell(1, 1, "FS1");
  grid.SetCell(2, 1, "10.1.1.9\r\n10.1.1.5");
  grid.SetCell(0, 2, "2");
  grid.SetCell(1, 2, "A&B");
  return grid;
}

FixedWriterClock::FixedWriterClock(LocalDateTime time) : previous_(SetWriterClock([time] { return time; })) {}

FixedWriterClock::~FixedWriterClock() { SetWriterClock(previous_); }

ScratchFolder::ScratchFolder() {
  previous_ = std::filesystem::current_path().string();
  std::string pattern = (std::filesystem::temp_directory_path() / "vestrel-export-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  std::filesystem::current_path(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::Listing() const { return FolderListing(path_); }

std::string FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code missing;
  for (const auto& entry : std::filesystem::directory_iterator(folder, missing)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string listing;
  for (const std::string& name : names) listing += (listing.empty() ? "" : " ") + name;
  return listing;
}

std::string ReadFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

void WriteFile(const std::string& name, const std::string& content) {
  std::ofstream file(name, std::ios::binary | std::ios::trunc);
  file << content;
}

}  // namespace vestrel::testing
