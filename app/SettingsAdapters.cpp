#include "app/SettingsAdapters.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalBlocker>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace vestrel {
namespace {

// X11 cannot make a window larger than this.
constexpr int kLargestWindowSide = 32767;
constexpr int kSmallestBoxSide = 16;
constexpr int kLargestBoxWidth = 4096;
constexpr int kLargestBoxHeight = 256;

// Where the title bar of a window at position would be.
QRect TitleBarAt(QPoint position, int width) { return {position, QSize(std::max(width, 1), kTitleBarHeight)}; }

bool ReachableOn(const QRect& titleBar, const QRect& screen) {
  const QRect part = titleBar.intersected(screen);
  return part.height() == kTitleBarHeight && part.width() >= std::min(kReachableWidth, titleBar.width());
}

// Squared distance between two rectangles (0 when they touch or overlap).
long long Distance(const QRect& a, const QRect& b) {
  const long long dx = std::max({0, b.left() - a.right(), a.left() - b.right()});
  const long long dy = std::max({0, b.top() - a.bottom(), a.top() - b.bottom()});
  return dx * dx + dy * dy;
}

// The nearest position at which the title bar is on the screen.
QPoint ClampOnto(QPoint position, int width, const QRect& screen) {
  const int visible = std::min(kReachableWidth, std::max(width, 1));
  const int lowestLeft = screen.left() - std::max(width, 1) + visible;
  const int highestLeft = std::max(lowestLeft, screen.right() + 1 - visible);
  const int highestTop = std::max(screen.top(), screen.bottom() + 1 - kTitleBarHeight);
  return {std::clamp(position.x(), lowestLeft, highestLeft), std::clamp(position.y(), screen.top(), highestTop)};
}

QList<QRect> ScreenAreas() {
  QList<QRect> areas;
  for (const QScreen* screen : QGuiApplication::screens()) areas.append(screen->availableGeometry());
  return areas;
}

std::string TextOf(const QString& text) { return text.toStdString(); }

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

// ---- WindowSettings ----

QPoint PositionWithinReach(QPoint position, int width, const QList<QRect>& screens) {
  if (screens.isEmpty()) return position;
  const QRect titleBar = TitleBarAt(position, width);
  for (const QRect& screen : screens)
    if (ReachableOn(titleBar, screen)) return position;
  const auto nearest = std::min_element(screens.begin(), screens.end(), [&](const QRect& a, const QRect& b) {
    return Distance(titleBar, a) < Distance(titleBar, b);
  });
  return ClampOnto(position, width, *nearest);
}

std::string WindowSettings::Name() const { return window_ ? TextOf(window_->objectName()) : std::string(); }
int WindowSettings::Top() const { return window_ ? window_->y() : 0; }
int WindowSettings::Left() const { return window_ ? window_->x() : 0; }
int WindowSettings::Width() const { return window_ ? window_->width() : 0; }
int WindowSettings::Height() const { return window_ ? window_->height() : 0; }

void WindowSettings::SetTop(int top) {
  if (window_) window_->move(window_->x(), top);
}

void WindowSettings::SetLeft(int left) {
  if (window_) window_->move(left, window_->y());
}

void WindowSettings::KeepWithinReach() {
  if (!window_) return;
  const QPoint reachable = PositionWithinReach(window_->pos(), window_->width(), ScreenAreas());
  if (reachable != window_->pos()) window_->move(reachable);
}

// Qt keeps a size within the window's own minimum and maximum.
void WindowSettings::SetWidth(int width) {
  if (window_) window_->resize(std::clamp(width, 1, kLargestWindowSide), window_->height());
}

void WindowSettings::SetHeight(int height) {
  if (window_) window_->resize(window_->width(), std::clamp(height, 1, kLargestWindowSide));
}

// ---- ComboBoxSettings ----

std::string ComboBoxSettings::Name() const { return box_ ? TextOf(box_->objectName()) : std::string(); }

// An editable combo box takes typed text: not a drop-down list.
ControlKind ComboBoxSettings::Kind() const {
  return box_ && !box_->isEditable() ? ControlKind::DropDownList : ControlKind::Other;
}

int ComboBoxSettings::Width() const { return box_ ? box_->width() : 0; }
int ComboBoxSettings::Height() const { return box_ ? box_->height() : 0; }

// The box sits in a layout, which would undo a plain resize: a restored size is fixed.
void ComboBoxSettings::SetWidth(int width) {
  if (!box_ || width == box_->width()) return;
  box_->setFixedWidth(std::clamp(width, kSmallestBoxSide, kLargestBoxWidth));
}

void ComboBoxSettings::SetHeight(int height) {
  if (!box_ || height == box_->height()) return;
  box_->setFixedHeight(std::clamp(height, kSmallestBoxSide, kLargestBoxHeight));
}

std::vector<std::string> ComboBoxSettings::Items() const {
  std::vector<std::string> items;
  if (!box_) return items;
  items.reserve(static_cast<std::size_t>(box_->count()));
  for (int i = 0; i < box_->count(); ++i) items.push_back(TextOf(box_->itemText(i)));
  return items;
}

int ComboBoxSettings::SelectedIndex() const { return box_ ? box_->currentIndex() : -1; }

void ComboBoxSettings::SetSelectedIndex(int index) {
  if (!box_) return;
  const QSignalBlocker quiet(box_.data());
  box_->setCurrentIndex(index >= 0 && index < box_->count() ? index : -1);
}

std::string ComboBoxSettings::SelectedText() const {
  return box_ && box_->currentIndex() >= 0 ? TextOf(box_->itemText(box_->currentIndex())) : std::string();
}

// ---- The settings folder ----

bool EnsureSettingsFolder(const std::string& settingsFile) {
  const std::size_t slash = settingsFile.rfind('/');
  if (slash == std::string::npos || slash == 0) return true;  // the current folder or "/"
  const std::string folder = settingsFile.substr(0, slash);
  // Each missing folder on the way, outermost first.
  for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST && !IsFolder(part)) return false;
    if (end == std::string::npos) break;
  }
  return IsFolder(folder);
}

}  // namespace vestrel
