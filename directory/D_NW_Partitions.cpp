#include "directory/D_NW_Partitions.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "directory/NETWIN32.h"
#include "util/D_Util.h"
#include "util/UiSeam.h"

namespace vestrel {
namespace {

// A listing under way (handle not -1) whose listing call or header read fails is asked
// again with the same handle, at most this many times in a row; then the listing ends and
// the failing code is returned, so a server that keeps failing cannot hang the window.
constexpr int kMaxRetriesInRow = 3;

// Every entry takes at least one byte of the reply, so no honest reply holds more
// entries than the buffer has bytes; a larger count is not believed.
constexpr nuint32 kMaxEntriesPerReply = MAX_MESSAGE_LEN;

std::string NameFrom(const std::array<char, MAX_DN_BYTES>& buffer) {
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

struct Listing {
  TextList names;
  TextList rows;
};

// Reads the entries of one reply; an entry that cannot be read is left out.
NWRCODE ReadReply(NWDSContextHandle context, Buf_T* reply, const std::string& server, Listing& listing) {
  std::array<char, MAX_DN_BYTES> name{};
  nuint32 count = 0;
  const NWRCODE code = DSResultServerName(context, reply, name.data(), &count);
  if (code != 0) return code;
  count = std::min(count, kMaxEntriesPerReply);
  for (nuint32 i = 0; i < count; ++i) {
    ProcessMessages();
    name.fill('\0');
    nuint32 replicaType = 0;
    if (DSResultNextPartition(context, reply, name.data(), &replicaType) != 0) continue;
    const std::string partition = NameFrom(name);
    listing.names.Add(partition);
    listing.rows.Add(Format("%s | %s [%s]", partition, server, ReplicaTypeName(replicaType)));
  }
  return 0;
}

void ReplaceLines(TextList& target, const TextList& source) {
  target.Clear();
  for (int i = 0; i < source.Count(); ++i) target.Add(source[i]);
}

}  // namespace

std::string ReplicaTypeName(nuint32 replicaType) {
  switch (replicaType) {
    case RT_MASTER: return "Master";
    case RT_SECONDARY: return "Secondary";
    case RT_READONLY: return "Read-Only";
    case RT_SUBREF: return "Subordinate Reference";
    default: return Format("Unknown (Type: %d)", static_cast<std::int32_t>(replicaType));
  }
}

NWRCODE GetServerPartitions(NWDSContextHandle context, const std::string& server, TextList& names,
                            TextList& rows) {
  Buf_T* reply = nullptr;
  NWRCODE code = DSBufferAlloc(MAX_MESSAGE_LEN, &reply);
  if (code != 0) return code;

  Listing listing;
  nuint32 iterationHandle = NO_MORE_ITERATIONS;
  int failuresInRow = 0;
  do {
    code = DSServerPartitionsList(context, &iterationHandle, server.c_str(), reply);
    if (code == 0) code = ReadReply(context, reply, server, listing);
    failuresInRow = code == 0 ? 0 : failuresInRow + 1;
  } while (iterationHandle != NO_MORE_ITERATIONS && failuresInRow <= kMaxRetriesInRow);
  // A listing given up part-way is handed back, so the library can release what it holds.
  if (iterationHandle != NO_MORE_ITERATIONS) DSIterationEnd(context, iterationHandle, DSV_LIST_PARTITIONS);

  DSBufferFree(reply);
  ReplaceLines(names, listing.names);
  ReplaceLines(rows, listing.rows);
  return code;
}

}  // namespace vestrel
