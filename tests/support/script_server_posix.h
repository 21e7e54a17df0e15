#pragma once

#include <string>
#include <vector>

namespace muvra::testing {

// Starts `python3 arguments...`, a test server that prints "PORT <n>" once it listens; returns
// that port and the child's process id in `pid`. Throws when the server does not start.
int startScriptServer(const std::vector<std::string>& arguments, int& pid);
// Ends a server started above.
void stopScriptServer(int pid);

// A misbehaving HTTP proxy (support/fake_proxy.py) on loopback, named by https_proxy while it
// lives; `record` is the file where the SOCKS mode writes what it connects to.
class FakeProxy {
 public:
  explicit FakeProxy(const std::string& mode, const std::string& record = {});
  ~FakeProxy();
  FakeProxy(const FakeProxy&) = delete;
  FakeProxy& operator=(const FakeProxy&) = delete;
  int port() const { return port_; }

 private:
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace muvra::testing
