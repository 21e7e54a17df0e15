#include "support/mount_namespace.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace muvra::testing {

namespace {

bool enterPrivateMountNamespace() {
  static const bool entered =
      unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return entered;
}

std::vector<std::string>& mounted() {
  static std::vector<std::string> targets;
  return targets;
}

bool remember(bool done, const std::filesystem::path& target) {
  if (done) {
    mounted().push_back(target.string());
  }
  return done;
}

}  // namespace

bool mountReadOnly(const std::filesystem::path& folder) {
  return enterPrivateMountNamespace() &&
         remember(mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0, folder) &&
         mount("none", folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool bindFileOver(const std::filesystem::path& source, const std::filesystem::path& target) {
  return enterPrivateMountNamespace() &&
         remember(mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0, target);
}

void undoMounts() {
  while (!mounted().empty()) {
    umount2(mounted().back().c_str(), MNT_DETACH);
    mounted().pop_back();
  }
}

}  // namespace muvra::testing
