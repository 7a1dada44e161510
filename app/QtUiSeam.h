// The window's user-interface seam: Qt message boxes, the sign-in dialog, the
// application-wide override cursor and Qt's event processing.
#pragma once

#include <QMessageBox>
#include <memory>

#include "util/UiSeam.h"

namespace vestrel {

class QtUiSeam final : public UiSeam {
 public:
  DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) override;
  bool AskPassword(const std::string& connection, const std::string& account, const std::string& refusal,
                   std::string& password) override;
  bool ChooseItem(const std::string& title, const std::string& prompt, const std::vector<std::string>& items,
                  int& chosen) override;
  CursorKind Cursor() const override;
  void SetCursor(CursorKind cursor) override;
  void ProcessMessages() override;
  void ProcessPaintMessages() override;
};

// The box that MessageBox shows, built but not shown: icon and title of the kind, the
// buttons with OK the default and the other one answering Escape.
std::unique_ptr<QMessageBox> CreateMessageBox(DialogKind kind, const std::string& text, DialogButtons buttons,
                                              QWidget* parent = nullptr);
// The answer for the button that closed a box (Escape on a box with one button is OK).
DialogResult ResultOfButton(QMessageBox::StandardButton button);

}  // namespace vestrel
