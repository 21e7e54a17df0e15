#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace muvra::testing {

// Names a parameterised case after the `name` member of its parameter.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return info.param.name;
  }
};

}  // namespace muvra::testing

// Makes GoogleTest print a parameter of type `Case` by its `name` member instead of its bytes.
#define MUVRA_PRINTS_CASE_NAME(Case)                                    \
  [[maybe_unused]] void PrintTo(const Case& value, std::ostream* out) { \
    *out << value.name;                                                 \
  }
