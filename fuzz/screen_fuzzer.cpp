// Any console state, width and tick: 23 rows (16 compact) of W + 6 printable characters each.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "console/screen.h"
#include "require.h"

namespace {

using fuzz::require;

void requireRows(const muvra::ScreenFrame& frame, std::size_t rows, std::size_t width) {
  require(frame.size() == rows);
  for (const muvra::ScreenLine& line : frame) {
    require(line.text.size() == muvra::innerWidth(width) + 6);
    for (const char c : line.text) {
      require(c >= 0x20 && c <= 0x7E);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  muvra::ScreenState state;
  state.phase = static_cast<muvra::ScreenPhase>(input.ConsumeIntegralInRange(0, 6));
  state.percent = input.ConsumeIntegral<std::int32_t>();
  state.downloaded = input.ConsumeIntegral<std::uint64_t>();
  state.total = input.ConsumeIntegral<std::uint64_t>();
  state.verified = input.ConsumeBool();
  const std::size_t width = input.ConsumeIntegral<std::size_t>();
  const unsigned tick = input.ConsumeIntegral<unsigned>();
  state.releaseStatus = input.ConsumeRandomLengthString(200);
  state.message = input.ConsumeRemainingBytesAsString();

  const muvra::ScreenFrame frame = muvra::renderScreen(state, width, tick);
  requireRows(frame, 23, width);
  requireRows(muvra::compactFrame(frame, width), 16, width);
  return 0;
}
