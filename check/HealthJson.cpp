// The JSON document of a health check. Facts the tree could not give are null, never a
// made-up zero; the field names are listed in the manual page.
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "check/HealthDocuments.h"
#include "directory/D_NW_Errors.h"
#include "util/BuildInfo.h"

namespace vestrel::check {

namespace {

using Json = nlohmann::ordered_json;

// "2024-05-06T08:00:00Z", whatever the machine's time zone and locale.
std::string UtcTime(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

const char* RingKnown(const RingFacts& ring) {
  if (!ring.ringProblem.empty()) return "unreadable";
  switch (ring.known) {
    case RingFacts::Known::HoldersOnly: return "holders-only";
    case RingFacts::Known::Nothing: return "not-available";
    default: return "read";
  }
}

Json ReplicaJson(const RingFacts& ring, const ReplicaFacts& replica, std::int64_t now) {
  const bool numbered = ring.known == RingFacts::Known::Whole;
  const bool errorsKnown = replica.errorsKnown && !ring.syncErrorsUnavailable;
  Json json = {{"server", replica.server},
               {"type", ReplicaTypeId(replica.type)},
               {"number", numbered ? Json(replica.number) : Json(nullptr)},
               {"state", nullptr},
               {"last_sync", nullptr},
               {"last_sync_seconds", nullptr},
               {"last_sync_age_seconds", nullptr},
               {"last_error", nullptr},
               {"last_error_text", nullptr},
               {"sync_errors", errorsKnown ? Json(replica.errorCount) : Json(nullptr)}};
  if (replica.hasStatus) {
    const auto code = static_cast<NWRCODE>(replica.statusError);
    json["state"] = ReplicaStateId(replica.state);
    json["last_sync"] = UtcTime(replica.lastSync);
    json["last_sync_seconds"] = replica.lastSync;
    json["last_sync_age_seconds"] = SyncAge(replica.lastSync, now);
    json["last_error"] = code;
    json["last_error_text"] = code == 0 ? Json(nullptr) : TextOrNull(ErrorMessage(code));
  }
  return json;
}

Json PartitionJson(const RingFacts& ring, const PartitionTotals& totals, std::int64_t now) {
  Json replicas = Json::array();
  for (const ReplicaFacts& replica : ring.replicas) replicas.push_back(ReplicaJson(ring, replica, now));
  return {{"name", ring.partition},
          {"ring", RingKnown(ring)},
          {"ring_problem", TextOrNull(ring.ringProblem)},
          {"status_problem", TextOrNull(ring.statusProblem)},
          {"oldest_sync_age_seconds", totals.oldestSyncAge ? Json(*totals.oldestSyncAge) : Json(nullptr)},
          {"sync_errors", totals.syncErrors ? Json(*totals.syncErrors) : Json(nullptr)},
          {"replicas", replicas}};
}

Json FindingJson(const Finding& finding) {
  return {{"severity", SeverityName(finding.severity)},
          {"rule", RuleId(finding.rule)},
          {"partition", finding.partition},
          {"server", TextOrNull(finding.server)},
          {"text", finding.text}};
}

Json UncheckedJson(const UncheckedRules& unchecked) {
  Json rules = Json::array();
  for (const Rule rule : unchecked.rules) rules.push_back(RuleId(rule));
  return {{"rules", rules}, {"partitions", unchecked.partitions}, {"reason", unchecked.reason},
          {"text", UncheckedText(unchecked)}};
}

Json TotalsJson(const HealthSummary& summary) {
  return {{"partitions", summary.partitions},
          {"replicas", summary.replicas},
          {"replicas_with_errors", summary.replicasWithErrors},
          {"oldest_sync_age_seconds", summary.oldestSyncAge},
          {"critical", summary.critical},
          {"warnings", summary.warnings},
          {"unknown", summary.unknown}};
}

}  // namespace

std::string HealthJson(const HealthCheck& check) {
  const Severity status = StatusOf(check);
  const bool read = check.failure.empty();
  Json partitions = Json::array();
  Json findings = Json::array();
  Json unchecked = Json::array();
  if (read) {
    const HealthSummary& summary = check.result.summary;
    for (std::size_t i = 0; i < check.rings.size() && i < summary.byPartition.size(); ++i)
      partitions.push_back(PartitionJson(check.rings[i], summary.byPartition[i], check.checkedAt));
    for (const Finding& finding : check.result.findings) findings.push_back(FindingJson(finding));
    for (const UncheckedRules& rules : summary.unchecked) unchecked.push_back(UncheckedJson(rules));
  }
  const Json document = {
      {"schema", kHealthJsonSchema},
      {"program", "vestrel-check"},
      {"version", kVersionNumber},
      {"tree", TextOrNull(check.tree)},
      {"status", SeverityName(status)},
      {"exit_code", ExitCodeOf(status)},
      {"success", read},
      {"failure", TextOrNull(check.failure)},
      {"checked_at", UtcTime(check.checkedAt)},
      {"checked_at_seconds", check.checkedAt},
      {"duration_seconds", std::round(check.durationSeconds * 1000) / 1000},  // as the metrics give it
      {"thresholds", {{"warn_age_seconds", check.limits.warnAge}, {"crit_age_seconds", check.limits.critAge}}},
      {"totals", read ? TotalsJson(check.result.summary) : Json(nullptr)},
      {"unchecked", unchecked},
      {"partitions", partitions},
      {"findings", findings}};
  // Names from the directory need not be UTF-8: such bytes become U+FFFD rather than fail the document.
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace vestrel::check
