// A live directory reached over LDAP, behind the same operations as a tree file.
//
// Names: the dotted names the program passes become DNs through the names the source has
// seen (search results, DN values, the signed-in name); a name not seen yet is looked up
// one level at a time, from the deepest known container down. Each read, object
// information read and search page is one request, so a scan makes no more requests than
// the library reads it issues.
#pragma once

#include <map>
#include <memory>
#include <unordered_map>
#include <string>
#include <vector>

#include "platform/nwclient/Source.h"
#include "platform/nwclient/ldap/LdapConnection.h"
#include "platform/nwclient/ldap/LdapKnownNames.h"
#include "platform/nwclient/ldap/LdapNames.h"
#include "platform/nwclient/ldap/LdapOperations.h"

namespace vestrel::nw::ldap {

class LdapSource : public DirectorySource {
 public:
  // Connects, signs in and reads what the server offers; throws LoadError naming the
  // server and what went wrong.
  static std::unique_ptr<LdapSource> Open(LdapSettings settings);

  // The signed-in object as a full dotted name ("admin.ACME"); empty when anonymous.
  const std::string& UserName() const { return user_; }

  bool KnownName(const std::string& fullName, std::vector<std::string>& typed, std::string& spelling) const override;
  const std::string& TreeName() const override { return treeName_; }
  NWRCODE Available() override { return link_.Connect(); }
  NWRCODE Summary(const Context& context, const char* name, ObjectSummary& out) override;
  NWRCODE ReadAttributes(const Context& context, const char* name, bool allAttrs, const std::vector<std::string>& names,
                         std::vector<Attribute>& out) override;
  NWRCODE StartSearch(const Context& context, const SearchRequest& request,
                      std::unique_ptr<SearchCursor>& cursor) override;
  bool SyntaxOf(const std::string& attrName, nuint32& syntax) const override;
  NWRCODE ServerPartitions(const Context& context, const char* server, std::string& serverName,
                           std::vector<PartitionEntry>& entries) override;
  std::size_t PartitionBatch() const override { return 100; }
  NWRCODE ReplicaSyncErrors(const Context& context, const char* server, const char* partition,
                            std::vector<NWRCODE>& errors) override;
  NWRCODE ServerTime(nuint32& now) override;
  NWRCODE Operate(const Context& context, const OperationArgs& args) override;
  bool Carries(Operation operation, std::string& reason) const override { return CarriedOverLdap(operation, reason); }
  std::uint64_t RequestCount() const override;
  std::string LinkFailure() const override;

  // A name the server sent as a full dotted name, remembered; ERR_DN_TOO_LONG (the words
  // name it) for a name longer than the directory allows, which is not remembered.
  NWRCODE Learn(const Dn& dn, std::string& name);
  // For the search cursor: the values a found entry came with, kept for the reads that follow.
  void Keep(const Dn& dn, LdapEntry entry);
  LdapConnection& Link() { return link_; }
  bool PagedResults() const { return pagedResults_; }

 private:
  explicit LdapSource(LdapSettings settings) : link_(std::move(settings)) {}

  LdapConnection link_;
  std::string treeName_;
  std::string user_;
  bool pagedResults_ = false;
  bool serverClock_ = false;         // the root DSE tells the server's time
  bool replicaListRefused_ = false;  // the server does not answer the replica list request
  KnownNames names_;
  // What the last search brought of its entries' values, for the reads of the rows that
  // follow it: the same values, without a round trip each. Dropped when another search
  // starts, after any operation, when the connection was opened anew, and when no read
  // has used them for a while (the scan that read them is over), so nothing read is
  // older than the scan that shows it.
  std::unordered_map<std::string, LdapEntry> kept_;  // DnKey -> entry
  std::uint64_t keptSession_ = 0;
  std::chrono::steady_clock::time_point keptUsed_{};
  std::map<std::string, std::unique_ptr<LdapConnection>> serverLinks_;  // by the server's name key

  void ReadRootDse();
  // The DN of an input name, resolved against the context.
  NWRCODE DnOf(const Context& context, const char* name, std::string& dn);
  NWRCODE ResolveLevels(const Dn& name, std::string& dn);
  NWRCODE ReadEntry(const Context& context, const std::string& dn, std::vector<std::string> attributes,
                    LdapEntry& entry);
  // DN values become dotted names the book knows; creator names stay LDAP names.
  void NameValues(Attribute& attr);
  NWRCODE ListByExtendedOperations(const std::string& serverDn, std::vector<std::pair<std::string, nuint32>>& found);
  // An operation as an extended request: its number, value, and the server whose own
  // connection carries it ("" for the tree's).
  struct ExtendedCall {
    int number = 0;
    std::string value;
    std::string server;
  };
  // The extended request of one of the operations (ERR_NOT_AVAILABLE_FOR_TREE for those
  // LDAP has no request for).
  NWRCODE OperationRequest(const Context& context, const OperationArgs& args, ExtendedCall& call);
  // The connection to a server of the tree, opened when first needed: the URL the
  // connection names for it, else its own network address.
  NWRCODE ServerLink(const std::string& serverDn, LdapConnection*& link);
  NWRCODE ServerUrl(const Dn& server, std::string& url);
  // The server of the master replica of the partition above a partition root (or above
  // any entry), and of a partition by its root.
  NWRCODE ParentMaster(const std::string& partitionDn, std::string& serverDn);
  NWRCODE PartitionMaster(const std::string& partitionDn, std::string& serverDn);
  // The master's server of the nearest ring at or above level `from` of the name; with
  // rootOnly, the entry at that level must hold the ring itself.
  NWRCODE MasterAbove(const Dn& partition, std::size_t from, bool rootOnly, std::string& serverDn);
  NWRCODE RootMaster(std::string& serverDn);
  NWRCODE ListByReplicaValues(const Dn& server, std::vector<std::pair<std::string, nuint32>>& found);
};

}  // namespace vestrel::nw::ldap
