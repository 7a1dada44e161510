// Both scans against a live LDAP server: slapd on 127.0.0.1 holding a generated tree of
// 2,000 servers and 2,000 partitions of 3 replicas each (the tree of scan_bench, converted
// with the test schema), reached through the test bed's proxy as over links that add 0, 2
// and 20 ms to a round trip. For each scan and link: its wall time, the LDAP requests it
// made and the library reads it issued per row, and beside it the time ldapsearch takes
// to fetch the same entries with the same attributes, paged, through the same link: what
// a client bound only by the link would need. The table at the end puts them side by side.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "directory/D_NW.h"
#include "directory/NETWIN32.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"
#include "scan/Scans.h"
#include "tools/ldap-testbed/ExtOpDouble.h"
#include "tools/ldap-testbed/LdapProxy.h"
#include "tools/ldap-testbed/SlapdServer.h"
#include "tools/ldif/TreeToLdif.h"

extern char** environ;

namespace vestrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kServers = 2000;
constexpr std::uint32_t kPartitions = 2000;
constexpr const char* kAdminDn = "cn=admin,o=BENCH";
constexpr const char* kPassword = "secret";
constexpr int kDelaysMs[] = {0, 2, 20};
// The reads a scan issues to the library.
constexpr const char* kReads[] = {"DSSearchStep", "DSReadStep", "DSObjectInfoRead", "DSIterationEnd"};

// ---- What ldapsearch fetches: the entries and attributes each scan shows ----

struct Query {
  std::string filter;
  std::vector<std::string> attributes;
};

std::vector<std::string> WithObjectInfo(std::vector<std::string> attributes) {
  for (const char* info : {"structuralObjectClass", "objectClass", "modifyTimestamp", "createTimestamp",
                           "subordinateCount"})
    attributes.emplace_back(info);
  return attributes;
}

const Query& ServerQuery() {
  static const Query query{"(objectClass=ncpServer)", WithObjectInfo({"Version", "dsRevision", "networkAddress"})};
  return query;
}

const Query& PartitionQuery() {
  static const Query query{
      "(&(|(objectClass=organizationalUnit)(objectClass=Organization)(objectClass=Country))(Replica=*))",
      WithObjectInfo({"Replica", "partitionStatus", "localReceivedUpTo", "purgeVector", "transitiveVector"})};
  return query;
}

using ScanFunction = ScanResult (*)(NWDSContextHandle, StringGrid&, const ScanProgress&, const ScanFinished&);

struct ScanCase {
  const char* name;       // in the table
  const char* benchmark;  // Google Benchmark's name
  ScanFunction scan;
  const Query& query;
};

const std::vector<ScanCase>& Scans() {
  static const std::vector<ScanCase> scans = {
      {"server scan", "ServerScan", &ScanServers, ServerQuery()},
      {"partition scan", "PartitionScan", &ScanPartitions, PartitionQuery()}};
  return scans;
}

// ---- The server and the links to it ----

struct Link {
  int delayMs = 0;
  std::string tree;  // the name the client library knows this link's tree by
  std::unique_ptr<testbed::LdapProxy> proxy;
  NWDSContextHandle context = 0;
};

struct Bed {
  testbed::SlapdServer server;
  std::unique_ptr<testbed::ExtOpDouble> operations;
  std::vector<Link> links;  // one per delay
  std::string folder;
};

NWDSContextHandle TreeContext(const std::string& tree) {
  NWDSContextHandle context = 0;
  DSContextCreate(&context);
  DSChangeCurrentTree(context, tree.c_str(), false);
  ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
  SetNameContext(context, "[Root]");
  return context;
}

[[noreturn]] void Fail(const std::string& problem) {
  std::fprintf(stderr, "ldap_scan_bench: %s\n", problem.c_str());
  std::exit(1);
}

void StartServer(Bed& bed) {
  nwtest::TreeShape shape;
  shape.treeName = "BENCH_TREE";
  shape.servers = kServers;
  shape.partitions = kPartitions;
  shape.replicasPerPartition = 3;
  shape.objectsPerPartition = 2;
  const auto tree = nw::LoadTreeText(nwtest::GenerateTreeJson(shape), "generated tree");
  const Clock::time_point started = Clock::now();
  testbed::SlapdOptions options;
  options.rootDn = kAdminDn;
  options.rootPassword = kPassword;
  if (const std::string problem = bed.server.Start(ldif::TreeToLdif(*tree).text, options); !problem.empty())
    Fail("slapd: " + problem);
  std::fprintf(stderr, "slapd loaded with the tree in %.1f s\n",
               std::chrono::duration<double>(Clock::now() - started).count());
}

// A proxy per delay, and the client library connected through each as a tree of its own.
void ConnectLinks(Bed& bed) {
  bed.operations = std::make_unique<testbed::ExtOpDouble>(bed.server.Url(), kAdminDn, kPassword);
  nlohmann::json connections = nlohmann::json::array();
  for (int delayMs : kDelaysMs) {
    Link link;
    link.delayMs = delayMs;
    link.tree = "BENCH_TREE_" + std::to_string(delayMs) + "MS";
    link.proxy = std::make_unique<testbed::LdapProxy>(bed.server.Port(), bed.operations.get());
    if (!link.proxy->Listening()) Fail("a proxy cannot listen on 127.0.0.1");
    link.proxy->DelayMessages(std::chrono::milliseconds(delayMs));
    connections.push_back({{"ldap", link.proxy->Url()}, {"tree", link.tree}, {"bindDn", kAdminDn},
                           {"passwordFile", "admin.pw"}, {"primary", bed.links.empty()}});
    bed.links.push_back(std::move(link));
  }
  nwtest::Reset();
  const std::string error = nwtest::LoadConnectionsJson(nlohmann::json{{"connections", connections}}.dump(), bed.folder);
  if (!error.empty()) Fail(error);
  for (Link& link : bed.links) link.context = TreeContext(link.tree);
}

// The server, the links and a context on each link's tree, as the main window keeps it;
// set up on first use.
Bed& TheBed() {
  static Bed* bed = [] {
    auto* made = new Bed;
    char pattern[] = "/tmp/vestrel-ldap-bench-XXXXXX";
    if (!mkdtemp(pattern)) Fail("no temporary folder");
    made->folder = pattern;
    std::ofstream(made->folder + "/admin.pw") << kPassword;
    chmod((made->folder + "/admin.pw").c_str(), 0600);
    StartServer(*made);
    ConnectLinks(*made);
    return made;
  }();
  return *bed;
}

// ---- ldapsearch ----

// ldapsearch fetching the query's entries through the link, in pages of 500 as the
// scans' searches fetch them, signed in as the administrator.
std::vector<std::string> LdapsearchArguments(const Bed& bed, const Link& link, const Query& query) {
  std::vector<std::string> args = {"ldapsearch", "-x", "-LLL", "-o", "ldif-wrap=no",
                                   "-H", link.proxy->Url(), "-D", kAdminDn, "-y", bed.folder + "/admin.pw",
                                   "-b", "", "-s", "sub", "-E", "pr=500/noprompt", query.filter};
  args.insert(args.end(), query.attributes.begin(), query.attributes.end());
  return args;
}

// Runs a program as a child with the bench's own environment, its output into the file
// `output`; the seconds until it ended, or -1 when it could not run or failed.
double SecondsToRun(const std::vector<std::string>& args, const std::string& output) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const Clock::time_point start = Clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid) return -1;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// How many entries ldapsearch brings for the query through the link, so the table shows
// it fetched what the scan shows; -1 when it failed.
int LdapsearchEntries(const Bed& bed, const Link& link, const Query& query) {
  const std::string output = bed.folder + "/entries.ldif";
  if (SecondsToRun(LdapsearchArguments(bed, link, query), output) < 0) return -1;
  std::ifstream in(output);
  int entries = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("dn:", 0) == 0) ++entries;
  return entries;
}

// ---- The runs and the table ----

struct Row {
  std::string scan;
  int delayMs = 0;
  int rows = 0;
  double scanSeconds = 0;
  double requestsPerRow = 0;
  double readsPerRow = 0;
  double ldapsearchSeconds = 0;
  int ldapsearchEntries = 0;
};

std::vector<Row>& Table() {
  static std::vector<Row> rows;
  return rows;
}

void RunScan(benchmark::State& state, const ScanCase& scan, std::size_t linkIndex) {
  Bed& bed = TheBed();
  const Link& link = bed.links[linkIndex];
  Row row{scan.name, link.delayMs};
  // First, and untimed: it also brings the entries into slapd's cache for every run.
  row.ldapsearchEntries = LdapsearchEntries(bed, link, scan.query);
  StringGrid grid(5, 2, 1, 1);
  nwtest::ResetCallCounts();
  const std::uint64_t requestsBefore = nwtest::ServerRequests(link.tree);
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    row.rows = scan.scan(link.context, grid, {}, {}).rows;
    benchmark::DoNotOptimize(grid.Cell(1, 1));
  }
  const double iterations = static_cast<double>(state.iterations());
  row.scanSeconds = std::chrono::duration<double>(Clock::now() - start).count() / iterations;
  std::uint64_t reads = 0;
  for (const char* read : kReads) reads += nwtest::CallCount(read);
  const double requests = static_cast<double>(nwtest::ServerRequests(link.tree) - requestsBefore);
  row.requestsPerRow = requests / iterations / row.rows;
  row.readsPerRow = static_cast<double>(reads) / iterations / row.rows;
  row.ldapsearchSeconds = SecondsToRun(LdapsearchArguments(bed, link, scan.query), "/dev/null");
  if (row.ldapsearchSeconds < 0) state.SkipWithError("ldapsearch failed");
  state.counters["rows"] = row.rows;
  state.counters["s_per_scan"] = row.scanSeconds;
  state.counters["requests_per_row"] = row.requestsPerRow;
  state.counters["reads_per_row"] = row.readsPerRow;
  state.counters["ldapsearch_s"] = row.ldapsearchSeconds;
  state.counters["scan_over_ldapsearch"] = row.scanSeconds / row.ldapsearchSeconds;
  Table().push_back(row);
}

void RegisterScans() {
  for (const ScanCase& scan : Scans())
    for (std::size_t link = 0; link < std::size(kDelaysMs); ++link) {
      const std::string name = std::string(scan.benchmark) + "/link_" + std::to_string(kDelaysMs[link]) + "ms";
      benchmark::RegisterBenchmark(name.c_str(), [&scan, link](benchmark::State& state) { RunScan(state, scan, link); })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->Iterations(1);
    }
}

void PrintTable() {
  if (Table().empty()) return;
  std::printf("\n%-15s %5s %6s %10s %13s %10s %14s %11s %15s\n", "scan", "link", "rows", "scan (s)", "requests/row",
              "reads/row", "ldapsearch (s)", "its entries", "scan/ldapsearch");
  for (const Row& row : Table())
    std::printf("%-15s %2d ms %6d %10.3f %13.4f %10.2f %14.3f %11d %15.1f\n", row.scan.c_str(), row.delayMs, row.rows,
                row.scanSeconds, row.requestsPerRow, row.readsPerRow, row.ldapsearchSeconds, row.ldapsearchEntries,
                row.scanSeconds / row.ldapsearchSeconds);
  std::printf("link: the round trip the test bed's proxy adds (each message, either way, half of it)\n");
}

void StopBed() {
  Bed& bed = TheBed();
  for (Link& link : bed.links) DSContextFree(link.context);
  nwtest::Reset();
  bed.links.clear();
  bed.operations.reset();
  bed.server.Stop();
  std::filesystem::remove_all(bed.folder);
}

}  // namespace
}  // namespace vestrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  vestrel::RegisterScans();
  const bool ran = benchmark::RunSpecifiedBenchmarks() > 0;
  vestrel::PrintTable();
  if (ran) vestrel::StopBed();
  benchmark::Shutdown();
  return 0;
}
