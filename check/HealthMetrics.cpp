// The health check as Prometheus metrics, for node_exporter's textfile collector. Every
// series carries the tree, so the files of several trees can lie side by side; a fact
// the tree could not give has no sample rather than a made-up zero.
#include <functional>
#include <set>

#include "check/HealthDocuments.h"
#include "util/D_Util.h"

namespace vestrel::check {

namespace {

// Bytes that are not UTF-8 become U+FFFD: the collector rejects a whole file for one
// label value that is not valid UTF-8.
std::string ValidUtf8(const std::string& text) {
  std::string valid;
  std::size_t i = 0;
  const auto byte = [&](std::size_t at) { return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u; };
  while (i < text.size()) {
    const unsigned lead = byte(i);
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the byte after the lead
    if (lead < 0x80) length = 1;
    else if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    bool ok = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; ok && k < length; ++k) {
      const unsigned next = byte(i + k);
      ok = k == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
    }
    valid += ok ? text.substr(i, length) : std::string("\xEF\xBF\xBD");
    i += ok ? length : 1;
  }
  return valid;
}

// A label value as the text format requires: backslash, double quote and line feed escaped.
std::string LabelValue(const std::string& value) {
  std::string escaped;
  for (const char c : ValidUtf8(value)) {
    if (c == '\\') escaped += "\\\\";
    else if (c == '"') escaped += "\\\"";
    else if (c == '\n') escaped += "\\n";
    else escaped += c;
  }
  return escaped;
}

using Labels = std::vector<std::pair<const char*, std::string>>;

std::string LabelText(const Labels& labels) {
  std::string text;
  for (const auto& [name, value] : labels) text += (text.empty() ? "" : ",") + std::string(name) + "=\"" + LabelValue(value) + "\"";
  return "{" + text + "}";
}

// One metric family: its HELP and TYPE lines, then its samples. A label set already
// given (a ring that names one server twice) is left out: the collector would refuse the
// whole file for a repeated series.
class Family {
 public:
  Family(std::string& out, const char* name, const char* help) : out_(out), name_(name) {
    out_ += Format("# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
  }
  void Sample(const Labels& labels, const std::string& value) {
    const std::string series = LabelText(labels);
    if (seen_.insert(series).second) out_ += name_ + series + " " + value + "\n";
  }
  void Sample(const Labels& labels, std::int64_t value) { Sample(labels, std::to_string(value)); }

 private:
  std::string& out_;
  std::string name_;
  std::set<std::string> seen_;
};

Labels ReplicaLabels(const std::string& tree, const RingFacts& ring, const ReplicaFacts& replica) {
  return {{"tree", tree}, {"partition", ring.partition}, {"server", replica.server}, {"type", ReplicaTypeId(replica.type)}};
}

// A family with one sample per replica that has the value (value returns false when not).
void ReplicaFamily(std::string& out, const HealthCheck& check, const char* name, const char* help,
                   const std::function<bool(const RingFacts&, const ReplicaFacts&, std::int64_t&)>& value) {
  Family family(out, name, help);
  for (const RingFacts& ring : check.rings)
    for (const ReplicaFacts& replica : ring.replicas)
      if (std::int64_t v = 0; value(ring, replica, v)) family.Sample(ReplicaLabels(check.tree, ring, replica), v);
}

void ReplicaMetrics(std::string& out, const HealthCheck& check) {
  ReplicaFamily(out, check, "vestrel_replica_last_sync_timestamp_seconds",
                "Time of the replica's last sync by its Partition Status, seconds since 1970 (0: never).",
                [](const RingFacts&, const ReplicaFacts& replica, std::int64_t& v) {
                  v = replica.lastSync;
                  return replica.hasStatus;
                });
  ReplicaFamily(out, check, "vestrel_replica_state",
                "State of the replica by its Partition Status: 0 local error, 1 remote error, 2 in sync.",
                [](const RingFacts&, const ReplicaFacts& replica, std::int64_t& v) {
                  v = replica.state;
                  return replica.hasStatus;
                });
  ReplicaFamily(out, check, "vestrel_replica_last_error",
                "Completion code of the replica's last sync error by its Partition Status (0: none).",
                [](const RingFacts&, const ReplicaFacts& replica, std::int64_t& v) {
                  v = static_cast<NWRCODE>(replica.statusError);
                  return replica.hasStatus;
                });
  ReplicaFamily(out, check, "vestrel_replica_errors", "Sync errors in the last report of the replica's server.",
                [](const RingFacts& ring, const ReplicaFacts& replica, std::int64_t& v) {
                  v = replica.errorCount;
                  return replica.errorsKnown && !ring.syncErrorsUnavailable;
                });
}

void PartitionMetrics(std::string& out, const HealthCheck& check) {
  Family family(out, "vestrel_partition_replicas", "Replicas in the partition's ring (subordinate references included).");
  for (const RingFacts& ring : check.rings)
    if (ring.ringProblem.empty() && ring.known != RingFacts::Known::Nothing)
      family.Sample({{"tree", check.tree}, {"partition", ring.partition}}, static_cast<std::int64_t>(ring.replicas.size()));
}

void RunMetrics(std::string& out, const HealthCheck& check) {
  const Labels tree = {{"tree", check.tree}};
  Family(out, "vestrel_check_success", "Whether the tree could be read (1) or the check failed before (0).")
      .Sample(tree, check.failure.empty() ? 1 : 0);
  Family(out, "vestrel_check_status", "Status of the replica health check: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.")
      .Sample(tree, ExitCodeOf(StatusOf(check)));
  Family(out, "vestrel_check_rules_unchecked", "Health rules the tree could not give the facts for on some partition.")
      .Sample(tree, UncheckedRuleCount(check.result.summary));
  Family(out, "vestrel_check_duration_seconds", "Time the health check took.")
      .Sample(tree, Format("%.3f", check.durationSeconds));
}

}  // namespace

std::string HealthMetrics(const HealthCheck& check) {
  std::string out;
  RunMetrics(out, check);
  // A check that failed has no rings: the families stay, without samples.
  PartitionMetrics(out, check);
  ReplicaMetrics(out, check);
  return out;
}

}  // namespace vestrel::check
