// The problems the client met while it loaded the workstation's trees. A tree file that
// is missing or broken leaves its connection out; without this report the user would
// only see a tree missing from the list.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vestrel {

// Every load problem, one text each naming the file and what is wrong, in the order met.
// A text longer than kMaxLoadProblemChars is cut there and ends with "...".
std::vector<std::string> TreeLoadProblems();
inline constexpr std::size_t kMaxLoadProblemChars = 1024;

// The problem that kept the workstation's preferred tree (its primary connection) from
// being loaded, cut like the others; "" when it was loaded.
std::string PreferredTreeLoadProblem();

// The problems joined with CR LF, for one error box at start-up; "" when every tree loaded.
std::string TreeLoadProblemsText();

}  // namespace vestrel
