// Directory search: every object below a base that passes a filter text becomes one
// text row built from a row template ("#NAME#", "#CLASS#", "#[format][key]#").
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "directory/NETWIN32.h"
#include "directory/NTypes.h"
#include "util/TextList.h"

namespace vestrel {

// What a search keeps while it runs: the filter under construction, and for each found
// object its name (as the library returns it), its object information and its row.
struct SearchState {
  NWDSContextHandle context = 0;
  Filter_Cursor_T* filter = nullptr;  // until it is stored or freed
  nuint32 iterationHandle = NO_MORE_ITERATIONS;
  std::string objectName;
  Object_Info_T objectInfo{};
  nuint32 attrCount = 0;
  std::string row;
};

// Called once per found object after its row is built; whatever it throws is ignored.
using SearchRowCallback = std::function<void(SearchState& found, std::int32_t userArgument)>;

// Set to nonzero to stop a running SearchNames at the next object. Starts at 0; no
// command of the program sets it.
extern std::uint8_t SearchAbort;

// The filter is a filter text (empty: "(Object Class#PRESENT#)"), the row template
// empty for "#NAME#". Rows are built only when a callback or a list is given; list items
// carry the 1-based position "#NAME#" had in the row (0 = none). counter counts the
// objects read; a maximum above 0 stops the search when counter reaches it. Returns
// -326 for unbalanced parentheses (no library call), else the code of the last library
// step. Objects the library cannot hand over are shown in an error box each.
NWRCODE SearchObjects(NWDSContextHandle context, const std::string& base, const std::string& filter,
                      std::int32_t userArgument, std::uint8_t& abortFlag, const SearchRowCallback& callback,
                      std::int32_t& counter, std::int32_t maximum, const std::string& rowTemplate, TextList* list,
                      nuint32 scope);

// The names of the objects found, in the library's order, appended to list.
NWRCODE SearchNames(NWDSContextHandle context, const std::string& base, const std::string& filter, TextList* list,
                    nuint32 scope);

// SearchNames for a look-up behind the window (what a dialog may offer): an object the
// library cannot hand over is skipped without a box.
NWRCODE SearchNamesQuietly(NWDSContextHandle context, const std::string& base, const std::string& filter,
                           TextList* list, nuint32 scope);
// The row of one found object. namePosition (optional) receives the 1-based position of
// "#NAME#" in the row before names were put in, 0 when there is none. A format the
// printf rules reject throws (fmt::format_error).
std::string FormatResultRow(const std::string& rowTemplate, const SearchState& found, int* namePosition = nullptr);

}  // namespace vestrel
