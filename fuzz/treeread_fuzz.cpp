// A tree file may hold any value. A tree that loads is connected and read the way the
// program reads it: both scans, every attribute of every object through ReadAttrLines and
// every server's partition list. Nothing may crash, read outside a value, or leave a
// library buffer, iteration or context behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "directory/D_NW.h"
#include "directory/NETWIN32.h"
#include "platform/nwclient/Engine.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"
#include "scan/Scans.h"
#include "util/UiSeam.h"

namespace {

using namespace vestrel;

// No boxes, no waiting: the search reports unreadable objects through message boxes.
class SilentUi : public UiSeam {
 public:
  DialogResult MessageBox(DialogKind, const std::string&, DialogButtons) override { return DialogResult::Ok; }
  CursorKind Cursor() const override { return cursor_; }
  void SetCursor(CursorKind cursor) override { cursor_ = cursor; }
  void ProcessMessages() override {}

 private:
  CursorKind cursor_ = CursorKind::Default;
};

void ReadEverything(NWDSContextHandle context, const nw::Tree& tree) {
  StringGrid grid(5, 2);
  ScanServers(context, grid, {});
  ScanPartitions(context, grid, {});
  for (const nw::Object* object : tree.Objects()) {
    const std::string name = object->FullName();
    for (const nw::Attribute& attr : nw::EffectiveAttributes(tree, *object)) {
      std::string text;
      ReadAttrLines(context, name, attr.name, text);
    }
    if (object->server) {
      TextList names;
      TextList rows;
      GetServerPartitions(context, name, names, rows);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static SilentUi ui;
  InstallUiSeam(&ui);
  nwtest::Reset();
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (!nwtest::ConnectTreeJson(text, "", true).empty()) return 0;
  const nw::Tree* tree = nwtest::FindTree(nw::TheEngine().Connections().front().source->TreeName());
  NWDSContextHandle context = 0;
  if (DSContextCreate(&context) != 0) std::abort();
  if (DSChangeCurrentTree(context, tree->name, false) == 0) {
    ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
    SetNameContext(context, "[Root]");
    // Nothing may escape: an exception leaving a scan would end the program.
    ReadEverything(context, *tree);
  }
  DSContextFree(context);
  if (nwtest::OpenContexts() != 0 || nwtest::OpenBuffers() != 0 || nwtest::OpenIterations() != 0) std::abort();
  nwtest::Reset();
  return 0;
}
