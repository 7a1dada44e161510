// Locks the main window's tree selector while a command works on the window's context and
// lets window messages run: another tree chosen meanwhile would switch the context under
// the command.
#pragma once

#include <QWidget>

namespace vestrel {

class TreeSelectorLock {
 public:
  explicit TreeSelectorLock(QWidget* selector) : selector_(selector), wasEnabled_(selector->isEnabled()) {
    selector_->setEnabled(false);
  }
  ~TreeSelectorLock() { selector_->setEnabled(wasEnabled_); }
  TreeSelectorLock(const TreeSelectorLock&) = delete;
  TreeSelectorLock& operator=(const TreeSelectorLock&) = delete;

 private:
  QWidget* selector_;
  bool wasEnabled_;
};

}  // namespace vestrel
