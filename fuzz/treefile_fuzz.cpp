// Tree files are read from disk and may be anything: the loader must turn every input
// into a tree or a LoadError, never a crash or a read outside its input. Loaded trees
// are also read back through the derived values, which walk the rings and names.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/nwclient/Model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    auto tree = vestrel::nw::LoadTreeText(text, "fuzz.json");
    for (const vestrel::nw::Object* obj : tree->Objects()) vestrel::nw::EffectiveAttributes(*tree, *obj);
  } catch (const vestrel::nw::LoadError&) {
  }
  return 0;
}
