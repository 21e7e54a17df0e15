#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace muvra {

// A failure the user reads: it carries one finished sentence, shown unchanged by every catcher.
class OperationFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure that carries a platform status code (an HRESULT) instead of a sentence. It is
// deliberately not a std::exception: catchers that show text must not find any here.
class PlatformError {
 public:
  explicit PlatformError(std::uint32_t status) : status_(status) {}
  std::uint32_t status() const { return status_; }

 private:
  std::uint32_t status_;
};

}  // namespace muvra
