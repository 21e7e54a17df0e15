#include "proof/sha256.h"
#include "support/temporary_folder.h"
#include "support/windows_program.h"

namespace muvra::testing {

// Through the program's own hashing: its known-answer tests run in this binary too.
std::string sha256Hex(const std::string& bytes) {
  const TemporaryFolder folder;
  writeFile(folder / "bytes", bytes);
  return sha256File(folder / "bytes");
}

}  // namespace muvra::testing
