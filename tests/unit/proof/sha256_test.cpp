#include "proof/sha256.h"

#include <gtest/gtest.h>

#include "base/failure.h"
#include "support/case_name.h"
#include "support/temporary_folder.h"

namespace muvra {
namespace {

using testing::TemporaryFolder;
using testing::writeFile;

struct DigestCase {
  const char* name;
  std::string content;
  const char* digest;
};

MUVRA_PRINTS_CASE_NAME(DigestCase)

class Sha256FileTest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(Sha256FileTest, HashesTheWholeFile) {
  const TemporaryFolder folder;
  writeFile(folder / "input.bin", GetParam().content);
  EXPECT_EQ(sha256File(folder / "input.bin"), GetParam().digest);
}

// Digests around the 65,536-byte read block, computed with an independent SHA-256.
INSTANTIATE_TEST_SUITE_P(
    Vectors,
    Sha256FileTest,
    ::testing::Values(
        DigestCase{"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        DigestCase{"abc", "abc",
                   "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        DigestCase{"oneBlockOfA", std::string(65536, 'a'),
                   "bf718b6f653bebc184e1479f1935b8da974d701b893afcf49e701f3e2f9f9c5a"},
        DigestCase{"oneBlockOfAPlusOne", std::string(65537, 'a'),
                   "008ffc88d3c96a9f307524eb361e47c5222a887fc45fa0c1fb8d429c5c23b430"}),
    testing::CaseName());

TEST(Sha256FileFailureTest, MissingFileOrFolderCannotBeOpened) {
  const TemporaryFolder folder;
  for (const auto& path : {folder / "missing.bin", folder.path()}) {
    try {
      sha256File(path);
      ADD_FAILURE() << "hashed " << path;
    } catch (const OperationFailure& failure) {
      EXPECT_STREQ(failure.what(), "Could not open the update file. Check folder permissions.");
    }
  }
}

TEST(HexDigestTest, WritesLowerCaseWithLeadingZeros) {
  std::array<std::uint8_t, 32> digest{};
  digest[0] = 0x0A;
  digest[31] = 0xF0;
  EXPECT_EQ(hexDigest(digest), "0a" + std::string(60, '0') + "f0");
}

}  // namespace
}  // namespace muvra
