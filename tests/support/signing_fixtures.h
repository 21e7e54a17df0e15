#pragma once

#include <filesystem>
#include <string>

namespace muvra::testing {

// A test program made by tests/signing/make_signed_programs.py when the build was configured:
// "publisher", "stranger", "unsigned" and the others it names.
std::filesystem::path signedProgram(const std::string& name);

// The pin of the key "publisher", "backup" or "stranger".
std::string keyPin(const std::string& key);

}  // namespace muvra::testing
