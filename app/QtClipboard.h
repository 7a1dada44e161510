// The desktop's clipboard behind the export layer's clipboard seam. Texts cross the seam
// as UTF-8 and live on the desktop's clipboard as Unicode text.
#pragma once

#include <string>

#include "export/Clipboard.h"

namespace vestrel {

class QtClipboard final : public ClipboardSeam {
 public:
  void SetText(const std::string& text) override;
  std::string Text() const override;
};

}  // namespace vestrel
