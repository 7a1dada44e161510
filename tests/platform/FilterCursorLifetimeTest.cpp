// Filter cursors the program could not free (a failing DSFilterFree) stay with the library
// and are released when it ends; in the sanitizer build a cursor lost instead fails the
// program at exit as a leak.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "directory/NETWIN32.h"
#include "platform/nwclient/FilterSearch.h"
#include "platform/nwclient/NwTestHooks.h"

namespace vestrel::testing {
namespace {

char* MallocText(const char* text) {
  char* copy = static_cast<char*>(std::malloc(std::strlen(text) + 1));
  std::strcpy(copy, text);
  return copy;
}

// Leaves one cursor holding a token and its value open, as a failing free does.
void LeaveACursorOpen() {
  nwtest::Reset();
  Filter_Cursor_T* cursor = nullptr;
  ASSERT_EQ(DSFilterCursorAlloc(&cursor), 0);
  ASSERT_EQ(DSFilterAddToken(cursor, FTOK_ANAME, MallocText("Object Class"), SYN_CLASS_NAME), 0);
  nwtest::FailOperation("DSFilterFree", ERR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(DSFilterFree(cursor), ERR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(nw::LiveFilterCursorCount(), 1u);
  nwtest::ClearFailures();
}

TEST(FilterCursorLifetime, ACursorLeftOpenIsReleasedWhenTheProgramEnds) {
  EXPECT_EXIT(
      {
        LeaveACursorOpen();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vestrel::testing
