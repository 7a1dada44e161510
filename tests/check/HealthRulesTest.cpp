// The health rules over plain ring facts: each rule, the thresholds at their edges, and
// how findings add up to a status and the totals of the summary line.
#include <gtest/gtest.h>

#include "check/CheckOptions.h"
#include "check/HealthReport.h"
#include "check/HealthRules.h"
#include "directory/D_NW_Errors.h"

namespace vestrel::check {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;

ReplicaFacts Replica(const std::string& server, nuint32 type, nuint32 number, std::int64_t age = 60) {
  ReplicaFacts replica;
  replica.server = server;
  replica.type = type;
  replica.number = number;
  replica.hasStatus = true;
  replica.state = RS_IN_SYNC;
  replica.lastSync = static_cast<nuint32>(kNow - age);
  return replica;
}

RingFacts HealthyRing(const std::string& partition = "Sales.ORG") {
  return {partition,
          {Replica("A.ORG", RT_MASTER, 1), Replica("B.ORG", RT_SECONDARY, 2), Replica("C.ORG", RT_READONLY, 3)},
          "",
          ""};
}

std::vector<std::string> Lines(const std::vector<Finding>& findings) {
  std::vector<std::string> lines;
  for (const Finding& finding : findings) lines.push_back(FindingLine(finding));
  return lines;
}

class HealthRules : public ::testing::Test {
 protected:
  void SetUp() override { SetErrorTextLibraryPath("/nonexistent/libnwerr32.so"); }
  void TearDown() override { SetErrorTextLibraryPath(""); }
  std::vector<std::string> Evaluate(const RingFacts& ring) { return Lines(EvaluateRing(ring, limits, kNow)); }
  Thresholds limits{4 * 3600, 24 * 3600};
};

TEST_F(HealthRules, AHealthyRingHasNoFindings) {
  EXPECT_TRUE(Evaluate(HealthyRing()).empty());
  // A subordinate reference beside three readable replicas changes nothing.
  RingFacts ring = HealthyRing();
  ring.replicas.push_back(Replica("D.ORG", RT_SUBREF, 4));
  EXPECT_TRUE(Evaluate(ring).empty());
}

TEST_F(HealthRules, SyncErrorsAreCriticalWithTheReportsCodesAndTexts) {
  RingFacts ring = HealthyRing();
  ring.replicas[1].errorCount = 2;
  ring.replicas[1].errorReport = "Replica on server \"B.ORG\" has errors:\r\n  * 1: 0xFFFFFD8F\r\n  * 2: 0xFFFFFD84\r\n";
  ring.replicas[2].errorCount = 40;  // more than a reply holds: no report
  EXPECT_EQ(Evaluate(ring), (std::vector<std::string>{
                                "CRITICAL: Sales.ORG: Replica on server \"B.ORG\" has errors: 1: 0xFFFFFD8F; 2: 0xFFFFFD84",
                                "CRITICAL: Sales.ORG: Replica on server \"C.ORG\" has 40 errors (more than one report holds)"}));
}

TEST_F(HealthRules, LocalAndRemoteErrorStatesAreCriticalOtherStatesAreNot) {
  RingFacts ring = HealthyRing();
  ring.replicas[0].state = RS_LOCAL_ERROR;
  ring.replicas[0].statusError = static_cast<nuint32>(-625);
  ring.replicas[1].state = RS_REMOTE_ERROR;
  ring.replicas[2].state = 7;  // unknown state: shown by the scan, no rule for it
  EXPECT_EQ(Evaluate(ring),
            (std::vector<std::string>{
                "CRITICAL: Sales.ORG: Partition Status of A.ORG [Master] [Nr: 1] is (local error), error 0xFFFFFD8F",
                "CRITICAL: Sales.ORG: Partition Status of B.ORG [Secondary] [Nr: 2] is (remote error)"}));
  // Without a status value there is no state to judge.
  ring.replicas[0].hasStatus = false;
  ring.replicas[1].hasStatus = false;
  EXPECT_TRUE(Evaluate(ring).empty());
}

TEST_F(HealthRules, ARingOperationUnderWayIsAWarningWithTheStatesName) {
  RingFacts ring = HealthyRing();
  ring.replicas[0].ringState = RS_SS_0;
  ring.replicas[1].ringState = RS_NEW_REPLICA;
  ring.replicas[2].ringState = RS_JS_2;
  EXPECT_EQ(Evaluate(ring),
            (std::vector<std::string>{
                "WARNING: Sales.ORG: A.ORG [Master] [Nr: 1] is in the state Split 0 (a partition operation is under way)",
                "WARNING: Sales.ORG: B.ORG [Secondary] [Nr: 2] is in the state New (a partition operation is under way)",
                "WARNING: Sales.ORG: C.ORG [Read-Only] [Nr: 3] is in the state Join 2 (a partition operation is under way)"}));
}

TEST_F(HealthRules, ARingNeedsExactlyOneMaster) {
  RingFacts ring = HealthyRing();
  ring.replicas[0].type = RT_SECONDARY;
  EXPECT_EQ(Evaluate(ring), std::vector<std::string>{"CRITICAL: Sales.ORG: the ring has no master replica"});
  ring.replicas[0].type = RT_MASTER;
  ring.replicas[2].type = RT_MASTER;
  EXPECT_EQ(Evaluate(ring),
            std::vector<std::string>{"CRITICAL: Sales.ORG: the ring has 2 master replicas: A.ORG, C.ORG"});
  // An empty ring has no master and too few readable replicas.
  ring.replicas.clear();
  EXPECT_EQ(Evaluate(ring), (std::vector<std::string>{
                                "CRITICAL: Sales.ORG: the ring has no master replica",
                                "WARNING: Sales.ORG: only 0 readable replicas (master, secondary, read-only); 3 are recommended"}));
}

TEST_F(HealthRules, DuplicateReplicaNumbersAreCriticalOncePerNumber) {
  RingFacts ring = HealthyRing();
  ring.replicas[1].number = 1;
  ring.replicas[2].number = 1;
  ring.replicas.push_back(Replica("D.ORG", RT_SUBREF, 4));
  ring.replicas.push_back(Replica("E.ORG", RT_SUBREF, 4));
  EXPECT_EQ(Evaluate(ring), (std::vector<std::string>{
                                "CRITICAL: Sales.ORG: replica number 1 is used by 3 replicas: A.ORG, B.ORG, C.ORG",
                                "CRITICAL: Sales.ORG: replica number 4 is used by 2 replicas: D.ORG, E.ORG"}));
}

TEST_F(HealthRules, FewerThanThreeReadableReplicasWarnSubordinateReferencesDoNotCount) {
  RingFacts ring = HealthyRing();
  ring.replicas[2].type = RT_SUBREF;
  EXPECT_EQ(Evaluate(ring), std::vector<std::string>{
                                "WARNING: Sales.ORG: only 2 readable replicas (master, secondary, read-only); 3 are recommended"});
  ring.replicas.resize(1);
  EXPECT_EQ(Evaluate(ring), std::vector<std::string>{
                                "WARNING: Sales.ORG: only 1 readable replica (master, secondary, read-only); 3 are recommended"});
}

TEST_F(HealthRules, SyncAgesAtTheirThresholdsAndBeyond) {
  RingFacts ring = HealthyRing();
  ring.replicas[0].lastSync = static_cast<nuint32>(kNow - limits.warnAge);      // exactly at the limit: fine
  ring.replicas[1].lastSync = static_cast<nuint32>(kNow - limits.warnAge - 1);  // one second over
  ring.replicas[2].lastSync = static_cast<nuint32>(kNow - limits.critAge - 1);
  EXPECT_EQ(Evaluate(ring), (std::vector<std::string>{
                                "WARNING: Sales.ORG: B.ORG [Secondary] [Nr: 2] last synchronised 4h 0m ago (more than 4h)",
                                "CRITICAL: Sales.ORG: C.ORG [Read-Only] [Nr: 3] last synchronised 1d 0h ago (more than 1d)"}));
  // A time up to 5 minutes ahead of the clock is no age; a replica that never synchronised
  // is as old as can be.
  ring.replicas[1].lastSync = static_cast<nuint32>(kNow + kMaxClockSkew);
  ring.replicas[2].lastSync = 0;
  EXPECT_EQ(Evaluate(ring), std::vector<std::string>{
                                "CRITICAL: Sales.ORG: C.ORG [Read-Only] [Nr: 3] has never synchronised (more than 1d)"});
  // Further ahead, a server's clock is off: a warning, however far.
  for (const std::int64_t ahead : {kMaxClockSkew + 1, std::int64_t{3600}, std::int64_t{0xFFFFFFFF} - kNow}) {
    ring.replicas[1].lastSync = static_cast<nuint32>(kNow + ahead);
    const std::vector<std::string> lines = Evaluate(ring);
    ASSERT_EQ(lines.size(), 2u) << ahead;
    EXPECT_EQ(lines[0], "WARNING: Sales.ORG: B.ORG [Secondary] [Nr: 2] last synchronised " + DurationText(ahead) +
                            " in the future (clock skew of more than 5m)");
  }
  ring.replicas[1].lastSync = static_cast<nuint32>(kNow);
  // Other thresholds move the findings; a crit-age below the warn-age still wins.
  limits = {60, 30};
  ring.replicas[0].lastSync = static_cast<nuint32>(kNow);
  ring.replicas[2].lastSync = static_cast<nuint32>(kNow - 45);
  EXPECT_EQ(Evaluate(ring), std::vector<std::string>{
                                "CRITICAL: Sales.ORG: C.ORG [Read-Only] [Nr: 3] last synchronised 45s ago (more than 30s)"});
}

TEST_F(HealthRules, UnreadableRingsAndStatusesAreUnknownNotGuessed) {
  RingFacts ring{"Gone.ORG", {}, "0xFFFFFDA7", ""};
  // No master, count or age finding for a ring that could not be read.
  EXPECT_EQ(Evaluate(ring), std::vector<std::string>{"UNKNOWN: Gone.ORG: the replica ring cannot be read: 0xFFFFFDA7"});
  ring = HealthyRing();
  for (ReplicaFacts& replica : ring.replicas) {
    replica.hasStatus = false;
    replica.lastSync = 0;
  }
  ring.statusProblem = "2 values for 3 replicas";
  EXPECT_EQ(Evaluate(ring), std::vector<std::string>{
                                "UNKNOWN: Sales.ORG: the Partition Status cannot be read: 2 values for 3 replicas"});
}

// A ring the tree knows only by its holders is judged by their types alone; one nobody
// names is judged by no rule; the summary names what was not checked.
TEST_F(HealthRules, RingsKnownInPartAreCheckedAsFarAsTheyAreKnown) {
  RingFacts holders{"[Root]", {Replica("A.ORG", RT_SECONDARY, 0), Replica("B.ORG", RT_SECONDARY, 0)}, "", ""};
  for (ReplicaFacts& replica : holders.replicas) replica.hasStatus = false;
  holders.known = RingFacts::Known::HoldersOnly;
  EXPECT_EQ(Evaluate(holders), (std::vector<std::string>{
                                   "CRITICAL: [Root]: the ring has no master replica",
                                   "WARNING: [Root]: only 2 readable replicas (master, secondary, read-only); 3 are "
                                   "recommended"}));  // and no finding on the numbers it does not know
  RingFacts nothing{"Gone.ORG", {}, "", ""};
  nothing.known = RingFacts::Known::Nothing;
  EXPECT_TRUE(Evaluate(nothing).empty());
  const HealthSummary summary = EvaluateHealth({HealthyRing(), holders, nothing}, limits, kNow).summary;
  std::vector<std::string> unchecked;
  for (const UncheckedRules& rules : summary.unchecked) unchecked.push_back(UncheckedText(rules));
  EXPECT_EQ(unchecked,
            (std::vector<std::string>{
                "replica numbers, states, syncs and sync errors of [Root] (the servers name only its replicas and "
                "their types)",
                "the replica ring of Gone.ORG (not available for this tree)"}));
}

TEST_F(HealthRules, TotalsStatusAndOrderOfTheWholeTree) {
  std::vector<RingFacts> rings = {HealthyRing("[Root]"), HealthyRing("A.ORG"), HealthyRing("B.ORG"),
                                  RingFacts{"C.ORG", {}, "0xFFFFFDA7", ""}};
  rings[1].replicas[0].lastSync = static_cast<nuint32>(kNow - 5 * 3600);  // warning
  rings[2].replicas[1].errorCount = 1;                                     // critical
  rings[2].replicas[1].errorReport = "Replica on server \"B.ORG\" has errors:\r\n  * 1: 0xFFFFFD8F\r\n";
  rings[0].replicas[2].lastSync = static_cast<nuint32>(kNow - 7200);
  const HealthResult result = EvaluateHealth(rings, limits, kNow);
  EXPECT_EQ(result.summary.status, Severity::Critical);
  EXPECT_EQ(result.summary.partitions, 4);
  EXPECT_EQ(result.summary.replicas, 9);
  EXPECT_EQ(result.summary.replicasWithErrors, 1);
  EXPECT_EQ(result.summary.oldestSyncAge, 5 * 3600);
  EXPECT_EQ(result.summary.critical, 1);
  EXPECT_EQ(result.summary.warnings, 1);
  EXPECT_EQ(result.summary.unknown, 1);
  // Heaviest first: critical, unknown, warning.
  ASSERT_EQ(result.findings.size(), 3u);
  EXPECT_EQ(result.findings[0].partition, "B.ORG");
  EXPECT_EQ(result.findings[1].partition, "C.ORG");
  EXPECT_EQ(result.findings[2].partition, "A.ORG");
  EXPECT_EQ(ExitCodeOf(result.summary.status), 2);

  // Unknown outweighs a warning, a warning alone exits 1, nothing found exits 0.
  rings[2] = HealthyRing("B.ORG");
  EXPECT_EQ(ExitCodeOf(EvaluateHealth(rings, limits, kNow).summary.status), 3);
  rings.pop_back();
  EXPECT_EQ(ExitCodeOf(EvaluateHealth(rings, limits, kNow).summary.status), 1);
  rings[1] = HealthyRing("A.ORG");
  EXPECT_EQ(ExitCodeOf(EvaluateHealth(rings, limits, kNow).summary.status), 0);
  EXPECT_EQ(ExitCodeOf(EvaluateHealth({}, limits, kNow).summary.status), 0);
}

}  // namespace
}  // namespace vestrel::check
