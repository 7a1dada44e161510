// A stand-in for eDirectory's partition and replica extended operations, which slapd does
// not answer. LdapProxy hands it every extended request of eDirectory's prefix; it
// decodes the request value (fields back to back, integers in their shortest form and,
// as eDirectory's decoder wants them, signed 32-bit values of at most four bytes),
// checks the names against the directory, records the request, and answers success or an
// eDirectory-style "NDS error: <text> (-NNN)". What an operation visibly changes is
// written into the slapd behind the proxy, signed in as its administrator:
//   sync partition      every replica's status, vectors and purge time carry the sync's
//                       time, and no replica reports an error (after the delay)
//   send all updates    the same, at once
//   receive all updates the receiving replica's values, at once
//   remove replica      the server's Replica value and its status and vector values go
//   join partitions     the child's real replicas join the parent's ring (a master as a
//                       secondary); the child root is a partition root no more
//   sync schema         nothing the tree shows: the time is noted (LastSchemaSync)
//   add replica         a Replica value (and its status and vectors) in the new state,
//                       on a second later; a subordinate reference becomes the replica
//   change replica type the replica's type; a new master turns the old one secondary
//   split partition     the container gets the class Partition and a ring with a replica
//                       on each real replica holder of the parent, in the split state,
//                       on a second later
//   abort operation     every replica of the ring back to on
// The ring changes must reach the server of the ring's master (a split, the parent's).
// Partition entry count answers how many entries lie in the partition, not below it.
// List replicas and replica information are answered from the partition roots' values,
// and for [Root] (the empty DN) from the ring the test bed gives it; a replica's
// information carries the state its Replica value holds (0 on, 1 new, ...).
// The double knows nothing of servers that do not answer, nor of the rule that a join
// needs both masters on one server: FailNext gives those answers.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/nwclient/ldap/LdapHolders.h"


namespace vestrel::testbed {

struct ExtendedRequestRecord {
  std::string name;    // "2.16.840.1.113719.1.27.100.25"
  std::string value;   // the request value's bytes
  std::string server;  // the DN of the server whose endpoint it reached ("" for none in particular)
};

// A replica of [Root], whose ring the root DSE does not hold: the double answers the
// replica list and information requests for it from these.
struct RootReplica {
  std::string serverDn;
  std::uint32_t type = 0;
};

struct ExtendedAnswer {
  int result = 0;  // LDAP result code
  std::string diagnostic;
  std::string name;   // response name; "" for none
  std::string value;  // response value; "" for none
};

class ExtOpDouble {
 public:
  // The server the effects are written to, and its administrator.
  ExtOpDouble(std::string serverUrl, std::string adminDn, std::string password);
  ~ExtOpDouble();
  ExtOpDouble(const ExtOpDouble&) = delete;
  ExtOpDouble& operator=(const ExtOpDouble&) = delete;

  // Whether requestName is one of the requests the double answers.
  static bool Answers(std::string_view requestName);
  // The answer to a request that reached the endpoint of connectedServer (a DN; "" for
  // none in particular). As eDirectory does, send and receive all updates act on the
  // server reached, whatever server they name, and a join must reach the server of the
  // parent partition's master. Answers may come from several threads, one at a time.
  ExtendedAnswer Answer(const std::string& requestName, std::string_view value, const std::string& connectedServer = "");
  void SetRootRing(std::vector<RootReplica> ring);

  // The next request of that number (25 for sync partition) fails with this NDS code.
  void FailNext(int requestNumber, int ndsCode);
  // How long a new replica or a split ring stays in its state before it is on (1 s at
  // first).
  void SetSettleSeconds(std::uint32_t seconds);
  // The requests answered so far, in order.
  std::vector<ExtendedRequestRecord> Requests() const;
  // When a schema sync last ran on the server (directory time); 0 when none ran.
  std::uint32_t LastSchemaSync(const std::string& serverDn) const;
  // Runs the scheduled operations that fell due: the milliseconds until the next one,
  // -1 when none waits.
  int RunDue();

 private:
  using Clock = std::chrono::steady_clock;
  struct Scheduled {
    Clock::time_point due;
    std::function<void()> run;
  };

  std::string url_;
  std::string adminDn_;
  std::string password_;
  nw::ldap::Session ld_;      // used while serving_ is held
  std::mutex serving_;        // one answer or scheduled operation at a time
  mutable std::mutex mutex_;  // the records below
  std::vector<RootReplica> rootRing_;
  std::vector<ExtendedRequestRecord> requests_;
  std::map<int, int> failures_;                     // request number -> NDS code
  std::map<std::string, std::uint32_t> schemaSyncs_;  // upper-case server DN -> time
  std::vector<Scheduled> scheduled_;
  std::uint32_t settleSeconds_ = 1;

  LDAP* Directory();
  const RootReplica* RootReplicaOn(const std::string& serverDn) const;
  bool RootMasterIs(const std::string& serverDn) const;
  void Schedule(std::uint32_t delaySeconds, std::function<void()> run);
};

}  // namespace vestrel::testbed
