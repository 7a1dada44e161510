// The one way files are written: regular files replaced whole, special files written
// through or refused, permission bits honoured (by root too), names of any length.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "util/ReplaceFile.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The names in a folder, sorted, each followed by a blank.
std::string Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  std::string text;
  for (const std::string& name : names) text += name + " ";
  return text;
}

// The permission rule for an ordinary user: in a child process that became one (user and
// group 65534) when the tests run as root, else in this process.
bool AsOrdinaryUser(const std::function<bool()>& check) {
  if (::geteuid() != 0) return check();
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class ReplaceFile : public ::testing::Test {
 protected:
  ReplaceFile() {
    folder_ = fs::temp_directory_path() / ("vestrel-replace-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  ~ReplaceFile() override {
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  fs::path operator/(const std::string& name) const { return folder_ / name; }
  fs::path folder_;
};

TEST_F(ReplaceFile, RegularFilesAreReplacedWholeKeepingTheirModeAndNamesOfAnyLength) {
  ASSERT_TRUE(ReplaceFileContent((*this / "new.txt").string(), "one"));
  EXPECT_EQ(ReadFile(*this / "new.txt"), "one");
  ::chmod((*this / "new.txt").c_str(), 0640);
  const FileWriteResult again = ReplaceFileContent((*this / "new.txt").string(), "two");
  EXPECT_TRUE(again) << again.problem;
  EXPECT_EQ(ReadFile(*this / "new.txt"), "two");
  EXPECT_EQ(fs::status(*this / "new.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // The longest name the file system takes: the temporary name still fits beside it.
  const std::string longest(NAME_MAX - 4, 'n');
  const fs::path target = *this / (longest + ".txt");
  for (const char* content : {"first", "second"}) {
    const FileWriteResult written = ReplaceFileContent(target.string(), content);
    EXPECT_TRUE(written) << written.problem;
    EXPECT_EQ(ReadFile(target), content);
  }
  EXPECT_EQ(Listing(folder_), "new.txt " + target.filename().string() + " ");
  // A name longer than that is refused by the file system, not by the program.
  EXPECT_EQ(ReplaceFileContent((*this / (longest + "x.txt")).string(), "x").problem, "File name too long");
}

TEST_F(ReplaceFile, ALinkStaysAndTheFileItFinallyPointsToIsReplaced) {
  WriteFile(*this / "real.txt", "old");
  fs::create_symlink("real.txt", *this / "first");
  fs::create_symlink("first", *this / "second");
  ASSERT_TRUE(ReplaceFileContent((*this / "second").string(), "new"));
  EXPECT_TRUE(fs::is_symlink(*this / "second"));
  EXPECT_TRUE(fs::is_symlink(*this / "first"));
  EXPECT_EQ(ReadFile(*this / "real.txt"), "new");
  EXPECT_EQ(Listing(folder_), "first real.txt second ");
}

TEST_F(ReplaceFile, WhatCannotBeReplacedIsRefusedAndLeftAsItWas) {
  fs::create_symlink("nowhere.txt", *this / "dangling");
  fs::create_directory(*this / "folder");
  fs::create_symlink("folder", *this / "folder-link");
  const fs::path socketPath = *this / "socket";
  const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.string().copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::mkfifo((*this / "fifo").c_str(), 0600), 0);

  struct Case {
    const char* name;
    const char* problem;
  };
  for (const Case& c : {Case{"dangling", "it is a symbolic link to nothing"}, Case{"folder", "it is a folder"},
                        Case{"folder-link", "it is a folder"},
                        Case{"socket", "it is neither a regular file nor a character device nor a FIFO"},
                        Case{"fifo", "it is a FIFO that nobody reads"},
                        Case{"missing/file.txt", "No such file or directory"}}) {
    const auto start = std::chrono::steady_clock::now();
    const FileWriteResult result = ReplaceFileContent((*this / c.name).string(), "content");
    EXPECT_FALSE(result) << c.name;
    EXPECT_EQ(result.problem, c.problem) << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.name;  // nothing waited for
  }
  ::close(socketFd);
  EXPECT_TRUE(fs::is_symlink(*this / "dangling"));
  EXPECT_TRUE(fs::is_empty(*this / "folder"));
  EXPECT_TRUE(fs::is_socket(*this / "socket"));
  EXPECT_TRUE(fs::is_fifo(*this / "fifo"));
  EXPECT_EQ(Listing(folder_), "dangling fifo folder folder-link socket ");
}

TEST_F(ReplaceFile, PermissionBitsAreHonouredByRootAndOrdinaryUsersAlike) {
  // This process (root in CI): a file without any write bit is kept.
  WriteFile(*this / "readonly.txt", "kept");
  ::chmod((*this / "readonly.txt").c_str(), 0444);
  const FileWriteResult refused = ReplaceFileContent((*this / "readonly.txt").string(), "lost");
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.problem, "its permissions forbid writing it");
  EXPECT_EQ(ReadFile(*this / "readonly.txt"), "kept");

  // An ordinary user in a folder it may write: its own read-only file and another user's
  // file are kept although a rename over them would succeed; its own writable one is replaced.
  ::chmod(folder_.c_str(), 0777);
  WriteFile(*this / "theirs.txt", "theirs");
  ::chmod((*this / "theirs.txt").c_str(), 0644);
  const std::string folder = folder_.string();
  EXPECT_TRUE(AsOrdinaryUser([&] {
    const std::string mine = folder + "/mine.txt";
    if (!ReplaceFileContent(mine, "mine")) return false;
    ::chmod(mine.c_str(), 0444);
    const bool ownReadOnlyKept = !ReplaceFileContent(mine, "lost") && ReadFile(mine) == "mine";
    ::chmod(mine.c_str(), 0644);
    const bool ownWritableReplaced = ReplaceFileContent(mine, "new") && ReadFile(mine) == "new";
    // (Run as an ordinary user throughout, the test wrote "theirs" itself: nothing to check.)
    const std::string theirs = folder + "/theirs.txt";
    const bool theirsKept =
        ::access(theirs.c_str(), W_OK) == 0 || (!ReplaceFileContent(theirs, "lost") && ReadFile(theirs) == "theirs");
    return ownReadOnlyKept && ownWritableReplaced && theirsKept;
  }));
}

}  // namespace
}  // namespace vestrel
