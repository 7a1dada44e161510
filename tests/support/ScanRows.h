// What a scan shows, for tests that change a tree and look for the change as a user would.
#pragma once

#include <string>

#include "scan/PartitionScan.h"
#include "util/D_Util.h"
#include "util/StringGrid.h"

namespace vestrel::testing {

// Whether the partition scan's Replica column shows the line (the scan a user runs after
// a change to a ring).
inline bool PartitionScanShows(NWDSContextHandle context, const std::string& line) {
  StringGrid grid;
  ScanPartitions(context, grid, {});
  for (int row = 1; row < grid.RowCount(); ++row) {
    TextList lines;
    lines.SetText(grid.Cell(3, row));
    for (int i = 0; i < lines.Count(); ++i)
      if (lines[i] == line) return true;
  }
  return false;
}

}  // namespace vestrel::testing
