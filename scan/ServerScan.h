// The server scan: every NCP server of the tree with its context, version, DS revision
// and network addresses, one row per server in name order.
#pragma once

#include <array>
#include <string>

#include "directory/NTypes.h"
#include "scan/ScanSteps.h"
#include "util/StringGrid.h"
#include "util/TextList.h"

namespace vestrel {

// Column titles of the server grid (column 0 holds row numbers and has none).
inline constexpr std::array<const char*, 6> ServerScanColumns = {"", "Server", "Context", "Version", "DS Revision",
                                                                 "Network Address"};
inline constexpr const char* kServerFilter = "(Base Class=NCP Server)";

// Fills grid with the servers of context's tree. The grid's cells are emptied first, so
// a value that cannot be read leaves its cell empty rather than showing an earlier
// scan's. Shows the hourglass, reports progress per server and lets window messages run
// between steps. Ignored (started = false, grid untouched) while another scan runs. The
// result carries the search's code.
ScanResult ScanServers(NWDSContextHandle context, StringGrid& grid, const ScanProgress& progress,
                       const ScanFinished& finished = {});

// The second pass for one server row: its context and relative name, then the
// attributes. progress is told row of total before the reads.
void FillServerRow(NWDSContextHandle context, StringGrid& grid, int row, int total, const std::string& name,
                   const ScanProgress& progress);

// The server's network addresses, one per line with its type in front, without the
// types the grid does not show ("(1", that is type 1 and types 10 to 19), each line
// followed by CR LF. Nothing is written when the read fails; returns the read's code.
NWRCODE WriteNetworkAddresses(NWDSContextHandle context, const std::string& name, StringGrid& grid, int col, int row);

// Deletes every line whose containing text (ignoring case) differs from keep: keep =
// false drops the lines that contain text, keep = true drops those that do not.
void DropAddressLines(TextList& list, const std::string& text, bool keep);

}  // namespace vestrel
