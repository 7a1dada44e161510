#include "app/PasswordDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vestrel {

namespace {

QString FromText(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

PasswordDialog::PasswordDialog(const std::string& connection, const std::string& account, const std::string& refusal,
                               QWidget* parent)
    : QDialog(parent),
      Refusal(new QLabel(this)),
      Prompt(new QLabel(this)),
      EditPassword(new QLineEdit(this)),
      Buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
  setWindowTitle(QStringLiteral("Sign in"));
  // Names from the connections file are shown as they are, never as markup.
  Prompt->setTextFormat(Qt::PlainText);
  Prompt->setText(QStringLiteral("Password of %1\nfor %2:").arg(FromText(account), FromText(connection)));
  // The server's words come from the server: plain text as well.
  Refusal->setTextFormat(Qt::PlainText);
  Refusal->setWordWrap(true);
  Refusal->setText(QStringLiteral("%1\nTry again.").arg(FromText(refusal)));
  Refusal->setStyleSheet(QStringLiteral("color: #b00020;"));
  Refusal->setVisible(!refusal.empty());
  EditPassword->setEchoMode(QLineEdit::Password);
  // An empty password would sign in anonymously: OK waits for one.
  QPushButton* ok = Buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  connect(EditPassword, &QLineEdit::textChanged, ok, [ok](const QString& text) { ok->setEnabled(!text.isEmpty()); });
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Refusal);
  layout->addWidget(Prompt);
  layout->addWidget(EditPassword);
  layout->addWidget(Buttons);
  // Wide enough for a server's refusal on one line or two.
  setMinimumWidth(380);
  EditPassword->setFocus();
}

std::string PasswordDialog::Password() const { return EditPassword->text().toStdString(); }

}  // namespace vestrel
