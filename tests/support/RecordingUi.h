// A user-interface seam for tests: records every message box and password request,
// answers confirmations and sign-ins as told, never blocks. Installed for its lifetime.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "util/UiSeam.h"

namespace vestrel::testing {

struct RecordedBox {
  DialogKind kind;
  std::string text;
  DialogButtons buttons;
  bool operator==(const RecordedBox&) const = default;
};

class RecordingUi : public UiSeam {
 public:
  RecordingUi();
  ~RecordingUi() override;
  RecordingUi(const RecordingUi&) = delete;
  RecordingUi& operator=(const RecordingUi&) = delete;

  DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) override;
  bool AskPassword(const std::string& connection, const std::string& account, const std::string& refusal,
                   std::string& password) override;
  CursorKind Cursor() const override { return cursor_; }
  void SetCursor(CursorKind cursor) override;
  void ProcessMessages() override;
  void ProcessPaintMessages() override;

  // Answers for the next boxes, in order; when none is queued, boxes answer defaultAnswer.
  void QueueAnswer(DialogResult answer) { answers_.push_back(answer); }
  DialogResult defaultAnswer = DialogResult::Ok;
  // The password for the next sign-in, in order; std::nullopt (and an empty queue) cancels it.
  void QueuePassword(std::optional<std::string> password) { passwords_.push_back(std::move(password)); }

  // Runs once per ProcessMessages call (for example to simulate a click during a scan).
  std::function<void()> onProcessMessages;
  int processPaintMessagesCalls = 0;

  std::vector<RecordedBox> boxes;
  struct PasswordRequest {
    std::string connection;
    std::string account;
    std::string refusal;  // empty when asked the first time
  };
  std::vector<PasswordRequest> passwordRequests;
  std::vector<CursorKind> cursorChanges;
  int processMessagesCalls = 0;

  std::vector<std::string> Texts() const;

 private:
  std::deque<DialogResult> answers_;
  std::deque<std::optional<std::string>> passwords_;
  CursorKind cursor_ = CursorKind::Default;
};

}  // namespace vestrel::testing
