// The partition scan: every partition of the tree ("[Root]" and each container that
// carries a replica) with its replicas, status lines, vectors and the errors its
// replicas report, one row per partition root in name order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "directory/NTypes.h"
#include "scan/ScanSteps.h"
#include "util/D_Util.h"  // RangeCheckError
#include "util/StringGrid.h"

namespace vestrel {

// Column titles of the partition grid. Columns 3 to 7 show the attribute of that name.
inline constexpr std::array<const char*, 9> PartitionScanColumns = {
    "", "Name", "Context", "Replica", "Partition Status", "Local Received Up To", "Purge Vector",
    "Transitive Vector", "Inspect Errors"};
inline constexpr int kPartitionStatusCol = 4;
inline constexpr const char* kPartitionFilter =
    "(((Base Class=Organizational Unit) #OR# (Base Class=Organization) #OR# (Base Class=Country)) #AND# "
    "(Replica #PRESENT#))";
// A replica's error reply: u32 unused, u32 count, room for this many u32 codes.
inline constexpr int kMaxReplicaErrors = 32;
inline constexpr std::size_t kReplicaErrorBytes = 8 + 4 * kMaxReplicaErrors;

// Fills grid with the partitions of context's tree. The grid's cells are emptied first;
// a value that cannot be read leaves its cell empty. A failure within one row ends that
// row's work and the scan goes on. Shows the hourglass, reports progress per partition
// and lets window messages run between steps. Ignored (started = false, grid untouched)
// while another scan runs. The result carries the search's code; the rows are written
// whatever it is.
ScanResult ScanPartitions(NWDSContextHandle context, StringGrid& grid, const ScanProgress& progress,
                          const ScanFinished& finished = {});

// The second pass for one partition row (may throw; the scan swallows it per row).
void FillPartitionRow(NWDSContextHandle context, StringGrid& grid, int row, int total, const std::string& partition,
                      const ScanProgress& progress);

// For each replica of the partition whose server reports errors: the line
// Replica on server "<server>" has errors: then one line "  * <j>: <error text>" per
// error, every line ending CR LF. Empty when the replica list cannot be read; a server
// whose request fails is left out. A server reporting more than 32 errors throws
// RangeCheckError (its reply has room for 32).
std::string InspectReplicaErrors(NWDSContextHandle context, const std::string& partition);

// The error list of one reply's data area (dataSize bytes at data; at most the first 136
// are looked at, missing bytes count as zero). Throws RangeCheckError for a count above 32.
std::string ReplicaErrorReport(const std::string& server, const std::uint8_t* data, std::size_t dataSize);

// Whether a cell of the partition grid is painted red: a partition status cell (column
// 4) below the header row whose text contains "err" (case-sensitive), as the states
// "(local error)" and "(remote error)" do.
bool IsFailingStatusCell(int col, int row, const std::string& text);

}  // namespace vestrel
