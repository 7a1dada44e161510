// The main window and its combo boxes as the settings store sees them: a window with a
// position and size, and drop-down lists with entries, a selection and a size.
#pragma once

#include <QComboBox>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <string>
#include <vector>

#include "settings/D_Ini.h"

namespace vestrel {

// A top-level window placed as designed. Top and Left are the frame's (outer) position,
// Width and Height the window's own size, so a saved geometry comes back as it was: a
// position restored before the window is first shown is taken by the window manager as
// the frame's (see TMainForm::setVisible). Values a hand-edited file may hold are kept
// within reach: the size within what a window can have, the position so that the title
// bar is on a screen.
class WindowSettings final : public SettingsWindow {
 public:
  explicit WindowSettings(QWidget& window) : window_(&window) {}

  std::string Name() const override;
  WindowPlacement Placement() const override { return WindowPlacement::Designed; }
  int Top() const override;
  int Left() const override;
  int Width() const override;
  int Height() const override;
  void SetTop(int top) override;
  void SetLeft(int left) override;
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  void KeepWithinReach() override;

 private:
  QPointer<QWidget> window_;
};

// The part of a window's frame that must lie on a screen for the user to take it: the
// title bar, kTitleBarHeight high and at least kReachableWidth of it wide.
inline constexpr int kTitleBarHeight = 32;
inline constexpr int kReachableWidth = 64;
// The outer position for a window of that width whose title bar is on one of the screens:
// position itself when it is, otherwise the nearest such position on the screen nearest
// to the title bar. Without screens, position.
QPoint PositionWithinReach(QPoint position, int width, const QList<QRect>& screens);

// A combo box. Selecting an entry from here emits no signal, so restoring a selection
// never runs the window's handlers (ChangeTree). A width or height read back equal to the
// current one changes nothing; another one fixes the box at that size.
class ComboBoxSettings final : public SettingsControl {
 public:
  explicit ComboBoxSettings(QComboBox& box) : box_(&box) {}

  std::string Name() const override;
  ControlKind Kind() const override;
  int Width() const override;
  int Height() const override;
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  std::vector<std::string> Items() const override;
  int SelectedIndex() const override;
  void SetSelectedIndex(int index) override;
  std::string SelectedText() const override;
  std::vector<SettingsControl*> Children() const override { return {}; }

 private:
  QPointer<QComboBox> box_;
};

// The folder of the settings file, created (owner only, as the desktop's rules ask) when
// it is missing, so a fresh account keeps its settings. Returns false when it could not
// be made; the save then fails and says so.
bool EnsureSettingsFolder(const std::string& settingsFile);

}  // namespace vestrel
