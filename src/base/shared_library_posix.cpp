#include "base/shared_library.h"

#include <dlfcn.h>

#include "base/failure.h"

namespace muvra {

SharedLibrary::SharedLibrary(const char* fileName, const char* package)
    : handle_(dlopen(fileName, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)),
      description_(std::string(fileName) + " (from the package " + package + ")") {
  if (handle_ == nullptr) {
    throw OperationFailure("Muvra Loader could not load " + description_ +
                           ". Install that package and try again.");
  }
}

void* SharedLibrary::address(const char* name) const {
  void* found = dlsym(handle_, name);
  if (found == nullptr) {
    throw OperationFailure("Muvra Loader could not use " + description_ + ": it lacks " + name +
                           ". Install a current version of that package and try again.");
  }
  return found;
}

}  // namespace muvra
