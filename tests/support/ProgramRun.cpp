#include "ProgramRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vestrel::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadAndRemove(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  return text.str();
}

std::vector<std::string> Environment(const std::vector<std::string>& added, const std::vector<std::string>& removed) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool keep = true;
    for (const std::string& gone : removed) keep = keep && name != gone;
    if (keep) env.push_back(text);
  }
  env.insert(env.end(), added.begin(), added.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds limit, const std::vector<std::string>& added,
                      const std::vector<std::string>& removed) {
  char folderPattern[] = "/tmp/vestrel-run-XXXXXX";
  const std::string folder = mkdtemp(folderPattern) ? folderPattern : "/tmp";
  const std::string outPath = folder + "/out", errPath = folder + "/err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env = Environment(added, removed);
  std::vector<char*> argp = Pointers(argv), envp = Pointers(env);

  ProgramRun run;
  pid_t pid = 0;
  const Clock::time_point start = Clock::now();
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    run.err = "cannot start " + program;
    return run;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, WNOHANG, &usage) == 0) {
    if (!run.killed && Clock::now() - start > limit) {
      kill(pid, SIGKILL);
      run.killed = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peakKiB = usage.ru_maxrss;
  if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.out = ReadAndRemove(outPath);
  run.err = ReadAndRemove(errPath);
  rmdir(folder.c_str());
  return run;
}

}  // namespace vestrel::testing
