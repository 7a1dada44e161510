// Reads the facts the health rules judge from the directory: the partitions the
// partition scan lists, each one's replica ring from its raw "Replica" and "Partition
// Status" values, and the sync errors each replica's server reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "check/HealthRules.h"
#include "directory/D_NW_Partitions.h"
#include "directory/NTypes.h"
#include "util/TextList.h"

namespace vestrel::check {

// "[Root]" and every partition root the partition scan's search finds, sorted as the
// scan sorts them. Returns the search's code.
NWRCODE ListPartitions(NWDSContextHandle context, TextList& partitions);

// Calls onValue with the syntax id and the value memory of every value of attrName of
// objectName, in the library's order. Returns the first failing call's code.
using RawValueHandler = std::function<void(nuint32 syntaxId, const nuint8* memory, std::size_t size)>;
NWRCODE ReadRawValues(NWDSContextHandle context, const std::string& objectName, const std::string& attrName,
                      const RawValueHandler& onValue);

// Server, type and number of one "Replica" value (syntax 16); throws RangeCheckError for a
// malformed value.
ReplicaFacts ReplicaFromValue(const nuint8* memory, std::size_t size);
// State, last sync (u32 at byte 8), status error of one "Partition Status" value (octets,
// syntax 9) into replica; throws RangeCheckError for a malformed or short value.
void ApplyPartitionStatus(const nuint8* memory, std::size_t size, ReplicaFacts& replica);
// The replica number (u32 at byte 12) a "Partition Status" value is of; throws likewise.
nuint32 PartitionStatusReplicaNumber(const nuint8* memory, std::size_t size);

// Error count and report of an error reply's data area (the partition scan's decoder
// gives the report; more than a reply holds leaves the report empty).
void ApplySyncErrors(const nuint8* data, std::size_t size, ReplicaFacts& replica);

// What each server of the tree holds, listed once for all rings that need it.
struct ServerHoldings {
  bool read = false;
  std::vector<std::pair<std::string, std::vector<HeldPartition>>> lists;  // server, its partitions
};

// The whole ring of one partition. When the tree does not give its values, and holdings
// are given, the ring comes from the servers' partition lists (RingFacts::known says how much).
RingFacts ReadRing(NWDSContextHandle context, const std::string& partition, ServerHoldings* holdings = nullptr);

struct TreeRings {
  NWRCODE listCode = 0;  // the partitions could not be listed
  std::vector<RingFacts> rings;
};
// reading, when given, hears each partition before its ring is read.
TreeRings ReadTreeRings(NWDSContextHandle context, const std::function<void(const std::string&)>& reading = {});

}  // namespace vestrel::check
