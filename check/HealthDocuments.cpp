#include "check/HealthDocuments.h"

namespace vestrel::check {

Severity StatusOf(const HealthCheck& check) {
  return check.failure.empty() ? check.result.summary.status : Severity::Unknown;
}

std::string ReplicaTypeId(nuint32 type) {
  switch (type) {
    case RT_MASTER: return "master";
    case RT_SECONDARY: return "secondary";
    case RT_READONLY: return "read-only";
    case RT_SUBREF: return "subordinate-reference";
    default: return "type-" + std::to_string(type);
  }
}

std::string ReplicaStateId(nuint32 state) {
  switch (state) {
    case RS_LOCAL_ERROR: return "local-error";
    case RS_REMOTE_ERROR: return "remote-error";
    case RS_IN_SYNC: return "in-sync";
    default: return "state-" + std::to_string(state);
  }
}

}  // namespace vestrel::check
