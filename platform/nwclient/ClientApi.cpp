// Client start-up and the workstation's connections.
#include <algorithm>
#include <cstring>
#include <optional>

#include "directory/calwin32.h"
#include "directory/clxwin32.h"
#include "platform/nwclient/Engine.h"
#include "platform/nwclient/ldap/LdapConnection.h"
#include "platform/nwclient/ldap/LdapSettings.h"

namespace vestrel {

namespace {

constexpr NWCONN_HANDLE kFirstConnHandle = 0x1000;
constexpr std::size_t kPaddedTreeChars = 32;

// Connection references count from 1; 0 is never a connection.
const nw::Connection* ConnectionOf(NWCONN_REF ref) {
  const auto& connections = nw::TheEngine().Connections();
  return ref >= 1 && ref <= connections.size() ? &connections[ref - 1] : nullptr;
}

}  // namespace

NWRCODE ClientInitialize(nuint32 /*reserved1*/, nuint32 /*reserved2*/) {
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("ClientInitialize")) return code;
  engine.EnsureLoaded();
  return 0;
}

NWRCODE ClientLoadProblem(nuint32 index, nuint32 bufferLength, char* buffer, nuint32* textLength) {
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("ClientLoadProblem")) return code;
  if (!buffer || bufferLength == 0) return ERR_INVALID_PARAMETER;
  engine.EnsureLoaded();
  const auto& problems = engine.Problems();
  if (index >= problems.size()) return ERR_NO_MORE_LOAD_PROBLEMS;
  const std::string& text = problems[index];
  const std::size_t copied = std::min<std::size_t>(text.size(), bufferLength - 1);
  std::memcpy(buffer, text.data(), copied);
  buffer[copied] = '\0';
  if (textLength) *textLength = static_cast<nuint32>(std::min<std::size_t>(text.size(), 0xFFFFFFFFu));
  return 0;
}

NWRCODE ClientPrimaryLoadProblem(nuint32* index) {
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("ClientPrimaryLoadProblem")) return code;
  if (!index) return ERR_INVALID_PARAMETER;
  engine.EnsureLoaded();
  const std::optional<std::size_t> problem = engine.PrimaryProblem();
  if (!problem) return ERR_NO_MORE_LOAD_PROBLEMS;
  *index = static_cast<nuint32>(*problem);
  return 0;
}

void ClientSetPasswordPrompt(ClientPasswordPrompt prompt) { nw::TheEngine().passwordPrompt = std::move(prompt); }

bool ClientReadPasswordFile(const std::string& path, std::string& password, std::string& problem) {
  if (!nw::ldap::ReadPasswordFile(path, password, problem)) return false;
  nw::ldap::KeepSecretsInMemory();
  return true;
}

void ClientSetWaitHook(ClientWaitHook hook) { nw::ldap::LdapConnection::SetWaitHook(std::move(hook)); }

void ClientSetTimeLimit(std::chrono::milliseconds limit) {
  using Clock = nw::ldap::Clock;
  nw::ldap::LdapConnection::SetDeadline(limit.count() > 0 ? Clock::now() + limit : Clock::time_point::max());
}

NWRCODE ConnScanNext(nuint32* scanIterator, NWCONN_REF* connRef) {
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("ConnScanNext")) return code;
  if (!scanIterator || !connRef) return ERR_INVALID_PARAMETER;
  engine.EnsureLoaded();
  if (*scanIterator >= engine.Connections().size()) return ERR_NO_MORE_CONNECTIONS;
  *connRef = ++*scanIterator;
  return 0;
}

NWRCODE ConnPrimaryReference(NWCONN_REF* connRef) {
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("ConnPrimaryReference")) return code;
  if (!connRef) return ERR_INVALID_PARAMETER;
  engine.EnsureLoaded();
  const auto& connections = engine.Connections();
  for (std::size_t i = 0; i < connections.size(); ++i) {
    if (connections[i].primary) {
      *connRef = static_cast<NWCONN_REF>(i + 1);
      return 0;
    }
  }
  return ERR_NO_PRIMARY_CONNECTION;
}

NWRCODE ConnReferenceInfo(NWCONN_REF connRef, nuint32 infoItem, nuint32 bufferLength, void* buffer) {
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("ConnReferenceInfo")) return code;
  engine.EnsureLoaded();
  const nw::Connection* connection = ConnectionOf(connRef);
  if (!connection) return ERR_INVALID_CONNECTION;
  if (infoItem != CONN_INFO_TREE_NAME || !buffer) return ERR_INVALID_PARAMETER;
  // The client reports tree names padded with '_' to 32 characters.
  std::string name = connection->source->TreeName();
  if (name.size() < kPaddedTreeChars) name.append(kPaddedTreeChars - name.size(), '_');
  return nw::CopyOut(name, static_cast<char*>(buffer), bufferLength) ? 0 : ERR_INVALID_PARAMETER;
}

NWRCODE ConnServerTime(NWCONN_REF connRef, nuint32* directoryTime) {
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("ConnServerTime")) return code;
  engine.EnsureLoaded();
  const nw::Connection* connection = ConnectionOf(connRef);
  if (!connection) return ERR_INVALID_CONNECTION;
  if (!directoryTime) return ERR_INVALID_PARAMETER;
  return connection->source->ServerTime(*directoryTime);
}

NWRCODE ConnLinkFailure(NWCONN_REF connRef, std::string& words) {
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("ConnLinkFailure")) return code;
  engine.EnsureLoaded();
  const nw::Connection* connection = ConnectionOf(connRef);
  if (!connection) return ERR_INVALID_CONNECTION;
  words = connection->source->LinkFailure();
  return 0;
}

NWRCODE ConnOpenByReference(NWCONN_REF connRef, nuint32 /*openState*/, nuint32 /*reserved*/, NWCONN_HANDLE* connHandle) {
  nw::Engine& engine = nw::TheEngine();
  if (NWRCODE code = engine.Enter("ConnOpenByReference")) return code;
  engine.EnsureLoaded();
  if (!ConnectionOf(connRef)) return ERR_INVALID_CONNECTION;
  if (!connHandle) return ERR_INVALID_PARAMETER;
  *connHandle = kFirstConnHandle + connRef;
  return 0;
}

}  // namespace vestrel
