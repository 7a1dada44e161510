// The environment ctest gives every test, and (in the sanitizer build) that the sanitizers
// really fail a test on a leak or on undefined behaviour.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

namespace vestrel {
namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The offscreen platform is the first entry of the tests' environment; when it is there,
// every other entry must be there too (a split list used to leave only the first).
TEST(TestEnvironment, CtestSetsZoneLocaleSettingsFolderAndNoConnections) {
  if (Variable("QT_QPA_PLATFORM") != "offscreen")
    GTEST_SKIP() << "not run with the tests' environment (run it through ctest)";
  EXPECT_EQ(Variable("TZ"), "UTC");
  EXPECT_EQ(Variable("LC_ALL"), "en_US.UTF-8");
  EXPECT_EQ(Variable("LANG"), "en_US.UTF-8");
  EXPECT_TRUE(EndsWith(Variable("XDG_CONFIG_HOME"), "/test-config")) << Variable("XDG_CONFIG_HOME");
  EXPECT_EQ(std::getenv("VESTREL_CONNECTIONS"), nullptr);
#if VESTREL_SANITIZE
  EXPECT_NE(Variable("ASAN_OPTIONS").find("detect_leaks=1"), std::string::npos);
  EXPECT_TRUE(EndsWith(Variable("LSAN_OPTIONS"), "/lsan.supp")) << Variable("LSAN_OPTIONS");
#endif
}

#if VESTREL_SANITIZE
// Called so that no live stack slot keeps the block reachable.
[[gnu::noinline]] void LoseABlock() {
  volatile char* block = static_cast<char*>(std::malloc(77));
  block[0] = 1;
}

[[gnu::noinline]] int OneMore(int value) { return value + 1; }

TEST(SanitizerBuild, ALeakFailsTheProgram) {
  EXPECT_EXIT(
      {
        LoseABlock();
        std::exit(0);
      },
      [](int status) { return !::testing::ExitedWithCode(0)(status); }, "LeakSanitizer: detected memory leaks");
}

TEST(SanitizerBuild, UndefinedBehaviourStopsTheProgram) {
  volatile int largest = std::numeric_limits<int>::max();
  EXPECT_DEATH({ volatile int sum = OneMore(largest); (void)sum; }, "signed integer overflow");
}
#endif

}  // namespace
}  // namespace vestrel
