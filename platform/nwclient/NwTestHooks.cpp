// Test and benchmark controls of the embedded directory.
#include "platform/nwclient/NwTestHooks.h"

#include <nlohmann/json.hpp>

#include "platform/nwclient/Engine.h"
#include "platform/nwclient/ldap/LdapConnection.h"

namespace vestrel::nwtest {

namespace {

template <class Load>
std::string Attempt(Load load) {
  try {
    load();
    return "";
  } catch (const nw::LoadError& e) {
    return e.what();
  }
}

}  // namespace

void Reset() {
  nw::Engine& engine = nw::TheEngine();
  engine.Clear();
  engine.ClearControls();
  engine.SetAutoLoad(false);
  engine.passwordPrompt = nullptr;  // installed by the program that is being tested
  nw::ldap::LdapConnection::SetRetryPause(nw::ldap::LdapConnection::kDefaultRetryPause);
}

void ResetToDefaults() {
  Reset();
  nw::TheEngine().SetAutoLoad(true);
}

std::string ConnectTreeFile(const std::string& path, const std::string& user, bool primary) {
  nlohmann::json connections = {{"connections", {{{"tree", path}, {"user", user}, {"primary", primary}}}}};
  return LoadConnectionsJson(connections.dump(), "");
}

std::string ConnectTreeJson(const std::string& json, const std::string& user, bool primary) {
  return Attempt([&] {
    nw::Engine& engine = nw::TheEngine();
    nw::DirectorySource& tree = engine.AddTree(nw::LoadTreeText(json, "tree text"));
    engine.AddConnection(tree, user, primary);
  });
}

std::string LoadConnectionsFile(const std::string& path) {
  nw::Engine& engine = nw::TheEngine();
  std::size_t known = engine.Problems().size();
  std::string error = Attempt([&] { engine.LoadConnectionsFile(path); });
  return error.empty() && engine.Problems().size() > known ? engine.Problems().back() : error;
}

std::string LoadConnectionsJson(const std::string& json, const std::string& baseDir) {
  nw::Engine& engine = nw::TheEngine();
  std::size_t known = engine.Problems().size();
  std::string error = Attempt([&] { engine.LoadConnectionsText(json, "connections text", baseDir); });
  return error.empty() && engine.Problems().size() > known ? engine.Problems().back() : error;
}

nw::Tree* FindTree(const std::string& name) { return nw::TheEngine().TreeNamed(name); }

void FailOperation(const std::string& operation, NWRCODE code, std::uint64_t afterCalls, std::int64_t times) {
  nw::TheEngine().FailCalls(operation, nw::FailureRule{code, afterCalls, times});
}

void ClearFailures() { nw::TheEngine().ClearFailures(); }

void SetLatency(std::chrono::microseconds latency, const std::string& operation) {
  nw::TheEngine().SetLatency(latency, operation);
}

std::uint64_t CallCount(const std::string& operation) { return nw::TheEngine().CallCount(operation); }
void ResetCallCounts() { nw::TheEngine().ResetCallCounts(); }

nuint32 ClockNow() { return nw::TheEngine().clock.Now(); }
void SetClock(nuint32 seconds) { nw::TheEngine().clock.Set(seconds); }
void AdvanceClock(std::int64_t seconds) { nw::TheEngine().clock.Advance(seconds); }

void SetPartitionBatchSize(std::uint32_t size) { nw::TheEngine().partitionBatchOverride = size; }

std::uint64_t ServerRequests(const std::string& tree) {
  const nw::DirectorySource* source = nw::TheEngine().SourceNamed(tree);
  return source ? source->RequestCount() : 0;
}

void SetLdapRetryPause(std::chrono::milliseconds pause) { nw::ldap::LdapConnection::SetRetryPause(pause); }

std::size_t OpenContexts() { return nw::TheEngine().ContextCount(); }
std::size_t OpenBuffers() { return nw::TheEngine().BufferCount(); }
std::size_t OpenIterations() { return nw::TheEngine().IterationCount(); }

std::string GenerateTreeJson(const TreeShape& shape) {
  using nlohmann::json;
  const std::string org = "BENCH";
  json objects = json::array();
  objects.push_back({{"name", org}, {"class", "Organization"}});
  objects.push_back({{"name", "admin." + org}, {"class", "User"}});
  objects.push_back({{"name", "Servers." + org}, {"class", "Organizational Unit"}});
  json servers = json::array();
  for (std::uint32_t s = 0; s < shape.servers; ++s) {
    std::string ip = "10." + std::to_string((s >> 16) & 255) + "." + std::to_string((s >> 8) & 255) + "." + std::to_string(s & 255);
    servers.push_back({{"name", "SRV" + std::to_string(s + 1) + ".Servers." + org},
                       {"version", "eDirectory 8.8 SP8"},
                       {"dsRevision", 20218},
                       {"addresses", {{{"type", 9}, {"ip", ip}, {"port", 524}}}}});
  }
  json partitions = json::array();
  auto ring = [&](std::uint32_t p) {
    json replicas = json::array();
    std::uint32_t count = shape.servers ? std::min(shape.replicasPerPartition, shape.servers) : 0;
    for (std::uint32_t r = 0; r < count; ++r) {
      json replica = {{"server", "SRV" + std::to_string((p + r) % shape.servers + 1) + ".Servers." + org},
                      {"type", r == 0 ? 0 : (r == count - 1 && count > 2 ? 3 : 1)}};
      if (shape.errorsEvery && p % shape.errorsEvery == 0 && r == 1)
        replica.update({{"state", 0}, {"errors", {-625, -636}}});
      replicas.push_back(replica);
    }
    return replicas;
  };
  partitions.push_back({{"root", "[Root]"}, {"replicas", ring(0)}});
  for (std::uint32_t p = 1; p <= shape.partitions; ++p) {
    std::string ou = "OU" + std::to_string(p) + "." + org;
    objects.push_back({{"name", ou}, {"class", "Organizational Unit"}});
    for (std::uint32_t o = 0; o < shape.objectsPerPartition; ++o)
      objects.push_back({{"name", "user" + std::to_string(o + 1) + "." + ou}, {"class", "User"},
                         {"attributes", {{"Surname", "User " + std::to_string(o + 1)}}}});
    partitions.push_back({{"root", ou}, {"replicas", ring(p)}});
  }
  json tree = {{"tree", shape.treeName}, {"clock", 1714982400}, {"defaultCreator", "admin." + org},
               {"objects", objects}, {"servers", servers}, {"partitions", partitions}};
  return tree.dump();
}

}  // namespace vestrel::nwtest
