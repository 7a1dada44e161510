// What a read reports about the values besides their text: the size and syntax of the
// last value, the value count and, per value, its flags and modification time stamp.
#pragma once

#include <cstdint>

#include "directory/NTypes.h"

namespace vestrel {

struct ValueDetail {
  nuint32 flags = 0;
  TimeStamp_T modificationTime{};  // seconds since 1970 UTC, replica number, event number
};

constexpr int kMaxValueDetails = 100;

struct AttrValueInfo {
  nuint32 valueSize = 0;   // size in bytes of the last value read
  nuint32 syntaxId = 0;
  // Attribute-definition area; no operation fills it, it stays zero.
  std::uint8_t attrDefinition[52] = {};
  nuint32 valueCount = 0;
  // Numbered from 1; only entries 1 to kMaxValueDetails are filled.
  ValueDetail details[kMaxValueDetails + 1] = {};
};

}  // namespace vestrel
