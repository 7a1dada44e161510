// Both scans over a generated tree of 2,000 servers and 2,000 partitions of 3 replicas
// each, without a window: time per row; then the same with a latency of 1 ms in every
// library call, against the calls made times that latency (how much the scans add
// beyond waiting for the directory).
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "directory/D_NW.h"
#include "directory/NETWIN32.h"
#include "platform/nwclient/NwTestHooks.h"
#include "scan/Scans.h"

namespace vestrel {
namespace {

constexpr std::uint32_t kServers = 2000;
constexpr std::uint32_t kPartitions = 2000;
constexpr auto kLatency = std::chrono::milliseconds(1);

// Every operation of the client library, to count all calls a scan makes.
constexpr std::array<const char*, 41> kOperations = {
    "ClientInitialize", "ConnOpenByReference", "ConnPrimaryReference", "ConnReferenceInfo", "ConnScanNext",
    "DSAttrSyntaxId", "DSBufferAlloc", "DSBufferFree", "DSBufferInit", "DSContextClone", "DSContextCopy",
    "DSContextCreate", "DSContextFree", "DSContextGetValue", "DSContextSetValue", "DSFilterAddToken",
    "DSFilterCursorAlloc", "DSFilterFree", "DSFilterStore", "DSIterationEnd", "DSNameCanonical",
    "DSObjectInfoField", "DSObjectInfoRead", "DSReadStep", "DSReplicaSyncErrors", "DSRequestAddAttrName",
    "DSResultAttrCount", "DSResultNextAttr", "DSResultNextObject", "DSResultNextPartition", "DSResultNextValue",
    "DSResultObjectCount", "DSResultServerName", "DSResultValueSize", "DSSearchStep", "DSServerPartitionsList",
    "DSStreamOpen", "DSTreeMakePreferred", "DSWhoAmI", "NWDSGetAttrValFlags", "NWDSGetAttrValModTime"};

std::uint64_t LibraryCalls() {
  std::uint64_t calls = 0;
  for (const char* operation : kOperations) calls += nwtest::CallCount(operation);
  return calls;
}

// The generated tree, loaded once, and a context as the main window keeps it.
NWDSContextHandle BenchContext() {
  static const NWDSContextHandle context = [] {
    nwtest::Reset();
    nwtest::TreeShape shape;
    shape.servers = kServers;
    shape.partitions = kPartitions;
    shape.replicasPerPartition = 3;
    shape.objectsPerPartition = 2;
    const std::string error = nwtest::ConnectTreeJson(nwtest::GenerateTreeJson(shape), "", true);
    if (!error.empty()) std::abort();
    NWDSContextHandle c = 0;
    DSContextCreate(&c);
    DSChangeCurrentTree(c, shape.treeName, false);
    ModifyContextFlags(c, '+', DCV_TYPELESS_NAMES);
    SetNameContext(c, "[Root]");
    return c;
  }();
  return context;
}

using ScanFunction = ScanResult (*)(NWDSContextHandle, StringGrid&, const ScanProgress&, const ScanFinished&);

void RunScan(benchmark::State& state, ScanFunction scan, bool withLatency) {
  const NWDSContextHandle context = BenchContext();
  StringGrid grid;
  nwtest::SetLatency(withLatency ? std::chrono::microseconds(kLatency) : std::chrono::microseconds(0));
  nwtest::ResetCallCounts();
  int rows = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    rows = scan(context, grid, {}, {}).rows;
    benchmark::DoNotOptimize(grid.Cell(1, 1));
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  nwtest::SetLatency(std::chrono::microseconds(0));
  const double iterations = static_cast<double>(state.iterations());
  const double calls = static_cast<double>(LibraryCalls()) / iterations;
  state.counters["rows"] = rows;
  state.counters["calls_per_row"] = calls / rows;
  state.counters["us_per_row"] = wall.count() * 1e6 / iterations / rows;
  if (withLatency) {
    const double waited = calls * std::chrono::duration<double>(kLatency).count();
    state.counters["wall_over_calls_x_latency"] = wall.count() / iterations / waited;
  }
}

void BM_ServerScan(benchmark::State& state) { RunScan(state, &ScanServers, false); }
void BM_PartitionScan(benchmark::State& state) { RunScan(state, &ScanPartitions, false); }
void BM_ServerScanWithLatency(benchmark::State& state) { RunScan(state, &ScanServers, true); }
void BM_PartitionScanWithLatency(benchmark::State& state) { RunScan(state, &ScanPartitions, true); }

BENCHMARK(BM_ServerScan)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PartitionScan)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ServerScanWithLatency)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_PartitionScanWithLatency)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace vestrel

BENCHMARK_MAIN();
