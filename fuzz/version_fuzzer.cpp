// Arbitrary bytes as a program: the version resource reader answers and never throws; a name it
// reads is valid UTF-8 and an original file name is never read where the resource names none.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "base/text.h"
#include "require.h"
#include "proof/version_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream stream(bytes);
  if (const auto resource = muvra::readVersionResource(stream)) {
    fuzz::require(muvra::isValidUtf8(resource->originalFilename));
    fuzz::require(resource->originalFilename.empty() ||
                  bytes.find(std::string("O\0r\0i\0g\0i\0n\0a\0l\0F\0i\0l\0e\0n\0a\0m\0e\0", 32)) !=
                      std::string::npos);
    fuzz::require(bytes.find(std::string("\xbd\x04\xef\xfe", 4)) != std::string::npos);
  }
  return 0;
}
