#pragma once

#include <utility>

namespace muvra {

// Owns one platform handle and closes it once. `Traits` names the handle type, its invalid value
// and how to close it:
//   struct Traits { using Handle = ...; static Handle invalid(); static void close(Handle); };
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() : handle_(Traits::invalid()) {}
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, Traits::invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, Traits::invalid());
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return handle_; }
  bool isValid() const { return handle_ != Traits::invalid(); }
  // For out-parameters of creation calls: closes what is held and hands out the slot.
  Handle* receive() {
    reset();
    return &handle_;
  }
  void reset() {
    if (isValid()) {
      Traits::close(handle_);
      handle_ = Traits::invalid();
    }
  }

 private:
  Handle handle_;
};

}  // namespace muvra
