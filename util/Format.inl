#pragma once
#include <fmt/printf.h>

namespace vestrel {
template <typename... Args>
std::string Format(std::string_view format, const Args&... args) {
  return fmt::sprintf(format, args...);
}
}  // namespace vestrel
