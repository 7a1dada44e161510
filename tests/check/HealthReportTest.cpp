// The report text monitoring systems read: summary line with performance data, one line
// per finding, partitions named in the summary, and texts that cannot break the format.
#include <gtest/gtest.h>

#include "check/HealthReport.h"

namespace vestrel::check {
namespace {

HealthResult Result(Severity status, std::vector<Finding> findings) {
  HealthResult result;
  result.summary.status = status;
  result.summary.partitions = 4;
  result.summary.replicas = 11;
  result.summary.oldestSyncAge = 120;
  for (const Finding& finding : findings) {
    if (finding.severity == Severity::Critical) ++result.summary.critical;
    if (finding.severity == Severity::Warning) ++result.summary.warnings;
    if (finding.severity == Severity::Unknown) ++result.summary.unknown;
  }
  result.findings = std::move(findings);
  return result;
}

TEST(HealthReport, OkReportIsOneLineWithPerformanceData) {
  EXPECT_EQ(HealthReportText("ACME_TREE", Result(Severity::Ok, {})),
            "VESTREL OK - ACME_TREE: 4 partitions, 11 replicas | partitions=4 replicas=11 replicas_with_errors=0 "
            "oldest_sync_age=120s\n");
  HealthResult one = Result(Severity::Ok, {});
  one.summary.partitions = 1;
  one.summary.replicas = 1;
  one.summary.replicasWithErrors = 1;
  EXPECT_EQ(SummaryLine("T", one),
            "VESTREL OK - T: 1 partition, 1 replica | partitions=1 replicas=1 replicas_with_errors=1 oldest_sync_age=120s");
}

TEST(HealthReport, ProblemsAreCountedAndTheirPartitionsNamed) {
  const HealthResult result = Result(Severity::Critical, {{Severity::Critical, "Legacy.ACME", "a"},
                                                          {Severity::Critical, "Legacy.ACME", "b"},
                                                          {Severity::Warning, "Sales.ACME", "c"}});
  EXPECT_EQ(HealthReportText("ACME_TREE", result),
            "VESTREL CRITICAL - ACME_TREE: 4 partitions, 11 replicas, 2 critical, 1 warning: Legacy.ACME | partitions=4 "
            "replicas=11 replicas_with_errors=0 oldest_sync_age=120s\n"
            "CRITICAL: Legacy.ACME: a\n"
            "CRITICAL: Legacy.ACME: b\n"
            "WARNING: Sales.ACME: c\n");
  // Only the partitions of the report's status, at most three of them.
  const HealthResult many = Result(Severity::Warning, {{Severity::Warning, "A", "x"},
                                                       {Severity::Warning, "B", "x"},
                                                       {Severity::Warning, "C", "x"},
                                                       {Severity::Warning, "C", "y"},
                                                       {Severity::Warning, "D", "x"},
                                                       {Severity::Warning, "E", "x"}});
  EXPECT_EQ(SummaryLine("T", many), "VESTREL WARNING - T: 4 partitions, 11 replicas, 6 warnings: A, B, C and 2 more | "
                               "partitions=4 replicas=11 replicas_with_errors=0 oldest_sync_age=120s");
}

// Over LDAP the replicas' sync error lists cannot be asked for: an otherwise healthy tree
// is OK, and its summary line says which rule was not checked.
TEST(HealthReport, ARuleThatCouldNotBeCheckedIsNamedNotPassed) {
  RingFacts ring;
  ring.partition = "Sales.ACME";
  for (nuint32 number : {1u, 2u, 3u}) {
    ReplicaFacts replica;
    replica.server = "S" + std::to_string(number) + ".ACME";
    replica.type = number == 1 ? RT_MASTER : RT_SECONDARY;
    replica.number = number;
    replica.hasStatus = true;
    replica.lastSync = 1000;
    ring.replicas.push_back(replica);
  }
  EXPECT_EQ(SummaryLine("T", EvaluateHealth({ring}, Thresholds{}, 1060)),
            "VESTREL OK - T: 1 partition, 3 replicas | partitions=1 replicas=3 replicas_with_errors=0 oldest_sync_age=60s "
            "'Sales.ACME oldest_sync_age'=60s 'Sales.ACME sync_errors'=U");
  ring.syncErrorsUnavailable = true;
  const HealthResult result = EvaluateHealth({ring, ring}, Thresholds{}, 1060);
  EXPECT_EQ(result.summary.status, Severity::Ok);
  EXPECT_EQ(SummaryLine("T", result),
            "VESTREL OK - T: 2 partitions, 6 replicas; not checked: replica sync errors (not available for this tree) | "
            "partitions=2 replicas=6 replicas_with_errors=0 oldest_sync_age=60s 'Sales.ACME oldest_sync_age'=60s "
            "'Sales.ACME sync_errors'=U 'Sales.ACME oldest_sync_age'=60s 'Sales.ACME sync_errors'=U");
}

// Each partition's oldest sync age and sync errors follow the totals, which stay first and
// as they were; labels are quoted as the plugin guidelines say; a larger tree gets the totals only.
TEST(HealthReport, PerformanceDataPerPartitionFollowsTheTotalsWhileTheLineStaysShort) {
  HealthSummary summary = Result(Severity::Ok, {}).summary;
  const std::string totals = "partitions=4 replicas=11 replicas_with_errors=0 oldest_sync_age=120s";
  struct Case {
    PartitionTotals partition;
    std::string data;
  };
  const std::vector<Case> cases = {
      {{"Sales.ACME", 120, 2}, " 'Sales.ACME oldest_sync_age'=120s 'Sales.ACME sync_errors'=2"},
      {{"[Root]", std::nullopt, std::nullopt}, " '[Root] oldest_sync_age'=U '[Root] sync_errors'=U"},
      {{"O'Brien Lab.ACME", 0, 0}, " 'O''Brien Lab.ACME oldest_sync_age'=0s 'O''Brien Lab.ACME sync_errors'=0"},
      {{"A=B|C\nD", 5, std::nullopt}, " 'A_B/C D oldest_sync_age'=5s 'A_B/C D sync_errors'=U"},
  };
  std::string expected = totals;
  for (const Case& c : cases) {
    summary.byPartition.push_back(c.partition);
    expected += c.data;
  }
  EXPECT_EQ(PerformanceData(summary), expected);
  summary.byPartition.resize(kPartitionsWithPerformanceData, cases[0].partition);
  EXPECT_EQ(PerformanceData(summary).rfind(expected, 0), 0u);
  summary.byPartition.push_back(cases[0].partition);
  EXPECT_EQ(PerformanceData(summary), totals);
}

TEST(HealthReport, DirectoryTextsCannotAddLinesOrPerformanceData) {
  const HealthResult result =
      Result(Severity::Unknown, {{Severity::Unknown, "Odd|Name\r\nX", "text with | bar\nand a line"}});
  const std::string text = HealthReportText("ODD|TREE", result);
  EXPECT_EQ(text,
            "VESTREL UNKNOWN - ODD/TREE: 4 partitions, 11 replicas, 1 unknown: Odd/Name  X | partitions=4 replicas=11 "
            "replicas_with_errors=0 oldest_sync_age=120s\n"
            "UNKNOWN: Odd/Name  X: text with / bar and a line\n");
  EXPECT_EQ(UnknownLine("tree X|Y cannot\nbe reached"), "VESTREL UNKNOWN - tree X/Y cannot be reached");
}

}  // namespace
}  // namespace vestrel::check
