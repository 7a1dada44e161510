#include "WorkbookReader.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

extern char** environ;

namespace vestrel::testing {
namespace {

std::string LogPath(const std::string& folder) { return folder + "/calls.log"; }

// Runs argv without a shell and gives what it wrote to its standard output; its standard
// error goes to the test's own. status is the program's exit status (-1 when it did not start).
std::string OutputOf(const std::vector<std::string>& argv, int& status) {
  status = -1;
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return {};
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  std::vector<char*> pointers;
  for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
  pointers.push_back(nullptr);
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t got; error == 0 && (got = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
    if (got > 0) output.append(buffer, static_cast<std::size_t>(got));
    else if (errno != EINTR) break;
  }
  ::close(pipeEnds[0]);
  int waitStatus = 0;
  if (error == 0 && ::waitpid(pid, &waitStatus, 0) == pid && WIFEXITED(waitStatus)) status = WEXITSTATUS(waitStatus);
  return output;
}

}  // namespace

DesktopOpenerStub::DesktopOpenerStub(int exitStatus, bool present, int sleepSeconds)
    : folder_("vestrel-opener"), path_("PATH", folder_.Path().c_str()) {
  if (!present) return;
  const std::string script = folder_.Path() + "/xdg-open";
  const std::string log = LogPath(folder_.Path());
  // Arguments end with NUL, calls with a line break.
  std::ofstream(script) << "#!/bin/sh\n"
                        << "for argument in \"$@\"; do printf '%s\\0' \"$argument\"; done >>'" << log << "'\n"
                        << "printf '\\n' >>'" << log << "'\n"
                        << (sleepSeconds > 0 ? "/bin/sleep " + std::to_string(sleepSeconds) + "\n" : "")
                        << "exit " << exitStatus << "\n";
  ::chmod(script.c_str(), 0755);
}

std::vector<std::vector<std::string>> DesktopOpenerStub::Calls() const {
  std::ifstream log(LogPath(folder_.Path()));
  std::vector<std::vector<std::string>> calls;
  for (std::string line; std::getline(log, line);) {
    std::vector<std::string>& call = calls.emplace_back();
    std::istringstream arguments(line);
    for (std::string argument; std::getline(arguments, argument, '\0');) call.push_back(argument);
  }
  return calls;
}

std::string Workbook::Text(int row, int col) const {
  const auto cell = cells.find({row, col});
  return cell == cells.end() ? std::string() : cell->second.text;
}

Workbook ReadWorkbook(const std::string& path) {
  Workbook workbook;
  int status = -1;
  const std::string output = OutputOf({VESTREL_PYTHON3, VESTREL_WORKBOOK_READER, path}, status);
  if (status != 0) {
    workbook.failure = "the reader ended with status " + std::to_string(status) + " on " + path;
    return workbook;
  }
  const nlohmann::json read = nlohmann::json::parse(output, nullptr, false);
  if (read.is_discarded()) {
    workbook.failure = "the reader's output is not JSON";
    return workbook;
  }
  workbook.sheets = read["sheets"].get<std::vector<std::string>>();
  for (const auto& cell : read["cells"]) {
    workbook.cells[{cell["row"].get<int>(), cell["col"].get<int>()}] = {
        cell["text"].get<std::string>(), cell["type"].get<std::string>(), cell["bold"].get<bool>(), cell["wrap"].get<bool>()};
  }
  for (const auto& column : read["widths"]) {
    for (int c = column["min"].get<int>(); c <= column["max"].get<int>(); ++c) workbook.widths[c] = column["width"].get<double>();
  }
  for (const auto& [row, height] : read["heights"].items()) workbook.heights[std::stoi(row)] = height.get<double>();
  return workbook;
}

}  // namespace vestrel::testing
