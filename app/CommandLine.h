// The window's command line: `vestrel --help` and `vestrel --version` answer on standard
// output and end the program before any window or display is touched. Every other
// argument is left to Qt, as before.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace vestrel {

// The exit code when the arguments asked for help or the version (after printing it to
// out); nothing when the window is to open.
std::optional<int> AnswerCommandLine(int argc, const char* const* argv, std::ostream& out);

std::string WindowUsageText();
std::string WindowVersionText();  // "vestrel 1.0.4"

}  // namespace vestrel
