// Helpers shared by the export tests: the server-shaped sample grid, a fixed writer clock,
// and a scratch folder that is the current directory while a test runs.
#pragma once

#include <string>

#include "export/GridWriters.h"
#include "util/StringGrid.h"

namespace vestrel::testing {

// ColCount 3, RowCount 3, one fixed row and column: the corner, "Server", "Network Address";
// "1", "FS1", two addresses; "2", "A&B", an empty cell.
StringGrid SampleServerGrid();

// The writer clock reads 1 March 2024 14:05:09 while this lives.
class FixedWriterClock {
 public:
  explicit FixedWriterClock(LocalDateTime time = {2024, 3, 1, 14, 5, 9});
  ~FixedWriterClock();
  FixedWriterClock(const FixedWriterClock&) = delete;
  FixedWriterClock& operator=(const FixedWriterClock&) = delete;

 private:
  LocalClock previous_;
};

// A fresh folder that is the current directory while this lives; removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }
  // The names in the folder, sorted.
  std::string Listing() const;

 private:
  std::string previous_;
  std::string path_;
};

// The names in a folder, sorted and separated by blanks; empty when there is no such folder.
std::string FolderListing(const std::string& folder);

std::string ReadFile(const std::string& name);
void WriteFile(const std::string& name, const std::string& content);

}  // namespace vestrel::testing
