// The cell viewer: one grid cell's lines in a list, opened from the result grids for
// the cells too long to read in place.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <QPushButton>

namespace vestrel {

class TOKBottomDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit TOKBottomDlg(QWidget* parent = nullptr);

  QListWidget* ListBoxDetail;
  QPushButton* OKBtn;

 protected:
  void showEvent(QShowEvent* event) override;
};

// The cell viewer of the running program (created at start-up).
extern TOKBottomDlg* OKBottomDlg;

}  // namespace vestrel
