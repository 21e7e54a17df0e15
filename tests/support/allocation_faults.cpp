#include "support/allocation_faults.h"

#include <cstdlib>
#include <new>

// The program's operator new and delete: malloc and free, with a fault this thread can arm. Every
// non-aligned form is replaced, so that a sanitizer's own forms never free what these allocate.
namespace {

thread_local int allocationsUntilFault = 0;  // 0: disarmed
thread_local bool faultStruck = false;

void* allocate(std::size_t size) {
  if (allocationsUntilFault > 0 && --allocationsUntilFault == 0) {
    faultStruck = true;
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

namespace muvra::testing {

FailingAllocation::FailingAllocation(int nth) {
  allocationsUntilFault = nth;
  faultStruck = false;
}

FailingAllocation::~FailingAllocation() {
  allocationsUntilFault = 0;
}

bool FailingAllocation::struck() const {
  return faultStruck;
}

}  // namespace muvra::testing

void* operator new(std::size_t size) {
  if (void* memory = allocate(size)) {
    return memory;
  }
  throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
  return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}

void operator delete(void* memory) noexcept {
  std::free(memory);
}

void operator delete[](void* memory) noexcept {
  std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
