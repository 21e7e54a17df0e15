#include "support/signing_fixtures.h"

#include <fstream>
#include <stdexcept>

namespace muvra::testing {

namespace {

const std::filesystem::path kFolder = MUVRA_SIGNING_FIXTURES;

}  // namespace

std::filesystem::path signedProgram(const std::string& name) {
  return kFolder / "programs" / (name + ".exe");
}

std::string keyPin(const std::string& key) {
  std::ifstream pins(kFolder / "pins.txt");
  std::string name;
  std::string pin;
  while (pins >> name >> pin) {
    if (name == key) {
      return pin;
    }
  }
  throw std::runtime_error("No pin for " + key + " in " + (kFolder / "pins.txt").string());
}

}  // namespace muvra::testing
