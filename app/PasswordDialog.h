// The sign-in dialog: asks for the password of an account on a directory connection at
// start, and again, with the server's refusal above the prompt, when the server refused
// the password given before. The typed text is shown as dots and leaves the dialog only
// through Password().
#pragma once

#include <QDialog>
#include <string>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

namespace vestrel {

class PasswordDialog : public QDialog {
 public:
  // connection: "ldaps://dir.example.com (ACME_TREE)"; account: the bind DN; refusal:
  // why the server refused the last password ("" when asking the first time).
  PasswordDialog(const std::string& connection, const std::string& account, const std::string& refusal = {},
                 QWidget* parent = nullptr);

  std::string Password() const;

  QLabel* Refusal;  // hidden when asking the first time
  QLabel* Prompt;
  QLineEdit* EditPassword;
  QDialogButtonBox* Buttons;
};

}  // namespace vestrel
