#pragma once

#include <windows.h>

#include <unknwn.h>

#include <atomic>
#include <utility>

namespace muvra {

// One counted reference to a COM object, released when it goes.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef& other) : object_(other.object_) {
    if (object_ != nullptr) {
      object_->AddRef();
    }
  }
  ComRef(ComRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComRef& operator=(ComRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ComRef() { reset(); }

  // Takes over a reference the caller already holds.
  static ComRef adopt(T* object) {
    ComRef reference;
    reference.object_ = object;
    return reference;
  }

  void reset() {
    if (object_ != nullptr) {
      std::exchange(object_, nullptr)->Release();
    }
  }
  // For out-parameters: the old reference is released first.
  T** put() {
    reset();
    return &object_;
  }
  template <typename Other>
  ComRef<Other> query(const IID& iid) const {
    ComRef<Other> other;
    if (object_ != nullptr) {
      object_->QueryInterface(iid, reinterpret_cast<void**>(other.put()));
    }
    return other;
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

namespace detail {

template <typename Interface, const IID& Iid, typename Function, typename Method>
class Handler;

// A completion or event handler of the browser view: IUnknown plus one Invoke that forwards.
// COM interfaces have no virtual destructor; the object deletes itself as its final type.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
template <typename Interface, const IID& Iid, typename Function, typename... Arguments>
class Handler<Interface, Iid, Function, HRESULT (STDMETHODCALLTYPE Interface::*)(Arguments...)>
    final : public Interface {
 public:
  explicit Handler(Function function) : function_(std::move(function)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) {
      return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, Iid)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      delete this;
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE Invoke(Arguments... arguments) override {
    function_(arguments...);
    return S_OK;  // every handler answers S_OK
  }

 private:
  std::atomic<ULONG> references_{1};
  Function function_;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace detail

// A new handler object holding `function`; the caller owns its one reference.
template <typename Interface, const IID& Iid, typename Function>
ComRef<Interface> makeHandler(Function function) {
  using Implementation = detail::Handler<Interface, Iid, Function, decltype(&Interface::Invoke)>;
  return ComRef<Interface>::adopt(new Implementation(std::move(function)));
}

}  // namespace muvra
