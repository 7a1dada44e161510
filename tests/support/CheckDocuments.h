// vestrel-check's health documents read back as scripts and collectors read them: metrics
// by a parser that is not the writer, prometheus_client's (read_metrics.py, with Debian's
// python3-prometheus-client), and the JSON document against the text report and the metrics.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vestrel::testing {

struct Metrics {
  std::string failure;      // what the parser said when it refused the text
  nlohmann::json families;  // [{name, type, help, samples: [{name, labels, value}]}]
};

Metrics ReadMetrics(const std::string& text);

// The value of the sample of name whose labels hold every one of labels; NaN when none does.
double MetricValue(const Metrics& metrics, const std::string& name, const nlohmann::json& labels);
// How many samples name has.
std::size_t SampleCount(const Metrics& metrics, const std::string& name);

// Parsed; every family a gauge with help, in one group, named vestrel_*; every sample
// labelled with its tree, no series twice; all of vestrel-check's families there.
void ExpectWellFormedMetrics(const Metrics& metrics);
// The metrics hold what the JSON document of the same check holds: its status, each
// readable ring's size, each replica's values, and no sample where the document has null.
void ExpectMetricsOfDocument(const Metrics& metrics, const nlohmann::json& document);

// The lines after the summary line of a text report.
std::vector<std::string> FindingLines(const std::string& report);
// The same lines as a script prints them from the JSON document: "SEVERITY: partition: text".
std::vector<std::string> FindingLines(const nlohmann::json& document);

}  // namespace vestrel::testing
