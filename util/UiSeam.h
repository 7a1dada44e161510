// The user-interface seam: message boxes, the confirmation, the sign-in, the application
// cursor and the message pump. The window installs a Qt implementation; tests install a recording
// one; without either, boxes go to standard error and confirmations answer "no".
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vestrel {

enum class DialogKind { Warning = 0, Error = 1, Information = 2, Confirmation = 3, Plain = 4 };
enum class DialogButtons { Ok, OkCancel, OkAbort };
enum class DialogResult { Ok, Cancel, Abort };
enum class CursorKind { Default, Hourglass };

class UiSeam {
 public:
  virtual ~UiSeam() = default;
  // A modal message box; returns the button that closed it.
  virtual DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) = 0;
  // Asks for the password of account on a directory connection (named as messages name
  // it); refusal, when not empty, is why the server refused the password given before.
  // False when the user cancels. The password is never shown, kept or logged. A seam
  // without a window never asks.
  virtual bool AskPassword(const std::string& /*connection*/, const std::string& /*account*/,
                           const std::string& /*refusal*/, std::string& /*password*/) {
    return false;
  }
  // Asks the user to choose one of items in a small dialog (a title, a prompt above the
  // list); chosen receives the index of the choice. False when the user cancels. A seam
  // without a window never asks.
  virtual bool ChooseItem(const std::string& /*title*/, const std::string& /*prompt*/,
                          const std::vector<std::string>& /*items*/, int& /*chosen*/) {
    return false;
  }
  virtual CursorKind Cursor() const = 0;
  virtual void SetCursor(CursorKind cursor) = 0;
  // Lets pending window messages be processed.
  virtual void ProcessMessages() = 0;
  // Lets the window repaint and its timers run, but takes no command: what a window may
  // do while a call it made waits for a server.
  virtual void ProcessPaintMessages() {}
};

// A seam without a window: every box becomes one line on a stream (after a prefix),
// questions answer "no" (Cancel or Abort), a password is never asked for, and there are
// no messages to pump. Nothing destructive happens unattended.
class StreamUi : public UiSeam {
 public:
  explicit StreamUi(std::ostream& stream, std::string prefix = {});
  DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) override;
  CursorKind Cursor() const override { return cursor_; }
  void SetCursor(CursorKind cursor) override { cursor_ = cursor; }
  void ProcessMessages() override {}

 private:
  std::ostream& stream_;
  std::string prefix_;
  CursorKind cursor_ = CursorKind::Default;
};

// The seam in force; never null.
UiSeam& Ui();
// Installs a seam (not owned); nullptr restores the default console seam.
void InstallUiSeam(UiSeam* seam);

// Lets pending window messages be processed.
void ProcessMessages();
void ProcessPaintMessages();

}  // namespace vestrel
