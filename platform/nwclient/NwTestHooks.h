// Controls of the embedded directory for tests and benchmarks. The program never calls
// them; nothing in the user interface reaches them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "directory/NTypes.h"

namespace vestrel::nw {
class Tree;
}

namespace vestrel::nwtest {

// Forgets every tree, connection, context, buffer and iteration, clears failures,
// latencies, counters and the program's password prompt, and stops the automatic loading of the workstation's
// connections: afterwards only what a test loads is there.
void Reset();
// Back to the program's behaviour: the next call loads the connections file or the demo trees.
void ResetToDefaults();

// Adds a connection to a tree; a tree (by file) is loaded once. Return "" or the load error.
std::string ConnectTreeFile(const std::string& path, const std::string& user, bool primary);
std::string ConnectTreeJson(const std::string& json, const std::string& user, bool primary);
// Reads a connections file or its text (relative tree paths against baseDir).
std::string LoadConnectionsFile(const std::string& path);
std::string LoadConnectionsJson(const std::string& json, const std::string& baseDir);
// The loaded tree of that name, for tests that look at or change the model directly.
nw::Tree* FindTree(const std::string& name);

// Makes an operation (its library name, e.g. "DSReadStep") fail with code: the first
// afterCalls calls still succeed, then `times` calls fail (-1 = all).
void FailOperation(const std::string& operation, NWRCODE code, std::uint64_t afterCalls = 0, std::int64_t times = -1);
void ClearFailures();
// Waits this long in every call (operation empty) or in calls of one operation.
void SetLatency(std::chrono::microseconds latency, const std::string& operation = "");
std::uint64_t CallCount(const std::string& operation);
void ResetCallCounts();

// The engine clock (directory time); scheduled work is due by this clock.
nuint32 ClockNow();
void SetClock(nuint32 seconds);
void AdvanceClock(std::int64_t seconds);

// Partitions per DSServerPartitionsList reply for every tree (0 = each tree's own).
void SetPartitionBatchSize(std::uint32_t size);

// Requests sent to the directory server behind a tree (0 for a tree file).
std::uint64_t ServerRequests(const std::string& tree);
// How long a broken LDAP link rests before the next request connects again.
void SetLdapRetryPause(std::chrono::milliseconds pause);

// Live library objects, for leak checks.
std::size_t OpenContexts();
std::size_t OpenBuffers();
std::size_t OpenIterations();

// A large tree for benchmarks, as tree-file JSON: one organisation, `servers` NCP
// servers in an OU, `partitions` partition roots (OUs) with `replicasPerPartition`
// replicas each on servers taken in turn, and `objectsPerPartition` users in each.
struct TreeShape {
  std::string treeName = "BENCH_TREE";
  std::uint32_t servers = 100;
  std::uint32_t partitions = 500;
  std::uint32_t replicasPerPartition = 3;
  std::uint32_t objectsPerPartition = 10;
  std::uint32_t errorsEvery = 7;  // every n-th partition has a replica with errors (0 = none)
};
std::string GenerateTreeJson(const TreeShape& shape);

}  // namespace vestrel::nwtest
