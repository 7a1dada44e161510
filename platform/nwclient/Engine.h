// The state behind the client library's operations: loaded trees, the workstation's
// connections, contexts, buffers, iterations, the clock and the test controls.
// Single-threaded, like the program that uses it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "directory/NTypes.h"
#include "directory/calwin32.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/Source.h"
#include "platform/nwclient/ldap/LdapSettings.h"

namespace vestrel::nw {

struct Connection {
  DirectorySource* source = nullptr;
  std::string user;  // full name of the authenticated object, may be empty
  bool primary = false;
};

struct Context {
  std::string tree;                  // tree the context works in ("" = none)
  std::string nameContext = "[Root]";  // full name without types and dot
  nuint32 flags = DCV_DEREF_ALIASES | DCV_XLATE_STRINGS | DCV_CANONICALIZE_NAMES;
  nuint32 dsiFlags = DSI_ENTRY_FLAGS | DSI_SUBORDINATE_COUNT | DSI_MODIFICATION_TIME | DSI_BASE_CLASS;
};

// Anything an operation family keeps in a buffer beyond what this file knows (the
// search keeps its stored filter and its result objects here).
struct BufferPayload {
  virtual ~BufferPayload() = default;
};

// One attribute of a read reply: a copy of the values, names already in the context's form.
struct ReplyAttribute {
  Attribute attr;
  std::size_t firstValue = 0;  // values [firstValue, lastValue) travel in this reply
  std::size_t lastValue = 0;
};

struct BufferState {
  std::unique_ptr<Buf_T> header;
  std::unique_ptr<nuint8[]> data;
  bool initialized = false;
  NWDSContextHandle context = 0;
  // Request: attribute names added with DSRequestAddAttrName.
  std::vector<std::string> attrNames;
  // Read reply and its cursor.
  nuint32 infoType = 0;
  std::vector<ReplyAttribute> reply;
  std::size_t nextAttr = 0;        // attributes handed out so far
  std::size_t nextValue = 0;       // absolute index of the next value of the current attribute
  bool replyReady = false;
  // Partition list reply and its cursor.
  std::string serverName;
  std::vector<std::pair<std::string, nuint32>> partitions;
  std::size_t nextPartition = 0;
  bool partitionsReady = false;
  std::unique_ptr<BufferPayload> payload;

  void ClearContent();  // everything but the header and data area
};

// A listing or read that continues over several calls; kept under its handle.
struct Iteration {
  virtual ~Iteration() = default;
  NWDSContextHandle context = 0;
};

// The engine clock: real time plus an offset, or a fixed time once set.
class Clock {
 public:
  nuint32 Now() const;
  void Set(nuint32 seconds);
  void Advance(std::int64_t seconds);
  void Reset();

 private:
  bool fixed_ = false;
  std::int64_t value_ = 0;
  std::int64_t offset_ = 0;
};

struct FailureRule {
  NWRCODE code = 0;
  std::uint64_t afterCalls = 0;  // calls that still succeed before the failures start
  std::int64_t times = -1;       // failures to give, -1 = every call from then on
};

class Engine {
 public:
  // ---- Trees and connections ----
  // Loads the workstation's connections when nothing was loaded yet (connections file,
  // else the demo trees). Problems with single trees are kept (Problems); the programs
  // report them.
  void EnsureLoaded();
  void Clear();  // forget trees, connections, contexts, buffers and iterations
  void SetAutoLoad(bool enabled) { autoLoad_ = enabled; loaded_ = !enabled; }
  // Adds a tree held in memory; the engine owns it. The first tree that gives a clock
  // sets the clock.
  DirectorySource& AddTree(std::unique_ptr<Tree> tree);
  // Adds a tree of any source; the engine owns it. Tree names are unique.
  DirectorySource& AddSource(std::unique_ptr<DirectorySource> source);
  DirectorySource* SourceNamed(const std::string& name) const;  // case-insensitive
  Tree* TreeNamed(const std::string& name) const;  // a tree held in memory, case-insensitive
  void AddConnection(DirectorySource& source, const std::string& user, bool primary);
  // Reads a connections file (JSON text; relative tree paths against baseDir).
  void LoadConnectionsText(const std::string& text, const std::string& label, const std::string& baseDir);
  void LoadConnectionsFile(const std::string& path);
  const std::vector<Connection>& Connections() const { return connections_; }
  const std::vector<std::string>& Problems() const { return problems_; }
  // The index in Problems of the one that kept the primary connection from being made (the
  // connection marked primary, else the first one), when one did.
  std::optional<std::size_t> PrimaryProblem() const { return primaryProblem_; }
  std::string preferredTree;
  // Asked for the password of an LDAP connection that names a bind DN and no password
  // source, again after a refusal; none installed: such a connection is left out with a
  // problem.
  ClientPasswordPrompt passwordPrompt;

  // ---- Contexts ----
  NWDSContextHandle NewContext(const Context& settings);
  Context* FindContext(NWDSContextHandle handle);
  bool FreeContext(NWDSContextHandle handle);
  std::size_t ContextCount() const { return contexts_.size(); }
  // The tree of a context: ERR_BAD_CONTEXT, ERR_NO_CONNECTION or 0.
  NWRCODE ContextSource(NWDSContextHandle handle, Context*& context, DirectorySource*& source);

  // ---- Buffers ----
  Buf_T* NewBuffer(std::size_t size);
  BufferState* FindBuffer(const Buf_T* buffer);
  bool FreeBuffer(Buf_T* buffer);
  std::size_t BufferCount() const { return buffers_.size(); }

  // ---- Iterations ----
  nuint32 AddIteration(std::unique_ptr<Iteration> iteration);
  Iteration* FindIteration(nuint32 handle);
  bool EndIteration(nuint32 handle);
  std::size_t IterationCount() const { return iterations_.size(); }

  // ---- Clock ----
  Clock clock;
  std::uint32_t partitionBatchOverride = 0;  // 0 = each tree's own batch size

  // ---- Call controls (counters, failures, latency) ----
  // Every operation starts with Enter: counts the call, waits the latency and returns
  // the failure code a test asked for, or 0.
  NWRCODE Enter(const char* operation);
  std::uint64_t CallCount(const std::string& operation) const;
  void ResetCallCounts() { calls_.clear(); }
  void FailCalls(const std::string& operation, FailureRule rule) { failures_[operation] = rule; }
  void ClearFailures() { failures_.clear(); }
  void SetLatency(std::chrono::microseconds latency, const std::string& operation);
  void ClearControls();

 private:
  void AddProblem(const std::string& text, bool keptPrimary);

  bool autoLoad_ = true;
  bool loaded_ = false;
  std::vector<std::unique_ptr<DirectorySource>> sources_;
  std::vector<Connection> connections_;
  std::vector<std::string> problems_;
  std::optional<std::size_t> primaryProblem_;
  std::unordered_map<std::string, DirectorySource*> treeFiles_;  // canonical path -> tree
  std::map<NWDSContextHandle, Context> contexts_;
  NWDSContextHandle nextContext_ = 1;
  std::unordered_map<const Buf_T*, std::unique_ptr<BufferState>> buffers_;
  std::map<nuint32, std::unique_ptr<Iteration>> iterations_;
  nuint32 nextIteration_ = 1;
  std::map<std::string, std::uint64_t> calls_;
  std::map<std::string, FailureRule> failures_;
  std::map<std::string, std::chrono::microseconds> latency_;  // "" = every operation
  bool clockFromTree_ = false;

  DirectorySource* LoadTreeFileOnce(const std::string& path);
  // Connects to the LDAP server a connection names (throws LoadError).
  void ConnectLdap(const nlohmann::json& item, const std::string& where, const std::string& baseDir);
  // Signs in with the password the prompt gave; while the server refuses it, asks again
  // with the refusal (kSignInTries in all). Throws LoadError when no sign-in succeeded.
  void SignInAsked(ldap::LdapSettings& settings, const std::string& where);
  void LoadDefaults();
};

Engine& TheEngine();

// ---- Names (Names.cpp) ----
// An input name resolved against a context: the full name without types ("[Root]" for
// the root); ERR_INVALID_OBJECT_NAME, ERR_DN_TOO_LONG or 0.
NWRCODE FullInputName(const Context& context, const char* name, std::string& fullName);
// Resolves an input name to an object; aliases are followed when the context's flag
// DCV_DEREF_ALIASES is set. ERR_NO_SUCH_ENTRY when there is no such object.
NWRCODE ResolveName(const Tree& tree, const Context& context, const char* name, Object*& object);
// A full name in the context's form: typed unless DCV_TYPELESS_NAMES, abbreviated
// against the name context when DCV_CANONICALIZE_NAMES is set (names outside it get a
// leading dot). Names the book does not know get default types.
std::string OutputName(const NameBook& names, const Context& context, const std::string& fullName);
// A full name, typed unless DCV_TYPELESS_NAMES, never abbreviated, no leading dot.
std::string CanonicalOutputName(const NameBook& names, const Context& context, const std::string& fullName);
// Copies text with its terminator into a caller buffer of room bytes; false when it does not fit.
bool CopyOut(const std::string& text, char* out, std::size_t room);

// ---- Value memory (ValueLayout.cpp) ----
// Bytes the value memory of one value needs: its record and all it points to.
std::size_t ValueSize(const Attribute& attr, const Value& value);
// Writes the value record and its data into memory of ValueSize bytes.
void WriteValue(const Attribute& attr, const Value& value, void* memory);
// Names held in values, put into the context's form (done when a reply is built); names
// the book does not know stay as they are.
void LocalizeValueNames(const NameBook& names, const Context& context, Attribute& attr);

}  // namespace vestrel::nw
