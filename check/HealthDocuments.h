// The health check as documents for programs rather than people: a JSON document for
// scripts and ticketing, and metrics in the Prometheus text format for node_exporter's
// textfile collector. Their names are what scripts and dashboards rely on: they follow
// neither the window's wording nor the finding texts, and change only with the schema.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/HealthRules.h"

namespace vestrel::check {

// Everything one health check found, or why it could not be made.
struct HealthCheck {
  std::string tree;             // the tree checked; when the check failed before one was chosen, the one asked for
  std::int64_t checkedAt = 0;   // the time sync ages are measured against, seconds since 1970 UTC
  double durationSeconds = 0;   // how long the run took until the document was made
  Thresholds limits;
  std::string failure;          // why the tree could not be read; empty when it was
  std::vector<RingFacts> rings;
  HealthResult result;
};

// UNKNOWN when the check failed, else the status of its findings.
Severity StatusOf(const HealthCheck& check);

// The version of the JSON document's layout, its "schema" field.
inline constexpr int kHealthJsonSchema = 1;

// The JSON document (UTF-8, ending in a line feed).
std::string HealthJson(const HealthCheck& check);
// The Prometheus text exposition (version 0.0.4), every family with HELP and TYPE.
std::string HealthMetrics(const HealthCheck& check);

// The words both documents use for a replica's type and state: "master", "secondary",
// "read-only", "subordinate-reference", "type-7"; "local-error", "remote-error",
// "in-sync", "state-5".
std::string ReplicaTypeId(nuint32 type);
std::string ReplicaStateId(nuint32 state);

}  // namespace vestrel::check
