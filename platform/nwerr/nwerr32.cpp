// placeholder
#include <cstdint>
extern "C" __attribute__((visibility("default"))) const char* NWstrerror(std::int32_t) { return "Unknown error"; }
