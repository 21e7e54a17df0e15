#pragma once

#include <string>
#include <vector>

namespace muvra {

// A Windows command line for a program and its arguments, which the C runtime and
// CommandLineToArgvW split back into the very same strings: the program's path in double quotes,
// each argument as it is when nothing in it needs quoting, otherwise in double quotes with its
// quotes and the backslashes before them escaped.
std::u16string windowsCommandLine(const std::u16string& program,
                                  const std::vector<std::u16string>& arguments);

}  // namespace muvra
