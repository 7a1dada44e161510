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

bool RecordingUi::AskPassword(const std::string& connection, const std::string& account, const std::string& refusal,
                              std::string& password) {
  passwordRequests.push_back({connection, account, refusal});
  if (passwords_.empty()) return false;
  const std::optional<std::string> answer = std::move(passwords_.front());
  passwords_.pop_front();
  if (answer) password = *answer;
  return answer.has_value();
}

bool RecordingUi::ChooseItem(const std::string& title, const std::string& prompt,
                             const std::vector<std::string>& items, int& chosen) {
  choices.push_back({title, prompt, items});
  if (choiceAnswers_.empty()) return false;
  const std::optional<std::string> answer = std::move(choiceAnswers_.front());
  choiceAnswers_.pop_front();
  if (!answer) return false;
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i] == *answer) {
      chosen = static_cast<int>(i);
      return true;
    }
  return false;
}

void RecordingUi::SetCursor(CursorKind cursor) {
  cursor_ = cursor;
  cursorChanges.push_back(cursor);
}

void RecordingUi::ProcessMessages() {
  ++processMessagesCalls;
  if (onProcessMessages) onProcessMessages();
}

void RecordingUi::ProcessPaintMessages() { ++processPaintMessagesCalls; }

std::vector<std::string> RecordingUi::Texts() const {
  std::vector<std::string> texts;
  for (const auto& box : boxes) texts.push_back(box.text);
  return texts;
}

}  // namespace vestrel::testing
