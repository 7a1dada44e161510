// The sign-in dialog: asks for the password of an account on a directory connection at
// start. The typed text is shown as dots and leaves the dialog only through Password().
#pragma once

#include <QDialog>
#include <string>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

namespace vestrel {

class PasswordDialog : public QDialog {
 public:
  // connection: "ldaps://dir.example.com (ACME_TREE)"; account: the bind DN.
  PasswordDialog(const std::string& connection, const std::string& account, QWidget* parent = nullptr);

  std::string Password() const;

  QLabel* Prompt;
  QLineEdit* EditPassword;
  QDialogButtonBox* Buttons;
};

}  // namespace vestrel
