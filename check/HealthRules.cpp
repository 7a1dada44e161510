#include "check/HealthRules.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "check/CheckOptions.h"
#include "directory/D_NW_Errors.h"
#include "directory/D_NW_Format.h"
#include "directory/D_NW_Partitions.h"
#include "util/D_Util.h"

namespace vestrel::check {

namespace {

// A replica as the partition scan's "Replica" column names it: "<server> [<type>] [Nr: <n>]".
std::string ReplicaLabel(const ReplicaFacts& replica) {
  return Format("%s [%s] [Nr: %d]", replica.server, ReplicaTypeName(replica.type), static_cast<int>(replica.number));
}

std::string JoinServers(const std::vector<const ReplicaFacts*>& replicas) {
  std::string text;
  for (const ReplicaFacts* replica : replicas) text += (text.empty() ? "" : ", ") + replica->server;
  return text;
}

// A finding on the whole ring.
void Add(std::vector<Finding>& findings, Severity severity, Rule rule, const RingFacts& ring, std::string text) {
  findings.push_back({severity, ring.partition, std::move(text), rule});
}

// A finding on one replica of the ring.
void Add(std::vector<Finding>& findings, Severity severity, Rule rule, const RingFacts& ring,
         const ReplicaFacts& replica, std::string text) {
  findings.push_back({severity, ring.partition, std::move(text), rule, replica.server});
}

// The report's lines on one line: the heading, then each error without its bullet, "; " between them.
std::string ReportOnOneLine(const std::string& report) {
  TextList lines;
  lines.SetText(report);
  std::string text;
  for (int i = 0; i < lines.Count(); ++i) {
    std::string line = lines[i];
    if (i == 0) {
      text = line;
      continue;
    }
    const std::size_t start = line.find_first_not_of(" *");
    line = start == std::string::npos ? std::string() : line.substr(start);
    text += (i == 1 ? " " : "; ") + line;
  }
  return text;
}

bool RingReadable(const RingFacts& ring) { return ring.ringProblem.empty() && ring.known != RingFacts::Known::Nothing; }

std::vector<std::string> PartitionsWhere(const std::vector<RingFacts>& rings,
                                         const std::function<bool(const RingFacts&)>& test) {
  std::vector<std::string> names;
  for (const RingFacts& ring : rings)
    if (test(ring)) names.push_back(ring.partition);
  return names;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// What the tree could not give: sync error lists, rings known only by their holders, rings
// nobody names.
std::vector<UncheckedRules> UncheckedOf(const std::vector<RingFacts>& rings) {
  constexpr const char* kNotAvailable = "not available for this tree";
  std::vector<UncheckedRules> unchecked;
  const auto withoutErrors = PartitionsWhere(rings, [](const RingFacts& ring) { return ring.syncErrorsUnavailable; });
  if (!withoutErrors.empty()) unchecked.push_back({{Rule::SyncErrors}, withoutErrors, "replica sync errors", kNotAvailable});
  const auto holdersOnly =
      PartitionsWhere(rings, [](const RingFacts& ring) { return ring.known == RingFacts::Known::HoldersOnly; });
  if (!holdersOnly.empty())
    unchecked.push_back({{Rule::ReplicaNumbers, Rule::ReplicaState, Rule::SyncAge, Rule::ClockSkew, Rule::SyncErrors},
                         holdersOnly,
                         "replica numbers, states, syncs and sync errors of " + JoinNames(holdersOnly),
                         "the servers name only its replicas and their types"});
  const auto nothing = PartitionsWhere(rings, [](const RingFacts& ring) { return ring.known == RingFacts::Known::Nothing; });
  if (!nothing.empty())
    unchecked.push_back({std::vector<Rule>(std::begin(kAllRules), std::end(kAllRules)), nothing,
                         "the replica ring of " + JoinNames(nothing), kNotAvailable});
  return unchecked;
}

PartitionTotals TotalsOf(const RingFacts& ring, std::int64_t now) {
  PartitionTotals totals{ring.partition, std::nullopt, std::nullopt};
  for (const ReplicaFacts& replica : ring.replicas) {
    if (replica.hasStatus)
      totals.oldestSyncAge = std::max(totals.oldestSyncAge.value_or(0), SyncAge(replica.lastSync, now));
    if (replica.errorsKnown && !ring.syncErrorsUnavailable)
      totals.syncErrors = totals.syncErrors.value_or(0) + replica.errorCount;
  }
  return totals;
}

}  // namespace

int ExitCodeOf(Severity severity) {
  switch (severity) {
    case Severity::Ok: return 0;
    case Severity::Warning: return 1;
    case Severity::Critical: return 2;
    default: return 3;
  }
}

const char* SeverityName(Severity severity) {
  switch (severity) {
    case Severity::Ok: return "OK";
    case Severity::Warning: return "WARNING";
    case Severity::Critical: return "CRITICAL";
    default: return "UNKNOWN";
  }
}

const char* RuleId(Rule rule) {
  switch (rule) {
    case Rule::RingReadable: return "ring-readable";
    case Rule::SyncErrors: return "sync-errors";
    case Rule::ReplicaState: return "replica-state";
    case Rule::MasterCount: return "master-count";
    case Rule::ReplicaNumbers: return "replica-numbers";
    case Rule::ReadableCount: return "readable-count";
    case Rule::SyncAge: return "sync-age";
    case Rule::ClockSkew: return "clock-skew";
  }
  return "unknown";
}

std::string UncheckedText(const UncheckedRules& unchecked) { return unchecked.what + " (" + unchecked.reason + ")"; }

int UncheckedRuleCount(const HealthSummary& summary) {
  std::set<Rule> rules;
  for (const UncheckedRules& unchecked : summary.unchecked) rules.insert(unchecked.rules.begin(), unchecked.rules.end());
  return static_cast<int>(rules.size());
}

bool IsReadableReplica(nuint32 type) { return type == RT_MASTER || type == RT_SECONDARY || type == RT_READONLY; }

std::int64_t SyncAge(nuint32 lastSync, std::int64_t now) { return std::max<std::int64_t>(0, now - lastSync); }

void CheckRingReadable(const RingFacts& ring, std::vector<Finding>& findings) {
  if (!ring.ringProblem.empty()) {
    Add(findings, Severity::Unknown, Rule::RingReadable, ring, "the replica ring cannot be read: " + ring.ringProblem);
  } else if (!ring.statusProblem.empty()) {
    Add(findings, Severity::Unknown, Rule::RingReadable, ring,
        "the Partition Status cannot be read: " + ring.statusProblem);
  }
}

void CheckSyncErrors(const RingFacts& ring, std::vector<Finding>& findings) {
  for (const ReplicaFacts& replica : ring.replicas) {
    if (replica.errorCount == 0) continue;
    // A report is missing only when the count is beyond what one reply holds.
    const std::string text = !replica.errorReport.empty()
                                 ? ReportOnOneLine(replica.errorReport)
                                 : Format("Replica on server \"%s\" has %u errors (more than one report holds)",
                                          replica.server, replica.errorCount);
    Add(findings, Severity::Critical, Rule::SyncErrors, ring, replica, text);
  }
}

void CheckReplicaStates(const RingFacts& ring, std::vector<Finding>& findings) {
  for (const ReplicaFacts& replica : ring.replicas) {
    // A ring operation under way (a new replica, a split, a join) is no failure yet.
    if (replica.ringState != RS_ON)
      Add(findings, Severity::Warning, Rule::ReplicaState, ring, replica,
          ReplicaLabel(replica) + " is in the state " + ReplicaStateName(replica.ringState) +
              " (a partition operation is under way)");
  }
  for (const ReplicaFacts& replica : ring.replicas) {
    if (!replica.hasStatus || (replica.state != RS_LOCAL_ERROR && replica.state != RS_REMOTE_ERROR)) continue;
    std::string text = "Partition Status of " + ReplicaLabel(replica) + " is " +
                       ReplicaStateText(static_cast<nint32>(replica.state));
    if (replica.statusError != 0) text += ", error " + ErrorText(static_cast<NWRCODE>(replica.statusError));
    Add(findings, Severity::Critical, Rule::ReplicaState, ring, replica, text);
  }
}

void CheckMasterCount(const RingFacts& ring, std::vector<Finding>& findings) {
  if (!RingReadable(ring)) return;
  std::vector<const ReplicaFacts*> masters;
  for (const ReplicaFacts& replica : ring.replicas)
    if (replica.type == RT_MASTER) masters.push_back(&replica);
  if (masters.empty()) {
    Add(findings, Severity::Critical, Rule::MasterCount, ring, "the ring has no master replica");
  } else if (masters.size() > 1) {
    Add(findings, Severity::Critical, Rule::MasterCount, ring,
        Format("the ring has %d master replicas: %s", static_cast<int>(masters.size()), JoinServers(masters)));
  }
}

void CheckReplicaNumbers(const RingFacts& ring, std::vector<Finding>& findings) {
  if (ring.known != RingFacts::Known::Whole) return;  // numbers unknown
  std::map<nuint32, std::vector<const ReplicaFacts*>> byNumber;
  for (const ReplicaFacts& replica : ring.replicas) byNumber[replica.number].push_back(&replica);
  for (const auto& [number, holders] : byNumber) {
    if (holders.size() < 2) continue;
    Add(findings, Severity::Critical, Rule::ReplicaNumbers, ring,
        Format("replica number %u is used by %d replicas: %s", number, static_cast<int>(holders.size()),
               JoinServers(holders)));
  }
}

void CheckReadableCount(const RingFacts& ring, std::vector<Finding>& findings) {
  if (!RingReadable(ring)) return;
  const auto readable = std::count_if(ring.replicas.begin(), ring.replicas.end(),
                                      [](const ReplicaFacts& replica) { return IsReadableReplica(replica.type); });
  if (readable >= kRecommendedReadableReplicas) return;
  Add(findings, Severity::Warning, Rule::ReadableCount, ring,
      Format("only %d readable replica%s (master, secondary, read-only); %d are recommended", static_cast<int>(readable),
             readable == 1 ? "" : "s", kRecommendedReadableReplicas));
}

void CheckSyncAges(const RingFacts& ring, const Thresholds& limits, std::int64_t now, std::vector<Finding>& findings) {
  for (const ReplicaFacts& replica : ring.replicas) {
    if (!replica.hasStatus) continue;
    // A sync in the future means a server's clock is off; its age tells nothing then.
    const std::int64_t ahead = static_cast<std::int64_t>(replica.lastSync) - now;
    if (ahead > kMaxClockSkew) {
      Add(findings, Severity::Warning, Rule::ClockSkew, ring, replica,
          Format("%s last synchronised %s in the future (clock skew of more than %s)", ReplicaLabel(replica),
                 DurationText(ahead), DurationText(kMaxClockSkew)));
      continue;
    }
    const std::int64_t age = SyncAge(replica.lastSync, now);
    Severity severity = Severity::Ok;
    std::int64_t limit = 0;
    if (age > limits.critAge) {
      severity = Severity::Critical;
      limit = limits.critAge;
    } else if (age > limits.warnAge) {
      severity = Severity::Warning;
      limit = limits.warnAge;
    }
    if (severity == Severity::Ok) continue;
    const std::string when =
        replica.lastSync == 0 ? "has never synchronised" : "last synchronised " + DurationText(age) + " ago";
    Add(findings, severity, Rule::SyncAge, ring, replica,
        ReplicaLabel(replica) + " " + when + " (more than " + DurationText(limit) + ")");
  }
}

std::vector<Finding> EvaluateRing(const RingFacts& ring, const Thresholds& limits, std::int64_t now) {
  std::vector<Finding> findings;
  CheckRingReadable(ring, findings);
  CheckSyncErrors(ring, findings);
  CheckReplicaStates(ring, findings);
  CheckMasterCount(ring, findings);
  CheckReplicaNumbers(ring, findings);
  CheckReadableCount(ring, findings);
  CheckSyncAges(ring, limits, now, findings);
  return findings;
}

HealthResult EvaluateHealth(const std::vector<RingFacts>& rings, const Thresholds& limits, std::int64_t now) {
  HealthResult result;
  HealthSummary& summary = result.summary;
  summary.partitions = static_cast<int>(rings.size());
  summary.unchecked = UncheckedOf(rings);
  for (const RingFacts& ring : rings) {
    summary.replicas += static_cast<int>(ring.replicas.size());
    summary.replicasWithErrors += static_cast<int>(std::count_if(
        ring.replicas.begin(), ring.replicas.end(), [](const ReplicaFacts& replica) { return replica.errorCount > 0; }));
    summary.byPartition.push_back(TotalsOf(ring, now));
    summary.oldestSyncAge = std::max(summary.oldestSyncAge, summary.byPartition.back().oldestSyncAge.value_or(0));
    std::vector<Finding> found = EvaluateRing(ring, limits, now);
    std::move(found.begin(), found.end(), std::back_inserter(result.findings));
  }
  for (const Finding& finding : result.findings) {
    summary.status = std::max(summary.status, finding.severity);
    if (finding.severity == Severity::Critical) ++summary.critical;
    if (finding.severity == Severity::Warning) ++summary.warnings;
    if (finding.severity == Severity::Unknown) ++summary.unknown;
  }
  std::stable_sort(result.findings.begin(), result.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.severity > b.severity; });
  return result;
}

}  // namespace vestrel::check
