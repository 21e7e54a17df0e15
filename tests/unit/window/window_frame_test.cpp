#include "window/window_frame.h"

#include <gtest/gtest.h>

#include <string>

#include "support/case_name.h"

namespace muvra {
namespace {

struct MaximisedCase {
  std::string name;
  ScreenRect monitor;
  ScreenRect work;
  ScreenEdges autoHidden;
  ScreenRect expected;
};
MUVRA_PRINTS_CASE_NAME(MaximisedCase)

class MaximisedClientAreaTest : public ::testing::TestWithParam<MaximisedCase> {};

TEST_P(MaximisedClientAreaTest, IsTheWorkAreaOfTheWindowsOwnMonitor) {
  const MaximisedCase& c = GetParam();
  EXPECT_EQ(maximisedClientArea(c.monitor, c.work, c.autoHidden), c.expected);
}

// A 1920 × 1080 primary monitor at the origin; the others beside it.
INSTANTIATE_TEST_SUITE_P(
    Monitors,
    MaximisedClientAreaTest,
    ::testing::Values(
        MaximisedCase{"PrimaryWithTaskbarBelow",
                      {0, 0, 1920, 1080},
                      {0, 0, 1920, 1040},
                      {},
                      {0, 0, 1920, 1040}},
        // Not the primary's work area grown by the difference: exactly the larger monitor's own.
        MaximisedCase{"LargerSecondMonitorOnTheRight",
                      {1920, 0, 4480, 1440},
                      {1920, 0, 4480, 1392},
                      {},
                      {1920, 0, 4480, 1392}},
        MaximisedCase{"SmallerSecondMonitorOnTheLeftLower",
                      {-1366, 312, 0, 1080},
                      {-1366, 312, 0, 1080},
                      {},
                      {-1366, 312, 0, 1080}},
        MaximisedCase{"TaskbarOnTheLeft",
                      {0, 0, 1920, 1080},
                      {62, 0, 1920, 1080},
                      {},
                      {62, 0, 1920, 1080}},
        MaximisedCase{"TaskbarOnTop",
                      {1920, 0, 4480, 1440},
                      {1920, 48, 4480, 1440},
                      {},
                      {1920, 48, 4480, 1440}},
        // An auto-hidden taskbar takes nothing from the work area: two pixels stay free for the
        // pointer that brings it up.
        MaximisedCase{"AutoHiddenTaskbarBelow",
                      {0, 0, 1920, 1080},
                      {0, 0, 1920, 1080},
                      {.bottom = true},
                      {0, 0, 1920, 1078}},
        MaximisedCase{"AutoHiddenTaskbarOnTheLeftOfTheSecondMonitor",
                      {1920, 0, 4480, 1440},
                      {1920, 0, 4480, 1440},
                      {.left = true},
                      {1922, 0, 4480, 1440}},
        MaximisedCase{"AutoHiddenTaskbarsOnTopAndRight",
                      {-1366, 312, 0, 1080},
                      {-1366, 312, 0, 1080},
                      {.top = true, .right = true},
                      {-1366, 314, -2, 1080}},
        // Another application's bar docked on that edge keeps the work area from it already.
        MaximisedCase{"AutoHiddenTaskbarBesideADockedBar",
                      {0, 0, 1920, 1080},
                      {0, 0, 1920, 1000},
                      {.bottom = true},
                      {0, 0, 1920, 1000}}),
    testing::CaseName());

}  // namespace
}  // namespace muvra
