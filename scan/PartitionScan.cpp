#include "scan/PartitionScan.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "directory/D_NW_Errors.h"
#include "directory/D_NW_Read.h"
#include "directory/D_NW_Session.h"
#include "directory/NETWIN32.h"
#include "util/D_Util.h"
#include "directory/D_NW_Buffer.h"

namespace vestrel {

namespace {

enum PartitionColumn {
  kNumberCol,
  kNameCol,
  kContextCol,
  kReplicaCol,
  kStatusCol,
  kReceivedCol,
  kPurgeCol,
  kTransitiveCol,
  kErrorsCol
};
static_assert(kStatusCol == kPartitionStatusCol);

// The scan sets this many columns before the headers, then cuts the grid to its own.
constexpr int kWideColCount = 20;
constexpr std::size_t kRequestBufferSize = 4096;
constexpr const char* kCrLf = "\r\n";

std::uint32_t U32At(const std::array<std::uint8_t, kReplicaErrorBytes>& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// The errors the replica of partition on server reports, as report lines; empty when the
// buffer cannot be had or the request fails.
std::string ServerErrorReport(NWDSContextHandle context, const std::string& server, const std::string& partition) {
  LibraryBuffer buffer(kRequestBufferSize);
  Buf_T* reply = buffer.Get();
  if (!reply) return {};
  // A server of the ring that cannot be asked is the tree's state, not a read lost.
  if (DSReplicaSyncErrors(context, server.c_str(), partition.c_str(), reply) != 0) return {};
  if (!reply->data) return {};
  return ReplicaErrorReport(server, reply->data, reply->maxLen);
}

}  // namespace

ScanResult ScanPartitions(NWDSContextHandle context, StringGrid& grid, const ScanProgress& progress,
                          const ScanFinished& finished) {
  ScanGuard guard;
  if (!guard.Claimed()) return {};
  const RunningScan running;
  HourglassCursor hourglass;
  ClearGridCells(&grid);
  ProcessMessages();  // so the emptied grid is painted

  UseNamesWithoutTypes(context);
  // The tree root is a partition root without a container class: the search never finds it.
  TextList partitions;
  partitions.Add("[Root]");
  const NWRCODE searchCode = SearchSortedNames(context, kPartitionFilter, partitions);
  const int count = partitions.Count();
  WriteScanHeaders(grid, count, PartitionScanColumns.data(), static_cast<int>(PartitionScanColumns.size()),
                   kWideColCount);
  WriteProvisionalRows(grid, partitions);

  for (int row = 1; row <= count && !running.Stopped(); ++row) {
    try {
      FillPartitionRow(context, grid, row, count, partitions[row - 1], progress);
    } catch (...) {
      // The row keeps what it had reached; the scan goes on with the next one.
    }
  }

  if (finished) finished(count > 0);
  ReportProgress(progress, 0, 0, "");
  return {true, count, searchCode, guard.Lost(), running.Stopped()};
}

void FillPartitionRow(NWDSContextHandle context, StringGrid& grid, int row, int total, const std::string& partition,
                      const ScanProgress& progress) {
  ProcessMessages();
  NWRCODE parentCode = 0;
  const std::string parent = ObjectParentName(context, partition, parentCode);
  NoteRead(parentCode, partition);
  const std::string name = NameWithoutContext(partition, parent);
  ReportProgress(progress, row, total, partition);
  ProcessMessages();
  grid.SetCell(kNameCol, row, name);
  grid.SetCell(kContextCol, row, parent);

  NWRCODE lastCode = 0;
  for (int col = kReplicaCol; col <= kTransitiveCol; ++col)
    lastCode = ReadAttrCell(context, partition, PartitionScanColumns[col], grid, col, row);
  const std::string report = InspectReplicaErrors(context, partition);
  // Error reports are shown only for partitions whose transitive vector could be read.
  if (lastCode == 0) grid.SetCell(kErrorsCol, row, report);
}

std::string InspectReplicaErrors(NWDSContextHandle context, const std::string& partition) {
  std::string report;
  TextList replicas;
  const NWRCODE code = ReadAttrToList(context, partition, PartitionScanColumns[kReplicaCol], replicas);
  NoteRead(code, partition);
  if (code != 0) return report;
  for (int i = 0; i < replicas.Count(); ++i) {
    // A replica line is "<server> [<type>] [Nr: <number>]".
    const std::string server = KeepTextBefore(replicas[i], " [");
    report += ServerErrorReport(context, server, partition);
  }
  return report;
}

std::string ReplicaErrorReport(const std::string& server, const std::uint8_t* data, std::size_t dataSize) {
  std::array<std::uint8_t, kReplicaErrorBytes> bytes{};
  if (data) std::memcpy(bytes.data(), data, std::min(dataSize, bytes.size()));
  const std::uint32_t count = U32At(bytes, 4);
  if (count == 0) return {};
  if (count > static_cast<std::uint32_t>(kMaxReplicaErrors)) throw RangeCheckError();
  std::string report = Format("Replica on server \"%s\" has errors:", server) + kCrLf;
  for (std::uint32_t j = 1; j <= count; ++j) {
    const auto code = static_cast<NWRCODE>(U32At(bytes, 8 + 4 * (j - 1)));
    report += Format("  * %d: %s", static_cast<int>(j), ErrorText(code)) + kCrLf;
  }
  return report;
}

bool IsFailingStatusCell(int col, int row, const std::string& text) {
  return col == kPartitionStatusCol && row >= 1 && text.find("err") != std::string::npos;
}

}  // namespace vestrel
