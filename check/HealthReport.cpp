#include "check/HealthReport.h"

#include <unordered_set>

#include "util/D_Util.h"

namespace vestrel::check {

namespace {

constexpr const char* kServiceName = "VESTREL";

// Names and texts from the directory stay on their line, and a "|" in them would start
// performance data where a monitoring system reads it.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
    if (c == '|') c = '/';
  }
  return text;
}

std::string Counted(int count, const char* one, const char* many) {
  return Format("%d %s", count, count == 1 ? one : many);
}

// The partitions whose findings carry the report's status, in report order, without repeats.
std::string NamedPartitions(const HealthResult& result) {
  std::unordered_set<std::string> seen;
  std::string text;
  int named = 0;
  int more = 0;
  for (const Finding& finding : result.findings) {
    if (finding.severity != result.summary.status || !seen.insert(finding.partition).second) continue;
    if (named == kNamedPartitions) {
      ++more;
      continue;
    }
    text += (named++ == 0 ? "" : ", ") + OneLine(finding.partition);
  }
  if (more > 0) text += Format(" and %d more", more);
  return text;
}

}  // namespace

std::string PerformanceLabel(const std::string& label) {
  std::string quoted = "'";
  for (const char c : OneLine(label)) {
    if (c == '=') quoted += '_';
    else quoted += c == '\'' ? "''" : std::string(1, c);
  }
  return quoted + "'";
}

std::string PerformanceData(const HealthSummary& summary) {
  std::string text = Format("partitions=%d replicas=%d replicas_with_errors=%d oldest_sync_age=%llds",
                            summary.partitions, summary.replicas, summary.replicasWithErrors,
                            static_cast<long long>(summary.oldestSyncAge));
  if (summary.byPartition.size() > static_cast<std::size_t>(kPartitionsWithPerformanceData)) return text;
  for (const PartitionTotals& totals : summary.byPartition) {
    text += " " + PerformanceLabel(totals.partition + " oldest_sync_age") + "=" +
            (totals.oldestSyncAge ? std::to_string(*totals.oldestSyncAge) + "s" : "U");
    text += " " + PerformanceLabel(totals.partition + " sync_errors") + "=" +
            (totals.syncErrors ? std::to_string(*totals.syncErrors) : "U");
  }
  return text;
}

std::string SummaryLine(const std::string& tree, const HealthResult& result) {
  const HealthSummary& summary = result.summary;
  std::string text = Format("%s %s - %s: ", kServiceName, SeverityName(summary.status), OneLine(tree)) +
                     Counted(summary.partitions, "partition", "partitions") + ", " +
                     Counted(summary.replicas, "replica", "replicas");
  if (summary.critical > 0) text += Format(", %d critical", summary.critical);
  if (summary.warnings > 0) text += ", " + Counted(summary.warnings, "warning", "warnings");
  if (summary.unknown > 0) text += Format(", %d unknown", summary.unknown);
  if (summary.status != Severity::Ok) text += ": " + NamedPartitions(result);
  // A rule that could not be checked is no rule that passed.
  for (std::size_t i = 0; i < summary.unchecked.size(); ++i)
    text += (i == 0 ? "; not checked: " : ", ") + UncheckedText(summary.unchecked[i]);
  return text + " | " + PerformanceData(summary);
}

std::string FindingLine(const Finding& finding) {
  return OneLine(Format("%s: %s: %s", SeverityName(finding.severity), finding.partition, finding.text));
}

std::string HealthReportText(const std::string& tree, const HealthResult& result) {
  std::string text = SummaryLine(tree, result) + "\n";
  for (const Finding& finding : result.findings) text += FindingLine(finding) + "\n";
  return text;
}

std::string UnknownLine(const std::string& reason) {
  return Format("%s %s - %s", kServiceName, SeverityName(Severity::Unknown), OneLine(reason));
}

}  // namespace vestrel::check
