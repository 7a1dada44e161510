// The built program as cron and monitoring systems start it: no display, no Qt
// platform, its own process; and a tree of 5,000 partitions checked in time.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "CheckTestSupport.h"

extern char** environ;

namespace vestrel::check::testing {
namespace {

// The environment of this process without anything that points at a display, a Qt
// platform or a connection setting the test did not choose.
std::vector<std::string> HeadlessEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM" || name.rfind("VESTREL_", 0) == 0)
      continue;
    env.push_back(text);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

class Program : public ::testing::Test {
 protected:
  // Standard output goes to a file of the test, or to stdoutPath when given.
  RunOutput Start(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnv = {},
                  const std::string& stdoutPath = "") {
    const std::string outPath = stdoutPath.empty() ? (dir / "stdout").string() : stdoutPath;
    const std::string errPath = (dir / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> argv = {VESTREL_CHECK_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> argp;
    for (std::string& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    std::vector<std::string> env = HeadlessEnvironment(extraEnv);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    RunOutput result;
    const int spawned = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << std::strerror(spawned);
    if (spawned != 0) return result;
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "the program did not exit normally";
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (stdoutPath.empty()) result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
  }

  std::string TreeFile(const std::string& text, const std::string& name = "tree.json") {
    WriteFile(dir / name, text);
    return (dir / name).string();
  }

  TempDir dir;
};

TEST_F(Program, RunsWithoutADisplayAndWithoutQt) {
  const std::int64_t now = SystemClockSeconds();
  const RunOutput ok = Start({"--tree-file", TreeFile(SmallTree(HealthyRing(now), HealthyRing(now))), "--health"});
  EXPECT_EQ(ok.code, 0) << ok.out << ok.err;
  EXPECT_EQ(ok.out.rfind("VESTREL OK - SMALL_TREE: 2 partitions, 6 replicas | partitions=2 replicas=6 replicas_with_errors=0 "
                         "oldest_sync_age=",
                         0),
            0u)
      << ok.out;
  EXPECT_EQ(ok.err, "");

  // The program is linked without any Qt library.
  FILE* pipe = popen((std::string("ldd ") + VESTREL_CHECK_PROGRAM + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string libraries;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) libraries += buffer;
  pclose(pipe);
  EXPECT_EQ(libraries.find("Qt"), std::string::npos) << libraries;
}

TEST_F(Program, ScanDocumentsCrLfAndExitCodes) {
  const RunOutput servers = Start({"--tree-file", DemoTree("acme.json"), "--servers", "--format", "xml"});
  EXPECT_EQ(servers.code, 0) << servers.err;
  EXPECT_EQ(servers.out.rfind("<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>\r\n", 0), 0u);
  EXPECT_NE(servers.out.find("OLDNW"), std::string::npos);
  // The error texts come from the library beside the program.
  const RunOutput partitions = Start({"--tree-file", DemoTree("acme.json"), "--partitions"});
  EXPECT_EQ(partitions.code, 0);
  EXPECT_NE(partitions.out.find("  * 1: 0xFFFFFD84 ("), std::string::npos) << partitions.out;

  const RunOutput demo = Start({"--tree-file", DemoTree("acme.json"), "--health"});
  EXPECT_EQ(demo.code, 2);
  EXPECT_NE(demo.out.find("CRITICAL: Legacy.ACME: Replica on server \"FS1.HQ.ACME\" has errors:"), std::string::npos);

  const RunOutput bad = Start({"--health", "--crit-age", "4x"});
  EXPECT_EQ(bad.code, 3);
  EXPECT_EQ(bad.out.rfind("VESTREL UNKNOWN - bad duration \"4x\"", 0), 0u);
  EXPECT_NE(bad.err.find("--help"), std::string::npos);
  const RunOutput help = Start({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out, HelpText());
}

TEST_F(Program, ABrokenTreeFileIsNamedOnceWithItsProblem) {
  const std::string file = TreeFile("{ \"tree\": ", "broken.json");
  const RunOutput run = Start({"--tree-file", file, "--health"});
  EXPECT_EQ(run.code, 3);
  const std::string reason = "the tree file cannot be loaded: " + file + ": not valid JSON: ";
  EXPECT_EQ(run.out.rfind("VESTREL UNKNOWN - " + reason, 0), 0u) << run.out;
  // One line on standard error, from this program, and no word of connections.
  EXPECT_EQ(run.err.rfind("vestrel-check: " + reason, 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.err.find("connection"), std::string::npos) << run.err;
}

// A report that cannot reach standard output (a full disk here) is no report.
TEST_F(Program, AFailedWriteToStandardOutputIsUnknown) {
  const std::int64_t now = SystemClockSeconds();
  const std::string tree = TreeFile(SmallTree(HealthyRing(now), HealthyRing(now)));
  const std::vector<std::vector<std::string>> runs = {
      {"--tree-file", tree, "--health"}, {"--tree-file", tree, "--servers"}, {"--help"}, {"--bogus", "--health"}};
  for (const std::vector<std::string>& arguments : runs) {
    const RunOutput run = Start(arguments, {}, "/dev/full");
    EXPECT_EQ(run.code, 3) << arguments.back();
    EXPECT_NE(run.err.find("vestrel-check: standard output cannot be written"), std::string::npos) << run.err;
  }
}

TEST_F(Program, FiveThousandPartitionsAreCheckedInUnderTenSeconds) {
  nwtest::TreeShape shape;
  shape.servers = 200;
  shape.partitions = 5000;
  shape.replicasPerPartition = 3;
  shape.objectsPerPartition = 2;
  shape.errorsEvery = 0;
  json tree = json::parse(nwtest::GenerateTreeJson(shape));
  // Synchronised a minute ago by the clock the program measures ages with: the directory's
  // own, which the generated tree sets.
  const std::int64_t now = tree["clock"].get<std::int64_t>();
  for (json& partition : tree["partitions"])
    for (json& replica : partition["replicas"]) replica["lastSync"] = now - 60;
  const std::string file = TreeFile(tree.dump(), "bench.json");

  const auto start = std::chrono::steady_clock::now();
  const RunOutput run = Start({"--tree-file", file, "--health"});
  const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ measure  ] 5,001 partitions x 3 replicas: --health in %.2f s\n", elapsed);
#if VESTREL_SANITIZE
  // The sanitizer build is unoptimised and instrumented: some 30 times slower (minutes on a busy machine).
  constexpr double kBudgetSeconds = 120.0;
#else
  constexpr double kBudgetSeconds = 10.0;
#endif
  EXPECT_LT(elapsed, kBudgetSeconds);
  // The generated rings hold a master, a secondary and a subordinate reference.
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_NE(run.out.find("partitions=5001 replicas=15003 replicas_with_errors=0 oldest_sync_age="), std::string::npos);
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 5002);
}

}  // namespace
}  // namespace vestrel::check::testing
