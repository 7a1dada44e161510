// The whole run of vestrel-check: arguments, session, tree, then the scan or the health
// check, written to the given streams. Never throws; returns the exit code.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "check/CheckOptions.h"
#include "util/StringGrid.h"

namespace vestrel::check {

// Exit code for bad arguments and anything that keeps the check from being made.
inline constexpr int kExitUnknown = 3;

// The current time sync ages are measured against, in seconds since 1970 UTC. An empty
// clock means the directory's own time (the server's time of the tree's connection).
using CheckClock = std::function<std::int64_t()>;
std::int64_t SystemClockSeconds();

// Runs the program on the arguments after its name. The library's connection settings
// come from the environment: --connections and --tree-file set VESTREL_CONNECTIONS /
// VESTREL_TREE_FILE before the first library call.
int RunCheck(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
             const CheckClock& clock = {});

// The document of a grid as the main window's file export writes it (every line ending CR LF).
std::string GridDocument(const StringGrid& grid, GridFormat format);

}  // namespace vestrel::check
