// Where a restored window goes: its outer position stands while its title bar is on a
// screen; otherwise the window moves onto the screen nearest to it, as little as it can.
#include <gtest/gtest.h>

#include "app/SettingsAdapters.h"

namespace vestrel {
namespace {

TEST(WindowPlacement, ATitleBarOffEveryScreenMovesOntoTheNearestOne) {
  // Two screens side by side, the right one lower and smaller.
  const QList<QRect> screens{QRect(0, 0, 1280, 900), QRect(1280, 200, 1024, 768)};
  struct Case {
    const char* what;
    QPoint position;
    int width;
    QPoint expected;
  };
  const Case cases[] = {
      {"on the left screen", {200, 160}, 769, {200, 160}},
      {"on the right screen", {1500, 300}, 769, {1500, 300}},
      {"at the very top", {200, 0}, 769, {200, 0}},
      {"title bar above the screen", {200, -20}, 769, {200, 0}},
      {"far above", {200, -100000}, 769, {200, 0}},
      {"below the left screen", {200, 890}, 769, {200, 900 - kTitleBarHeight}},
      {"mostly left of the screen", {-700, 100}, 769, {-700, 100}},
      {"too far left", {-100000, 100}, 769, {kReachableWidth - 769, 100}},
      {"right of both", {5000, 300}, 769, {1280 + 1024 - kReachableWidth, 300}},
      {"in the gap above the right screen", {1500, 50}, 769, {1500, 200}},
      {"narrow window far right", {9000, 100}, 40, {1280 + 1024 - 40, 200}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PositionWithinReach(c.position, c.width, screens), c.expected) << c.what;
  EXPECT_EQ(PositionWithinReach({-5000, -5000}, 769, {}), QPoint(-5000, -5000)) << "no screen";
}

}  // namespace
}  // namespace vestrel
