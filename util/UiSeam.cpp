#include "util/UiSeam.h"

#include <cstdio>

namespace vestrel {
namespace {

// Without a window: boxes go to standard error, confirmations answer "no", so nothing
// destructive happens unattended.
class ConsoleUi final : public UiSeam {
 public:
  DialogResult MessageBox(DialogKind, const std::string& text, DialogButtons buttons) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    return buttons == DialogButtons::Ok ? DialogResult::Ok
           : buttons == DialogButtons::OkAbort ? DialogResult::Abort
                                               : DialogResult::Cancel;
  }
  CursorKind Cursor() const override { return cursor_; }
  void SetCursor(CursorKind cursor) override { cursor_ = cursor; }
  void ProcessMessages() override {}

 private:
  CursorKind cursor_ = CursorKind::Default;
};

ConsoleUi consoleUi;
UiSeam* installed = nullptr;

}  // namespace

UiSeam& Ui() { return installed ? *installed : consoleUi; }

void InstallUiSeam(UiSeam* seam) { installed = seam; }

void ProcessMessages() { Ui().ProcessMessages(); }

}  // namespace vestrel
