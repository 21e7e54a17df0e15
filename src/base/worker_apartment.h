#pragma once

namespace muvra {

// COM initialised for the current thread as a multithreaded apartment, for as long as this
// lives. Throws PlatformError with the status when initialisation fails. Nothing on Linux.
class WorkerApartment {
 public:
  WorkerApartment();
  ~WorkerApartment();
  WorkerApartment(const WorkerApartment&) = delete;
  WorkerApartment& operator=(const WorkerApartment&) = delete;
};

}  // namespace muvra
