#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ExportTestSupport.h"
#include "TempConfigHome.h"
#include "export/D_Win.h"

namespace vestrel {
namespace {

using testing::ScratchFolder;
using ScopedEnv = testing::ScopedEnvironment;
using testing::WriteFile;

// Records what would be started and answers with a chosen code.
class RecordingStarter : public ProcessStarter {
 public:
  RecordingStarter() { InstallProcessStarter(this); }
  ~RecordingStarter() override { InstallProcessStarter(nullptr); }
  int Start(const ProcessStart& start) override {
    starts.push_back(start);
    return answer;
  }
  std::vector<ProcessStart> starts;
  int answer = kShellStarted;
};

void MakeExecutable(const std::string& path) {
  WriteFile(path, "#!/bin/sh\nexit 0\n");
  ::chmod(path.c_str(), 0755);
}

// ---- Folders and environment ----

TEST(ShellFolders, AppDataIsTheXdgConfigFolder) {
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/custom/config");
    EXPECT_EQ(ShellFolderPath("AppData"), "/custom/config");
    EXPECT_EQ(ReadRegistryText(RegistryRoot::CurrentUser, kShellFoldersKey, "appdata"), "/custom/config");
  }
  ScopedEnv home("HOME", "/home/someone/");
  for (const char* unusable : {"", "relative/config"}) {
    ScopedEnv config("XDG_CONFIG_HOME", unusable);
    EXPECT_EQ(ShellFolderPath("AppData"), "/home/someone/.config");
  }
  ScopedEnv config("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(ShellFolderPath("AppData"), "/home/someone/.config");
}

TEST(ShellFolders, TheCacheFolderIsXdgCacheElseTheOneInHome) {
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv cache("XDG_CACHE_HOME", "/custom/cache");
    EXPECT_EQ(UserCacheFolder(), "/custom/cache");
  }
  ScopedEnv cache("XDG_CACHE_HOME", "relative/cache");
  EXPECT_EQ(UserCacheFolder(), "/home/someone/.cache");
}

TEST(ShellFolders, OtherKeysAndValuesAreEmpty) {
  EXPECT_EQ(ShellFolderPath("Personal"), "");
  EXPECT_EQ(ReadRegistryText(RegistryRoot::LocalMachine, kShellFoldersKey, "AppData"), "");
  EXPECT_EQ(ReadRegistryText(RegistryRoot::CurrentUser, "Software\\Other", "AppData"), "");
}

TEST(Environment, UnsetVariablesAreEmpty) {
  ScopedEnv set("VESTREL_TEST_VAR", "value");
  EXPECT_EQ(EnvironmentText("VESTREL_TEST_VAR"), "value");
  ScopedEnv unset("VESTREL_TEST_VAR", nullptr);
  EXPECT_EQ(EnvironmentText("VESTREL_TEST_VAR"), "");
}

TEST(ShellBuiltins, FifteenWordsIgnoringCase) {
  for (const char* word : {"CD", "copy", "Del", "DIR", "ECHO", "MD", "PATH", "PROMPT", "REM", "REN", "RD", "SET",
                           "truename", "TYPE", "VER"}) {
    EXPECT_TRUE(IsShellBuiltin(word)) << word;
  }
  for (const char* word : {"", "CLS", "dir2", " dir", "EXIT"}) EXPECT_FALSE(IsShellBuiltin(word)) << word;
}

// ---- Command lines ----

class CommandLines : public ::testing::Test {
 protected:
  ScratchFolder folder;
  RecordingStarter starter;
};

TEST_F(CommandLines, BuiltinWordsRunInTheInterpreter) {
  {
    ScopedEnv shell("SHELL", "/bin/bash");
    EXPECT_EQ(RunCommandLine("dir /w", kShowNormal), kShellStarted);
  }
  ScopedEnv noShell("SHELL", nullptr);
  EXPECT_EQ(OpenCommandLine("ECHO a  b"), kShellStarted);
  ASSERT_EQ(starter.starts.size(), 2u);
  EXPECT_EQ(starter.starts[0], (ProcessStart{ProcessStart::Kind::Interpreter, "/bin/bash", {"-c", "dir /w"}, "", true}));
  EXPECT_EQ(starter.starts[1], (ProcessStart{ProcessStart::Kind::Interpreter, "/bin/sh", {"-c", "ECHO a  b"}, "", true}));
}

TEST_F(CommandLines, AnUnquotedPathWithBlanksIsFoundWordByWord) {
  std::filesystem::create_directories("My Tools");
  MakeExecutable("My Tools/run it");
  EXPECT_EQ(RunCommandLine("My Tools/run it -x  file", kShowNormal), kShellStarted);
  ASSERT_EQ(starter.starts.size(), 1u);
  const ProcessStart& start = starter.starts[0];
  EXPECT_EQ(start.kind, ProcessStart::Kind::Program);
  EXPECT_EQ(start.program, folder.Path() + "/My Tools/run it");
  EXPECT_EQ(start.arguments, (std::vector<std::string>{"-x", "file"}));
  EXPECT_EQ(start.directory, "My Tools/");
  EXPECT_FALSE(start.searchPath);
}

TEST_F(CommandLines, TwoBlanksEndTheFileScan) {
  std::filesystem::create_directories("My Tools");
  MakeExecutable("My Tools/run");
  // "My" is no file and the empty word stops the scan before "Tools/run" is tried.
  EXPECT_EQ(RunCommandLine("My  Tools/run", kShowNormal), kShellFileNotFound);
  EXPECT_TRUE(starter.starts.empty());
  // With a program on PATH as first word, the fallback starts it with the rest as arguments.
  EXPECT_EQ(RunCommandLine("sh  -c true", kShowNormal), kShellStarted);
  ASSERT_EQ(starter.starts.size(), 1u);
  EXPECT_EQ(starter.starts[0], (ProcessStart{ProcessStart::Kind::Program, "sh", {"-c", "true"}, "", true}));
}

TEST_F(CommandLines, DocumentsFoldersAndWebAddressesGoToTheDesktopOpener) {
  WriteFile("notes.txt", "text");
  std::filesystem::create_directories("docs");
  EXPECT_EQ(OpenCommandLine("notes.txt"), kShellStarted);
  EXPECT_EQ(OpenCommandLine("https://example.org/a?b=c"), kShellStarted);
  EXPECT_EQ(OpenCommandLine("docs"), kShellStarted);
  const std::vector<ProcessStart> expected{
      {ProcessStart::Kind::DesktopOpener, "xdg-open", {"notes.txt"}, "", true},
      {ProcessStart::Kind::DesktopOpener, "xdg-open", {"https://example.org/a?b=c"}, "", true},
      {ProcessStart::Kind::DesktopOpener, "xdg-open", {"docs"}, "", true}};
  EXPECT_EQ(starter.starts, expected);
}

TEST_F(CommandLines, NothingToStartIsFileNotFound) {
  EXPECT_EQ(OpenCommandLine(""), kShellFileNotFound);
  EXPECT_EQ(OpenCommandLine("no-such-program-vestrel arg"), kShellFileNotFound);
  EXPECT_EQ(OpenCommandLine("./missing; rm -rf x"), kShellFileNotFound);
  EXPECT_TRUE(starter.starts.empty());
}

TEST(ProcessStarting, RealStartsReportShellLikeCodes) {
  SpawnProcessStarter starter;
  EXPECT_EQ(starter.Start({ProcessStart::Kind::Program, "true", {}, "", true}), kShellStarted);
  EXPECT_EQ(starter.Start({ProcessStart::Kind::Program, "/no/such/program", {}, "", false}), kShellFileNotFound);
  EXPECT_EQ(starter.Start({ProcessStart::Kind::DesktopOpener, "no-such-opener-vestrel", {"x"}, "", true}),
            kShellNoAssociation);
  // The argument reaches the program unchanged: no shell sees it.
  ScratchFolder folder;
  EXPECT_EQ(starter.Start({ProcessStart::Kind::Program, "touch", {"a b; c"}, folder.Path(), true}), kShellStarted);
  for (int i = 0; i < 200 && !std::filesystem::exists("a b; c"); ++i) ::usleep(10000);
  EXPECT_EQ(folder.Listing(), "a b; c");
}

}  // namespace
}  // namespace vestrel
