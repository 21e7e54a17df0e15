#include "proof/publisher_signature.h"

#include <gtest/gtest.h>

#include <vector>

#include "proof/sha256.h"
#include "support/case_name.h"
#include "support/signing_fixtures.h"

namespace muvra {
namespace {

using testing::keyPin;
using testing::signedProgram;

struct SignatureCase {
  const char* name;
  const char* program;
  std::vector<const char*> pinnedKeys;
  bool accepted;
  // What its version resource says; no version: it has none.
  const char* version = "2.6.0.0";
  const char* originalFilename = "muvra.exe";
};
MUVRA_PRINTS_CASE_NAME(SignatureCase)

const std::vector<const char*> kPublisherAndBackup{"publisher", "backup"};

class SignatureTableTest : public ::testing::TestWithParam<SignatureCase> {};

// The programs were signed with osslsigncode by keys made with openssl when the build was set up.
TEST_P(SignatureTableTest, AcceptsOnlyAPinnedKeysValidSignature) {
  const SignatureCase& test = GetParam();
  std::vector<std::string> pins;
  for (const char* key : test.pinnedKeys) {
    pins.push_back(keyPin(key));
  }
  const std::filesystem::path program = signedProgram(test.program);
  const SignedFileProof proof = proveSignedFile(program, pins);
  EXPECT_EQ(proof.signedByPublisher, test.accepted);
  if (test.version == nullptr) {
    EXPECT_FALSE(proof.versionResource.has_value());
  } else {
    ASSERT_TRUE(proof.versionResource.has_value());
    EXPECT_EQ(proof.versionResource->fileVersion.text(), test.version);
    EXPECT_EQ(proof.versionResource->originalFilename, test.originalFilename);
  }
  // The same pass digests the whole file as the plain digest does.
  EXPECT_EQ(proof.sha256, sha256File(program));
}

INSTANTIATE_TEST_SUITE_P(
    SignedPrograms,
    SignatureTableTest,
    ::testing::Values(
        SignatureCase{"publisher", "publisher", kPublisherAndBackup, true},
        SignatureCase{"backup_ecdsa", "backup", kPublisherAndBackup, true},
        SignatureCase{"sha384", "publisher-sha384", kPublisherAndBackup, true},
        SignatureCase{"sha512", "publisher-sha512", kPublisherAndBackup, true},
        SignatureCase{"checksum_set_after_signing", "publisher-checksum-set", kPublisherAndBackup,
                      true},
        SignatureCase{"sha1_with_nested_sha256", "sha1-with-nested-publisher", kPublisherAndBackup,
                      true},
        SignatureCase{"stranger_with_nested_publisher", "stranger-with-nested-publisher",
                      kPublisherAndBackup, true},
        SignatureCase{"publisher_with_nested_stranger", "publisher-with-nested-stranger",
                      kPublisherAndBackup, true},
        SignatureCase{"version_2_5", "publisher-2.5", kPublisherAndBackup, true, "2.5.0.0"},
        SignatureCase{"rebuilt_2_6", "publisher-2.6-rebuilt", kPublisherAndBackup, true},
        SignatureCase{"version_2_7_named_in_capitals", "publisher-2.7", kPublisherAndBackup, true,
                      "2.7.0.0", "MUVRA.EXE"},
        SignatureCase{"named_as_another_program", "publisher-wrong-name", kPublisherAndBackup,
                      false, "2.8.0.0", "MuvraLoader.exe"},
        SignatureCase{"no_version_resource", "publisher-no-version", kPublisherAndBackup, false,
                      nullptr},
        SignatureCase{"stranger_pinned", "stranger", {"stranger"}, true},
        SignatureCase{"stranger", "stranger", kPublisherAndBackup, false},
        SignatureCase{"publisher_not_pinned", "publisher", {"backup", "stranger"}, false},
        SignatureCase{"unsigned", "unsigned", kPublisherAndBackup, false},
        SignatureCase{"section_changed", "section-changed", kPublisherAndBackup, false},
        SignatureCase{"signature_changed", "signature-changed", kPublisherAndBackup, false},
        SignatureCase{"sha1", "publisher-sha1", kPublisherAndBackup, false},
        SignatureCase{"table_past_end", "table-past-end", kPublisherAndBackup, false},
        SignatureCase{"length_zero", "length-zero", kPublisherAndBackup, false},
        SignatureCase{"other_revision", "other-revision", kPublisherAndBackup, false},
        SignatureCase{"other_type", "other-type", kPublisherAndBackup, false}),
    testing::CaseName());

}  // namespace
}  // namespace muvra
