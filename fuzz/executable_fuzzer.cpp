// Arbitrary bytes as a file's contents: the executable check answers and never throws; what it
// accepts starts with the DOS header.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "proof/executable_check.h"
#include "require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream stream(bytes);
  if (muvra::isWindowsExecutable(stream)) {
    fuzz::require(size >= 64 && bytes.compare(0, 2, "MZ") == 0);
  }
  return 0;
}
