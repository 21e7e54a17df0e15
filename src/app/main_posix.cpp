#include <algorithm>
#include <string>
#include <vector>

#include "app/entry.h"

int main(int argc, char** argv) {
  // Only the first two arguments can change what the program does.
  const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + std::min(argc, 3));
  return muvra::runGuarded([&] { return muvra::runEntry(arguments); });
}
