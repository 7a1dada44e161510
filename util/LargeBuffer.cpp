#include "util/LargeBuffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace vestrel {

void AskForHugePages(void* data, std::size_t size) {
  constexpr std::uintptr_t kHugePage = kHugePageSize;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (start + size) & ~(kHugePage - 1);
  if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace vestrel
