// D_Win: the program's small bridge to the desktop: per-user folders (the registry's shell
// folders mapped to their XDG counterparts), environment variables, and starting a
// program, document, web address or interpreter command from a command line. Nothing is
// ever run through a shell string except the interpreter's own built-in commands.
#pragma once

#include <string>
#include <vector>

namespace vestrel {

// ---- Registry and environment ----
enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users };

// The key path of the per-user shell folders.
inline constexpr const char* kShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The named string value of the key; empty when key or value is missing. The desktop has no
// registry: the one value known is the current user's shell folder "AppData", which is the
// XDG config folder ($XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config).
std::string ReadRegistryText(RegistryRoot root, const std::string& keyPath, const std::string& valueName);
// ReadRegistryText of the current user's shell folder (as "AppData").
std::string ShellFolderPath(const std::string& folderName);
// The value of an environment variable, empty when it is not set.
std::string EnvironmentText(const std::string& name);
// The user's cache folder: $XDG_CACHE_HOME when it is an absolute path, else $HOME/.cache;
// empty when there is no home either.
std::string UserCacheFolder();

// ---- Command lines ----
// The interpreter's built-in command words ("CD", "COPY", ... "VER"), case ignored.
bool IsShellBuiltin(const std::string& word);

// Shell-like result codes: above 32 means started.
inline constexpr int kShellStarted = 42;
inline constexpr int kShellOutOfResources = 0;
inline constexpr int kShellFileNotFound = 2;
inline constexpr int kShellPathNotFound = 3;
inline constexpr int kShellAccessDenied = 5;
inline constexpr int kShellOutOfMemory = 8;
inline constexpr int kShellBadFormat = 11;
inline constexpr int kShellNoAssociation = 31;  // no desktop opener to hand a document to

inline constexpr int kShowNormal = 1;

// What to start: never a shell string; arguments go to the program one by one.
struct ProcessStart {
  enum class Kind {
    Program,        // an executable file
    Interpreter,    // the command interpreter with "-c" and the whole command line
    DesktopOpener,  // "xdg-open" with a document, folder or web address
  };
  Kind kind = Kind::Program;
  std::string program;                 // a path, or a name looked up on PATH when searchPath
  std::vector<std::string> arguments;  // argv[1] onwards
  std::string directory;               // working folder; empty: the current one
  bool searchPath = false;
  bool operator==(const ProcessStart&) const = default;
};

// The process-starting seam; returns a shell-like result code.
class ProcessStarter {
 public:
  virtual ~ProcessStarter() = default;
  virtual int Start(const ProcessStart& start) = 0;
};
// Starts with posix_spawn and reaps finished children on later calls.
class SpawnProcessStarter final : public ProcessStarter {
 public:
  int Start(const ProcessStart& start) override;
};
// What hands target (a document, folder or web address) to the desktop's opener.
ProcessStart DesktopOpen(const std::string& target);

// How a program started and waited for ended.
struct ProcessOutcome {
  int startError = 0;     // the errno of a start that failed; 0 when it started
  bool finished = false;  // it ended within the patience given
  int exitStatus = 0;     // its exit status when it finished (128 + the signal when killed)
};
// Starts like SpawnProcessStarter and waits up to patienceMs milliseconds for the program to
// end. One still running then is left to run (and reaped later, like every started child).
ProcessOutcome StartAndAwait(const ProcessStart& start, int patienceMs);

// The starter in force; never null.
ProcessStarter& Processes();
// Installs a starter (not owned); nullptr restores the SpawnProcessStarter.
void InstallProcessStarter(ProcessStarter* starter);

// Starts what the command line names: an existing file, found word by word so that an
// unquoted path with blanks is recognised (executables are run in their own folder with the
// rest as blank-separated arguments, documents go to the desktop opener); a built-in word
// runs the whole line in the interpreter ($SHELL, else /bin/sh) with "-c"; otherwise the
// first word is a program on PATH or a web address (desktop opener). Returns the result
// code; reports nothing. The show mode is accepted for compatibility and not used.
int RunCommandLine(const std::string& commandLine, int showMode);
// RunCommandLine with kShowNormal.
int OpenCommandLine(const std::string& commandLine);

}  // namespace vestrel
