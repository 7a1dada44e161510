// D_Ini: the settings store. Keeps the main window's position and size and the
// selections of its combo boxes between runs in the user's settings file, section
// "Settings". The store acts on windows and controls through the small interfaces below,
// which the window layer implements for its own widgets.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ProfileFile.h"

namespace vestrel {

inline constexpr std::string_view kSettingsSection = "Settings";

// How a window is placed when it opens: as designed, or otherwise (centred, placed by
// the system); only a window placed as designed gets its stored geometry back.
enum class WindowPlacement { Designed, Other };

class SettingsWindow {
 public:
  virtual ~SettingsWindow() = default;
  virtual std::string Name() const = 0;  // component name, "MainForm"
  virtual WindowPlacement Placement() const = 0;
  virtual int Top() const = 0;
  virtual int Left() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetTop(int top) = 0;
  virtual void SetLeft(int left) = 0;
  virtual void SetWidth(int width) = 0;
  virtual void SetHeight(int height) = 0;
  // After a restored position: moves the window where the user can reach it, should the
  // stored position (a hand-edited file, a screen since removed) be out of reach.
  virtual void KeepWithinReach() {}
};

// Drop-down list: a combo box whose entries the user picks and cannot type into.
enum class ControlKind { DropDownList, Other };

class SettingsControl {
 public:
  virtual ~SettingsControl() = default;
  virtual std::string Name() const = 0;  // component name; empty for a control without one
  virtual ControlKind Kind() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetWidth(int width) = 0;
  virtual void SetHeight(int height) = 0;
  virtual std::vector<std::string> Items() const = 0;
  virtual int SelectedIndex() const = 0;  // -1: no selection
  virtual void SetSelectedIndex(int index) = 0;
  virtual std::string SelectedText() const = 0;  // empty without a selection
  virtual std::vector<SettingsControl*> Children() const = 0;
};

// The settings file: the user's application-data folder and the program's own file name
// with the extension "ini". Worked out afresh on every call.
std::string SettingsFilePath();

// The name with every "[" and "]" removed.
std::string CleanIniName(std::string_view name);

// Write one entry unless the file already holds that value (key and section cleaned by
// CleanIniName; an empty key writes nothing). Throw ProfileWriteError when writing fails.
void WriteIntegerIfChanged(ProfileFile& file, std::string_view section, std::string_view key, std::int32_t value);
void WriteStringIfChanged(ProfileFile& file, std::string_view section, std::string_view key, std::string_view value);

// Reads one integer through the process-wide SectionCache, which holds the entries of the
// last section read, so that several reads from one section and one file object cost one
// pass over the file.
std::int32_t ReadIntegerCached(const ProfileFile& file, std::string_view section, std::string_view key,
                               std::int32_t defaultValue);

// Window geometry under section ("Settings"; an empty section means the window's own
// name). Both ignore every error.
void SaveWindowGeometry(const SettingsWindow& window, std::string_view section = kSettingsSection);
void RestoreWindowGeometry(SettingsWindow& window, std::string_view section = kSettingsSection);

// The state of a control and then of each of its children, in order, under "Settings".
// A drop-down list without a selection writes nothing. SaveControlState lets
// ProfileWriteError through: the controls after the failing one are not saved.
void SaveControlState(const SettingsControl& control);
void RestoreControlState(SettingsControl& control);

// What the main window does when it closes: the geometry, then each control in order.
// The first write that fails is shown once in an error box ("Unable to write to ..."),
// and nothing more is written; the window closes all the same. Returns whether
// everything was saved.
bool SaveMainWindowSettings(const SettingsWindow& window, std::span<SettingsControl* const> controls);

}  // namespace vestrel
