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

// Reads the entries of one reply; an entry that cannot be read is left out.
NWRCODE ReadReply(NWDSContextHandle context, Buf_T* reply, std::vector<HeldPartition>& listing) {
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
    listing.push_back({NameFrom(name), replicaType});
  }
  return 0;
}

// The listing of what server holds; listed tells whether it could start (a reply buffer).
NWRCODE ListHeld(NWDSContextHandle context, const std::string& server, std::vector<HeldPartition>& held, bool& listed) {
  Buf_T* reply = nullptr;
  NWRCODE code = DSBufferAlloc(MAX_MESSAGE_LEN, &reply);
  listed = code == 0;
  if (!listed) return code;
  held.clear();
  nuint32 iterationHandle = NO_MORE_ITERATIONS;
  int failuresInRow = 0;
  do {
    code = DSServerPartitionsList(context, &iterationHandle, server.c_str(), reply);
    if (code == 0) code = ReadReply(context, reply, held);
    failuresInRow = code == 0 ? 0 : failuresInRow + 1;
  } while (iterationHandle != NO_MORE_ITERATIONS && failuresInRow <= kMaxRetriesInRow);
  // A listing given up part-way is handed back, so the library can release what it holds.
  if (iterationHandle != NO_MORE_ITERATIONS) DSIterationEnd(context, iterationHandle, DSV_LIST_PARTITIONS);
  DSBufferFree(reply);
  return code;
}

}  // namespace

void SplitReplicaType(nuint32 field, nuint32& replicaType, nuint32& state) {
  const nuint32 low = field & 0xFFFF;
  const bool known = low <= 5;  // master, secondary, read-only, reference, sparse write, sparse read
  replicaType = known ? low : field;
  state = known ? field >> 16 : RS_ON;
}

std::string ReplicaStateName(nuint32 state) {
  switch (state) {
    case RS_ON: return "On";
    case RS_NEW_REPLICA: return "New";
    case RS_DYING_REPLICA: return "Dying";
    case 3: return "Locked";
    case 6: return "Transition On";
    case 7: return "Dead";
    case 8: return "Begin Add";
    case 11: return "Master Start";
    case 12: return "Master Done";
    case RS_SS_0: return "Split 0";
    case RS_SS_1: return "Split 1";
    case RS_JS_0: return "Join 0";
    case RS_JS_0 + 1: return "Join 1";
    case RS_JS_2: return "Join 2";
    default: return Format("State %d", static_cast<std::int32_t>(state));
  }
}

std::string ReplicaTypeName(nuint32 replicaType) {
  switch (replicaType) {
    case RT_MASTER: return "Master";
    case RT_SECONDARY: return "Secondary";
    case RT_READONLY: return "Read-Only";
    case RT_SUBREF: return "Subordinate Reference";
    default: return Format("Unknown (Type: %d)", static_cast<std::int32_t>(replicaType));
  }
}

NWRCODE ListServerPartitions(NWDSContextHandle context, const std::string& server, std::vector<HeldPartition>& held) {
  bool listed = false;
  return ListHeld(context, server, held, listed);
}

NWRCODE GetServerPartitions(NWDSContextHandle context, const std::string& server, TextList& names,
                            TextList& rows) {
  std::vector<HeldPartition> held;
  bool listed = false;
  const NWRCODE code = ListHeld(context, server, held, listed);
  if (!listed) return code;  // without a reply buffer the lists stay as they were
  names.Clear();
  rows.Clear();
  for (const HeldPartition& partition : held) {
    names.Add(partition.name);
    rows.Add(Format("%s | %s [%s]", partition.name, server, ReplicaTypeName(partition.replicaType)));
  }
  return code;
}

}  // namespace vestrel
