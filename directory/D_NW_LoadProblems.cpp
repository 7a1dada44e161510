#include "directory/D_NW_LoadProblems.h"

#include "directory/calwin32.h"

namespace vestrel {

std::vector<std::string> TreeLoadProblems() {
  std::vector<std::string> problems;
  char text[kMaxLoadProblemChars + 1];
  nuint32 length = 0;
  for (nuint32 index = 0; ClientLoadProblem(index, sizeof text, text, &length) == 0; ++index) {
    problems.emplace_back(text);
    if (length > kMaxLoadProblemChars) problems.back() += "...";
  }
  return problems;
}

std::string TreeLoadProblemsText() {
  std::string text;
  for (const std::string& problem : TreeLoadProblems()) text += (text.empty() ? "" : "\r\n") + problem;
  return text;
}

}  // namespace vestrel
