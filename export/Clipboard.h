// The clipboard seam: the text form of the clipboard. The window installs one backed by
// the desktop's clipboard; without it an in-memory clipboard serves headless runs and tests.
#pragma once

#include <string>

namespace vestrel {

class ClipboardSeam {
 public:
  virtual ~ClipboardSeam() = default;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;
};

// Holds the text in memory.
class MemoryClipboard final : public ClipboardSeam {
 public:
  void SetText(const std::string& text) override { text_ = text; }
  std::string Text() const override { return text_; }

 private:
  std::string text_;
};

// The clipboard in force; never null.
ClipboardSeam& Clipboard();
// Installs a clipboard (not owned); nullptr restores the in-memory one.
void InstallClipboard(ClipboardSeam* clipboard);

}  // namespace vestrel
