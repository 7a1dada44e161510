// Working memory of many megabytes (documents, the lines of a huge cell). Where the system
// offers huge pages, such buffers ask for them: touched in fresh 4 KiB pages, tens of
// megabytes cost more in page faults than the work done in them (on a virtual machine a
// fault can cost ten microseconds).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace vestrel {

inline constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

// Asks for huge pages for the whole huge pages that lie inside [data, data + size); a
// hint only, which changes nothing where huge pages are not offered.
void AskForHugePages(void* data, std::size_t size);

// A vector allocator that gives buffers of a huge page or more in whole huge pages, and
// asks for huge pages for them.
template <typename T>
struct LargeBufferAllocator {
  using value_type = T;
  LargeBufferAllocator() = default;
  template <typename U>
  LargeBufferAllocator(const LargeBufferAllocator<U>&) {}

  T* allocate(std::size_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = count * sizeof(T);
    if (bytes < kHugePageSize) return static_cast<T*>(::operator new(bytes));
    void* data = ::operator new(WholeHugePages(bytes), std::align_val_t{kHugePageSize});
    AskForHugePages(data, WholeHugePages(bytes));
    return static_cast<T*>(data);
  }
  void deallocate(T* data, std::size_t count) {
    const std::size_t bytes = count * sizeof(T);
    if (bytes < kHugePageSize)
      ::operator delete(data);
    else
      ::operator delete(data, std::align_val_t{kHugePageSize});
  }
  friend bool operator==(const LargeBufferAllocator&, const LargeBufferAllocator&) { return true; }

 private:
  static std::size_t WholeHugePages(std::size_t bytes) { return (bytes + kHugePageSize - 1) / kHugePageSize * kHugePageSize; }
};

template <typename T>
using LargeVector = std::vector<T, LargeBufferAllocator<T>>;

}  // namespace vestrel
