#include "base/worker_apartment.h"

namespace muvra {

// There is no COM: a worker thread needs no preparation.
WorkerApartment::WorkerApartment() = default;
WorkerApartment::~WorkerApartment() = default;

}  // namespace muvra
