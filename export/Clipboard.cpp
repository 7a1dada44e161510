#include "export/Clipboard.h"

namespace vestrel {
namespace {

MemoryClipboard& DefaultClipboard() {
  static MemoryClipboard clipboard;
  return clipboard;
}

ClipboardSeam* installed = nullptr;

}  // namespace

ClipboardSeam& Clipboard() { return installed ? *installed : DefaultClipboard(); }

void InstallClipboard(ClipboardSeam* clipboard) { installed = clipboard; }

}  // namespace vestrel
