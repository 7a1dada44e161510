// The health rules of replica rings, over plain facts read from the directory: each
// rule looks at one ring and says what it finds, so the rules are tested without a tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "directory/NTypes.h"

namespace vestrel::check {

// Ordered by weight: a report's status is its heaviest finding.
enum class Severity { Ok = 0, Warning = 1, Unknown = 2, Critical = 3 };

// The exit code monitoring systems expect for a status.
int ExitCodeOf(Severity severity);
const char* SeverityName(Severity severity);  // "OK", "WARNING", "CRITICAL", "UNKNOWN"

// The rules, in the order they judge a ring. Their ids are what scripts and metrics name
// them by: they stay as they are whatever the findings' texts say.
enum class Rule { RingReadable, SyncErrors, ReplicaState, MasterCount, ReplicaNumbers, ReadableCount, SyncAge, ClockSkew };
inline constexpr Rule kAllRules[] = {Rule::RingReadable,   Rule::SyncErrors,    Rule::ReplicaState, Rule::MasterCount,
                                     Rule::ReplicaNumbers, Rule::ReadableCount, Rule::SyncAge,      Rule::ClockSkew};
const char* RuleId(Rule rule);  // "ring-readable", "sync-errors", ...

struct ReplicaFacts {
  std::string server;
  nuint32 type = RT_MASTER;
  nuint32 number = 0;
  // The replica's state in its ring (RS_ON, or new, dying, split, join ...).
  nuint32 ringState = RS_ON;
  // From the replica's "Partition Status" value.
  bool hasStatus = false;
  nuint32 state = RS_IN_SYNC;
  nuint32 lastSync = 0;  // directory time, seconds since 1970 UTC
  nuint32 statusError = 0;
  // The sync errors the replica's server reports: their count and the report the partition
  // scan's "Inspect Errors" column shows for it (empty when there are none).
  std::uint32_t errorCount = 0;
  std::string errorReport;
  bool errorsKnown = false;  // the replica's server answered for its sync errors
};

struct RingFacts {
  std::string partition;
  std::vector<ReplicaFacts> replicas;
  // Why the "Replica" values could not be read (the ring is unknown), empty when they were.
  std::string ringProblem;
  // Why the "Partition Status" values could not be read or matched to the replicas
  // (states and sync times of replicas without hasStatus are unknown).
  std::string statusProblem;
  // The directory keeps no sync error list to ask: the replicas' error counts are
  // unknown, not zero.
  bool syncErrorsUnavailable = false;
  // How much of the ring the tree gives. Where its values cannot be had (a tree root that
  // is the root DSE of an LDAP server), the servers' own partition lists still name its
  // replicas and their types: numbers, states, sync times and errors are unknown. Where
  // no server names it either, nothing is known and no rule can judge it.
  enum class Known { Whole, HoldersOnly, Nothing } known = Known::Whole;
};

struct Thresholds {
  std::int64_t warnAge = 4 * 3600;
  std::int64_t critAge = 24 * 3600;
};

struct Finding {
  Severity severity = Severity::Ok;
  std::string partition;
  std::string text;
  Rule rule = Rule::RingReadable;
  std::string server = {};  // the replica's server; empty for a finding on the whole ring
};

// A replica a client can read from: master, secondary or read-only.
bool IsReadableReplica(nuint32 type);
inline constexpr int kRecommendedReadableReplicas = 3;

// One rule each; they append their findings to `findings`.
void CheckRingReadable(const RingFacts& ring, std::vector<Finding>& findings);
void CheckSyncErrors(const RingFacts& ring, std::vector<Finding>& findings);
void CheckReplicaStates(const RingFacts& ring, std::vector<Finding>& findings);
void CheckMasterCount(const RingFacts& ring, std::vector<Finding>& findings);
void CheckReplicaNumbers(const RingFacts& ring, std::vector<Finding>& findings);
void CheckReadableCount(const RingFacts& ring, std::vector<Finding>& findings);
void CheckSyncAges(const RingFacts& ring, const Thresholds& limits, std::int64_t now, std::vector<Finding>& findings);

// Every rule over one ring, in the order above.
std::vector<Finding> EvaluateRing(const RingFacts& ring, const Thresholds& limits, std::int64_t now);

// A last sync further in the future than this is a warning: a server's clock is off.
inline constexpr std::int64_t kMaxClockSkew = 5 * 60;

// Seconds since lastSync at now; a time in the future counts as 0.
std::int64_t SyncAge(nuint32 lastSync, std::int64_t now);

// Rules a tree could not give the facts for, on the partitions named.
struct UncheckedRules {
  std::vector<Rule> rules;
  std::vector<std::string> partitions;
  std::string what;    // "replica sync errors", "the replica ring of [Root]"
  std::string reason;  // "not available for this tree"
};
// "replica sync errors (not available for this tree)"
std::string UncheckedText(const UncheckedRules& unchecked);

// The totals of one partition's ring.
struct PartitionTotals {
  std::string partition;
  std::optional<std::int64_t> oldestSyncAge;  // none when no replica's status was read
  std::optional<std::uint64_t> syncErrors;    // the replicas' errors; none when no server could tell
};

struct HealthSummary {
  Severity status = Severity::Ok;
  int partitions = 0;
  int replicas = 0;
  int replicasWithErrors = 0;
  std::int64_t oldestSyncAge = 0;  // over replicas whose status was read
  int critical = 0;
  int warnings = 0;
  int unknown = 0;
  // Rules that could not be checked on some rings, with why. The status says nothing about them.
  std::vector<UncheckedRules> unchecked;
  std::vector<PartitionTotals> byPartition;  // in ring order
};

// How many rules were not checked on at least one ring.
int UncheckedRuleCount(const HealthSummary& summary);

struct HealthResult {
  HealthSummary summary;
  std::vector<Finding> findings;  // heaviest first, in partition order within a severity
};

// Every ring through every rule, and the totals of the report.
HealthResult EvaluateHealth(const std::vector<RingFacts>& rings, const Thresholds& limits, std::int64_t now);

}  // namespace vestrel::check
