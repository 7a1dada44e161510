// Replays the inputs kept for one fuzz target through its entry point. A kept input that
// crashes, aborts on a broken invariant or (under the sanitizers) reads outside its bytes
// fails this test; the input being replayed is named on stderr first, since a crash ends
// the program before any assertion could report it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The folders are separated by ':', as in PATH; a folder that does not exist holds no input
// yet. The tree folders also hold their build file and description, which are not inputs.
std::vector<fs::path> KeptInputs() {
  std::vector<fs::path> inputs;
  std::stringstream folders(VESTREL_FUZZ_INPUTS);
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (!fs::is_directory(folder)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      const fs::path& path = entry.path();
      if (entry.is_regular_file() && path.filename() != "README.md" && path.filename() != "CMakeLists.txt") {
        inputs.push_back(path);
      }
    }
  }
  return inputs;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(VESTREL_FUZZ_SUITE, EveryKeptInputRunsCleanly) {
  const std::vector<fs::path> inputs = KeptInputs();
  for (const fs::path& path : inputs) {
    std::fprintf(stderr, "%s: replaying %s\n", VESTREL_FUZZ_TARGET, path.c_str());
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0)
        << path;
  }
  // An empty input is where every fuzz run starts; it must be handled too.
  static const std::uint8_t kNothing[1] = {};
  EXPECT_EQ(LLVMFuzzerTestOneInput(kNothing, 0), 0);
  RecordProperty("inputs", static_cast<int>(inputs.size()));
}

}  // namespace
