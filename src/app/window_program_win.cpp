// MuvraLoader.com's window modes, which are MuvraLoader.exe's.
#include <windows.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "app/windows_start.h"
#include "base/command_line.h"
#include "base/failure.h"
#include "base/process.h"
#include "base/unique_handle.h"

namespace muvra {

namespace {

struct KernelTraits {
  using Handle = HANDLE;
  static Handle invalid() { return nullptr; }
  static void close(Handle handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueHandle<KernelTraits>;

bool isConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// An inheritable copy of a standard handle; none when there is nothing to copy.
KernelHandle inheritableCopy(DWORD which) {
  KernelHandle copy;
  const HANDLE original = GetStdHandle(which);
  if (original != nullptr && original != INVALID_HANDLE_VALUE) {
    DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), copy.receive(), 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
  }
  return copy;
}

}  // namespace

int runWindowProgramBeside(int argc, wchar_t** argv) {
  const std::filesystem::path program = modulePath().parent_path() / L"MuvraLoader.exe";
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  }
  const std::u16string line = windowsCommandLine(program.u16string(), arguments);
  std::vector<wchar_t> commandLine(line.begin(), line.end());  // CreateProcessW may write to it
  commandLine.push_back(L'\0');

  // Output redirected to a file or a pipe goes on to the program; a console it finds itself, as
  // this process's parent's.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::array<KernelHandle, 3> passed;
  const bool redirected = !isConsole(STD_OUTPUT_HANDLE) || !isConsole(STD_ERROR_HANDLE);
  if (redirected) {
    passed = {inheritableCopy(STD_INPUT_HANDLE), inheritableCopy(STD_OUTPUT_HANDLE),
              inheritableCopy(STD_ERROR_HANDLE)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = passed[0].get();
    startup.hStdOutput = passed[1].get();
    startup.hStdError = passed[2].get();
  }
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                      redirected ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &started)) {
    throw OperationFailure(
        "MuvraLoader.exe could not be started from the folder of "
        "MuvraLoader.com.");
  }
  const KernelHandle process(started.hProcess);
  const KernelHandle thread(started.hThread);
  for (KernelHandle& handle : passed) {
    handle.reset();  // the program holds its own
  }
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

}  // namespace muvra
