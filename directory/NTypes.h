// Types, codes and value records of the directory client library.
// The directory layer reaches the library only through this header and the three
// operation headers beside it (calwin32.h, clxwin32.h, NETWIN32.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vestrel {

using nint32 = std::int32_t;
using nuint32 = std::uint32_t;
using nuint16 = std::uint16_t;
using nuint8 = std::uint8_t;

using NWRCODE = std::int32_t;          // completion code: 0 = success
using NWDSContextHandle = std::uint32_t;
using NWCONN_REF = std::uint32_t;
using NWCONN_HANDLE = std::uint32_t;
using NWStreamHandle = int;            // a readable file descriptor, closed with close()

constexpr NWDSContextHandle ERR_CONTEXT_CREATION = 0xFFFFFFFFu;  // DSContextCopy failed
constexpr nuint32 NO_MORE_ITERATIONS = 0xFFFFFFFFu;              // iteration handle -1

// Sizes of names and buffers.
constexpr std::size_t MAX_DN_CHARS = 256;
constexpr std::size_t MAX_DN_BYTES = 514;          // longest distinguished name with its terminator
constexpr std::size_t MAX_RDN_BYTES = 260;
constexpr std::size_t MAX_SCHEMA_NAME_BYTES = 66;  // class and attribute names with terminator
constexpr std::size_t MAX_TREE_NAME_BYTES = 66;
constexpr std::size_t CONN_INFO_TEXT_BYTES = 255;  // ConnReferenceInfo text items
constexpr std::size_t DEFAULT_MESSAGE_LEN = 4096;  // request, filter and object-information buffers
constexpr std::size_t MAX_MESSAGE_LEN = 64512;     // reply buffers (0xFC00)

// Context settings (DSContextGetValue / DSContextSetValue keys).
constexpr nuint32 DCK_FLAGS = 1;          // nuint32 bit set, below
constexpr nuint32 DCK_NAME_CONTEXT = 3;   // text
constexpr nuint32 DCK_TREE_NAME = 11;     // text
constexpr nuint32 DCK_DSI_FLAGS = 12;     // nuint32 object-information selection

// Context flags (key 1).
constexpr nuint32 DCV_DEREF_ALIASES = 0x01;
constexpr nuint32 DCV_XLATE_STRINGS = 0x02;
constexpr nuint32 DCV_TYPELESS_NAMES = 0x04;
constexpr nuint32 DCV_ASYNC_MODE = 0x08;
constexpr nuint32 DCV_CANONICALIZE_NAMES = 0x10;

// Object-information items (key 12 and DSObjectInfoField).
constexpr nuint32 DSI_OUTPUT_FIELDS = 0x01;
constexpr nuint32 DSI_ENTRY_ID = 0x02;
constexpr nuint32 DSI_ENTRY_FLAGS = 0x04;
constexpr nuint32 DSI_SUBORDINATE_COUNT = 0x08;
constexpr nuint32 DSI_MODIFICATION_TIME = 0x20;   // nuint32 directory time
constexpr nuint32 DSI_CREATION_TIME = 0x40;       // nuint32 directory time
constexpr nuint32 DSI_BASE_CLASS = 0x800;         // text
constexpr nuint32 DSI_ENTRY_RDN = 0x1000;         // text
constexpr nuint32 DSI_ENTRY_DN = 0x2000;          // text
constexpr nuint32 DSI_PARENT_DN = 0x8000;         // text

// ConnReferenceInfo items.
constexpr nuint32 CONN_INFO_TREE_NAME = 4;  // tree name padded with '_' to 32 characters

// Buffer operations (DSBufferInit).
constexpr nuint32 DSV_READ = 3;
constexpr nuint32 DSV_SEARCH = 6;           // also the operation passed to DSIterationEnd
constexpr nuint32 DSV_SEARCH_FILTER = 28;
constexpr nuint32 DSV_LIST_PARTITIONS = 22;  // the operation of a server's partition listing

// Information types of reads and searches.
constexpr nuint32 DS_ATTRIBUTE_NAMES = 0;
constexpr nuint32 DS_ATTRIBUTE_VALUES = 1;
constexpr nuint32 DS_VALUE_INFO = 3;

// Search scopes.
constexpr nuint32 DS_SEARCH_ENTRY = 0;
constexpr nuint32 DS_SEARCH_SUBORDINATES = 1;
constexpr nuint32 DS_SEARCH_SUBTREE = 2;

// Filter tokens (DSFilterAddToken).
constexpr nuint16 FTOK_END = 0;
constexpr nuint16 FTOK_OR = 1;
constexpr nuint16 FTOK_AND = 2;
constexpr nuint16 FTOK_NOT = 3;
constexpr nuint16 FTOK_LPAREN = 4;
constexpr nuint16 FTOK_RPAREN = 5;
constexpr nuint16 FTOK_AVAL = 6;
constexpr nuint16 FTOK_EQ = 7;
constexpr nuint16 FTOK_GE = 8;
constexpr nuint16 FTOK_LE = 9;
constexpr nuint16 FTOK_APPROX = 10;
constexpr nuint16 FTOK_ANAME = 14;
constexpr nuint16 FTOK_PRESENT = 15;
constexpr nuint16 FTOK_RDN = 16;
constexpr nuint16 FTOK_BASECLS = 17;

// Stream open modes (DSStreamOpen).
constexpr nuint32 DS_READ_STREAM = 1;

// Replica types.
constexpr nuint32 RT_MASTER = 0;
constexpr nuint32 RT_SECONDARY = 1;
constexpr nuint32 RT_READONLY = 2;
constexpr nuint32 RT_SUBREF = 3;

// Replica states (first field after the header of "Partition Status").
constexpr nuint32 RS_LOCAL_ERROR = 0;
constexpr nuint32 RS_REMOTE_ERROR = 1;
constexpr nuint32 RS_IN_SYNC = 2;
// States of a replica in its ring (carried in the "Replica" value), apart from the sync
// flags above.
constexpr nuint32 RS_ON = 0;
constexpr nuint32 RS_NEW_REPLICA = 1;
constexpr nuint32 RS_DYING_REPLICA = 2;
constexpr nuint32 RS_SS_0 = 48;  // split, first and second step
constexpr nuint32 RS_SS_1 = 49;
constexpr nuint32 RS_JS_0 = 64;  // join, three steps
constexpr nuint32 RS_JS_2 = 66;

// Flags of NWDSSyncReplicaToServer.
constexpr nuint32 DS_SYNC_IMMEDIATE = 0x02;
constexpr nuint32 DS_SYNC_ALL_OBJECTS = 0x04;

// Attribute syntax ids.
enum SyntaxId : nuint32 {
  SYN_UNKNOWN = 0,
  SYN_DIST_NAME = 1,
  SYN_CE_STRING = 2,
  SYN_CI_STRING = 3,
  SYN_PR_STRING = 4,
  SYN_NU_STRING = 5,
  SYN_CI_LIST = 6,
  SYN_BOOLEAN = 7,
  SYN_INTEGER = 8,
  SYN_OCTET_STRING = 9,
  SYN_TEL_NUMBER = 10,
  SYN_FAX_NUMBER = 11,
  SYN_NET_ADDRESS = 12,
  SYN_OCTET_LIST = 13,
  SYN_EMAIL_ADDRESS = 14,
  SYN_PATH = 15,
  SYN_REPLICA_POINTER = 16,
  SYN_OBJECT_ACL = 17,
  SYN_PO_ADDRESS = 18,
  SYN_TIMESTAMP = 19,
  SYN_CLASS_NAME = 20,
  SYN_STREAM = 21,
  SYN_COUNTER = 22,
  SYN_BACK_LINK = 23,
  SYN_TIME = 24,
  SYN_TYPED_NAME = 25,
  SYN_HOLD = 26,
  SYN_INTERVAL = 27,
};

// Completion codes. Library codes are passed up unchanged and only shown; the
// program itself makes -326, -702, -623 (filters) and 30 (stream read).
constexpr NWRCODE ERR_NOT_ENOUGH_MEMORY = -301;
constexpr NWRCODE ERR_BAD_KEY = -302;
constexpr NWRCODE ERR_BAD_CONTEXT = -303;
constexpr NWRCODE ERR_BUFFER_FULL = -304;
constexpr NWRCODE ERR_BAD_SYNTAX = -306;
constexpr NWRCODE ERR_BUFFER_EMPTY = -307;
constexpr NWRCODE ERR_BAD_VERB = -308;
constexpr NWRCODE ERR_EXPECTED_IDENTIFIER = -309;
constexpr NWRCODE ERR_ATTR_TYPE_EXPECTED = -311;
constexpr NWRCODE ERR_FILTER_TREE_EMPTY = -313;
constexpr NWRCODE ERR_INVALID_OBJECT_NAME = -314;
constexpr NWRCODE ERR_TOO_MANY_TOKENS = -316;
constexpr NWRCODE ERR_SYSTEM_ERROR = -319;
constexpr NWRCODE ERR_INVALID_HANDLE = -322;
constexpr NWRCODE ERR_BUFFER_ZERO_LENGTH = -323;
constexpr NWRCODE ERR_INVALID_ATTR_SYNTAX = -325;
constexpr NWRCODE ERR_INVALID_FILTER_SYNTAX = -326;  // also the program's "malformed filter"
constexpr NWRCODE ERR_CONTEXT_CREATION_FAILED = -328;  // the handle sentinel above keeps the short name
constexpr NWRCODE ERR_INVALID_SERVER_RESPONSE = -330;
constexpr NWRCODE ERR_NULL_POINTER = -331;
constexpr NWRCODE ERR_NO_CONNECTION = -333;
constexpr NWRCODE ERR_NOT_LOGGED_IN = -337;
constexpr NWRCODE ERR_NO_SUCH_SYNTAX = -341;
constexpr NWRCODE ERR_DN_TOO_LONG = -353;

constexpr NWRCODE ERR_NO_SUCH_ENTRY = -601;
constexpr NWRCODE ERR_NO_SUCH_VALUE = -602;
constexpr NWRCODE ERR_NO_SUCH_ATTRIBUTE = -603;
constexpr NWRCODE ERR_NO_SUCH_CLASS = -604;
constexpr NWRCODE ERR_NO_SUCH_PARTITION = -605;
constexpr NWRCODE ERR_ENTRY_ALREADY_EXISTS = -606;
constexpr NWRCODE ERR_ILLEGAL_DS_NAME = -610;
constexpr NWRCODE ERR_SYNTAX_VIOLATION = -613;
constexpr NWRCODE ERR_INAPPROPRIATE_MATCHING = -623;  // program: syntax not usable in a filter
constexpr NWRCODE ERR_REPLICA_ALREADY_EXISTS = -624;
constexpr NWRCODE ERR_TRANSPORT_FAILURE = -625;
constexpr NWRCODE ERR_ALL_REFERRALS_FAILED = -626;
constexpr NWRCODE ERR_ILLEGAL_REPLICA_TYPE = -631;
constexpr NWRCODE ERR_SYSTEM_FAILURE = -632;
constexpr NWRCODE ERR_NO_REFERRALS = -634;
constexpr NWRCODE ERR_REMOTE_FAILURE = -635;
constexpr NWRCODE ERR_UNREACHABLE_SERVER = -636;
constexpr NWRCODE ERR_INVALID_REQUEST = -641;
constexpr NWRCODE ERR_INVALID_ITERATION = -642;
constexpr NWRCODE ERR_NOT_ROOT_PARTITION = -647;
constexpr NWRCODE ERR_INSUFFICIENT_BUFFER = -649;
constexpr NWRCODE ERR_PARTITION_BUSY = -654;
constexpr NWRCODE ERR_MULTIPLE_REPLICAS = -655;
constexpr NWRCODE ERR_CRUCIAL_REPLICA = -656;
constexpr NWRCODE ERR_SCHEMA_SYNC_IN_PROGRESS = -657;
constexpr NWRCODE ERR_SKULK_IN_PROGRESS = -658;
constexpr NWRCODE ERR_DS_LOCKED = -663;
constexpr NWRCODE ERR_PARTITION_ROOT = -667;
constexpr NWRCODE ERR_ENTRY_NOT_CONTAINER = -668;
constexpr NWRCODE ERR_NO_SUCH_PARENT = -671;
constexpr NWRCODE ERR_NO_ACCESS = -672;
constexpr NWRCODE ERR_REPLICA_NOT_ON = -673;
constexpr NWRCODE ERR_PARTITION_ALREADY_EXISTS = -679;
constexpr NWRCODE ERR_NOT_LEAF_PARTITION = -686;
constexpr NWRCODE ERR_DS_LOADER_BUSY = -696;
constexpr NWRCODE ERR_DS_CANNOT_RELOAD = -697;
constexpr NWRCODE ERR_FATAL = -699;
constexpr NWRCODE ERR_BAD_FILTER_VALUE = -702;       // program: filter value not convertible
constexpr NWRCODE ERR_CONNECTION_TIMEOUT = -748;     // a server gave no answer in time
constexpr NWRCODE ERR_QUERY_MAX_COUNT = -768;        // a search brought more entries than allowed

constexpr NWRCODE ERR_CLIENT_NOT_INITIALIZED = 0xFFFF;  // InitNetWare: client could not start
constexpr NWRCODE ERR_INVALID_CONNECTION = 0x8801;
constexpr NWRCODE ERR_NO_MORE_CONNECTIONS = 0x880F;      // end of a connection scan
constexpr NWRCODE ERR_INVALID_PARAMETER = 0x8836;
constexpr NWRCODE ERR_NO_PRIMARY_CONNECTION = 0x8847;
constexpr NWRCODE ERR_REQUEST_CANCELLED = 0x88FC;      // the program gave a request up (a scan was stopped)
constexpr NWRCODE ERR_NOT_AVAILABLE_FOR_TREE = 0x88FD;  // the tree, as it is reached, offers no such operation or value
constexpr NWRCODE ERR_NO_MORE_LOAD_PROBLEMS = 0x88FE;    // end of the client's load problems

constexpr NWRCODE ERR_STREAM_READ_FAULT = 30;        // program: a stream read failed

// Buffers. The caller sees the data area of a reply (DSReplicaSyncErrors hands its
// 136-byte answer there); everything else is the library's business.
struct Buf_T {
  nuint32 maxLen = 0;       // size of the data area in bytes
  nuint32 curLen = 0;       // bytes of data written
  nuint32 operation = 0;    // DSBufferInit operation
  nuint32 reserved = 0;
  nuint8* data = nullptr;   // data area, maxLen bytes
};

// Object information record of a search result (DSResultNextObject).
struct Object_Info_T {
  nuint32 objectFlags;
  nuint32 subordinateCount;
  nuint32 modificationTime;
  char baseClass[MAX_SCHEMA_NAME_BYTES];
};

// Value records, as DSResultNextValue writes them into value memory of the size that
// DSResultValueSize reports. Pointers in a record point into the same value memory,
// right after the record; integers are little-endian.
struct Unknown_Attr_T {   // syntax 0
  char* attrName;
  nuint32 syntaxID;
  nuint32 valueLen;
  // valueLen bytes of the value follow the record
};
struct CI_List_T {        // syntax 6
  CI_List_T* next;
  char* s;
};
struct Octet_String_T {   // syntax 9
  nuint32 length;
  nuint8* data;
};
struct Fax_Number_T {     // syntax 11
  char* telephoneNumber;
  nuint32 numOfBits;
  nuint8* data;
};
struct Net_Address_T {    // syntax 12
  nuint32 addressType;
  nuint32 addressLength;
  nuint8* address;
};
struct Octet_List_T {     // syntax 13
  Octet_List_T* next;
  nuint32 length;
  nuint8* data;
};
struct EMail_Address_T {  // syntax 14
  nuint32 type;
  char* address;
};
struct Path_T {           // syntax 15
  nuint32 nameSpaceType;
  char* volumeName;
  char* path;
};
struct Replica_Pointer_T {  // syntax 16
  char* serverName;
  nuint32 replicaType;
  nuint32 replicaNumber;
  nuint32 count;
  Net_Address_T replicaAddressHint[1];
};
struct Object_ACL_T {     // syntax 17
  char* protectedAttrName;
  char* subjectName;
  nuint32 privileges;
};
using Postal_Address_T = char* [6];  // syntax 18
struct TimeStamp_T {      // syntax 19
  nuint32 wholeSeconds;
  nuint16 replicaNum;
  nuint16 eventID;
};
struct Back_Link_T {      // syntax 23
  nuint32 remoteID;
  char* objectName;
};
struct Typed_Name_T {     // syntax 25
  char* objectName;
  nuint32 level;
  nuint32 interval;
};
struct Hold_T {           // syntax 26
  char* objectName;
  nuint32 amount;
};

}  // namespace vestrel
