// Search filter texts, e.g. "(Base Class=NCP Server) #AND# (cn=*)", turned into the
// token stream of the library's filter builder: one token line per item, comparison
// values converted into the value record of the attribute's syntax.
//
// Everything handed to DSFilterAddToken (names and value buffers) is allocated with
// std::malloc and belongs to the library from then on: the program never frees it.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "directory/NTypes.h"
#include "util/TextList.h"

namespace vestrel {

struct SearchState;

// Room of the value buffer of one comparison value.
constexpr std::size_t FilterValueBufferSize = 2047;

// The text broken into one item per line (some lines may be empty or blank).
TextList FilterToLines(const std::string& filterText);

// Adds the tokens of one line to the state's filter, creating the filter on first use.
// 0, the library's code, -326 for an unrecognised line, or a code of AddComparisonTokens.
NWRCODE AddFilterLine(const std::string& line, SearchState& state);

// Splits line at the first occurrence of op: false when op does not occur. attribute
// and value are trimmed of blanks and tabs.
bool SplitComparison(const std::string& op, const std::string& line, std::string& attribute, std::string& value);

// The tokens of one comparison (or presence, base-class or relative-name test).
NWRCODE AddComparisonTokens(std::string attribute, std::string op, std::string value, SearchState& state);

// Fills buffer (bufferSize bytes, zeroed first) with the value record of text in the
// given syntax; every pointer written points inside buffer. -702 when the text cannot
// be converted (or does not fit), -623 for a syntax no comparison can use.
NWRCODE TextToSyntaxValue(NWDSContextHandle context, const std::string& attribute, void* buffer,
                          std::size_t bufferSize, nuint32 syntaxId, const std::string& text);

// Parts of a text ended by "#": returns how many parts the text has (0 for ""), and the
// first five of them in parts.
int SplitHashParts(const std::string& text, std::array<std::string, 5>& parts);

// Without leading and trailing blanks and tabs.
std::string TrimBlanks(const std::string& text);

}  // namespace vestrel
