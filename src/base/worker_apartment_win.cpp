#include "base/worker_apartment.h"

#include <objbase.h>
#include <windows.h>

#include <cstdint>

#include "base/failure.h"

namespace muvra {

WorkerApartment::WorkerApartment() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(result)) {
    throw PlatformError(static_cast<std::uint32_t>(result));
  }
}

WorkerApartment::~WorkerApartment() {
  CoUninitialize();
}

}  // namespace muvra
