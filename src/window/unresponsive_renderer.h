#pragma once

namespace muvra {

// The runtime reports a renderer that does not answer again every few seconds for as long as it
// does not, and a busy machine alone can cause it: the page is loaded again only when the reports
// keep coming, three in a row with no navigation completed between them.
class UnresponsiveRenderer {
 public:
  static constexpr unsigned kReportsBeforeReload = 3;

  // One more report; true when the page is to be loaded again, after which the count starts anew.
  bool reported();
  // A navigation completed: the renderer answers.
  void navigationCompleted() { reports_ = 0; }

 private:
  unsigned reports_ = 0;
};

}  // namespace muvra
