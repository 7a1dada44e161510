// Octet layouts on random octets: the first byte picks the attribute name (one past the
// table is a name without a layout), the second the value index; the rest are the
// octets, in a block of exactly their size.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "directory/D_NW_Format.h"
#include "util/D_Util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vestrel;
  if (size < 2) return 0;
  static const std::vector<std::string_view> names = OctetLayoutNames();
  const std::size_t choice = data[0] % (names.size() + 1);
  const std::string name = choice < names.size() ? std::string(names[choice]) : "No Such Layout";
  const int index = 1 + data[1] % 3;
  const std::vector<std::uint8_t> octets(data + 2, data + size);
  try {
    FormatOctetValue(std::span<const std::uint8_t>(octets.data(), octets.size()), name, index);
  } catch (const RangeCheckError&) {
    // Range failures are the formatter's answer to values it cannot show.
  }
  return 0;
}
