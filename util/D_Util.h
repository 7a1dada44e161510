// D_Util: the program's toolbox of stateless text, number, buffer, duration, path and
// list helpers, and the three user-interface shortcuts (hourglass, notice, confirmation).
// Texts are UTF-8 byte strings; positions are 1-based bytes, 0 = not found; case folding
// is ASCII (a-z only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "util/StringGrid.h"
#include "util/TextList.h"
#include "util/UiSeam.h"

namespace vestrel {

// Thrown by value formatters when a field is out of its range; the attribute reader
// shows what() as the value's line.
class RangeCheckError : public std::out_of_range {
 public:
  RangeCheckError() : std::out_of_range("Range check error") {}
};

// ---- Choice and comparison ----
std::uint16_t MinWord(std::uint16_t a, std::uint16_t b);
std::int32_t MinInt(std::int32_t a, std::int32_t b);
std::string IfThenText(bool flag, const std::string& whenTrue, const std::string& whenFalse);
std::string BoolToText(bool flag);
std::string TextAtIndex(int index, std::span<const std::string_view> texts);
int IndexOfText(std::string_view text, std::span<const std::string_view> texts, bool caseSensitive);
bool TextInList(std::string_view text, std::span<const std::string_view> texts, bool caseSensitive);
std::string UpperCaseAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
int PosNoCase(std::string_view sub, std::string_view text);
int PosText(std::string_view sub, std::string_view text, bool caseSensitive);
// Plain leftmost search, case-sensitive; an empty sub is never found.
int Pos(std::string_view sub, std::string_view text);

// ---- Cutting at a marker (first occurrence, case-sensitive; absent marker: unchanged) ----
std::string KeepTextBefore(const std::string& text, std::string_view marker, bool dropMarker = true);
std::string KeepTextAfter(const std::string& text, std::string_view marker, bool dropMarker = true);

// ---- Removing characters ----
using CharSet = std::uint64_t[4];  // 256-bit mask
// Adds every byte of chars to set (which the caller zero-initialises: CharSet set{}).
void IncludeChars(CharSet& set, std::string_view chars);
bool InCharSet(const CharSet& set, unsigned char c);
std::string DeleteChars(std::string_view text, std::string_view chars);
std::string TrimRightChars(std::string_view text, std::string_view chars);
std::string TrimLeftChars(std::string_view text, std::string_view chars);
std::string TrimRightCharSet(std::string_view text, const CharSet& set);
std::string TrimLeftCharSet(std::string_view text, const CharSet& set);
int CountCharsInSet(std::string_view text, const CharSet& set);

// ---- Replacing, splitting, joining ----
std::string ReplaceInText(std::string_view text, std::string_view find, std::string_view replacement,
                          bool all = true, bool caseSensitive = true);
void ReplaceInTextVar(std::string& text, std::string_view find, std::string_view replacement,
                      bool all = true, bool caseSensitive = true);
// head/tail may be the very variable that holds text.
void SplitText(const std::string& text, std::string_view separator, std::string& head, std::string& tail);
std::string JoinNonEmpty(const std::string& a, const std::string& b, std::string_view separator);
std::string EnsurePrefix(const std::string& text, std::string_view prefix);
std::string DoubleQuoted(std::string_view text);
char LastChar(std::string_view text);

// ---- Numbers and hexadecimal ----
std::int32_t TextToIntDef(std::string_view text, std::int32_t defaultValue);
std::string BytesToHex(const void* buffer, std::uint16_t count);
// buffer has room for at least min(count, 65535) bytes.
bool HexToBytes(std::string_view text, int& count, std::uint8_t* buffer);

// ---- Zero-terminated text and buffers ----
std::string PCharToText(const char* text);
const char* TextPtr(const std::string& text);
const char* TextPtrWithNul(std::string& text);
constexpr std::size_t kTextBufferSize = 2304;
// buffer holds bufferSize readable bytes (the callers pass 2304-byte buffers); nothing
// outside them is read, whatever offset and length say.
std::string BufferToText(const std::uint8_t* buffer, std::size_t bufferSize, std::size_t offset, std::size_t maxLength);
std::string BufferToLines(const std::uint8_t* buffer, std::size_t bufferSize, std::size_t offset, std::size_t length);

// ---- Durations ----
struct DurationParts {
  std::uint16_t days;
  std::uint16_t hours;
  std::uint16_t minutes;
  std::uint16_t seconds;
};
DurationParts SplitSeconds(std::uint32_t seconds);
std::string SecondsToText(std::uint32_t seconds);

// ---- Files and paths ----
std::string WithTrailingBackslash(const std::string& directory);  // platform delimiter "/"
std::string ChangeExtension(const std::string& fileName, const std::string& ext);
std::string ProgramFilePath();  // full path of the running program
std::string ProgramFileWithExt(const std::string& ext);
// The folders an installed program keeps its files in (share/vestrel and the library
// folder), found from the program file's own folder; empty when that is unknown.
std::string InstalledDataFolder();
std::string InstalledLibraryFolder();
// ProgramFileWithExt, or the file of that name in the installed data folder when only that
// one exists: an installed program finds its Info text in share/vestrel.
std::string ProgramDataFileWithExt(const std::string& ext);

// ---- Text lists ----
void RemoveListItems(TextList* target, const TextList* items);
void AppendListItems(TextList* target, const TextList* items, bool allowDuplicates);

// ---- Grid and user interface ----
void ClearGridCells(StringGrid* grid);
void ShowHourglass();
void SaveCursorShowHourglass(CursorKind& saved);
void RestoreCursor(CursorKind saved);
void ShowNotice(DialogKind kind, const std::string& text);
bool ConfirmAction();

// ---- Formatting ----
// printf-style formatting (fmt::sprintf): "%4X" pads with blanks, ".4" with zeros.
template <typename... Args>
std::string Format(std::string_view format, const Args&... args);

}  // namespace vestrel

#include "util/Format.inl"
