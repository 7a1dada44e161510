// The built window as a desktop user meets it. Under a real window manager (Xvfb and
// openbox, both started from a temporary folder for each test and stopped by their pids)
// the window comes back where it was closed, start after start, measured by its outer
// frame; a stored position whose title bar would be off the screen comes back onto it;
// the window's class is the desktop entry's StartupWMClass. Without any display,
// --help and --version answer and end. The manual page tells what a Linux user looks for.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 900;

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A program started with an environment of its own, its output into a file; stopped by
// its own pid.
class Process {
 public:
  Process() = default;
  ~Process() { Stop(); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // passFd (when >= 0) becomes the program's descriptor 3.
  bool Start(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
             const std::string& output, int passFd = -1) {
    std::vector<char*> argv, envp;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (passFd >= 0) posix_spawn_file_actions_adddup2(&actions, passFd, 3);
    const int failed = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) pid_ = -1;
    return failed == 0;
  }

  bool Running() {
    if (pid_ < 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) return true;
    pid_ = -1;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }

  // Waits for the program to end by itself: its exit status, -1 when it did not end in time
  // or ended by a signal.
  int Wait(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Running()) {
      if (Clock::now() > deadline) return -1;
      std::this_thread::sleep_for(20ms);
    }
    return exitStatus_;
  }

  // SIGTERM, then SIGKILL when it has not ended within five seconds: the exit status.
  int Stop() {
    if (!Running()) return exitStatus_;
    kill(pid_, SIGTERM);
    const int status = Wait(5s);
    if (Running()) {
      kill(pid_, SIGKILL);
      Wait(5s);
      return -1;
    }
    return status;
  }

  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int exitStatus_ = -1;
};

bool Ready(bool done) { return done; }
bool Ready(const std::string& text) { return !text.empty(); }

// Waits until done gives a value that is ready (true, a text), at most timeout.
template <typename F>
auto Eventually(F done, std::chrono::milliseconds timeout) -> decltype(done()) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    auto value = done();
    if (Ready(value) || Clock::now() > deadline) return value;
    std::this_thread::sleep_for(100ms);
  }
}

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};
void PrintTo(const Point& p, std::ostream* out) { *out << "(" << p.x << ", " << p.y << ")"; }

// What the window manager made of the window: its outer frame's position and the
// frame's height above the window's inside.
struct Placement {
  Point frame;
  int titleBar = 0;
};

class DesktopSession : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vestrel-desktop-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    for (const char* sub : {"home", "config", "cache", "run"}) fs::create_directories(folder_ / sub);
    fs::permissions(folder_ / "run", fs::perms::owner_all);
    ASSERT_TRUE(StartDisplay()) << "Xvfb must start for this test: " << FileText(folder_ / "xvfb.log");
    ASSERT_TRUE(StartWindowManager()) << "openbox must start for this test: " << FileText(folder_ / "openbox.log");
  }
  void TearDown() override {
    window_.Stop();
    manager_.Stop();
    display_.Stop();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // Xvfb chooses a free display itself and names it on descriptor 3.
  bool StartDisplay() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const std::string screen = std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
    const bool started = display_.Start({"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp"},
                                        {"PATH=/usr/bin:/bin"}, (folder_ / "xvfb.log").string(), fds[1]);
    close(fds[1]);
    std::string number;
    pollfd wait{fds[0], POLLIN, 0};
    const Clock::time_point deadline = Clock::now() + 15s;
    while (started && Clock::now() < deadline && number.find('\n') == std::string::npos &&
           poll(&wait, 1, 100) >= 0) {
      char chunk[16];
      if (!(wait.revents & (POLLIN | POLLHUP))) continue;
      const ssize_t got = read(fds[0], chunk, sizeof chunk);
      if (got <= 0) break;
      number.append(chunk, static_cast<std::size_t>(got));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) return false;
    displayName_ = ":" + number.substr(0, number.find('\n'));
    return true;
  }

  bool StartWindowManager() {
    if (!manager_.Start({"openbox", "--sm-disable"}, Environment(), (folder_ / "openbox.log").string())) return false;
    // A window manager announces itself on the root window.
    return Eventually([&] { return manager_.Running() && X("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") != std::string::npos; },
                      15s);
  }

  std::vector<std::string> Environment() const {
    std::vector<std::string> environment{"DISPLAY=" + displayName_,
                                         "HOME=" + (folder_ / "home").string(),
                                         "XDG_CONFIG_HOME=" + (folder_ / "config").string(),
                                         "XDG_CACHE_HOME=" + (folder_ / "cache").string(),
                                         "XDG_RUNTIME_DIR=" + (folder_ / "run").string(),
                                         "PATH=/usr/bin:/bin",
                                         "QT_QPA_PLATFORM=xcb"};
    // The sanitizer build's options (the leak suppressions above all) reach the program too.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
      if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
    return environment;
  }

  // Output of an X client run against the test's display.
  std::string X(const std::string& command) const {
    std::string text;
    FILE* pipe = popen(("env DISPLAY=" + displayName_ + " " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return text;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe)) text += chunk;
    pclose(pipe);
    return text;
  }

  void WriteSettings(const std::string& lines) const {
    std::ofstream(folder_ / "config" / "vestrel.ini") << "[Settings]\r\n" << lines;
  }

  // The window's position as the settings file keeps it.
  std::optional<Point> SavedPosition() const {
    const std::string text = FileText(folder_ / "config" / "vestrel.ini");
    std::smatch top, left;
    if (!std::regex_search(text, top, std::regex(R"(MainForm\.Top=(-?\d+))")) ||
        !std::regex_search(text, left, std::regex(R"(MainForm\.Left=(-?\d+))")))
      return std::nullopt;
    return Point{std::stoi(left[1]), std::stoi(top[1])};
  }

  // Starts the program and waits until its window is managed: the window's X id.
  std::string StartWindow() {
    if (!window_.Start({VESTREL_PROGRAM}, Environment(), (folder_ / "vestrel.log").string())) return {};
    const std::string pid = std::to_string(window_.Pid());
    return Eventually(
        [&]() -> std::string {
          const std::string found = X("xdotool search --onlyvisible --pid " + pid);
          const std::string id = found.substr(0, found.find('\n'));
          // Managed: the window manager has told the frame it drew around it.
          return !id.empty() && Extents(id) ? id : std::string();
        },
        30s);
  }

  // The frame's left, right, top and bottom widths, once the window manager drew it.
  std::optional<std::vector<int>> Extents(const std::string& id) const {
    std::smatch match;
    const std::string text = X("xprop -id " + id + " _NET_FRAME_EXTENTS");
    if (!std::regex_search(text, match, std::regex(R"(= (\d+), (\d+), (\d+), (\d+))"))) return std::nullopt;
    return std::vector<int>{std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]), std::stoi(match[4])};
  }

  // Where the frame is once it has come to rest (two looks in a row agree).
  std::optional<Placement> PlacementOf(const std::string& id) const {
    std::optional<Placement> last;
    for (int look = 0; look < 50; ++look) {
      std::this_thread::sleep_for(200ms);
      const std::optional<std::vector<int>> extents = Extents(id);
      std::smatch x, y;
      const std::string info = X("xwininfo -id " + id);
      if (!extents || !std::regex_search(info, x, std::regex(R"(Absolute upper-left X:\s+(-?\d+))")) ||
          !std::regex_search(info, y, std::regex(R"(Absolute upper-left Y:\s+(-?\d+))")))
        continue;
      const Placement now{{std::stoi(x[1]) - (*extents)[0], std::stoi(y[1]) - (*extents)[2]}, (*extents)[2]};
      if (last && last->frame == now.frame) return now;
      last = now;
    }
    return std::nullopt;
  }

  // Closes the window the way the session ends it (SIGTERM): the program saves and ends.
  int CloseWindow() { return window_.Stop(); }

  fs::path folder_;
  std::string displayName_;
  Process display_;
  Process manager_;
  Process window_;
};

// The settings keep the frame's position, and a start puts the frame there again: three
// starts and closes leave the window where it was (it used to creep up by its title bar).
TEST_F(DesktopSession, TheWindowComesBackWhereItWasClosedStartAfterStart) {
  WriteSettings("MainForm.Top=160\r\nMainForm.Left=200\r\n");
  for (int start = 1; start <= 3; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    const std::string id = StartWindow();
    ASSERT_FALSE(id.empty()) << FileText(folder_ / "vestrel.log");
    const std::optional<Placement> placed = PlacementOf(id);
    ASSERT_TRUE(placed);
    EXPECT_GT(placed->titleBar, 0) << "the window manager drew no title bar";
    EXPECT_EQ(placed->frame, (Point{200, 160}));
    EXPECT_EQ(CloseWindow(), 0) << FileText(folder_ / "vestrel.log");
    EXPECT_EQ(SavedPosition(), (Point{200, 160}));
  }
}

// A stored position whose title bar would be off the screen (hand-edited, or a screen
// since removed) puts the window back onto the screen, where the window manager keeps it.
TEST_F(DesktopSession, AStoredPositionWithTheTitleBarOffTheScreenComesBackOntoIt) {
  struct Case {
    Point stored;
    std::optional<Point> expected;  // none: wherever the window manager keeps it reachable
  };
  const Case cases[] = {
      {{200, -20}, Point{200, 0}},  // nine creeping starts later
      {{5000, 100}, std::nullopt},  // right of the screen
      {{300, kScreenHeight + 50}, std::nullopt},  // below it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.stored));
    WriteSettings("MainForm.Top=" + std::to_string(c.stored.y) + "\r\nMainForm.Left=" + std::to_string(c.stored.x) +
                  "\r\n");
    const std::string id = StartWindow();
    ASSERT_FALSE(id.empty()) << FileText(folder_ / "vestrel.log");
    const std::optional<Placement> placed = PlacementOf(id);
    ASSERT_TRUE(placed);
    const Point frame = placed->frame;
    if (c.expected) {
      EXPECT_EQ(frame, *c.expected);
    }
    // The title bar is on the screen, wide enough to take it.
    EXPECT_GE(frame.y, 0);
    EXPECT_LE(frame.y + placed->titleBar, kScreenHeight);
    EXPECT_LE(frame.x + 64, kScreenWidth);
    EXPECT_EQ(CloseWindow(), 0);
    EXPECT_EQ(SavedPosition(), frame);
  }
}

// Desktops find the window's desktop entry by the window's class.
TEST_F(DesktopSession, TheWindowsClassIsTheDesktopEntrysStartupWMClass) {
  std::smatch entry;
  const std::string desktop = FileText(fs::path(VESTREL_SOURCE_DIR) / "dist" / "vestrel.desktop.in");
  ASSERT_TRUE(std::regex_search(desktop, entry, std::regex(R"(\nStartupWMClass=([^\n]+))")));
  const std::string id = StartWindow();
  ASSERT_FALSE(id.empty()) << FileText(folder_ / "vestrel.log");
  std::smatch wmClass;
  const std::string text = X("xprop -id " + id + " WM_CLASS");
  ASSERT_TRUE(std::regex_search(text, wmClass, std::regex(R"re(= "([^"]*)", "([^"]*)")re"))) << text;
  EXPECT_EQ(wmClass[2].str(), entry[1].str());
  EXPECT_EQ(wmClass[1].str(), "vestrel");
  EXPECT_EQ(CloseWindow(), 0);
}

// --help and --version print and end before anything needs a display (there is none).
TEST(CommandLine, HelpAndVersionAnswerWithoutADisplay) {
  struct Case {
    const char* argument;
    std::string output;  // the whole output, or its first line when it ends in "\n..."
  };
  const Case cases[] = {
      {"--version", std::string("vestrel ") + VESTREL_VERSION + "\n"},
      {"--help", "Usage: vestrel [--help] [--version]\n..."},
      {"-h", "Usage: vestrel [--help] [--version]\n..."},
  };
  char pattern[] = "/tmp/vestrel-command-line-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path output = fs::path(pattern) / "output";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    Process program;
    ASSERT_TRUE(program.Start({VESTREL_PROGRAM, c.argument}, {"PATH=/usr/bin:/bin"}, output.string()));
    EXPECT_EQ(program.Wait(30s), 0);
    const std::string printed = FileText(output);
    const std::string& expected = c.output;
    if (expected.size() > 4 && expected.compare(expected.size() - 4, 4, "\n...") == 0) {
      EXPECT_EQ(printed.substr(0, expected.size() - 3), expected.substr(0, expected.size() - 3));
      EXPECT_NE(printed.find("VESTREL_LDAP_PASSWORD"), std::string::npos);
    } else {
      EXPECT_EQ(printed, expected);
    }
  }
  fs::remove_all(pattern);
}

// What `man vestrel` must tell: the keys of an LDAP connection, the sign-in, the password
// variable, where XLS workbooks go and what opens them.
TEST(ManualPage, DocumentsTheLdapConnectionsTheSignInAndTheWorkbooks) {
  const std::string page = FileText(fs::path(VESTREL_SOURCE_DIR) / "app" / "vestrel.1");
  for (const char* text :
       {"\n.B ldap\n", "\n.B tree\n", "\n.B bindDn\n", "\n.B passwordFile\n", "\n.B caFile\n", "\n.B startTls\n",
        "\n.B allowPlaintext\n", "\n.BR connectTimeout \", \" requestTimeout\n", "\n.B primary\n", ".SS Sign-in",
        "asks again, three tries in all", "\n.B VESTREL_LDAP_PASSWORD\n", ".I $XDG_CACHE_HOME/vestrel/",
        ".IR ~/.cache/vestrel/", "\n.BR xdg-open (1)", "\n.B \\-\\-version\n"})
    EXPECT_NE(page.find(text), std::string::npos) << text;
}

}  // namespace
