#include <gtest/gtest.h>

#include "app/ScreenLayout.h"

namespace vestrel {
namespace {

TEST(ScreenLayout, LayoutsAndCentringWithTruncatingHalves) {
  const ScreenLayout full = chooseLayout(false);
  const ScreenLayout compact = chooseLayout(true);
  EXPECT_EQ(full.windowWidth, 800u);
  EXPECT_EQ(full.backgroundWidth, 850);
  EXPECT_FALSE(full.compactLayout);
  EXPECT_EQ(compact.windowHeight, 300u);
  EXPECT_EQ(compact.logoX, 161);
  EXPECT_EQ(compact.logoY, 115);
  EXPECT_TRUE(compact.compactLayout);

  const platform::DesktopRect hd{0, 0, 1920, 1080};
  EXPECT_EQ(centredPosition(hd, full).x, 560);
  EXPECT_EQ(centredPosition(hd, full).y, 240);
  EXPECT_EQ(centredPosition(hd, compact).x, 760);
  EXPECT_EQ(centredPosition(hd, compact).y, 390);
  // An odd width truncates: 1367 / 2 = 683.
  EXPECT_EQ(centredPosition({0, 0, 1367, 768}, full).x, 283);
  // Only the desktop's size counts, not where it starts.
  EXPECT_EQ(centredPosition({100, 50, 2020, 1130}, full).x, 560);
}

}  // namespace
}  // namespace vestrel
