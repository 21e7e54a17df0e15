// Started by the launch tests in place of the managed application: writes its working folder and
// its arguments, one per line, into "launch-record-<process id>.txt" in its working folder.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/path_text.h"
#include "base/process.h"
#include "base/text.h"

namespace {

// The record appears whole: it is written under another name and then renamed.
int record(const std::vector<std::string>& arguments) {
  const std::string name = "launch-record-" + std::to_string(muvra::processId());
  {
    std::ofstream out(name + ".tmp", std::ios::binary | std::ios::trunc);
    out << muvra::pathToUtf8(std::filesystem::current_path()) << '\n';
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      out << arguments[i] << '\n';
    }
    if (!out) {
      return 1;
    }
  }
  std::error_code error;
  std::filesystem::rename(name + ".tmp", name + ".txt", error);
  return error ? 1 : 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::wstring wide(argv[i]);
    arguments.push_back(muvra::utf16ToUtf8(std::u16string(wide.begin(), wide.end())));
  }
  return record(arguments);
}
#else
int main(int argc, char** argv) {
  return record(std::vector<std::string>(argv, argv + argc));
}
#endif
