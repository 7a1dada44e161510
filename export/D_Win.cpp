#include "export/D_Win.h"

#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "util/D_Util.h"

extern char** environ;

namespace vestrel {
namespace {

// ---- Folders ----

std::string HomeFolder() {
  std::string home = EnvironmentText("HOME");
  if (!home.empty()) return home;
  const passwd* entry = ::getpwuid(::getuid());
  return entry && entry->pw_dir ? std::string(entry->pw_dir) : std::string();
}

// The XDG folder named by variable, else the folder of that name in the home folder.
std::string XdgFolder(const char* variable, const char* folderInHome) {
  const std::string folder = EnvironmentText(variable);
  // Relative values are invalid for XDG and are ignored.
  if (!folder.empty() && folder.front() == '/') return folder;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : TrimRightChars(home, "/") + "/" + folderInHome;
}

// ---- Files ----

bool IsExistingFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool IsExistingFolder(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// An executable of that name in one of the PATH folders.
bool IsProgramOnPath(const std::string& name) {
  std::string rest = EnvironmentText("PATH");
  while (!rest.empty()) {
    std::string folder;
    SplitText(rest, ":", folder, rest);
    // An empty entry is the current folder (push_back: GCC 12 misreads = "." as an overlap).
    if (folder.empty()) folder.push_back('.');
    if (IsExecutableFile(folder + "/" + name)) return true;
  }
  return false;
}

// The folder part of a path, up to and including its last "/"; empty without one.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The program is started after changing to its folder, so it needs a path that does not
// depend on the current one.
std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  std::array<char, 4096> buffer{};
  if (!::getcwd(buffer.data(), buffer.size())) return path;
  return TrimRightChars(buffer.data(), "/") + "/" + path;
}

std::vector<std::string> SplitAtBlanks(const std::string& text) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = text.find_first_not_of(' ', pos);
    if (start == std::string::npos) break;
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    words.push_back(text.substr(start, end - start));
    pos = end;
  }
  return words;
}

bool IsWebAddress(const std::string& word) {
  const std::size_t scheme = word.find("://");
  if (scheme != std::string::npos && scheme > 0) {
    return word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+.-") == scheme;
  }
  const std::string upper = UpperCaseAscii(word);
  return upper.starts_with("MAILTO:") || upper.starts_with("WWW.");
}

ProcessStart Interpreter(const std::string& commandLine) {
  std::string shell = EnvironmentText("SHELL");
  if (shell.empty()) shell = "/bin/sh";
  return {ProcessStart::Kind::Interpreter, shell, {"-c", commandLine}, "", true};
}

// ---- Starting ----

std::vector<pid_t>& StartedChildren() {
  static std::vector<pid_t> children;
  return children;
}

// Children run on their own; the finished ones are collected so none stays a zombie for long.
void ReapFinishedChildren() {
  std::vector<pid_t>& children = StartedChildren();
  std::erase_if(children, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

int ResultCodeOf(int error, ProcessStart::Kind kind) {
  switch (error) {
    case 0: return kShellStarted;
    case ENOENT: return kind == ProcessStart::Kind::DesktopOpener ? kShellNoAssociation : kShellFileNotFound;
    case ENOTDIR: return kShellPathNotFound;
    case EACCES:
    case EPERM: return kShellAccessDenied;
    case ENOMEM: return kShellOutOfMemory;
    case ENOEXEC: return kShellBadFormat;
    default: return kShellOutOfResources;
  }
}

// Starts the program without waiting for it; returns 0 or the errno of the failed start.
int Spawn(const ProcessStart& start, pid_t& pid) {
  ReapFinishedChildren();
  std::vector<std::string> argv{start.program};
  argv.insert(argv.end(), start.arguments.begin(), start.arguments.end());
  std::vector<char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) return EAGAIN;
  int error = 0;
  if (!start.directory.empty()) error = ::posix_spawn_file_actions_addchdir_np(&actions, start.directory.c_str());
  if (error == 0) {
    error = start.searchPath ? ::posix_spawnp(&pid, start.program.c_str(), &actions, nullptr, pointers.data(), environ)
                             : ::posix_spawn(&pid, start.program.c_str(), &actions, nullptr, pointers.data(), environ);
  }
  ::posix_spawn_file_actions_destroy(&actions);
  return error;
}

int StatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : 0;
}

SpawnProcessStarter& DefaultStarter() {
  static SpawnProcessStarter starter;
  return starter;
}

ProcessStarter* installedStarter = nullptr;

}  // namespace

std::string EnvironmentText(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::string(value) : std::string();
}

std::string ReadRegistryText(RegistryRoot root, const std::string& keyPath, const std::string& valueName) {
  if (root == RegistryRoot::CurrentUser && EqualsNoCase(keyPath, kShellFoldersKey) && EqualsNoCase(valueName, "AppData")) {
    return XdgFolder("XDG_CONFIG_HOME", ".config");
  }
  return {};
}

std::string UserCacheFolder() { return XdgFolder("XDG_CACHE_HOME", ".cache"); }

std::string ShellFolderPath(const std::string& folderName) {
  return ReadRegistryText(RegistryRoot::CurrentUser, kShellFoldersKey, folderName);
}

bool IsShellBuiltin(const std::string& word) {
  static constexpr std::array<std::string_view, 15> builtins{"CD",  "COPY", "DEL", "DIR", "ECHO",     "MD",   "PATH", "PROMPT",
                                                             "REM", "REN",  "RD",  "SET", "TRUENAME", "TYPE", "VER"};
  return TextInList(word, builtins, false);
}

int SpawnProcessStarter::Start(const ProcessStart& start) {
  pid_t pid = 0;
  const int error = Spawn(start, pid);
  if (error == 0) StartedChildren().push_back(pid);
  return ResultCodeOf(error, start.kind);
}

ProcessStart DesktopOpen(const std::string& target) {
  return {ProcessStart::Kind::DesktopOpener, "xdg-open", {target}, "", true};
}

ProcessOutcome StartAndAwait(const ProcessStart& start, int patienceMs) {
  ProcessOutcome outcome;
  pid_t pid = 0;
  outcome.startError = Spawn(start, pid);
  if (outcome.startError != 0) return outcome;
  constexpr int kPollMs = 10;
  for (int waited = 0;; waited += kPollMs) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      outcome.finished = true;
      outcome.exitStatus = done == pid ? StatusOf(status) : 0;
      return outcome;
    }
    if (waited >= patienceMs) break;
    ::usleep(kPollMs * 1000);
  }
  StartedChildren().push_back(pid);
  return outcome;
}

ProcessStarter& Processes() { return installedStarter ? *installedStarter : DefaultStarter(); }

void InstallProcessStarter(ProcessStarter* starter) { installedStarter = starter; }

int RunCommandLine(const std::string& commandLine, int /*showMode*/) {
  // Longest existing file: add word after word until the words name a file, so that an
  // unquoted path with blanks is found; an empty word (two blanks) ends the search.
  std::string rest = commandLine;
  std::string program;
  std::string word;
  bool found = false;
  do {
    SplitText(rest, " ", word, rest);
    program = JoinNonEmpty(program, word, " ");
    found = IsExistingFile(program);
  } while (!found && !word.empty());

  if (found) {
    if (!IsExecutableFile(program)) return Processes().Start(DesktopOpen(program));
    return Processes().Start({ProcessStart::Kind::Program, AbsolutePath(program), SplitAtBlanks(rest),
                              FolderOf(program), false});
  }

  std::string first;
  std::string remainder;
  SplitText(commandLine, " ", first, remainder);
  if (IsShellBuiltin(first)) return Processes().Start(Interpreter(commandLine));
  if (first.empty()) return kShellFileNotFound;
  if (IsWebAddress(first) || IsExistingFolder(first)) return Processes().Start(DesktopOpen(first));
  if (first.find('/') == std::string::npos && IsProgramOnPath(first)) {
    return Processes().Start({ProcessStart::Kind::Program, first, SplitAtBlanks(remainder), "", true});
  }
  return kShellFileNotFound;
}

int OpenCommandLine(const std::string& commandLine) { return RunCommandLine(commandLine, kShowNormal); }

}  // namespace vestrel
