// Reads sections and keys from arbitrary bytes as a profile (INI) file, and edits them:
// nothing may read outside the input, and an edit must read back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/ProfileText.h"

namespace {

// The first bytes choose the names looked up, so that the fuzzer can hit the sections
// and keys it builds.
std::string_view TakeName(std::string_view& input) {
  if (input.empty()) return {};
  const std::size_t length = static_cast<unsigned char>(input.front()) % 16;
  input.remove_prefix(1);
  const std::string_view name = input.substr(0, length);
  input.remove_prefix(name.size());
  return name;
}

bool HoldsLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view section = TakeName(input);
  const std::string_view key = TakeName(input);
  const std::string_view text = input;

  (void)vestrel::FindProfileValue(text, section, key);
  (void)vestrel::ProfileSectionEntries(text, section);
  (void)vestrel::UnquotedProfileValue(text);

  // Names a profile line can hold: what is written must be what is read.
  const bool writable = !HoldsLineBreak(section) && section.find(']') == std::string_view::npos &&
                        !HoldsLineBreak(key) && key.find('=') == std::string_view::npos &&
                        section.find_first_not_of(" \t") == 0 && key.find_first_not_of(" \t") == 0 &&
                        section.find_last_not_of(" \t") == section.size() - 1 &&
                        key.find_last_not_of(" \t") == key.size() - 1 && key.front() != ';' && key.front() != '#' &&
                        key.front() != '[';
  if (writable) {
    const std::string written = vestrel::WithProfileValue(text, section, key, "value");
    if (vestrel::FindProfileValue(written, section, key) != "value") std::abort();
  }
  return 0;
}
