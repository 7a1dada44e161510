// Directory library: contexts, names, buffers, filters, search, read, streams,
// partition lists, replica errors and the partition and replica operations.
//
// Conventions: every operation returns a completion code, 0 = success (DSContextCopy
// returns a handle). Texts come back NUL-terminated in caller buffers whose size is
// stated per call (MAX_DN_BYTES unless said otherwise). Iteration handles start at
// NO_MORE_ITERATIONS (-1) for a new listing and come back as -1 when it is complete.
#pragma once

#include "directory/NTypes.h"

namespace vestrel {

// ---- Contexts ----------------------------------------------------------------------
NWRCODE DSContextCreate(NWDSContextHandle* context);
NWRCODE DSContextClone(NWDSContextHandle source, NWDSContextHandle* clone);
NWDSContextHandle DSContextCopy(NWDSContextHandle source);  // ERR_CONTEXT_CREATION on failure
NWRCODE DSContextFree(NWDSContextHandle context);
// Keys DCK_FLAGS and DCK_DSI_FLAGS pass a nuint32; DCK_NAME_CONTEXT and DCK_TREE_NAME a
// text (valueSize bytes of room when reading, a NUL-terminated text when writing).
NWRCODE DSContextGetValue(NWDSContextHandle context, nuint32 key, nuint32 valueSize, void* value);
NWRCODE DSContextSetValue(NWDSContextHandle context, nuint32 key, const void* value);

// ---- Names and the session ---------------------------------------------------------
NWRCODE DSNameCanonical(NWDSContextHandle context, const char* name, char* canonical /*MAX_DN_BYTES*/);
NWRCODE DSWhoAmI(NWDSContextHandle context, char* objectName /*MAX_DN_BYTES*/);
NWRCODE DSTreeMakePreferred(nuint32 length, const char* treeName);

// ---- Object information -----------------------------------------------------------
// Reads the items selected by the context's DCK_DSI_FLAGS into buffer (DEFAULT_MESSAGE_LEN).
NWRCODE DSObjectInfoRead(NWDSContextHandle context, const char* objectName, Buf_T* buffer);
// One item of that information: DSI_MODIFICATION_TIME and DSI_CREATION_TIME as a nuint32,
// the name and class items as NUL-terminated texts; length is the room in value.
NWRCODE DSObjectInfoField(NWDSContextHandle context, const Buf_T* buffer, nuint32 item,
                          nuint32 length, void* value);

// ---- Buffers ----------------------------------------------------------------------
NWRCODE DSBufferAlloc(std::size_t size, Buf_T** buffer);
NWRCODE DSBufferInit(NWDSContextHandle context, nuint32 operation, Buf_T* buffer);
NWRCODE DSBufferFree(Buf_T* buffer);

// ---- Search filters ---------------------------------------------------------------
struct Filter_Cursor_T;  // the library's filter expression under construction
NWRCODE DSFilterCursorAlloc(Filter_Cursor_T** cursor);
// Adds one token. For FTOK_ANAME value is a NUL-terminated name, for FTOK_AVAL a value
// record of the syntax; the library owns value from now on (it frees it with the cursor).
NWRCODE DSFilterAddToken(Filter_Cursor_T* cursor, nuint16 token, void* value, nuint32 syntaxId);
NWRCODE DSAttrSyntaxId(NWDSContextHandle context, const char* attrName, nuint32* syntaxId);
// Validates the expression and stores it into a buffer prepared with DSV_SEARCH_FILTER.
// The stored expression is owned by the buffer from then on; the cursor is consumed.
NWRCODE DSFilterStore(NWDSContextHandle context, Buf_T* filterBuffer, Filter_Cursor_T* cursor);
NWRCODE DSFilterFree(Filter_Cursor_T* cursor);

// ---- Search -----------------------------------------------------------------------
NWRCODE DSSearchStep(NWDSContextHandle context, const char* baseObject, nuint32 scope,
                     bool searchAliases, Buf_T* filter, const TimeStamp_T* timeFilter,
                     nuint32 infoType, bool allAttrs, Buf_T* attrNames, nuint32* iterationHandle,
                     nuint32 countObjectsToSearch, nuint32* countObjectsSearched, Buf_T* objectInfo);
NWRCODE DSResultObjectCount(NWDSContextHandle context, const Buf_T* buffer, nuint32* objectCount);
NWRCODE DSResultNextObject(NWDSContextHandle context, Buf_T* buffer, char* objectName /*MAX_DN_BYTES*/,
                           nuint32* attrCount, Object_Info_T* objectInfo);
NWRCODE DSIterationEnd(NWDSContextHandle context, nuint32 iterationHandle, nuint32 operation);

// ---- Reading attributes -----------------------------------------------------------
NWRCODE DSRequestAddAttrName(NWDSContextHandle context, Buf_T* buffer, const char* attrName);
NWRCODE DSReadStep(NWDSContextHandle context, const char* objectName, nuint32 infoType,
                   bool allAttrs, Buf_T* attrNames, nuint32* iterationHandle, Buf_T* objectInfo);
NWRCODE DSResultAttrCount(NWDSContextHandle context, const Buf_T* buffer, nuint32* attrCount);
NWRCODE DSResultNextAttr(NWDSContextHandle context, Buf_T* buffer, char* attrName /*MAX_SCHEMA_NAME_BYTES*/,
                         nuint32* valueCount, nuint32* syntaxId);
// Size of the value memory the next value needs: its record and everything it points to.
NWRCODE DSResultValueSize(NWDSContextHandle context, const Buf_T* buffer, nuint32 syntaxId,
                          nuint32* valueSize);
// Writes the next value into value memory of the reported size and moves past it.
NWRCODE DSResultNextValue(NWDSContextHandle context, Buf_T* buffer, nuint32 syntaxId, void* value);
// Flags and modification time stamp of the next value (infoType DS_VALUE_INFO only);
// they do not move past the value.
NWRCODE NWDSGetAttrValFlags(NWDSContextHandle context, const Buf_T* buffer, nuint32* valueFlags);
NWRCODE NWDSGetAttrValModTime(NWDSContextHandle context, const Buf_T* buffer, TimeStamp_T* modTime);
// Opens a stream attribute for reading: *handle is a file descriptor, read with read()
// and closed with close() by the caller.
NWRCODE DSStreamOpen(NWDSContextHandle context, const char* objectName, const char* attrName,
                     nuint32 flags, NWStreamHandle* handle);

// ---- Partitions of a server and replica errors -----------------------------------
NWRCODE DSServerPartitionsList(NWDSContextHandle context, nuint32* iterationHandle,
                               const char* server, Buf_T* partitions);
NWRCODE DSResultServerName(NWDSContextHandle context, Buf_T* partitions,
                           char* serverName /*MAX_DN_BYTES*/, nuint32* partitionCount);
NWRCODE DSResultNextPartition(NWDSContextHandle context, Buf_T* partitions,
                              char* partitionName /*MAX_DN_BYTES*/, nuint32* replicaType);
// Error list of the replica of partition on server, into buffer->data:
// u32 unused, u32 error count, then up to 32 codes (u32 each): 136 bytes.
NWRCODE DSReplicaSyncErrors(NWDSContextHandle context, const char* server, const char* partition,
                            Buf_T* buffer);

// ---- Partition and replica operations ----------------------------------------------
NWRCODE NWDSSyncSchema(NWDSContextHandle context, const char* server, nuint32 seconds);
NWRCODE NWDSSyncPartition(NWDSContextHandle context, const char* server, const char* partition,
                          nuint32 seconds);
NWRCODE NWDSPartitionSendAllUpdates(NWDSContextHandle context, const char* partitionRoot,
                                    const char* serverName);
NWRCODE NWDSPartitionReceiveAllUpdates(NWDSContextHandle context, const char* partitionRoot,
                                       const char* serverName);
NWRCODE NWDSSyncReplicaToServer(NWDSContextHandle context, const char* serverName,
                                const char* partitionRootName, const char* destServerName,
                                nuint32 actionFlags, nuint32 delaySeconds);
NWRCODE NWDSRemovePartition(NWDSContextHandle context, const char* partitionRoot);
NWRCODE NWDSRemoveReplica(NWDSContextHandle context, const char* server, const char* partitionRoot);
NWRCODE NWDSJoinPartitions(NWDSContextHandle context, const char* subordinatePartition, nuint32 flags);
NWRCODE NWDSRepairTimeStamps(NWDSContextHandle context, const char* partitionRoot);
NWRCODE NWDSReloadDS(NWDSContextHandle context, const char* serverName);
// The ring operations: a new replica of partitionRoot on server (RT_SECONDARY or
// RT_READONLY); a replica's new type (making one the master turns the old master into a
// secondary); container becomes the root of a new partition (flags 0); a partition's
// unfinished operation (a new, dying, split or join state) is given up, its replicas
// back to on. The directory carries them out in the background: the ring shows the
// states it passes through until it is done.
NWRCODE NWDSAddReplica(NWDSContextHandle context, const char* server, const char* partitionRoot,
                       nuint32 replicaType);
NWRCODE NWDSChangeReplicaType(NWDSContextHandle context, const char* partitionRoot, const char* server,
                              nuint32 newReplicaType);
NWRCODE NWDSSplitPartition(NWDSContextHandle context, const char* container, nuint32 flags);
NWRCODE NWDSAbortPartitionOperation(NWDSContextHandle context, const char* partitionRoot);
// How many objects the partition of partitionRoot holds (its root included, the objects
// of partitions below it not).
NWRCODE DSPartitionEntryCount(NWDSContextHandle context, const char* partitionRoot, nuint32* count);
// Whether the tree of context carries one of the operations above, named by its call
// ("NWDSRemovePartition"); a tree reached over LDAP has no request for some of them. When
// it does not, reason receives why and what does the operation instead, cut to
// reasonLength - 1 bytes and always terminated; when it does, reason is "".
// ERR_INVALID_PARAMETER for a name that is none of them, a missing argument or
// reasonLength 0.
NWRCODE DSOperationCarried(NWDSContextHandle context, const char* operation, bool* carried, char* reason,
                           nuint32 reasonLength);

}  // namespace vestrel
