#pragma once

#include <cstdint>

namespace muvra {

// Offline checks of the loader's own rules. 0 passed, 1 failed, 2 when the temporary hash file
// beside the program already exists (it is left untouched and no result file is written).
// File-system failures of the temporary file escape as exceptions.
std::int32_t selfTest();

}  // namespace muvra
