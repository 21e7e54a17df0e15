#pragma once

#include <gtest/gtest.h>

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
