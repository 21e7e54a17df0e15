#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <sched.h>

#include <vector>

#include "support/install_faults.h"
#include "support/temporary_folder.h"

namespace muvra::testing {

namespace {

// Root passes every permission check, so folder faults are made with mounts, in a private mount
// namespace that the test process (ctest runs one test per process) enters on first use.
bool enterPrivateMountNamespace() {
  static const bool entered =
      unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return entered;
}

std::vector<std::string>& mounted() {
  static std::vector<std::string> targets;
  return targets;
}

std::string bind(const std::filesystem::path& source, const std::filesystem::path& target) {
  if (!enterPrivateMountNamespace()) {
    return "this process may not make a mount namespace";
  }
  if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    return "this process may not bind-mount " + target.string();
  }
  mounted().push_back(target.string());
  return "";
}

}  // namespace

std::string limitFileSize(std::uint64_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  const struct rlimit small = {bytes, RLIM_INFINITY};
  return setrlimit(RLIMIT_FSIZE, &small) == 0 ? "" : "this process may not limit file sizes";
}

std::string makeFolderReadOnly(const std::filesystem::path& folder) {
  std::string reason = bind(folder, folder);
  if (reason.empty() &&
      mount("none", folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
    reason = "this process may not remount " + folder.string() + " read-only";
  }
  return reason;
}

// A file mounted over the program: renaming onto a mount point fails with EBUSY.
std::string keepFromBeingReplaced(const std::filesystem::path& file,
                                  const std::filesystem::path& scratch) {
  const std::filesystem::path held = scratch / "held";
  writeFile(held, readFile(file));
  return bind(held, file);
}

void undoInstallFaults() {
  const struct rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
  setrlimit(RLIMIT_FSIZE, &unlimited);
  while (!mounted().empty()) {
    umount2(mounted().back().c_str(), MNT_DETACH);
    mounted().pop_back();
  }
}

}  // namespace muvra::testing
