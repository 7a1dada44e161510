// Directory search in steps of 50 objects; pending window messages run before each step
// and before each object, so the window stays alive during a long search.
#include "directory/D_NW_Search.h"

#include <algorithm>

#include "directory/D_NW_Errors.h"
#include "directory/D_NW_Filter.h"
#include "directory/D_NW_Format.h"
#include "directory/D_NW_Read.h"
#include "directory/D_NW_Session.h"
#include "util/D_Util.h"

namespace vestrel {

std::uint8_t SearchAbort = 0;

namespace {

// Set while a look-up behind the window runs: unreadable objects are skipped without a box.
bool quietObjects = false;

constexpr nuint32 kObjectsPerStep = 50;
const std::string kDefaultFilter = "(Object Class#PRESENT#)";
const std::string kDefaultTemplate = "#NAME#";

bool ParenthesesBalance(const std::string& filter) {
  return std::count(filter.begin(), filter.end(), '(') == std::count(filter.begin(), filter.end(), ')');
}

// The buffers and the iteration of one search, given back whatever way it ends.
struct SearchResources {
  NWDSContextHandle context = 0;
  Buf_T* filter = nullptr;
  Buf_T* result = nullptr;
  Buf_T* attrNames = nullptr;  // a names-only search asks for no attributes
  nuint32 iterationHandle = NO_MORE_ITERATIONS;
  explicit SearchResources(NWDSContextHandle searchContext) : context(searchContext) {}
  SearchResources(const SearchResources&) = delete;
  SearchResources& operator=(const SearchResources&) = delete;
  ~SearchResources() {
    // A search left by an error or an exception between steps still holds its
    // iteration in the library.
    if (iterationHandle != NO_MORE_ITERATIONS) DSIterationEnd(context, iterationHandle, DSV_SEARCH);
    for (Buf_T* buffer : {result, attrNames, filter})
      if (buffer) DSBufferFree(buffer);
  }
};

// Builds the filter from its text and stores it in the filter buffer. An unfinished
// expression is freed here; a stored one belongs to the buffer.
NWRCODE StoreFilter(const std::string& filterText, SearchState& state, Buf_T* filterBuffer) {
  NWRCODE code = 0;
  const TextList lines = FilterToLines(filterText.empty() ? kDefaultFilter : filterText);
  for (int i = 0; i < lines.Count() && code == 0; ++i) code = AddFilterLine(lines[i], state);
  if (code == 0) code = DSFilterAddToken(state.filter, FTOK_END, nullptr, 0);
  if (code == 0) code = DSFilterStore(state.context, filterBuffer, state.filter);
  if (code == 0) {
    state.filter = nullptr;
  } else if (state.filter) {
    DSFilterFree(state.filter);
    state.filter = nullptr;
  }
  return code;
}

std::string BaseClassText(const Object_Info_T& info) {
  const char* end = std::find(info.baseClass, info.baseClass + sizeof(info.baseClass), '\0');
  return std::string(info.baseClass, end);
}

// The value of a row key; false when an attribute read failed other than by -603.
bool KeyValue(const std::string& key, const SearchState& found, std::string& value) {
  const NWDSContextHandle context = found.context;
  const std::string& name = found.objectName;
  NWRCODE code = 0;
  if (key == "dn") value = ObjectFullName(context, name, code);
  else if (key == "rdn") value = ObjectRDN(context, name, code);
  else if (key == "DN" || key == "NAME") value = name;
  else if (key == "CN") value = KeepTextAfter(KeepTextBefore(name, "."), "CN=");
  else if (key == "CTX") value = ObjectParentName(context, name);
  else if (key == "CREATIONTIME") value = ShortDateTimeText(ObjectCreationTime(context, name));
  else if (key == "MODIFICATIONTIME") value = ShortDateTimeText(ObjectModificationTime(context, name));
  else if (key == "CLASS") value = BaseClassText(found.objectInfo);
  else {
    std::string text;
    code = ReadAttrLines(context, name, key, text);
    if (code == ERR_NO_SUCH_ATTRIBUTE) value.clear();
    else if (code == 0) value = text;
    else return false;
  }
  return true;
}

// The row of a found object, handed to the callback and added to the list.
void TakeObject(SearchState& state, const std::string& rowTemplate, std::int32_t userArgument,
                const SearchRowCallback& callback, TextList* list) {
  if (!callback && !list) return;
  int namePosition = 0;
  state.row = FormatResultRow(rowTemplate, state, &namePosition);
  if (callback) {
    try {
      callback(state, userArgument);
    } catch (...) {
      // A failing callback does not stop the search.
    }
  }
  if (list) list->Add(state.row, namePosition);
}

}  // namespace

NWRCODE SearchObjects(NWDSContextHandle context, const std::string& base, const std::string& filter,
                      std::int32_t userArgument, std::uint8_t& abortFlag, const SearchRowCallback& callback,
                      std::int32_t& counter, std::int32_t maximum, const std::string& rowTemplate, TextList* list,
                      nuint32 scope) {
  NWRCODE code = ERR_INVALID_FILTER_SYNTAX;
  if (!ParenthesesBalance(filter)) return code;
  SearchState state;
  state.context = context;
  const std::string& rowText = rowTemplate.empty() ? kDefaultTemplate : rowTemplate;
  try {
    SearchResources search(context);
    code = DSBufferAlloc(DEFAULT_MESSAGE_LEN, &search.filter);
    if (code == 0) code = DSBufferAlloc(MAX_MESSAGE_LEN, &search.result);
    if (code == 0) code = DSBufferInit(context, DSV_SEARCH_FILTER, search.filter);
    if (code == 0) code = StoreFilter(filter, state, search.filter);
    if (code != 0) return code;

    nuint32& handle = search.iterationHandle;
    bool stopped = false;
    do {
      ProcessMessages();
      const TimeStamp_T everyTime{};
      nuint32 searched = 0;
      code = DSSearchStep(context, base.c_str(), scope, false, search.filter, &everyTime, DS_ATTRIBUTE_NAMES, false,
                          search.attrNames, &handle, kObjectsPerStep, &searched, search.result);
      state.iterationHandle = handle;
      if (code != 0) break;
      nuint32 objectCount = 0;
      code = DSResultObjectCount(context, search.result, &objectCount);
      if (code != 0) break;
      for (nuint32 i = 0; i < objectCount && !stopped; ++i) {
        ProcessMessages();
        char name[MAX_DN_BYTES] = {};
        state.objectInfo = Object_Info_T{};
        // An unreadable object is shown and skipped; its code stays the result until the
        // next step replaces it.
        if (NWRCODE objectCode = DSResultNextObject(context, search.result, name, &state.attrCount, &state.objectInfo)) {
          code = objectCode;
          if (!quietObjects) ReportError(objectCode, "");
          continue;
        }
        ++counter;
        state.objectName = name;
        state.objectInfo.baseClass[sizeof(state.objectInfo.baseClass) - 1] = '\0';
        TakeObject(state, rowText, userArgument, callback, list);
        if (abortFlag != 0 || (maximum > 0 && counter >= maximum)) {
          DSIterationEnd(context, handle, DSV_SEARCH);
          handle = NO_MORE_ITERATIONS;
          stopped = true;
        }
      }
    } while (!stopped && abortFlag == 0 && handle != NO_MORE_ITERATIONS);
  } catch (...) {
    // Whatever went wrong, the code reached so far is the answer.
  }
  if (state.filter) DSFilterFree(state.filter);
  return code;
}

NWRCODE SearchNames(NWDSContextHandle context, const std::string& base, const std::string& filter, TextList* list,
                    nuint32 scope) {
  std::int32_t counter = 0;
  return SearchObjects(context, base, filter, 0, SearchAbort, nullptr, counter, 0, kDefaultTemplate, list, scope);
}

NWRCODE SearchNamesQuietly(NWDSContextHandle context, const std::string& base, const std::string& filter,
                           TextList* list, nuint32 scope) {
  const bool outer = quietObjects;
  quietObjects = true;
  std::uint8_t neverAborted = 0;  // the user's abort flag stops listings, not look-ups
  std::int32_t counter = 0;
  const NWRCODE code =
      SearchObjects(context, base, filter, 0, neverAborted, nullptr, counter, 0, kDefaultTemplate, list, scope);
  quietObjects = outer;
  return code;
}

std::string FormatResultRow(const std::string& rowTemplate, const SearchState& found, int* namePosition) {
  std::string row = rowTemplate;
  std::string scan = rowTemplate;
  while (scan.find("#[") != std::string::npos) {
    if (scan.find("]#") == std::string::npos) break;
    std::string content = KeepTextAfter(scan, "#[");
    content = KeepTextBefore(content, "]#");
    scan = KeepTextAfter(scan, "]#");
    const bool hasFormat = content.find("][") != std::string::npos;
    const std::string key = hasFormat ? KeepTextAfter(content, "][") : content;
    if (key.empty()) continue;
    std::string value;
    if (!KeyValue(key, found, value)) continue;
    const std::string format = hasFormat ? KeepTextBefore(content, "][") : "%s";
    ReplaceInTextVar(row, "#[" + content + "]#", Format(format, value), false);
  }
  ReplaceInTextVar(row, "#CLASS#", BaseClassText(found.objectInfo));
  if (namePosition) *namePosition = Pos("#NAME#", row);
  ReplaceInTextVar(row, "#NAME#", found.objectName);
  return row;
}

}  // namespace vestrel
