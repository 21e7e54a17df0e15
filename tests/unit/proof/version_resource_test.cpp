#include "proof/version_resource.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "support/case_name.h"
#include "support/signing_fixtures.h"
#include "support/temporary_folder.h"
#include "proof/pe_format.h"

namespace muvra {
namespace {

std::uint32_t fieldAt(const std::string& bytes, std::size_t offset) {
  return pe::littleEndian(reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset, 4);
}

// Where the resource directory's data directory entry (entry 2) lies in a PE32+ program.
std::size_t resourceEntry(const std::string& program) {
  return fieldAt(program, 60) + 24 + 112 + 2 * 8;
}

std::string utf16(std::string_view ascii) {
  std::string units;
  for (const char c : ascii) {
    units += c;
    units += '\0';
  }
  return units;
}

struct DamageCase {
  const char* name;
  std::function<void(std::string&)> damage;
  bool hasResource;
  const char* originalFilename;
};
MUVRA_PRINTS_CASE_NAME(DamageCase)

class VersionResourceDamageTest : public ::testing::TestWithParam<DamageCase> {};

// The unsigned test program (2.6.0.0, "muvra.exe", built by mingw-w64 and windres), changed.
TEST_P(VersionResourceDamageTest, ReadsOnlyAWholeResource) {
  std::string program = testing::readFile(testing::signedProgram("unsigned"));
  GetParam().damage(program);
  std::istringstream stream(program);
  const std::optional<VersionResource> resource = readVersionResource(stream);
  ASSERT_EQ(resource.has_value(), GetParam().hasResource);
  if (resource) {
    EXPECT_EQ(resource->fileVersion, FileVersion::of(2, 6, 0, 0));
    EXPECT_EQ(resource->originalFilename, GetParam().originalFilename);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Programs,
    VersionResourceDamageTest,
    ::testing::Values(
        DamageCase{"as_built", [](std::string&) {}, true, "muvra.exe"},
        DamageCase{
            "no_resource_directory",
            [](std::string& program) { program.replace(resourceEntry(program), 8, 8, '\0'); },
            false, ""},
        DamageCase{"directory_outside_the_sections",
                   [](std::string& program) {
                     program.replace(resourceEntry(program), 4, "\0\0\0\x7f", 4);
                   },
                   false, ""},
        DamageCase{
            "cut_before_the_resources",
            [](std::string& program) { program.resize(program.find(utf16("VS_VERSION_INFO"))); },
            false, ""},
        DamageCase{"fixed_information_without_its_signature",
                   [](std::string& program) { program[program.find("\xbd\x04\xef\xfe")] = 0; },
                   false, ""},
        DamageCase{"block_longer_than_the_resource",
                   [](std::string& program) {
                     const std::size_t root = program.find(utf16("VS_VERSION_INFO")) - 6;
                     program.replace(root, 2, "\xff\xff", 2);
                   },
                   false, ""},
        DamageCase{
            "no_original_file_name",
            [](std::string& program) { program[program.find(utf16("OriginalFilename"))] = 'X'; },
            true, ""},
        DamageCase{"original_file_name_without_its_end",
                   [](std::string& program) {
                     // The key runs on to the end of its block: the block is malformed.
                     const std::size_t key = program.find(utf16("OriginalFilename"));
                     const std::size_t length = fieldAt(program, key - 6) & 0xFFFF;
                     for (std::size_t i = key; i < key - 6 + length; ++i) {
                       program[i] = program[i] == '\0' ? 'x' : program[i];
                     }
                   },
                   false, ""}),
    testing::CaseName());

TEST(FileVersionTest, ComparesPartByPartAndPrintsDotted) {
  EXPECT_LT(FileVersion::of(2, 5, 0, 0), FileVersion::of(2, 6, 0, 0));
  EXPECT_LT(FileVersion::of(2, 6, 65535, 65535), FileVersion::of(2, 7, 0, 0));
  EXPECT_LT(FileVersion::of(1, 65535, 0, 0), FileVersion::of(2, 0, 0, 0));
  EXPECT_EQ(FileVersion::of(2, 6, 0, 0), FileVersion::of(2, 6, 0, 0));
  EXPECT_EQ(FileVersion::of(65535, 1, 2, 65534).text(), "65535.1.2.65534");
}

}  // namespace
}  // namespace muvra
