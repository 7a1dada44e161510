#include "directory/D_NW_LoadProblems.h"

#include "directory/calwin32.h"

namespace vestrel {

namespace {

// Problem number index, cut to kMaxLoadProblemChars; false past the last one.
bool LoadProblemAt(nuint32 index, std::string& problem) {
  char text[kMaxLoadProblemChars + 1];
  nuint32 length = 0;
  if (ClientLoadProblem(index, sizeof text, text, &length) != 0) return false;
  problem = text;
  if (length > kMaxLoadProblemChars) problem += "...";
  return true;
}

}  // namespace

std::vector<std::string> TreeLoadProblems() {
  std::vector<std::string> problems;
  std::string problem;
  for (nuint32 index = 0; LoadProblemAt(index, problem); ++index) problems.push_back(problem);
  return problems;
}

std::string PreferredTreeLoadProblem() {
  nuint32 index = 0;
  std::string problem;
  if (ClientPrimaryLoadProblem(&index) != 0 || !LoadProblemAt(index, problem)) return {};
  return problem;
}

std::string TreeLoadProblemsText() {
  std::string text;
  for (const std::string& problem : TreeLoadProblems()) text += (text.empty() ? "" : "\r\n") + problem;
  return text;
}

}  // namespace vestrel
