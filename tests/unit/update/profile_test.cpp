#include "update/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "base/path_text.h"
#include "base/process.h"

namespace muvra {
namespace {

namespace fs = std::filesystem;

TEST(FormatStatusCodeTest, EightUpperCaseDigits) {
  EXPECT_EQ(formatStatusCode(0x80070005), "0x80070005");
  EXPECT_EQ(formatStatusCode(0x80004005), "0x80004005");
  EXPECT_EQ(formatStatusCode(0), "0x00000000");
  EXPECT_EQ(formatStatusCode(0x8000FFFF), "0x8000FFFF");
  EXPECT_EQ(formatStatusCode(0xabc), "0x00000ABC");
}

TEST(ProfileKeyTest, StemAndCaseFoldedHash) {
  struct Case {
    const char* executable;
    const char* key;
  };
  // Hashes computed with an independent FNV-1a over the UTF-16 code units.
  for (const Case& c :
       {Case{"C:/apps/MuvraLoader.exe", "MuvraLoader-8476612490945b42"},
        Case{"C:/APPS/MUVRALOADER.EXE", "MUVRALOADER-8476612490945b42"},
        Case{"C:/apps/muvra.exe", "muvra-bbbb1db3e7f51581"},
        Case{"/opt/M\xC3\xBCvra/\xD0\x9B\xD0\xBE\xD0\xB0\xD0\xB4\xD0\xB5\xD1\x80.exe",
             "______-c653e4665f74c5cf"}}) {
    EXPECT_EQ(profileKey(pathFromUtf8(c.executable)), c.key) << c.executable;
  }
}

TEST(ProfileKeyTest, CleansAndCutsTheStem) {
  const std::string key = profileKey("C:/apps/My Loader.beta.exe");
  EXPECT_EQ(key.substr(0, key.find('-')), "My_Loader_beta");
  const std::string fifty(50, 'x');
  const std::string cut = profileKey("C:/apps/" + fifty + ".exe");
  EXPECT_EQ(cut.substr(0, cut.find('-')), std::string(40, 'x'));
  EXPECT_EQ(profileKey("C:/apps/a-b.exe").substr(0, 4), "a-b-");
  EXPECT_EQ(profileKey("C:/apps/.hidden").substr(0, 8), "_hidden-");
}

TEST(ProfileFolderForTest, DefaultAndRecoveryFolders) {
  const fs::path root = "C:/test/profiles";
  const fs::path loader = "C:/apps/MuvraLoader.exe";
  const fs::path keyed = root / profileKey(loader);
  EXPECT_EQ(profileFolderFor(root, loader, 0), keyed / "Default");
  EXPECT_EQ(profileFolderFor(root, loader, 0), profileFolderFor(root, loader, 0));
  EXPECT_NE(profileFolderFor(root, "C:/other/MuvraLoader.exe", 0),
            profileFolderFor(root, loader, 0));
  EXPECT_NE(profileFolderFor(root, "C:/apps/muvra.exe", 0), profileFolderFor(root, loader, 0));

  const std::uint64_t before = tickMilliseconds();
  const fs::path recovery = profileFolderFor(root, loader, 1);
  const std::uint64_t after = tickMilliseconds();
  EXPECT_EQ(recovery.parent_path(), keyed);
  const std::string name = pathToUtf8(recovery.filename());
  const std::string prefix = "Recovery-" + std::to_string(processId()) + "-";
  ASSERT_EQ(name.substr(0, prefix.size()), prefix);
  const std::string tick = name.substr(prefix.size());
  ASSERT_FALSE(tick.empty());
  EXPECT_NE(tick[0], '0');
  EXPECT_GE(std::stoull(tick), before);
  EXPECT_LE(std::stoull(tick), after);
}

}  // namespace
}  // namespace muvra
