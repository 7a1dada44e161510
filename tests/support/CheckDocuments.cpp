#include "CheckDocuments.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "ProgramRun.h"
#include "TempConfigHome.h"

namespace vestrel::testing {

Metrics ReadMetrics(const std::string& text) {
  const TempFolder folder("vestrel-metrics");
  const std::string path = folder.Path() + "/metrics.prom";
  std::ofstream(path, std::ios::binary) << text;
  const ProgramRun run = RunProgram(VESTREL_PYTHON3, {VESTREL_METRICS_READER, path}, std::chrono::seconds(60));
  Metrics metrics;
  if (run.code != 0) {
    metrics.failure = "the reader ended with status " + std::to_string(run.code) + ": " + run.err;
    return metrics;
  }
  metrics.families = nlohmann::json::parse(run.out)["families"];
  return metrics;
}

namespace {

std::vector<nlohmann::json> SamplesOf(const Metrics& metrics, const std::string& name) {
  std::vector<nlohmann::json> samples;
  for (const nlohmann::json& family : metrics.families)
    for (const nlohmann::json& sample : family["samples"])
      if (sample["name"] == name) samples.push_back(sample);
  return samples;
}

}  // namespace

double MetricValue(const Metrics& metrics, const std::string& name, const nlohmann::json& labels) {
  for (const nlohmann::json& sample : SamplesOf(metrics, name)) {
    bool matches = true;
    for (const auto& [key, value] : labels.items()) matches = matches && sample["labels"].value(key, "") == value;
    if (matches) return sample["value"].get<double>();
  }
  return std::nan("");
}

std::size_t SampleCount(const Metrics& metrics, const std::string& name) { return SamplesOf(metrics, name).size(); }

void ExpectWellFormedMetrics(const Metrics& metrics) {
  ASSERT_EQ(metrics.failure, "");
  std::set<std::string> families;
  std::set<std::string> series;
  for (const nlohmann::json& family : metrics.families) {
    const std::string name = family["name"];
    EXPECT_TRUE(families.insert(name).second) << name << " comes in more than one group";
    EXPECT_EQ(name.rfind("vestrel_", 0), 0u) << name;
    EXPECT_EQ(family["type"], "gauge") << name;
    EXPECT_FALSE(family["help"].get<std::string>().empty()) << name;
    for (const nlohmann::json& sample : family["samples"]) {
      EXPECT_EQ(sample["name"], name);
      EXPECT_TRUE(sample["labels"].contains("tree")) << sample;
      EXPECT_TRUE(series.insert(sample["name"].dump() + sample["labels"].dump()).second) << "twice: " << sample;
    }
  }
  for (const char* name : {"vestrel_replica_last_sync_timestamp_seconds", "vestrel_replica_state",
                           "vestrel_replica_last_error", "vestrel_replica_errors", "vestrel_partition_replicas",
                           "vestrel_check_status", "vestrel_check_rules_unchecked", "vestrel_check_duration_seconds",
                           "vestrel_check_success"})
    EXPECT_EQ(families.count(name), 1u) << name;
}

namespace {

// A value the document has is the sample's; one it has not (null) has no sample.
void ExpectSameValue(double sample, const nlohmann::json& value) {
  if (value.is_null()) EXPECT_TRUE(std::isnan(sample)) << sample;
  else EXPECT_EQ(sample, value.get<double>());
}

}  // namespace

void ExpectMetricsOfDocument(const Metrics& metrics, const nlohmann::json& document) {
  const std::string tree = document["tree"].is_null() ? "" : document["tree"];
  EXPECT_EQ(MetricValue(metrics, "vestrel_check_status", {{"tree", tree}}), document["exit_code"].get<double>());
  EXPECT_EQ(MetricValue(metrics, "vestrel_check_success", {{"tree", tree}}), document["success"].get<bool>() ? 1 : 0);
  EXPECT_GE(MetricValue(metrics, "vestrel_check_duration_seconds", {{"tree", tree}}), 0);
  for (const nlohmann::json& partition : document["partitions"]) {
    const bool ringKnown = partition["ring"] == "read" || partition["ring"] == "holders-only";
    ExpectSameValue(MetricValue(metrics, "vestrel_partition_replicas", {{"tree", tree}, {"partition", partition["name"]}}),
                    ringKnown ? nlohmann::json(partition["replicas"].size()) : nlohmann::json());
    for (const nlohmann::json& replica : partition["replicas"]) {
      const nlohmann::json labels = {{"tree", tree}, {"partition", partition["name"]}, {"server", replica["server"]},
                                     {"type", replica["type"]}};
      SCOPED_TRACE(labels.dump());
      ExpectSameValue(MetricValue(metrics, "vestrel_replica_last_sync_timestamp_seconds", labels),
                      replica["last_sync_seconds"]);
      ExpectSameValue(MetricValue(metrics, "vestrel_replica_last_error", labels), replica["last_error"]);
      ExpectSameValue(MetricValue(metrics, "vestrel_replica_errors", labels), replica["sync_errors"]);
      const std::map<std::string, int> states = {{"local-error", 0}, {"remote-error", 1}, {"in-sync", 2}};
      ExpectSameValue(MetricValue(metrics, "vestrel_replica_state", labels),
                      replica["state"].is_null() ? nlohmann::json() : nlohmann::json(states.at(replica["state"])));
    }
  }
}

std::vector<std::string> FindingLines(const std::string& report) {
  std::vector<std::string> lines;
  std::istringstream in(report);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> FindingLines(const nlohmann::json& document) {
  std::vector<std::string> lines;
  for (const nlohmann::json& finding : document["findings"])
    lines.push_back(finding["severity"].get<std::string>() + ": " + finding["partition"].get<std::string>() + ": " +
                    finding["text"].get<std::string>());
  return lines;
}

}  // namespace vestrel::testing
