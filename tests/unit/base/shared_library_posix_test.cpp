#include <gtest/gtest.h>

#include <cstring>

#include "base/failure.h"
#include "base/shared_library.h"

namespace muvra {
namespace {

TEST(SharedLibraryTest, BindsAFunctionThatThenWorks) {
  const SharedLibrary library("libc.so.6", "libc6");
  decltype(&std::strlen) length = nullptr;
  library.bind(length, "strlen");
  EXPECT_EQ(length("muvra"), 5u);
}

TEST(SharedLibraryTest, SaysWhatIsMissingAndWhereItComesFrom) {
  struct Case {
    const char* file;
    const char* function;
    const char* sentence;
  };
  const Case cases[] = {
      {"libmuvra-absent.so.0", "strlen",
       "Muvra Loader could not load libmuvra-absent.so.0 (from the package muvra-test). Install "
       "that package and try again."},
      {"libc.so.6", "muvra_absent_function",
       "Muvra Loader could not use libc.so.6 (from the package muvra-test): it lacks "
       "muvra_absent_function. Install a current version of that package and try again."},
  };
  for (const Case& each : cases) {
    try {
      const SharedLibrary library(each.file, "muvra-test");
      void (*function)() = nullptr;
      library.bind(function, each.function);
      ADD_FAILURE() << each.file << " " << each.function << " was bound";
    } catch (const OperationFailure& failure) {
      EXPECT_STREQ(failure.what(), each.sentence);
    }
  }
}

}  // namespace
}  // namespace muvra
