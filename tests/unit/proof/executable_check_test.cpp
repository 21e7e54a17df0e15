#include "proof/executable_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "base/process.h"
#include "support/case_name.h"
#include "support/temporary_folder.h"

namespace muvra {
namespace {

using testing::TemporaryFolder;
using testing::writeFile;

void put(std::string& bytes, std::size_t offset, std::uint32_t value, std::size_t width) {
  if (bytes.size() < offset + width) {
    bytes.resize(offset + width, '\0');
  }
  for (std::size_t i = 0; i < width; ++i) {
    bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// A minimal x64 program header: DOS header, then the PE block at `peOffset`.
std::string programHeader(std::int64_t peOffset = 128) {
  std::string bytes(64, '\0');
  put(bytes, 0, 0x5A4D, 2);
  put(bytes, 60, static_cast<std::uint32_t>(peOffset), 4);
  if (peOffset >= 64) {
    const auto pe = static_cast<std::size_t>(peOffset);
    bytes.resize(pe + 264, '\0');
    put(bytes, pe, 0x00004550, 4);
    put(bytes, pe + 4, 0x8664, 2);
    put(bytes, pe + 22, 0x0022, 2);  // executable image, large-address aware
    put(bytes, pe + 24, 0x20B, 2);
  }
  return bytes;
}

struct HeaderCase {
  const char* name;
  std::function<std::string()> bytes;
  bool accepted;
};

MUVRA_PRINTS_CASE_NAME(HeaderCase)

class ExecutableCheckTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ExecutableCheckTest, JudgesTheHeaders) {
  const TemporaryFolder folder;
  writeFile(folder / "candidate.exe", GetParam().bytes());
  EXPECT_EQ(isWindowsExecutable(folder / "candidate.exe"), GetParam().accepted);
}

auto with(std::function<void(std::string&)> change, std::int64_t peOffset = 128) {
  return [change, peOffset] {
    std::string bytes = programHeader(peOffset);
    change(bytes);
    return bytes;
  };
}

INSTANTIATE_TEST_SUITE_P(
    Headers,
    ExecutableCheckTest,
    ::testing::Values(
        HeaderCase{"program", [] { return programHeader(); }, true},
        HeaderCase{"peAtOffset64", [] { return programHeader(64); }, true},
        HeaderCase{"peAtOffset1MiB", [] { return programHeader(0x100000); }, true},
        HeaderCase{"garbageAfterHeaders",
                   with([](std::string& b) { b += std::string(5000, '\x7F'); }), true},
        HeaderCase{"text", [] { return std::string("just some text, not a program at all\n"); },
                   false},
        HeaderCase{"empty", [] { return std::string(); }, false},
        HeaderCase{"shorterThan64", [] { return programHeader().substr(0, 63); }, false},
        HeaderCase{"badMz", with([](std::string& b) { b[1] = 'Y'; }), false},
        HeaderCase{"peOffset63", [] { return programHeader(63) + std::string(400, '\0'); }, false},
        HeaderCase{"peOffset1MiBPlusOne",
                   with([](std::string& b) { put(b, 60, 0x100001, 4); }, 0x100000), false},
        HeaderCase{"peOffsetNegative", with([](std::string& b) { put(b, 60, 0xFFFFFF80u, 4); }),
                   false},
        HeaderCase{"peBlockCutShort", [] { return programHeader().substr(0, 128 + 263); }, false},
        HeaderCase{"peOffsetPastEnd", with([](std::string& b) { put(b, 60, 4096, 4); }), false},
        HeaderCase{"badSignature", with([](std::string& b) { b[128 + 2] = 1; }), false},
        HeaderCase{"arm64", with([](std::string& b) { put(b, 128 + 4, 0xAA64, 2); }), false},
        HeaderCase{"i386", with([](std::string& b) { put(b, 128 + 4, 0x014C, 2); }), false},
        HeaderCase{"notExecutableImage", with([](std::string& b) { put(b, 128 + 22, 0x0020, 2); }),
                   false},
        HeaderCase{"dll", with([](std::string& b) { put(b, 128 + 22, 0x2022, 2); }), false},
        HeaderCase{"pe32Magic", with([](std::string& b) { put(b, 128 + 24, 0x10B, 2); }), false}),
    testing::CaseName());

TEST(ExecutableCheckPathTest, MissingFileOrFolderIsNotAProgram) {
  const TemporaryFolder folder;
  EXPECT_FALSE(isWindowsExecutable(folder / "missing.exe"));
  EXPECT_FALSE(isWindowsExecutable(folder.path()));
}

TEST(ExecutableCheckPathTest, OwnExecutableMatchesThePlatform) {
#ifdef _WIN32
  EXPECT_TRUE(isWindowsExecutable(modulePath()));
#else
  EXPECT_FALSE(isWindowsExecutable(modulePath()));
#endif
}

}  // namespace
}  // namespace muvra
