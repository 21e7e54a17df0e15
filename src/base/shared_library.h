#pragma once

#include <string>

namespace muvra {

// A system library opened when first needed rather than at start-up, and kept open for the rest
// of the process: the functions taken from it stay valid, and its exit handlers run as usual.
class SharedLibrary {
 public:
  // Throws OperationFailure naming the library and the package that provides it.
  SharedLibrary(const char* fileName, const char* package);

  // Points `function` at the library's function `name`, whose type the declaration gives.
  // Throws OperationFailure when the library has no such function.
  template <typename Function>
  void bind(Function& function, const char* name) const {
    function = reinterpret_cast<Function>(address(name));
  }

 private:
  void* address(const char* name) const;

  void* handle_;
  std::string description_;
};

}  // namespace muvra
