#include "util/UiSeam.h"

#include <iostream>

namespace vestrel {

StreamUi::StreamUi(std::ostream& stream, std::string prefix) : stream_(stream), prefix_(std::move(prefix)) {}

DialogResult StreamUi::MessageBox(DialogKind, const std::string& text, DialogButtons buttons) {
  stream_ << prefix_ << text << '\n';
  stream_.flush();
  switch (buttons) {
    case DialogButtons::Ok: return DialogResult::Ok;
    case DialogButtons::OkAbort: return DialogResult::Abort;
    case DialogButtons::OkCancel: return DialogResult::Cancel;
  }
  return DialogResult::Cancel;
}

namespace {

// Without a window, boxes go to standard error.
StreamUi& ConsoleUi() {
  static StreamUi console(std::cerr);
  return console;
}

UiSeam* installed = nullptr;

}  // namespace

UiSeam& Ui() { return installed ? *installed : ConsoleUi(); }

void InstallUiSeam(UiSeam* seam) { installed = seam; }

void ProcessMessages() { Ui().ProcessMessages(); }
void ProcessPaintMessages() { Ui().ProcessPaintMessages(); }

}  // namespace vestrel
