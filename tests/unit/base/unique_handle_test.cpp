#include "base/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace muvra {
namespace {

std::vector<int> closed;

struct FakeTraits {
  using Handle = int;
  static Handle invalid() { return -1; }
  static void close(Handle handle) { closed.push_back(handle); }
};
using FakeHandle = UniqueHandle<FakeTraits>;

TEST(UniqueHandleTest, ClosesEachValidHandleExactlyOnce) {
  closed.clear();
  {
    FakeHandle empty;
    FakeHandle first(3);
    FakeHandle moved(std::move(first));
    EXPECT_FALSE(first.isValid());
    FakeHandle assigned(5);
    assigned = std::move(moved);  // closes 5, takes 3
    *empty.receive() = 7;
  }
  EXPECT_EQ(closed, (std::vector<int>{5, 3, 7}));  // then destroyed in reverse order
}

TEST(UniqueHandleTest, ReceiveClosesWhatWasHeld) {
  closed.clear();
  FakeHandle handle(4);
  *handle.receive() = 8;
  EXPECT_EQ(closed, (std::vector<int>{4}));
  EXPECT_EQ(handle.get(), 8);
}

}  // namespace
}  // namespace muvra
