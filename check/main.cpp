// vestrel-check: the main window's scans and a replica health check without a display.
#include <iostream>
#include <string>
#include <vector>

#include "check/CheckRun.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(true);
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  return vestrel::check::RunCheck(arguments, std::cout, std::cerr);
}
