#include <windows.h>

#include <vector>

#include "base/failure.h"
#include "base/text.h"
#include "update/launch.h"

namespace muvra {

void launchApplication(const std::filesystem::path& executable,
                       const std::filesystem::path& settings,
                       const std::filesystem::path& workingFolder) {
  const std::u16string line = utf8ToUtf16(launchCommandLine(executable, settings));
  std::vector<wchar_t> commandLine(line.begin(), line.end());  // CreateProcessW may write to it
  commandLine.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.c_str(), &startup, &process)) {
    throw OperationFailure("Could not launch Muvra.");
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace muvra
