#include <iostream>

#include "app/standard_streams.h"

namespace muvra {

void useParentConsoleWhenUnattached() {}

void writeErrorLine(std::string_view line) {
  std::cerr << line << '\n';
}

}  // namespace muvra
