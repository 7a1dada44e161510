#include "app/QtUiSeam.h"

#include <QApplication>
#include <QCursor>
#include <QInputDialog>

#include "app/PasswordDialog.h"
#include "app/Vestrel_main.h"

namespace vestrel {
namespace {

struct KindLook {
  QMessageBox::Icon icon;
  const char* title;  // nullptr: the application title
};

KindLook LookOfKind(DialogKind kind) {
  switch (kind) {
    case DialogKind::Warning:
      return {QMessageBox::Warning, "Warning"};
    case DialogKind::Error:
      return {QMessageBox::Critical, "Error"};
    case DialogKind::Information:
      return {QMessageBox::Information, "Information"};
    case DialogKind::Confirmation:
      return {QMessageBox::Question, "Confirm"};
    case DialogKind::Plain:
      break;
  }
  return {QMessageBox::NoIcon, nullptr};
}

QMessageBox::StandardButton SecondButton(DialogButtons buttons) {
  switch (buttons) {
    case DialogButtons::OkCancel:
      return QMessageBox::Cancel;
    case DialogButtons::OkAbort:
      return QMessageBox::Abort;
    case DialogButtons::Ok:
      break;
  }
  return QMessageBox::NoButton;
}

// Boxes belong to the window the user is working in, so they stay in front of it.
QWidget* BoxParent() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

}  // namespace

std::unique_ptr<QMessageBox> CreateMessageBox(DialogKind kind, const std::string& text, DialogButtons buttons,
                                              QWidget* parent) {
  const KindLook look = LookOfKind(kind);
  const QString title = QString::fromLatin1(look.title ? look.title : kApplicationTitle);
  QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  message.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  auto box = std::make_unique<QMessageBox>(look.icon, title, message, QMessageBox::Ok, parent);
  box->setTextFormat(Qt::PlainText);
  const QMessageBox::StandardButton second = SecondButton(buttons);
  if (second != QMessageBox::NoButton) {
    box->addButton(second);
    box->setEscapeButton(second);
  } else {
    box->setEscapeButton(QMessageBox::Ok);
  }
  box->setDefaultButton(QMessageBox::Ok);
  return box;
}

DialogResult ResultOfButton(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Cancel:
      return DialogResult::Cancel;
    case QMessageBox::Abort:
      return DialogResult::Abort;
    default:
      return DialogResult::Ok;
  }
}

namespace {

// Shows a modal dialog; the hourglass of a running command must not hide the arrow over it.
int ExecWithArrow(QDialog& dialog, bool hourglass) {
  if (hourglass) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  const int result = dialog.exec();
  if (hourglass) QGuiApplication::restoreOverrideCursor();
  return result;
}

}  // namespace

DialogResult QtUiSeam::MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) {
  std::unique_ptr<QMessageBox> box = CreateMessageBox(kind, text, buttons, BoxParent());
  ExecWithArrow(*box, Cursor() == CursorKind::Hourglass);
  return ResultOfButton(box->standardButton(box->clickedButton()));
}

bool QtUiSeam::AskPassword(const std::string& connection, const std::string& account, const std::string& refusal,
                           std::string& password) {
  PasswordDialog dialog(connection, account, refusal, BoxParent());
  if (ExecWithArrow(dialog, Cursor() == CursorKind::Hourglass) != QDialog::Accepted) return false;
  password = dialog.Password();
  return true;
}

bool QtUiSeam::ChooseItem(const std::string& title, const std::string& prompt, const std::vector<std::string>& items,
                          int& chosen) {
  if (items.empty()) return false;
  QStringList texts;
  for (const std::string& item : items) texts.push_back(QString::fromStdString(item));
  QInputDialog dialog(BoxParent());
  dialog.setObjectName(QStringLiteral("ChooseItemDialog"));
  dialog.setWindowTitle(QString::fromStdString(title));
  dialog.setLabelText(QString::fromStdString(prompt));
  dialog.setOption(QInputDialog::UseListViewForComboBoxItems);
  dialog.setComboBoxItems(texts);
  dialog.setComboBoxEditable(false);
  dialog.setTextValue(texts.front());
  if (ExecWithArrow(dialog, Cursor() == CursorKind::Hourglass) != QDialog::Accepted) return false;
  chosen = static_cast<int>(texts.indexOf(dialog.textValue()));
  return chosen >= 0;
}

CursorKind QtUiSeam::Cursor() const {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  return cursor && cursor->shape() == Qt::WaitCursor ? CursorKind::Hourglass : CursorKind::Default;
}

void QtUiSeam::SetCursor(CursorKind cursor) {
  if (cursor == CursorKind::Hourglass) {
    // One override at most, so restoring the default always removes it.
    if (QGuiApplication::overrideCursor()) {
      QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
    } else {
      QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    return;
  }
  while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
}

void QtUiSeam::ProcessMessages() { QCoreApplication::processEvents(); }

void QtUiSeam::ProcessPaintMessages() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

}  // namespace vestrel
