#include "window/unresponsive_renderer.h"

#include <gtest/gtest.h>

#include <string>

namespace muvra {
namespace {

// Events in order: 'u' an unresponsive report, 'n' a completed navigation. The answer has one
// character per report: 'R' where the page is loaded again, '-' where it is not.
std::string reloads(const std::string& events) {
  UnresponsiveRenderer renderer;
  std::string answers;
  for (const char event : events) {
    if (event == 'n') {
      renderer.navigationCompleted();
    } else {
      answers += renderer.reported() ? 'R' : '-';
    }
  }
  return answers;
}

TEST(UnresponsiveRendererTest, ReloadsOnlyWhenTheReportsKeepComing) {
  struct Case {
    const char* events;
    const char* answers;
  };
  for (const Case& c : {
           Case{"u", "-"},
           Case{"uu", "--"},
           Case{"uuu", "--R"},
           Case{"uuuuuu", "--R--R"},  // still busy after the reload: three more
           Case{"uuuuu", "--R--"},
           Case{"uunu", "---"},  // the page answered between them
           Case{"uunuuu", "----R"},
           Case{"ununun", "---"},
           Case{"nnuu", "--"},
       }) {
    EXPECT_EQ(reloads(c.events), c.answers) << c.events;
  }
}

}  // namespace
}  // namespace muvra
