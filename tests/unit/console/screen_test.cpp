#include "console/screen.h"

#include <gtest/gtest.h>

#include <string>

namespace muvra {
namespace {

constexpr std::size_t kPhaseRow = 11;
constexpr std::size_t kMessageRow = 12;
constexpr std::size_t kMessageTailRow = 13;
constexpr std::size_t kProgressRow = 14;
constexpr std::size_t kHintRow = 15;
constexpr std::size_t kLaunchRow = 18;

// The text inside the frame of a content row.
std::string inner(const ScreenLine& line) {
  return line.text.substr(4, line.text.size() - 6);
}

std::string trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

ScreenState inPhase(ScreenPhase phase) {
  ScreenState state;
  state.phase = phase;
  return state;
}

TEST(RenderScreenTest, EveryWidthGivesTwentyThreeRowsOfOneLength) {
  for (std::size_t width = 0; width <= 130; ++width) {
    const std::size_t w = width < 34 ? 26 : std::min<std::size_t>(width - 8, 76);
    const ScreenFrame frame = renderScreen(ScreenState{}, width, 0);
    ASSERT_EQ(frame.size(), 23u) << width;
    for (const ScreenLine& line : frame) {
      ASSERT_EQ(line.text.size(), w + 6) << width;
    }
  }
  EXPECT_EQ(renderScreen(ScreenState{}, 40, 0)[0].text.size(), 38u);
  EXPECT_EQ(renderScreen(ScreenState{}, 54, 0)[0].text.size(), 52u);
  EXPECT_EQ(renderScreen(ScreenState{}, 80, 0)[0].text.size(), 78u);
  EXPECT_EQ(renderScreen(ScreenState{}, 120, 0)[0].text.size(), 82u);
}

TEST(RenderScreenTest, LayoutRowsAtFullWidth) {
  ScreenState state = inPhase(ScreenPhase::ReadyToLaunch);
  state.releaseStatus = "v15";
  const ScreenFrame frame = renderScreen(state, 84, 0);
  const std::string border = "  +" + std::string(78, '-') + "+";
  for (std::size_t row : {0, 8, 10, 16, 20, 22}) {
    EXPECT_EQ(frame[row].text, border) << row;
    EXPECT_EQ(frame[row].role, LineRole::Accent);
  }
  EXPECT_EQ(trimmed(inner(frame[1])), "");
  EXPECT_EQ(trimmed(inner(frame[7])), std::string(20, ' ') + "L A U N C H E R   /   C O N S O L E");
  EXPECT_EQ(trimmed(inner(frame[9])), "RELEASE  v15");
  EXPECT_EQ(trimmed(inner(frame[kPhaseRow])), ">  READY TO LAUNCH");
  EXPECT_EQ(trimmed(inner(frame[17])), "[1]  Check / download latest");
  EXPECT_EQ(trimmed(inner(frame[kLaunchRow])), "[2]  Launch Muvra");
  EXPECT_EQ(trimmed(inner(frame[19])), "[Q]  Exit");
  EXPECT_EQ(trimmed(inner(frame[21])), "MUVRA  /  HTTPS updates + SHA-256 verification");
  for (std::size_t row = 2; row < 7; ++row) {
    const std::string banner = inner(frame[row]);
    EXPECT_EQ(banner.substr(0, 20), std::string(20, ' '));
    EXPECT_EQ(banner.substr(55), std::string(21, ' '));
  }
  EXPECT_EQ(trimmed(inner(frame[2])).substr(20), "M     M U    U V    V RRRRR    AA");
}

TEST(RenderScreenTest, NarrowScreensCutTheBanner) {
  const ScreenFrame frame = renderScreen(ScreenState{}, 20, 0);
  EXPECT_EQ(inner(frame[2]), std::string("M     M U    U V    V RRRRR    AA  ").substr(0, 26));
}

TEST(RenderScreenTest, ControlBytesNeverReachTheScreen) {
  ScreenState state = inPhase(ScreenPhase::ActionNeeded);
  state.message = "bad\x1b[31m\ntext \xC3\xA9\t\x7F";
  state.releaseStatus = "v1\r\n\x1b]0;x\x07";
  for (const ScreenLine& line : renderScreen(state, 84, 0)) {
    for (const char c : line.text) {
      const auto byte = static_cast<unsigned char>(c);
      EXPECT_TRUE(byte >= 32 && byte <= 126) << static_cast<int>(byte);
    }
  }
  EXPECT_EQ(trimmed(inner(renderScreen(state, 84, 0)[kMessageRow])), "bad [31m text");
}

TEST(RenderScreenTest, MessageSplitsExactlyAtTheInnerWidth) {
  const std::size_t w = 76;
  struct Case {
    std::size_t length;
    std::size_t firstRow;
    std::size_t secondRow;
  };
  for (const Case c : {Case{w - 1, w - 1, 0}, Case{w, w, 0}, Case{w + 1, w, 1}, Case{2 * w, w, w},
                       Case{2 * w + 5, w, w}}) {
    ScreenState state = inPhase(ScreenPhase::Cancelled);
    for (std::size_t i = 0; i < c.length; ++i) {
      state.message.push_back(static_cast<char>('a' + i % 26));
    }
    const ScreenFrame frame = renderScreen(state, 84, 0);
    EXPECT_EQ(trimmed(inner(frame[kMessageRow])), state.message.substr(0, c.firstRow)) << c.length;
    EXPECT_EQ(trimmed(inner(frame[kMessageTailRow])),
              c.length > w ? state.message.substr(w, c.secondRow) : "")
        << c.length;
  }
}

TEST(RenderScreenTest, ProgressBar) {
  struct Case {
    std::int32_t percent;
    std::string expected;
  };
  const std::size_t bar = 76 - 9;
  for (const Case& c : {Case{-1, ""}, Case{-50, ""}, Case{0, "[" + std::string(bar, '.') + "] 0%"},
                        Case{62, "[" + std::string(41, '=') + std::string(bar - 41, '.') + "] 62%"},
                        Case{100, "[" + std::string(bar, '=') + "] 100%"},
                        Case{150, "[" + std::string(bar, '=') + "] 100%"}}) {
    ScreenState state = inPhase(ScreenPhase::Downloading);
    state.percent = c.percent;
    const ScreenLine row = renderScreen(state, 84, 0)[kProgressRow];
    EXPECT_EQ(trimmed(inner(row)), c.expected) << c.percent;
    EXPECT_EQ(row.role, c.percent < 0 ? LineRole::Muted : LineRole::Accent);
  }
}

TEST(RenderScreenTest, HintRowInEveryPhase) {
  struct Case {
    ScreenPhase phase;
    std::uint64_t total;
    std::string hint;
  };
  const std::string cancel = "ESC cancel current operation";
  for (const Case& c :
       {Case{ScreenPhase::CheckingRelease, 0, cancel}, Case{ScreenPhase::Downloading, 0, cancel},
        Case{ScreenPhase::Downloading, 4194304, "2560 / 4096 KB  |  ESC cancel"},
        Case{ScreenPhase::VerifyingUpdate, 4194304, cancel},
        Case{ScreenPhase::Launching, 0, cancel}, Case{ScreenPhase::ReadyToLaunch, 4194304, ""},
        Case{ScreenPhase::ActionNeeded, 0, ""}, Case{ScreenPhase::Cancelled, 0, ""}}) {
    ScreenState state = inPhase(c.phase);
    state.total = c.total;
    state.downloaded = 2621440;
    EXPECT_EQ(trimmed(inner(renderScreen(state, 84, 0)[kHintRow])), c.hint) << phaseTitle(c.phase);
  }
}

TEST(RenderScreenTest, SpinnerTurnsEveryThirdTickInBusyPhasesOnly) {
  const std::string spinner = "|/-\\|";
  for (unsigned tick = 0; tick < 15; ++tick) {
    const ScreenFrame frame = renderScreen(inPhase(ScreenPhase::Launching), 84, tick);
    EXPECT_EQ(inner(frame[kPhaseRow])[0], spinner[(tick / 3) % 4]) << tick;
  }
  for (const ScreenPhase phase : {ScreenPhase::CheckingRelease, ScreenPhase::Downloading,
                                  ScreenPhase::VerifyingUpdate, ScreenPhase::Launching}) {
    EXPECT_NE(renderScreen(inPhase(phase), 84, 0)[kPhaseRow],
              renderScreen(inPhase(phase), 84, 3)[kPhaseRow]);
  }
  for (const ScreenPhase phase :
       {ScreenPhase::ReadyToLaunch, ScreenPhase::ActionNeeded, ScreenPhase::Cancelled}) {
    EXPECT_EQ(renderScreen(inPhase(phase), 84, 0)[kPhaseRow],
              renderScreen(inPhase(phase), 84, 3)[kPhaseRow]);
  }
}

TEST(RenderScreenTest, RolesFollowThePhaseAndTheProof) {
  ScreenState failed = inPhase(ScreenPhase::ActionNeeded);
  failed.percent = 10;
  const ScreenFrame warning = renderScreen(failed, 84, 0);
  for (std::size_t row : {kPhaseRow, kMessageRow, kMessageTailRow}) {
    EXPECT_EQ(warning[row].role, LineRole::Warning) << row;
  }
  EXPECT_EQ(warning[kProgressRow].role, LineRole::Accent);
  EXPECT_EQ(warning[kLaunchRow].role, LineRole::Muted);

  ScreenState ready = inPhase(ScreenPhase::ReadyToLaunch);
  ready.percent = 100;
  ready.verified = true;
  const ScreenFrame proven = renderScreen(ready, 84, 0);
  EXPECT_EQ(proven[kPhaseRow].role, LineRole::Accent);
  EXPECT_EQ(proven[kMessageRow].role, LineRole::Body);
  EXPECT_EQ(proven[kMessageTailRow].role, LineRole::Muted);
  EXPECT_EQ(proven[kProgressRow].role, LineRole::Success);
  EXPECT_EQ(proven[kLaunchRow].role, LineRole::Success);
  EXPECT_EQ(proven[7].role, LineRole::Muted);
  EXPECT_EQ(proven[2].role, LineRole::Accent);
}

TEST(CompactFrameTest, ReplacesTheBannerWithOneTitleRow) {
  for (const std::size_t width : {20, 60, 84}) {
    const ScreenFrame full = renderScreen(inPhase(ScreenPhase::Downloading), width, 0);
    const ScreenFrame compact = compactFrame(full, width);
    ASSERT_EQ(compact.size(), 16u);
    EXPECT_EQ(compact[0], full[0]);
    EXPECT_EQ(trimmed(inner(compact[1])), "MUVRA / CONSOLE LOADER");
    EXPECT_EQ(compact[1].role, LineRole::Accent);
    EXPECT_EQ(compact[1].text.size(), full[0].text.size());
    for (std::size_t row = 2; row < 16; ++row) {
      EXPECT_EQ(compact[row], full[row + 7]) << row;
    }
  }
}

}  // namespace
}  // namespace muvra
