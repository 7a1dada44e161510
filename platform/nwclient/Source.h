// Where a connected tree's objects come from: a tree file loaded into memory
// (ModelSource.h) or a directory server reached over LDAP (ldap/LdapSource.h).
//
// The library's operations keep everything a caller sees (contexts, buffers, iterations,
// reply layouts, value records) and ask the tree's source only for objects, values and
// lists in the neutral forms of Model.h, so both kinds of tree answer alike and nothing
// above the library can tell them apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "directory/NTypes.h"
#include "platform/nwclient/Model.h"

namespace vestrel::nw {

struct Context;
struct CompiledFilter;

// The names a source knows, for giving names back in a context's form.
class NameBook {
 public:
  virtual ~NameBook() = default;
  // When fullName (dotted, types and a leading dot allowed) names an object the source
  // knows: its components with their types ("CN=FS1", "OU=HQ", "O=ACME") and its name as
  // the directory spells it ("FS1.HQ.ACME"). False for a name the source does not know.
  virtual bool KnownName(const std::string& fullName, std::vector<std::string>& typed,
                         std::string& spelling) const = 0;
};

// What object information tells about one object.
struct ObjectSummary {
  std::string fullName;        // without types and leading dot; "[Root]" for the root
  std::string rdn;             // relative name without type; "[Root]" for the root
  std::string rdnType;         // "CN", "OU", ...; empty for the root
  std::string parentFullName;  // empty for the root
  std::string baseClass;
  nuint32 created = 0;         // directory times
  nuint32 modified = 0;
};

// One object of a search step: its name in the searching context's form.
struct FoundObject {
  std::string name;
  Object_Info_T info{};
};

// Room a found object takes in a search reply (after a 4-byte header): count, name, information.
inline std::size_t SearchReplyBytes(const std::string& name) {
  return 4 + ((name.size() + 1 + 3) & ~std::size_t{3}) + sizeof(Object_Info_T);
}

struct SearchRequest {
  const char* base = nullptr;  // as the caller passed it
  nuint32 scope = DS_SEARCH_SUBTREE;
  bool searchAliases = false;
  std::shared_ptr<const CompiledFilter> filter;  // null: every object
  nuint32 modifiedSince = 0;                     // 0: no time filter
};

// A search under way.
class SearchCursor {
 public:
  virtual ~SearchCursor() = default;
  // The next objects: at most maxObjects (0 = no limit) and no more than fit into a reply
  // of room bytes. searched: objects looked at; finished: nothing is left. A code ends
  // the step without objects.
  virtual NWRCODE Step(const Context& context, nuint32 maxObjects, std::size_t room, std::vector<FoundObject>& out,
                       nuint32& searched, bool& finished) = 0;
};

struct PartitionEntry {
  std::string name;  // in the context's form
  nuint32 type = RT_MASTER;
};

// The partition and replica operations, with the arguments as the caller passed them.
enum class Operation {
  SyncSchema, SyncPartition, SendAllUpdates, ReceiveAllUpdates, SyncReplicaToServer,
  RemovePartition, RemoveReplica, JoinPartitions, RepairTimeStamps, ReloadDS,
  AddReplica, ChangeReplicaType, SplitPartition, AbortPartitionOperation, PartitionEntryCount
};
struct OperationArgs {
  Operation operation = Operation::SyncSchema;
  const char* names[3] = {nullptr, nullptr, nullptr};  // in the order of the call's name arguments
  nuint32 flags = 0;
  nuint32 seconds = 0;
  nuint32 replicaType = 0;   // add replica, change replica type
  nuint32* count = nullptr;  // partition entry count: the answer
};

class DirectorySource : public NameBook {
 public:
  virtual const std::string& TreeName() const = 0;
  // Whether requests can be made now (an LDAP source connects when it is not).
  virtual NWRCODE Available() = 0;
  // Names are input names resolved against the context (relative, typed or not, aliases
  // followed by the context's flag). Value names in the results are in the context's form.
  virtual NWRCODE Summary(const Context& context, const char* name, ObjectSummary& out) = 0;
  // The attributes named (every attribute when allAttrs), in request order, each once;
  // ERR_NO_SUCH_ATTRIBUTE when the object has none of them.
  virtual NWRCODE ReadAttributes(const Context& context, const char* name, bool allAttrs,
                                 const std::vector<std::string>& names, std::vector<Attribute>& out) = 0;
  virtual NWRCODE StartSearch(const Context& context, const SearchRequest& request,
                              std::unique_ptr<SearchCursor>& cursor) = 0;
  virtual bool SyntaxOf(const std::string& attrName, nuint32& syntax) const = 0;
  // The partitions a server holds a replica of, with the replica types.
  virtual NWRCODE ServerPartitions(const Context& context, const char* server, std::string& serverName,
                                   std::vector<PartitionEntry>& entries) = 0;
  virtual std::size_t PartitionBatch() const = 0;  // partitions per listing reply
  virtual NWRCODE ReplicaSyncErrors(const Context& context, const char* server, const char* partition,
                                    std::vector<NWRCODE>& errors) = 0;
  // The directory's own time (directory time).
  virtual NWRCODE ServerTime(nuint32& now) = 0;
  virtual NWRCODE Operate(const Context& context, const OperationArgs& args) = 0;
  // Whether this tree can carry an operation at all, whatever its names; when it cannot,
  // reason says why and what does it instead (Operate then answers a code saying so).
  virtual bool Carries(Operation operation, std::string& reason) const = 0;
  // Requests sent to a directory server so far (0 for a tree held in memory).
  virtual std::uint64_t RequestCount() const { return 0; }
  // The words of the last failure on the link to the directory ("" for a tree in memory).
  virtual std::string LinkFailure() const { return {}; }
};

}  // namespace vestrel::nw
