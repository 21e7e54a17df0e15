#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace muvra {

// Asks a running operation to stop at its next cancellation point. Written by the interface
// thread, read by the worker; an atomic boolean needs no lock.
class CancellationFlag {
 public:
  void set() { requested_.store(true); }
  void clear() { requested_.store(false); }
  bool isSet() const { return requested_.load(); }

 private:
  std::atomic<bool> requested_{false};
};

// Receives one block of a response body (at most 65,536 bytes, valid only during the call).
// May throw an OperationFailure, which ends the transfer.
using ChunkSink = std::function<void(const std::uint8_t* data, std::uint32_t size)>;

}  // namespace muvra
