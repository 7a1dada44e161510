// Application-file stream decoding on random bytes. The first byte picks the attribute
// name and whether the stream starts with the "AOT FILE" mark; the bytes are decoded
// both in a zero-filled stream buffer, as the reader does, and in a block of exactly
// their size, which must not be read past either.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "directory/D_NW_Format.h"
#include "util/D_Util.h"

namespace {

const char* const kNames[] = {"App:Macros", "App:Copy Files", "App:Inventory", "App:Program Groups",
                              "App:Other"};

void Decode(const std::vector<std::uint8_t>& buffer, std::size_t count, const std::string& name) {
  std::string text = "text";
  try {
    vestrel::DecodeAotStream(buffer, count, name, text);
  } catch (const vestrel::RangeCheckError&) {
    // Items longer than an item text can hold are failures of the read.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string name = kNames[(data[0] & 0x7F) % std::size(kNames)];
  std::vector<std::uint8_t> bytes;
  if (data[0] & 0x80) {
    const std::string mark = "AOT FILE";
    bytes.assign(mark.begin(), mark.end());
  }
  bytes.insert(bytes.end(), data + 1, data + size);
  if (bytes.size() > vestrel::StreamBufferSize) bytes.resize(vestrel::StreamBufferSize);

  std::vector<std::uint8_t> streamBuffer(vestrel::StreamBufferSize, 0);
  std::copy(bytes.begin(), bytes.end(), streamBuffer.begin());
  Decode(streamBuffer, bytes.size(), name);
  Decode(bytes, bytes.size(), name);
  return 0;
}
