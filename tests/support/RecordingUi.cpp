#include "RecordingUi.h"

namespace vestrel::testing {

RecordingUi::RecordingUi() { InstallUiSeam(this); }

RecordingUi::~RecordingUi() { InstallUiSeam(nullptr); }

DialogResult RecordingUi::MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) {
  boxes.push_back({kind, text, buttons});
  if (answers_.empty()) return defaultAnswer;
  DialogResult answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void RecordingUi::SetCursor(CursorKind cursor) {
  cursor_ = cursor;
  cursorChanges.push_back(cursor);
}

void RecordingUi::ProcessMessages() {
  ++processMessagesCalls;
  if (onProcessMessages) onProcessMessages();
}

std::vector<std::string> RecordingUi::Texts() const {
  std::vector<std::string> texts;
  for (const auto& box : boxes) texts.push_back(box.text);
  return texts;
}

}  // namespace vestrel::testing
