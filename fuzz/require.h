// The fuzz targets' property check: a broken property aborts, which libFuzzer reports as a crash
// and keeps the input.
#pragma once

#include <cstdlib>

namespace fuzz {

inline void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace fuzz
