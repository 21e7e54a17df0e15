#pragma once

#include <string_view>

namespace muvra {

// Started from a terminal, a Windows GUI-subsystem program gets no console, so what it writes
// would go nowhere. Where the standard output cannot be written, this attaches the program to
// its parent's console and binds the standard handles and the C and C++ streams to it; output
// redirected to a file or a pipe stays as it is. Elsewhere the streams are always usable and
// nothing is done.
void useParentConsoleWhenUnattached();

// Writes one failure line to standard error. A Windows program started without a console (from
// Explorer or a shortcut) and with nothing redirected shows it in a message box instead.
void writeErrorLine(std::string_view line);

}  // namespace muvra
