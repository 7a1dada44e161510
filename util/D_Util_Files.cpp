// File names, text-list arithmetic, the grid and the user-interface shortcuts.
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "util/BuildInfo.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

constexpr char kPathDelimiter = '/';

// Snapshot of a list's texts and objects, for when source and target are the same list.
struct ListEntry {
  std::string text;
  std::intptr_t object;
};

std::vector<ListEntry> EntriesOf(const TextList& list) {
  std::vector<ListEntry> entries;
  entries.reserve(static_cast<std::size_t>(list.Count()));
  for (int i = 0; i < list.Count(); ++i) entries.push_back({list[i], list.Objects(i)});
  return entries;
}

// A folder given relative to the program file's folder, written without "..".
std::string FolderFromProgram(const char* relativeFolder) {
  const std::filesystem::path program = ProgramFilePath();
  if (program.empty()) return {};
  return (program.parent_path() / relativeFolder).lexically_normal().string();
}

bool IsFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

// ---- Files and paths ----

std::string WithTrailingBackslash(const std::string& directory) {
  if (directory.empty()) return std::string(1, kPathDelimiter);
  const char last = directory.back();
  if (last == '/' || last == '\\') return directory;
  return directory + kPathDelimiter;
}

std::string ChangeExtension(const std::string& fileName, const std::string& ext) {
  const std::string newExt = ext.empty() ? ext : EnsurePrefix(ext, ".");
  const std::size_t dot = fileName.rfind('.');
  const std::size_t delimiter = fileName.rfind(kPathDelimiter);
  const bool hasExtension = dot != std::string::npos && (delimiter == std::string::npos || dot > delimiter);
  const std::string stem = hasExtension ? fileName.substr(0, dot) : fileName;
  return stem + newExt;
}

std::string ProgramFilePath() {
  std::string path(PATH_MAX, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0) return {};
  path.resize(static_cast<std::size_t>(length));
  // A program file replaced or removed while the program runs (a package upgrade) reads as
  // "<path> (deleted)": the files beside it still go by the program's own name.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
  return path;
}

std::string ProgramFileWithExt(const std::string& ext) { return ChangeExtension(ProgramFilePath(), ext); }

std::string InstalledDataFolder() { return FolderFromProgram(kDataFolderFromProgram); }

std::string InstalledLibraryFolder() { return FolderFromProgram(kLibraryFolderFromProgram); }

std::string ProgramDataFileWithExt(const std::string& ext) {
  const std::string besideProgram = ProgramFileWithExt(ext);
  const std::string installedFolder = InstalledDataFolder();
  if (IsFile(besideProgram) || installedFolder.empty()) return besideProgram;
  const std::string installed =
      (std::filesystem::path(installedFolder) / std::filesystem::path(besideProgram).filename()).string();
  return IsFile(installed) ? installed : besideProgram;
}

// ---- Text lists ----

void RemoveListItems(TextList* target, const TextList* items) {
  if (target == nullptr || items == nullptr) return;
  const std::vector<ListEntry> removals = EntriesOf(*items);
  // The first remaining entry equal to an item is the lowest remaining index under the
  // item's key, so each key keeps its indexes in order and hands them out.
  std::unordered_map<std::string, std::vector<int>> indexesByKey;
  for (int i = target->Count() - 1; i >= 0; --i) indexesByKey[ListTextKey((*target)[i])].push_back(i);
  std::vector<bool> removed(static_cast<std::size_t>(target->Count()), false);
  for (const ListEntry& item : removals) {
    auto found = indexesByKey.find(ListTextKey(item.text));
    if (found == indexesByKey.end() || found->second.empty()) continue;
    removed[static_cast<std::size_t>(found->second.back())] = true;
    found->second.pop_back();
  }
  target->DeleteMarked(removed);
}

void AppendListItems(TextList* target, const TextList* items, bool allowDuplicates) {
  if (target == nullptr || items == nullptr) return;
  const std::vector<ListEntry> additions = EntriesOf(*items);
  std::unordered_set<std::string> present;
  if (!allowDuplicates) {
    for (int i = 0; i < target->Count(); ++i) present.insert(ListTextKey((*target)[i]));
  }
  for (const ListEntry& item : additions) {
    // An item appended earlier in this call counts as already contained.
    if (!allowDuplicates && !present.insert(ListTextKey(item.text)).second) continue;
    target->Add(item.text, item.object);
  }
}

// ---- Grid and user interface ----

void ClearGridCells(StringGrid* grid) {
  if (grid != nullptr) grid->ClearCells();
}

void ShowHourglass() { Ui().SetCursor(CursorKind::Hourglass); }

void SaveCursorShowHourglass(CursorKind& saved) {
  saved = Ui().Cursor();
  ShowHourglass();
}

void RestoreCursor(CursorKind saved) { Ui().SetCursor(saved); }

void ShowNotice(DialogKind kind, const std::string& text) { Ui().MessageBox(kind, text, DialogButtons::Ok); }

bool ConfirmAction() {
  return Ui().MessageBox(DialogKind::Confirmation, "Are you sure?", DialogButtons::OkAbort) == DialogResult::Ok;
}

}  // namespace vestrel
