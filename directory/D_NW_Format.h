// Attribute values as display text: one value record, as the library hands it over in
// its value memory, becomes one or more text lines. Also the small conversions that go
// with values: directory times and local date-time texts, network addresses, rights
// letters, replica states, context names and stream attributes.
//
// Value memory is untrusted: every pointer of a record must point into the value memory
// and every text must end inside it; a record that breaks this is a range failure
// (RangeCheckError), which the attribute reader shows as "Range check error". Octet
// layouts never read past the octets: a missing number reads as 0, a missing text as
// empty, a text without its terminator shows what is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "directory/NTypes.h"
#include "util/TextList.h"

namespace vestrel {

// Size of the stream buffer, and of the reply buffers of reads and searches.
constexpr std::size_t StreamBufferSize = 64512;

// ---- Values ----
// Appends the line or lines of one value (valueIndex counts from 1) to lines. The result
// is 0, or for a stream attribute (syntax 21) the code of its read.
NWRCODE FormatAttrValue(NWDSContextHandle context, const std::string& objectName,
                        const std::string& attrName, TextList& lines, const void* value,
                        std::size_t valueSize, nuint32 syntaxId, int valueIndex);

// Octet strings: structured records kept in octets by attribute name (ignoring case),
// a hex dump for any other name.
std::string FormatOctetValue(std::span<const nuint8> octets, const std::string& attrName, int valueIndex);
// The record's data must hold record.length bytes (the caller has checked the pointer).
std::string FormatOctetValue(const Octet_String_T& record, const std::string& attrName, int valueIndex);
// The attribute names that have an octet layout of their own, in the order they are tried.
std::vector<std::string_view> OctetLayoutNames();
// The least a "Partition Status" value holds: u32 unused, state, last sync, number, error.
// A shorter value is a range failure: its missing state would read as a local error.
inline constexpr std::size_t kPartitionStatusMinBytes = 20;

// "(in sync)", "(local error)", "(remote error)" or "(n - unknown)".
std::string ReplicaStateText(nint32 state);

// An address of the given type; empty when address is null. Missing bytes read as 0.
std::string NetAddressText(nuint32 addressType, const nuint8* address, std::size_t length, bool withType);

// ---- Access-control entries ----
enum RightsKind : int { EntryRights = 1, AttributeRights = 2 };
RightsKind RightsKindOf(const std::string& protectedAttrName);
std::string RightsText(nuint32 privileges, RightsKind kind);
std::string AclText(const std::string& rights, const std::string& subject, const std::string& attribute);
std::string FormatAclValue(nuint32 privileges, const std::string& subject, const std::string& attribute);
// Letters back to bits (a number stands for itself; a negative number is a range failure).
nuint32 ParseRightsText(const std::string& text, RightsKind kind);

// ---- Time ----
// Minutes to add to local time to get UTC, as the system reports it now.
int TimeZoneBias();
// Locale short date and long time of a directory time; midnight shows the date alone.
// Never fails; the text may be empty.
std::string DirTimeText(nuint32 directoryTime, bool toLocal);
// Locale short date, a blank and locale short time of a date-time value, no zone shift.
std::string ShortDateTimeText(double dateTime);
// The reverse of both texts: a date, or a date and a time, in the user's locale as
// DirTimeText and ShortDateTimeText show them (or in the locale's own joined form) as a
// date-time value of that wall-clock time; false when it cannot be read.
bool LocalTextToDateTime(const std::string& text, double& dateTime);
// Date-time value to directory time, rounded to the second (halves to even); a result
// outside 0..4294967295 is a range failure.
nuint32 DateTimeToDirTime(bool fromLocal, double dateTime);

// ---- Names ----
std::string JoinContextName(const std::string& context, const std::string& name);

// ---- Stream attributes ----
// Opens the stream, reads it once into buffer (at most size bytes; size becomes the
// count read) and closes it. 30 when the read fails, the open's own code otherwise.
NWRCODE ReadStreamFile(NWDSContextHandle context, const std::string& objectName,
                       const std::string& attrName, std::size_t& size, nuint8* buffer);
// The stream as text ("Cannot read Stream" when it cannot be read), application files
// decoded, with "Stream (%d bytes):" and CR LF in front when withHeader is set.
NWRCODE ReadStreamText(NWDSContextHandle context, const std::string& objectName,
                       const std::string& attrName, bool withHeader, std::string& text);
// Application-file streams ("AOT FILE"): replaces or extends text. buffer is the whole
// zero-filled stream buffer, count the bytes read into it; nothing outside buffer is read.
void DecodeAotStream(std::span<const nuint8> buffer, std::size_t count, const std::string& attrName,
                     std::string& text);
// The items from byte 24 up to count: fixed records of nNumbers numbers and nStrings
// counted strings, or the free walk with -1, -1.
std::string DecodeAotRecords(std::span<const nuint8> buffer, std::size_t count, int nNumbers, int nStrings);
// Moves cursor onto the one non-zero byte of a u32 >= 256 that has three zero bytes.
std::size_t SkipFillerBytes(std::span<const nuint8> buffer, std::size_t cursor);

}  // namespace vestrel
