#pragma once

namespace muvra::testing {

// While alive, the `nth` allocation by operator new on this thread throws std::bad_alloc; every
// other allocation, and every one on other threads, succeeds.
class FailingAllocation {
 public:
  explicit FailingAllocation(int nth);
  ~FailingAllocation();
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;

  // Whether the allocation was made, and failed.
  bool struck() const;
};

}  // namespace muvra::testing
