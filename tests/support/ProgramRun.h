// A built program run as its own process, as cron or a monitoring system starts it: its
// exit code, both output streams, how long it took and the most memory it held. A run
// that outlives its time limit is ended by its pid and reported as such.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vestrel::testing {

struct ProgramRun {
  int code = -1;        // exit code; -1 when the program did not exit by itself
  int signal = 0;       // the signal that ended it (SIGKILL after the time limit)
  bool killed = false;  // it outlived the time limit
  double seconds = 0;
  long peakKiB = 0;  // its maximum resident set size
  std::string out;
  std::string err;
};

// Runs program with arguments in an environment of this process's variables without
// those named in removed, plus added ("NAME=value").
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds limit, const std::vector<std::string>& added = {},
                      const std::vector<std::string>& removed = {});

}  // namespace vestrel::testing
