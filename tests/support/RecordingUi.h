// A user-interface seam for tests: records every message box, answers confirmations as
// told, never blocks. Installed for its lifetime.
#pragma once

#include <deque>
#include <functional>
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
  CursorKind Cursor() const override { return cursor_; }
  void SetCursor(CursorKind cursor) override;
  void ProcessMessages() override;

  // Answers for the next boxes, in order; when none is queued, boxes answer defaultAnswer.
  void QueueAnswer(DialogResult answer) { answers_.push_back(answer); }
  DialogResult defaultAnswer = DialogResult::Ok;

  // Runs once per ProcessMessages call (for example to simulate a click during a scan).
  std::function<void()> onProcessMessages;

  std::vector<RecordedBox> boxes;
  std::vector<CursorKind> cursorChanges;
  int processMessagesCalls = 0;

  std::vector<std::string> Texts() const;

 private:
  std::deque<DialogResult> answers_;
  CursorKind cursor_ = CursorKind::Default;
};

}  // namespace vestrel::testing
