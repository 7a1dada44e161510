#include "scan/ServerScan.h"

#include <vector>

#include "directory/D_NW_Read.h"
#include "directory/D_NW_Session.h"
#include "util/D_Util.h"

namespace vestrel {

namespace {

enum ServerColumn { kNumberCol, kServerCol, kContextCol, kVersionCol, kRevisionCol, kAddressCol };

// Address types 1 and 10 to 19 carry this in front of their text.
constexpr const char* kHiddenAddressTypes = "(1";

}  // namespace

ScanResult ScanServers(NWDSContextHandle context, StringGrid& grid, const ScanProgress& progress,
                       const ScanFinished& finished) {
  ScanGuard guard;
  if (!guard.Claimed()) return {};
  const RunningScan running;
  HourglassCursor hourglass;
  ClearGridCells(&grid);

  UseNamesWithoutTypes(context);
  TextList names;
  const NWRCODE searchCode = SearchSortedNames(context, kServerFilter, names);
  const int count = names.Count();
  WriteScanHeaders(grid, count, ServerScanColumns.data(), static_cast<int>(ServerScanColumns.size()));
  WriteProvisionalRows(grid, names);
  ProcessMessages();

  for (int row = 1; row <= count && !running.Stopped(); ++row)
    FillServerRow(context, grid, row, count, names[row - 1], progress);

  if (finished) finished(count > 0);
  ReportProgress(progress, 0, 0, "");
  return {true, count, searchCode, guard.Lost(), running.Stopped()};
}

void FillServerRow(NWDSContextHandle context, StringGrid& grid, int row, int total, const std::string& name,
                   const ScanProgress& progress) {
  NWRCODE parentCode = 0;
  const std::string parent = ObjectParentName(context, name, parentCode);
  NoteRead(parentCode, name);
  ReportProgress(progress, row, total, name);
  ProcessMessages();
  grid.SetCell(kServerCol, row, NameWithoutContext(name, parent));
  grid.SetCell(kContextCol, row, parent);
  ProcessMessages();
  ReadAttrCell(context, name, ServerScanColumns[kVersionCol], grid, kVersionCol, row);
  ReadAttrCell(context, name, ServerScanColumns[kRevisionCol], grid, kRevisionCol, row);
  WriteNetworkAddresses(context, name, grid, kAddressCol, row);
}

NWRCODE WriteNetworkAddresses(NWDSContextHandle context, const std::string& name, StringGrid& grid, int col, int row) {
  TextList addresses;
  const NWRCODE code = ReadAttrToList(context, name, ServerScanColumns[kAddressCol], addresses);
  NoteRead(code, name);
  if (code != 0) return code;
  DropAddressLines(addresses, kHiddenAddressTypes, false);
  grid.SetCell(col, row, addresses.Text());
  return code;
}

void DropAddressLines(TextList& list, const std::string& text, bool keep) {
  // One pass over the marks instead of deleting line by line from the end.
  std::vector<bool> drop(list.Count());
  for (int i = list.Count() - 1; i >= 0; --i) drop[i] = (PosNoCase(text, list[i]) > 0) != keep;
  list.DeleteMarked(drop);
}

}  // namespace vestrel
