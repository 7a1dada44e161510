// The text of a health check: one summary line with performance data, then one line
// per finding, as monitoring systems read plugin output.
#pragma once

#include <string>

#include "check/HealthRules.h"

namespace vestrel::check {

// "partitions=4 replicas=11 replicas_with_errors=0 oldest_sync_age=120s", then for a tree
// of at most kPartitionsWithPerformanceData partitions each one's oldest sync age and sync
// errors: "'Sales.ACME oldest_sync_age'=120s 'Sales.ACME sync_errors'=0" (U when unknown).
std::string PerformanceData(const HealthSummary& summary);
// A performance data label as the plugin guidelines quote it: in single quotes (it holds
// a blank), a single quote in it doubled; "=" cannot be quoted and becomes "_".
std::string PerformanceLabel(const std::string& label);
// "VESTREL OK - ACME_TREE: 4 partitions, 11 replicas | <performance data>" for the tree
// checked; with findings their counts and the first partitions they concern follow the
// totals, and the rules that could not be checked come last ("; not checked: ...").
std::string SummaryLine(const std::string& tree, const HealthResult& result);
// "CRITICAL: Legacy.ACME: <text>"
std::string FindingLine(const Finding& finding);
// The summary line and every finding line, each ending in a line feed.
std::string HealthReportText(const std::string& tree, const HealthResult& result);
// The line for a check that could not be made: "VESTREL UNKNOWN - <reason>".
std::string UnknownLine(const std::string& reason);

// How many partitions the summary line names at most.
inline constexpr int kNamedPartitions = 3;
// Up to this many partitions the performance data carries each one's values: a line that
// plugin transports (NRPE's 1 KB in older versions) and graphing add-ons handle whole.
// Larger trees get the totals only; --format prometheus has every partition.
inline constexpr int kPartitionsWithPerformanceData = 10;

}  // namespace vestrel::check
