#include "proof/publisher_signature.h"

#include <gtest/gtest.h>

#include <vector>

#include "proof/sha256.h"
#include "support/case_name.h"
#include "support/signing_fixtures.h"
#include "update/files.h"

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
  // Read through the handle the check and the launch hold, the answer is the same.
  const std::optional<HeldFile> held = HeldFile::open(program);
  ASSERT_TRUE(held);
  FileReadStream stream(*held);
  const SignedFileProof throughHandle = proveSignedFile(stream, held->size(), pins);
  EXPECT_EQ(throughHandle.signedByPublisher, test.accepted);
  EXPECT_EQ(throughHandle.sha256, proof.sha256);
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
        SignatureCase{"other_type", "other-type", kPublisherAndBackup, false},
        // Only the publisher's bytes: nothing outside the digest but the signature itself.
        SignatureCase{"zip_in_table", "zip-in-table", kPublisherAndBackup, false},
        SignatureCase{"signed_with_overlay", "publisher-with-overlay", kPublisherAndBackup, true},
        SignatureCase{"table_before_overlay", "table-before-overlay", kPublisherAndBackup, false},
        SignatureCase{"table_in_section_alignment", "table-in-section-alignment",
                      kPublisherAndBackup, false},
        SignatureCase{"table_in_headers", "table-in-headers", kPublisherAndBackup, false},
        SignatureCase{"time_stamped", "publisher-time-stamped", kPublisherAndBackup, true},
        SignatureCase{"nested_time_stamped", "publisher-with-nested-time-stamped",
                      kPublisherAndBackup, true},
        SignatureCase{"countersigned", "publisher-countersigned", kPublisherAndBackup, true},
        SignatureCase{"unknown_unsigned_attribute", "unknown-unsigned-attribute",
                      kPublisherAndBackup, false},
        SignatureCase{"unknown_attribute_edited", "unknown-attribute-edited", kPublisherAndBackup,
                      false},
        SignatureCase{"nested_unknown_unsigned_attribute", "nested-unknown-unsigned-attribute",
                      kPublisherAndBackup, false},
        SignatureCase{"ecdsa_not_der", "backup-ecdsa-not-der", kPublisherAndBackup, false}),
    testing::CaseName());

struct EcdsaEncodingCase {
  const char* name;
  std::vector<std::uint8_t> signature;
  bool accepted;
};
MUVRA_PRINTS_CASE_NAME(EcdsaEncodingCase)

class EcdsaEncodingTest : public ::testing::TestWithParam<EcdsaEncodingCase> {};

// Windows takes r||s, which many encodings map to; only the DER one is the signature OpenSSL
// verifies, so only it is converted.
TEST_P(EcdsaEncodingTest, ConvertsOnlyTheDerEncoding) {
  const std::optional<std::vector<std::uint8_t>> raw = ecdsaRawSignature(GetParam().signature, 2);
  ASSERT_EQ(raw.has_value(), GetParam().accepted);
  if (raw) {
    EXPECT_EQ(*raw, (std::vector<std::uint8_t>{0x01, 0x02, 0x00, 0x83}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings,
    EcdsaEncodingTest,
    ::testing::Values(
        EcdsaEncodingCase{"der",
                          {0x30, 0x08, 0x02, 0x02, 0x01, 0x02, 0x02, 0x02, 0x00, 0x83},
                          true},
        EcdsaEncodingCase{"extra_leading_zero",
                          {0x30, 0x09, 0x02, 0x03, 0x00, 0x01, 0x02, 0x02, 0x02, 0x00, 0x83},
                          false},
        EcdsaEncodingCase{"negative",
                          {0x30, 0x07, 0x02, 0x02, 0x01, 0x02, 0x02, 0x01, 0x83},
                          false},
        EcdsaEncodingCase{"long_form_length",
                          {0x30, 0x81, 0x08, 0x02, 0x02, 0x01, 0x02, 0x02, 0x02, 0x00, 0x83},
                          false},
        EcdsaEncodingCase{"trailing_bytes",
                          {0x30, 0x0A, 0x02, 0x02, 0x01, 0x02, 0x02, 0x02, 0x00, 0x83, 0x05, 0x00},
                          false},
        EcdsaEncodingCase{"too_wide",
                          {0x30, 0x08, 0x02, 0x03, 0x01, 0x02, 0x03, 0x02, 0x01, 0x01},
                          false}),
    testing::CaseName());

}  // namespace
}  // namespace muvra
