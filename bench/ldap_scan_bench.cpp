// Both scans against a live LDAP server: slapd on 127.0.0.1 holding a generated tree of
// 2,000 servers and 2,000 partitions of 3 replicas each (the tree of scan_bench, converted
// with the test schema). Reports each scan's wall time, the LDAP requests it made per row
// and the library reads it issued per row (a scan may make no more requests than reads).
// The "SlowLink" runs reach the same server through the test bed's proxy, which holds
// every request for 2 ms, as a distant server would.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

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

namespace vestrel {
namespace {

constexpr std::uint32_t kServers = 2000;
constexpr std::uint32_t kPartitions = 2000;
constexpr const char* kTree = "BENCH_TREE";
constexpr const char* kSlowTree = "BENCH_TREE_SLOW";  // the same tree through the slow link
constexpr std::chrono::milliseconds kSlowLinkDelay{2};
// The reads a scan issues to the library (each may be one request at most).
constexpr const char* kReads[] = {"DSSearchStep", "DSReadStep", "DSObjectInfoRead", "DSIterationEnd"};

struct Bed {
  testbed::SlapdServer server;
  std::unique_ptr<testbed::ExtOpDouble> operations;
  std::unique_ptr<testbed::LdapProxy> slowLink;
  std::string folder;
  NWDSContextHandle context = 0;
  NWDSContextHandle slowContext = 0;
};

NWDSContextHandle TreeContext(const char* tree) {
  NWDSContextHandle context = 0;
  DSContextCreate(&context);
  DSChangeCurrentTree(context, tree, false);
  ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
  SetNameContext(context, "[Root]");
  return context;
}

// The server and a context on its tree, as the main window keeps it; set up once.
Bed& TheBed() {
  static Bed* bed = [] {
    auto* made = new Bed;
    nwtest::TreeShape shape;
    shape.treeName = kTree;
    shape.servers = kServers;
    shape.partitions = kPartitions;
    shape.replicasPerPartition = 3;
    shape.objectsPerPartition = 2;
    const auto tree = nw::LoadTreeText(nwtest::GenerateTreeJson(shape), "generated tree");
    const auto started = std::chrono::steady_clock::now();
    testbed::SlapdOptions options;
    options.rootDn = "cn=admin,o=BENCH";
    const std::string problem = made->server.Start(ldif::TreeToLdif(*tree).text, options);
    if (!problem.empty()) {
      std::fprintf(stderr, "slapd: %s\n", problem.c_str());
      std::abort();
    }
    std::fprintf(stderr, "slapd loaded with the tree in %.1f s\n",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    char pattern[] = "/tmp/vestrel-ldap-bench-XXXXXX";
    made->folder = mkdtemp(pattern);
    std::ofstream(made->folder + "/admin.pw") << "secret";
    chmod((made->folder + "/admin.pw").c_str(), 0600);
    made->operations = std::make_unique<testbed::ExtOpDouble>(made->server.Url(), "cn=admin,o=BENCH", "secret");
    made->slowLink = std::make_unique<testbed::LdapProxy>(made->server.Port(), made->operations.get());
    made->slowLink->DelayMessages(kSlowLinkDelay);
    nwtest::Reset();
    const auto connection = [&](const std::string& url, const char* tree, bool primary) {
      return nlohmann::json{{"ldap", url}, {"tree", tree}, {"bindDn", "cn=admin,o=BENCH"},
                            {"passwordFile", "admin.pw"}, {"primary", primary}};
    };
    const nlohmann::json connections = {
        {"connections",
         {connection(made->server.Url(), kTree, true), connection(made->slowLink->Url(), kSlowTree, false)}}};
    if (const std::string error = nwtest::LoadConnectionsJson(connections.dump(), made->folder); !error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    made->context = TreeContext(kTree);
    made->slowContext = TreeContext(kSlowTree);
    std::atexit([] {
      TheBed().server.Stop();
      std::filesystem::remove_all(TheBed().folder);
    });
    return made;
  }();
  return *bed;
}

using ScanFunction = ScanResult (*)(NWDSContextHandle, StringGrid&, const ScanProgress&, const ScanFinished&);

void RunScan(benchmark::State& state, ScanFunction scan, bool slowLink = false) {
  Bed& bed = TheBed();
  const char* tree = slowLink ? kSlowTree : kTree;
  const NWDSContextHandle context = slowLink ? bed.slowContext : bed.context;
  StringGrid grid(5, 2, 1, 1);
  int rows = 0;
  nwtest::ResetCallCounts();
  const std::uint64_t requestsBefore = nwtest::ServerRequests(tree);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    rows = scan(context, grid, {}, {}).rows;
    benchmark::DoNotOptimize(grid.Cell(1, 1));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double iterations = static_cast<double>(state.iterations());
  std::uint64_t reads = 0;
  for (const char* read : kReads) reads += nwtest::CallCount(read);
  const double requests = static_cast<double>(nwtest::ServerRequests(tree) - requestsBefore);
  state.counters["rows"] = rows;
  state.counters["s_per_scan"] = seconds / iterations;
  state.counters["requests_per_row"] = requests / iterations / rows;
  state.counters["reads_per_row"] = static_cast<double>(reads) / iterations / rows;
}

void BM_ServerScanOverLdap(benchmark::State& state) { RunScan(state, &ScanServers); }
void BM_PartitionScanOverLdap(benchmark::State& state) { RunScan(state, &ScanPartitions); }

void BM_ServerScanOverSlowLink(benchmark::State& state) { RunScan(state, &ScanServers, true); }
void BM_PartitionScanOverSlowLink(benchmark::State& state) { RunScan(state, &ScanPartitions, true); }

BENCHMARK(BM_ServerScanOverLdap)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_PartitionScanOverLdap)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_ServerScanOverSlowLink)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_PartitionScanOverSlowLink)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace vestrel

BENCHMARK_MAIN();
