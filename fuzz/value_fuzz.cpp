// FormatAttrValue on random value memory. The first byte picks the syntax id (low five
// bits) and the attribute name (high three bits: octet layouts or none), the second
// which of the first eight pointer-sized slots of the memory become pointers; each such
// slot's bytes choose a place inside the memory, just outside it, or null. The memory is
// a heap block of exactly the value's size, so a read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "directory/D_NW_Format.h"
#include "util/D_Util.h"
#include "util/TextList.h"

namespace {

constexpr std::size_t kSlots = 8;
const char* const kAttrNames[] = {"Attr", "Partition Status", "Transitive Vector", "Printer Configuration",
                                  "Bindery Property", "Public Key", "snmpTrapDescription", "App:Path"};

void PlantPointers(std::uint8_t* memory, std::size_t size, std::uint8_t slotMask) {
  for (std::size_t slot = 0; slot < kSlots; ++slot) {
    const std::size_t at = slot * sizeof(void*);
    if (!(slotMask & (1u << slot)) || at + sizeof(void*) > size) continue;
    std::uint64_t seed = 0;
    std::memcpy(&seed, memory + at, sizeof seed);
    std::uintptr_t pointer = 0;
    if (seed != 0) {
      // From 16 bytes before the memory to 16 bytes past its end.
      const auto offset = static_cast<std::int64_t>(seed % (size + 33)) - 16;
      pointer = reinterpret_cast<std::uintptr_t>(memory) + static_cast<std::uintptr_t>(offset);
    }
    std::memcpy(memory + at, &pointer, sizeof pointer);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vestrel;
  if (size < 2) return 0;
  nuint32 syntaxId = data[0] % 32;
  if (syntaxId == SYN_STREAM) syntaxId = 40;  // streams are read from the directory, not from memory
  const std::size_t valueSize = size - 2;
  std::unique_ptr<std::uint8_t[]> memory(new std::uint8_t[valueSize + 1]);  // +1: never a zero-size block
  if (valueSize > 0) std::memcpy(memory.get(), data + 2, valueSize);
  PlantPointers(memory.get(), valueSize, data[1]);
  TextList lines;
  try {
    FormatAttrValue(0, "obj", kAttrNames[data[0] >> 5], lines, memory.get(), valueSize, syntaxId, 1 + (data[1] & 1));
  } catch (const RangeCheckError&) {
    // Malformed records are range failures.
  }
  return 0;
}
