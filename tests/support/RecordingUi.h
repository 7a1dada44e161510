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
  bool ChooseItem(const std::string& title, const std::string& prompt, const std::vector<std::string>& items,
                  int& chosen) override;
  CursorKind Cursor() const override { return cursor_; }
  void SetCursor(CursorKind cursor) override;
  void ProcessMessages() override;
  void ProcessPaintMessages() override;

  // Answers for the next boxes, in order; when none is queued, boxes answer defaultAnswer.
  void QueueAnswer(DialogResult answer) { answers_.push_back(answer); }
  DialogResult defaultAnswer = DialogResult::Ok;
  // The password for the next sign-in, in order; std::nullopt (and an empty queue) cancels it.
  void QueuePassword(std::optional<std::string> password) { passwords_.push_back(std::move(password)); }

  // The item to choose in the next choice dialog, in order, by its text; std::nullopt (and
  // an empty queue) cancels it, as does a text that is not offered.
  void QueueChoice(std::optional<std::string> item) { choiceAnswers_.push_back(std::move(item)); }

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
  struct ChoiceRequest {
    std::string title;
    std::string prompt;
    std::vector<std::string> items;
  };
  std::vector<ChoiceRequest> choices;
  std::vector<CursorKind> cursorChanges;
  int processMessagesCalls = 0;

  std::vector<std::string> Texts() const;

 private:
  std::deque<DialogResult> answers_;
  std::deque<std::optional<std::string>> passwords_;
  std::deque<std::optional<std::string>> choiceAnswers_;
  CursorKind cursor_ = CursorKind::Default;
};

}  // namespace vestrel::testing
