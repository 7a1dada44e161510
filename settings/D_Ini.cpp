#include "settings/D_Ini.h"

#include <exception>

#include "export/D_Win.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

constexpr std::int32_t kAbsentInteger = -999666;

// The entries of the last section read by ReadIntegerCached. The file object is known by
// its serial, which no other object shares and which changes when the object writes, so a
// new file object (or a write) always loads the section afresh.
struct SectionCacheRecord {
  bool loaded = false;
  std::uint64_t fileSerial = 0;
  std::string section;
  std::string lastValue;
  std::vector<std::string> lines;  // key=value
};

SectionCacheRecord SectionCache;

std::string FileNamePart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The value of key among "key=value" lines, empty when none (the key ends at the first "=").
std::string ValueOfKey(const std::vector<std::string>& lines, std::string_view key) {
  for (const std::string& line : lines) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos && EqualsNoCase(std::string_view(line).substr(0, equals), key))
      return line.substr(equals + 1);
  }
  return {};
}

std::string GeometryKey(std::string_view owner, std::string_view property) {
  std::string key(owner);
  key += '.';
  key += property;
  return key;
}

std::string GeometrySection(const SettingsWindow& window, std::string_view section) {
  return section.empty() ? window.Name() : std::string(section);
}

int IndexOfEntry(const std::vector<std::string>& items, std::string_view text) {
  for (std::size_t i = 0; i < items.size(); ++i)
    if (EqualsNoCase(items[i], text)) return static_cast<int>(i);
  return -1;
}

void SaveOneControl(ProfileFile& file, const SettingsControl& control) {
  if (control.Kind() != ControlKind::DropDownList) return;
  const std::string name = control.Name();
  // A box without a selection has nothing to keep: the stored choice stays for a later
  // run (a saved tree that is not connected this time is chosen again when it is back).
  if (name.empty() || control.SelectedIndex() < 0) return;
  WriteStringIfChanged(file, kSettingsSection, name, control.SelectedText());
}

void RestoreOneControl(const ProfileFile& file, SettingsControl& control) {
  if (control.Kind() != ControlKind::DropDownList) return;
  const std::string name = control.Name();
  if (name.empty()) return;
  control.SetWidth(ReadIntegerCached(file, kSettingsSection, GeometryKey(name, "Width"), control.Width()));
  control.SetHeight(ReadIntegerCached(file, kSettingsSection, GeometryKey(name, "Height"), control.Height()));
  const std::string stored = file.ReadString(kSettingsSection, CleanIniName(name), control.SelectedText());
  control.SetSelectedIndex(IndexOfEntry(control.Items(), stored));
}

void SaveControlTree(ProfileFile& file, const SettingsControl& control) {
  SaveOneControl(file, control);
  for (const SettingsControl* child : control.Children())
    if (child != nullptr) SaveControlTree(file, *child);
}

void RestoreControlTree(const ProfileFile& file, SettingsControl& control) {
  RestoreOneControl(file, control);
  for (SettingsControl* child : control.Children())
    if (child != nullptr) RestoreControlTree(file, *child);
}

}  // namespace

std::string SettingsFilePath() {
  return WithTrailingBackslash(ShellFolderPath("AppData")) + FileNamePart(ProgramFileWithExt("ini"));
}

std::string CleanIniName(std::string_view name) { return DeleteChars(name, "[]"); }

void WriteIntegerIfChanged(ProfileFile& file, std::string_view section, std::string_view key, std::int32_t value) {
  const std::string cleanKey = CleanIniName(key);
  const std::string cleanSection = CleanIniName(section);
  if (cleanKey.empty()) return;
  if (file.ReadInteger(cleanSection, cleanKey, kAbsentInteger) != value) file.WriteInteger(cleanSection, cleanKey, value);
}

void WriteStringIfChanged(ProfileFile& file, std::string_view section, std::string_view key, std::string_view value) {
  const std::string cleanKey = CleanIniName(key);
  const std::string cleanSection = CleanIniName(section);
  if (cleanKey.empty()) return;
  const std::string stored = file.ReadString(cleanSection, cleanKey, "");
  // A value in enclosing quotes reads back without them.
  if (stored == value || DoubleQuoted(stored) == value) return;
  file.WriteString(cleanSection, cleanKey, value);
}

std::int32_t ReadIntegerCached(const ProfileFile& file, std::string_view section, std::string_view key,
                               std::int32_t defaultValue) {
  const std::string cleanKey = CleanIniName(key);
  if (!SectionCache.loaded || SectionCache.section != section || SectionCache.fileSerial != file.Serial()) {
    SectionCache.lines = file.ReadSection(section);
    SectionCache.section = std::string(section);
    SectionCache.fileSerial = file.Serial();
    SectionCache.loaded = true;
  }
  SectionCache.lastValue = ValueOfKey(SectionCache.lines, cleanKey);
  if (SectionCache.lastValue.empty()) return defaultValue;
  return TextToIntDef(SectionCache.lastValue, defaultValue);
}

void SaveWindowGeometry(const SettingsWindow& window, std::string_view section) {
  try {
    ProfileFile file(SettingsFilePath());
    const std::string target = GeometrySection(window, section);
    const std::string name = window.Name();
    WriteIntegerIfChanged(file, target, GeometryKey(name, "Top"), window.Top());
    WriteIntegerIfChanged(file, target, GeometryKey(name, "Left"), window.Left());
    WriteIntegerIfChanged(file, target, GeometryKey(name, "Width"), window.Width());
    WriteIntegerIfChanged(file, target, GeometryKey(name, "Height"), window.Height());
  } catch (const std::exception&) {
    // The geometry is a convenience; a close must not fail over it.
  }
}

void RestoreWindowGeometry(SettingsWindow& window, std::string_view section) {
  if (window.Placement() != WindowPlacement::Designed) return;
  try {
    const ProfileFile file(SettingsFilePath());
    const std::string target = GeometrySection(window, section);
    const std::string name = window.Name();
    // A stored 0 counts as absent: the designed value stays.
    if (const int width = file.ReadInteger(target, GeometryKey(name, "Width"), 0)) window.SetWidth(width);
    if (const int height = file.ReadInteger(target, GeometryKey(name, "Height"), 0)) window.SetHeight(height);
    const int left = file.ReadInteger(target, GeometryKey(name, "Left"), 0);
    const int top = file.ReadInteger(target, GeometryKey(name, "Top"), 0);
    if (left) window.SetLeft(left);
    if (top) window.SetTop(top);
    if (left || top) window.KeepWithinReach();
  } catch (const std::exception&) {
    // Without stored geometry the window keeps its designed one.
  }
}

void SaveControlState(const SettingsControl& control) {
  ProfileFile file(SettingsFilePath());
  SaveControlTree(file, control);
}

void RestoreControlState(SettingsControl& control) {
  const ProfileFile file(SettingsFilePath());
  RestoreControlTree(file, control);
}

bool SaveMainWindowSettings(const SettingsWindow& window, std::span<SettingsControl* const> controls) {
  SaveWindowGeometry(window);
  try {
    for (const SettingsControl* control : controls)
      if (control != nullptr) SaveControlState(*control);
  } catch (const std::exception& error) {
    ShowNotice(DialogKind::Error, error.what());
    return false;
  }
  return true;
}

}  // namespace vestrel
