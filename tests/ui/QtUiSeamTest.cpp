// The window's message boxes, sign-in dialog and cursor: what each kind of box looks
// like, which button answers, and that the hourglass never stacks.
#include "app/QtUiSeam.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/PasswordDialog.h"
#include "app/Vestrel_main.h"

namespace vestrel {
namespace {

struct KindCase {
  DialogKind kind;
  QMessageBox::Icon icon;
  QString title;
};

TEST(QtUiSeam, EachKindOfBoxHasItsIconAndTitle) {
  const KindCase cases[] = {
      {DialogKind::Warning, QMessageBox::Warning, "Warning"},
      {DialogKind::Error, QMessageBox::Critical, "Error"},
      {DialogKind::Information, QMessageBox::Information, "Information"},
      {DialogKind::Confirmation, QMessageBox::Question, "Confirm"},
      {DialogKind::Plain, QMessageBox::NoIcon, QString::fromLatin1(kApplicationTitle)},
  };
  for (const KindCase& c : cases) {
    auto box = CreateMessageBox(c.kind, "line 1\r\nline <b>2</b>", DialogButtons::Ok);
    EXPECT_EQ(box->icon(), c.icon) << c.title.toStdString();
    EXPECT_EQ(box->windowTitle(), c.title);
    // Texts from the directory are shown as they are, never as markup.
    EXPECT_EQ(box->text(), "line 1\nline <b>2</b>");
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
  }
}

TEST(QtUiSeam, OkIsTheDefaultAndTheOtherButtonAnswersEscape) {
  auto ok = CreateMessageBox(DialogKind::Information, "x", DialogButtons::Ok);
  EXPECT_EQ(ok->standardButtons(), QMessageBox::Ok);
  EXPECT_EQ(static_cast<QAbstractButton*>(ok->defaultButton()), ok->button(QMessageBox::Ok));
  EXPECT_EQ(ok->escapeButton(), ok->button(QMessageBox::Ok));

  auto okCancel = CreateMessageBox(DialogKind::Warning, "x", DialogButtons::OkCancel);
  EXPECT_EQ(okCancel->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(static_cast<QAbstractButton*>(okCancel->defaultButton()), okCancel->button(QMessageBox::Ok));
  EXPECT_EQ(okCancel->escapeButton(), okCancel->button(QMessageBox::Cancel));

  auto okAbort = CreateMessageBox(DialogKind::Confirmation, "x", DialogButtons::OkAbort);
  EXPECT_EQ(okAbort->standardButtons(), QMessageBox::Ok | QMessageBox::Abort);
  EXPECT_EQ(static_cast<QAbstractButton*>(okAbort->defaultButton()), okAbort->button(QMessageBox::Ok));
  EXPECT_EQ(okAbort->escapeButton(), okAbort->button(QMessageBox::Abort));

  EXPECT_EQ(ResultOfButton(QMessageBox::Ok), DialogResult::Ok);
  EXPECT_EQ(ResultOfButton(QMessageBox::Cancel), DialogResult::Cancel);
  EXPECT_EQ(ResultOfButton(QMessageBox::Abort), DialogResult::Abort);
}

// Answers the next modal box with a key, as a user would.
void AnswerNextBoxWith(Qt::Key key) {
  QTimer::singleShot(0, [key] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, key);
  });
}

TEST(QtUiSeam, TheShownBoxAnswersWithTheButtonPressed) {
  QtUiSeam ui;
  AnswerNextBoxWith(Qt::Key_Return);
  EXPECT_EQ(ui.MessageBox(DialogKind::Confirmation, "Are you sure?", DialogButtons::OkCancel), DialogResult::Ok);
  AnswerNextBoxWith(Qt::Key_Escape);
  EXPECT_EQ(ui.MessageBox(DialogKind::Confirmation, "Are you sure?", DialogButtons::OkCancel),
            DialogResult::Cancel);
  AnswerNextBoxWith(Qt::Key_Escape);
  EXPECT_EQ(ui.MessageBox(DialogKind::Error, "failed", DialogButtons::OkAbort), DialogResult::Abort);
  AnswerNextBoxWith(Qt::Key_Escape);
  EXPECT_EQ(ui.MessageBox(DialogKind::Information, "done", DialogButtons::Ok), DialogResult::Ok);
}

// The sign-in dialog: the connection and account named, the text hidden, OK only with a
// password; Return answers it, Escape cancels.
TEST(QtUiSeam, ThePasswordDialogHidesTheTextAndAnswersOkOrCancel) {
  QtUiSeam ui;
  QTimer::singleShot(0, [] {
    auto* dialog = dynamic_cast<PasswordDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->Prompt->text(), "Password of cn=admin,o=<b>ACME</b>\nfor ldaps://dir.example.com (ACME_TREE):");
    EXPECT_EQ(dialog->EditPassword->echoMode(), QLineEdit::Password);
    QPushButton* ok = dialog->Buttons->button(QDialogButtonBox::Ok);
    EXPECT_FALSE(ok->isEnabled());
    QTest::keyClicks(dialog->EditPassword, QStringLiteral("gEh"));
    EXPECT_TRUE(ok->isEnabled());
    dialog->EditPassword->insert(QString::fromUtf8("\xC3\xA9im"));  // typed with a compose key
    QTest::keyClick(dialog->EditPassword, Qt::Key_Return);
  });
  std::string password;
  EXPECT_TRUE(ui.AskPassword("ldaps://dir.example.com (ACME_TREE)", "cn=admin,o=<b>ACME</b>", "", password));
  EXPECT_EQ(password, "gEh\xC3\xA9im");

  AnswerNextBoxWith(Qt::Key_Escape);
  password.clear();
  EXPECT_FALSE(ui.AskPassword("ldaps://dir.example.com (ACME_TREE)", "cn=admin,o=ACME", "", password));
  EXPECT_EQ(password, "");
}

// Asked again after a refusal: the server's words above the prompt, as plain text, and
// an empty field; asked the first time, no refusal line.
TEST(QtUiSeam, ThePasswordDialogAskedAgainShowsTheServersRefusal) {
  const std::string refusal = "sign-in as cn=admin,o=ACME failed: Invalid credentials <b>(NDS error: -669)</b>";
  const PasswordDialog first("ldaps://dir.example.com (ACME_TREE)", "cn=admin,o=ACME");
  EXPECT_TRUE(first.Refusal->isHidden());
  QtUiSeam ui;
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<PasswordDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->Refusal->isHidden());
    EXPECT_EQ(dialog->Refusal->textFormat(), Qt::PlainText);
    EXPECT_EQ(dialog->Refusal->text().toStdString(), refusal + "\nTry again.");
    EXPECT_EQ(dialog->EditPassword->text(), "");
    QTest::keyClicks(dialog->EditPassword, QStringLiteral("second"));
    QTest::keyClick(dialog->EditPassword, Qt::Key_Return);
  });
  std::string password = "first";
  EXPECT_TRUE(ui.AskPassword("ldaps://dir.example.com (ACME_TREE)", "cn=admin,o=ACME", refusal, password));
  EXPECT_EQ(password, "second");
}

TEST(QtUiSeam, TheHourglassIsOneOverrideAndTheDefaultRemovesEveryOverride) {
  QtUiSeam ui;
  EXPECT_EQ(ui.Cursor(), CursorKind::Default);
  ui.SetCursor(CursorKind::Hourglass);
  ui.SetCursor(CursorKind::Hourglass);
  EXPECT_EQ(ui.Cursor(), CursorKind::Hourglass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  QGuiApplication::restoreOverrideCursor();
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  QGuiApplication::setOverrideCursor(Qt::IBeamCursor);
  ui.SetCursor(CursorKind::Hourglass);
  EXPECT_EQ(ui.Cursor(), CursorKind::Hourglass);
  ui.SetCursor(CursorKind::Default);
  EXPECT_EQ(ui.Cursor(), CursorKind::Default);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(QtUiSeam, ABoxDuringTheHourglassKeepsItAfterwards) {
  QtUiSeam ui;
  ui.SetCursor(CursorKind::Hourglass);
  AnswerNextBoxWith(Qt::Key_Return);
  ui.MessageBox(DialogKind::Warning, "x", DialogButtons::Ok);
  EXPECT_EQ(ui.Cursor(), CursorKind::Hourglass);
  ui.SetCursor(CursorKind::Default);
}

TEST(QtUiSeam, ProcessMessagesRunsPendingEvents) {
  QtUiSeam ui;
  bool ran = false;
  QTimer::singleShot(0, [&ran] { ran = true; });
  ui.ProcessMessages();
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace vestrel
