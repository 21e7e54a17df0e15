#include "console/terminal.h"

#include <gtest/gtest.h>

namespace muvra {
namespace {

TEST(RoleEscapeTest, ColoursOfEveryRole) {
  EXPECT_EQ(roleEscape(LineRole::Body, 0), "\x1b[38;2;231;233;242m");
  EXPECT_EQ(roleEscape(LineRole::Muted, 9), "\x1b[38;2;125;132;154m");
  EXPECT_EQ(roleEscape(LineRole::Success, 9), "\x1b[38;2;111;224;167m");
  EXPECT_EQ(roleEscape(LineRole::Warning, 9), "\x1b[38;2;255;174;107m");
  EXPECT_EQ(roleEscape(static_cast<LineRole>(9), 0), roleEscape(LineRole::Body, 0));
  EXPECT_EQ(classicAttribute(LineRole::Body), 7);
  EXPECT_EQ(classicAttribute(LineRole::Accent), 12);
  EXPECT_EQ(classicAttribute(LineRole::Muted), 8);
  EXPECT_EQ(classicAttribute(LineRole::Success), 10);
  EXPECT_EQ(classicAttribute(LineRole::Warning), 14);
  EXPECT_EQ(classicAttribute(static_cast<LineRole>(-1)), 7);
}

TEST(RoleEscapeTest, AccentPulsesBetween42And70) {
  struct Case {
    unsigned tick;
    int green;
  };
  // trunc(56 + 14 sin(0.055 t)): t = 29 is near the top, t = 86 near the bottom.
  for (const Case c : {Case{0, 56}, Case{1, 56}, Case{10, 63}, Case{29, 69}, Case{86, 42},
                       Case{57, 56}, Case{58, 55}}) {
    EXPECT_EQ(roleEscape(LineRole::Accent, c.tick),
              "\x1b[38;2;255;" + std::to_string(c.green) + ";100m")
        << c.tick;
  }
}

TEST(RowEscapesTest, PositionsColoursAndErasesTheRest) {
  EXPECT_EQ(rowEscapes(0, {"  +--+", LineRole::Muted}, 0),
            "\x1b[1;1H\x1b[38;2;125;132;154m  +--+\x1b[K");
  EXPECT_EQ(rowEscapes(22, {"x", LineRole::Body}, 0).substr(0, 7), "\x1b[23;1H");
}

TEST(RowNeedsDrawingTest, OnlyChangedRowsAndAccentRows) {
  const ScreenFrame previous = {{"a", LineRole::Body},
                                {"b", LineRole::Accent},
                                {"c", LineRole::Muted},
                                {"d", LineRole::Muted}};
  const ScreenFrame frame = {{"a", LineRole::Body},
                             {"b", LineRole::Accent},
                             {"c", LineRole::Body},
                             {"x", LineRole::Muted},
                             {"e", LineRole::Muted}};
  EXPECT_FALSE(rowNeedsDrawing(previous, frame, 0));
  EXPECT_TRUE(rowNeedsDrawing(previous, frame, 1));
  EXPECT_TRUE(rowNeedsDrawing(previous, frame, 2));
  EXPECT_TRUE(rowNeedsDrawing(previous, frame, 3));
  EXPECT_TRUE(rowNeedsDrawing(previous, frame, 4));
  EXPECT_TRUE(rowNeedsDrawing({}, frame, 0));
}

}  // namespace
}  // namespace muvra
