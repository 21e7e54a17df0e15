#include "app/self_test.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "base/cancellation.h"
#include "base/failure.h"
#include "base/process.h"
#include "console/screen.h"
#include "net/https_client.h"
#include "proof/executable_check.h"
#include "proof/sha256.h"
#include "base/configuration.h"
#include "update/profile.h"
#include "update/release.h"

namespace muvra {

namespace {

namespace fs = std::filesystem;

std::string repositoryPath() {
  return std::string(config::WebHost) + "/" + std::string(config::RepositoryOwner) + "/" +
         std::string(config::RepositoryName);
}

std::string fixtureDocument() {
  return R"({"tag_name":"v15","draft":false,"prerelease":false,"assets":[{"name":")" +
         std::string(config::AssetName) + R"(","size":442880,"browser_download_url":"https://)" +
         repositoryPath() + R"(/releases/download/v15/muvra.exe","digest":"sha256:)" +
         std::string(64, 'a') + R"("}]})";
}

std::string replacedFirst(std::string text, const std::string& piece, const std::string& by) {
  if (const std::size_t at = text.find(piece); at != std::string::npos) {
    text.replace(at, piece.size(), by);
  }
  return text;
}

bool rejected(const std::string& document) {
  try {
    parseRelease(document);
  } catch (const OperationFailure&) {
    return true;
  } catch (const PlatformError&) {
    return true;
  }
  return false;
}

bool releaseRulesHold() {
  const std::string document = fixtureDocument();
  try {
    const ReleaseInfo release = parseRelease(document);
    if (release.tag != "v15" || release.size != 442880 || release.sha256.size() != 64) {
      return false;
    }
  } catch (...) {
    return false;
  }
  const std::string downloadStart =
      "https://" + repositoryPath().substr(0, repositoryPath().size() - 2);
  const std::array<std::string, 5> variants = {
      replacedFirst(document, "sha256:", "sha512:"),
      replacedFirst(document, downloadStart, "https://example.com/"),
      R"({"tag_name":"v15","assets":[]})",
      replacedFirst(document, "\"prerelease\":false", "\"prerelease\":true"),
      replacedFirst(document, "442880", "999999999"),
  };
  for (const std::string& variant : variants) {
    if (!rejected(variant)) {
      return false;
    }
  }
  return true;
}

bool plainHttpRefused() {
  const CancellationFlag neverSet;
  try {
    httpsGet("http://" + repositoryPath(), 4096, neverSet,
             [](const std::uint8_t*, std::uint32_t) {});
  } catch (const OperationFailure&) {
    return true;
  }
  return false;
}

bool hashAndHeadersHold(const fs::path& file) {
  try {
    return sha256File(file) == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" &&
           !isWindowsExecutable(file);
  } catch (const OperationFailure&) {
    return false;
  }
}

// The program's own file is a Windows program only where the program is one.
bool ownExecutableJudgedRight() {
#ifdef _WIN32
  return isWindowsExecutable(modulePath());
#else
  return !isWindowsExecutable(modulePath());
#endif
}

bool rowsAligned(const ScreenFrame& frame) {
  for (const ScreenLine& line : frame) {
    if (line.text.size() != frame.front().text.size()) {
      return false;
    }
  }
  return frame.size() == 23;
}

bool consoleLayoutHolds() {
  const ScreenState fresh;
  for (const std::size_t width : {40, 54, 80, 120}) {
    if (!rowsAligned(renderScreen(fresh, width, 0))) {
      return false;
    }
  }
  ScreenState downloading;
  downloading.phase = ScreenPhase::Downloading;
  downloading.percent = 150;
  const ScreenFrame first = renderScreen(downloading, 84, 0);
  const ScreenFrame later = renderScreen(downloading, 84, 3);
  constexpr std::size_t kPhaseRow = 11;
  constexpr std::size_t kProgressRow = 14;
  if (first[kPhaseRow] == later[kPhaseRow] ||
      first[kProgressRow].text.find("100%") == std::string::npos) {
    return false;
  }
  ScreenState failed;
  failed.phase = ScreenPhase::ActionNeeded;
  failed.message = "bad\x1b[31m\ntext";
  for (const ScreenLine& line : renderScreen(failed, 84, 0)) {
    if (line.text.find_first_of("\x1b\n") != std::string::npos) {
      return false;
    }
  }
  return true;
}

bool profileNamingHolds() {
  const fs::path root = "C:/test/profiles";
  const fs::path loader = "C:/apps/MuvraLoader.exe";
  return profileFolderFor(root, loader, 0) != profileFolderFor(root, "C:/apps/muvra.exe", 0) &&
         profileFolderFor(root, "C:/other/MuvraLoader.exe", 0) !=
             profileFolderFor(root, loader, 0) &&
         profileFolderFor(root, loader, 1) != profileFolderFor(root, loader, 0) &&
         profileFolderFor(root, loader, 0) == profileFolderFor(root, loader, 0) &&
         formatStatusCode(0x80070005) == "0x80070005" &&
         formatStatusCode(0x80004005) == "0x80004005";
}

void writeVerdict(const fs::path& file, bool passed) {
  std::ofstream result(file, std::ios::out | std::ios::trunc);
  if (result) {
    result << (passed ? "PASS: release metadata, asset selection, URL/digest rejection, SHA-256, "
                        "executable validation, console layout, profile naming and the spinner "
                        "animation.\n"
                      : "FAIL\n");
  }
}

}  // namespace

std::int32_t selfTest() {
  const fs::path folder = modulePath().parent_path();
  const fs::path temporary = folder / "loader-hash-test.tmp";

  bool passed = releaseRulesHold() && plainHttpRefused();

  std::error_code error;
  const fs::file_status status = fs::symlink_status(temporary, error);
  if (fs::exists(status)) {
    return 2;
  }
  if (error && status.type() != fs::file_type::not_found) {
    throw fs::filesystem_error("exists", temporary, error);
  }
  {
    std::ofstream file(temporary, std::ios::binary);
    file << "abc";
  }
  passed = passed && hashAndHeadersHold(temporary);
  if (!fs::remove(temporary, error) && error) {
    throw fs::filesystem_error("remove", temporary, error);
  }
  passed = passed && ownExecutableJudgedRight() && consoleLayoutHolds() && profileNamingHolds();

  writeVerdict(folder / "loader-self-test.txt", passed);
  return passed ? 0 : 1;
}

}  // namespace muvra
