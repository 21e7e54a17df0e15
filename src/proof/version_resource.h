#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>

// The version resource of a 64-bit Windows program (RT_VERSION, VS_VERSIONINFO): the numeric file
// version and the name the program was built as. Both lie inside the Authenticode digest.
namespace muvra {

// VS_FIXEDFILEINFO's file version, its four parts packed most significant first, so that the
// numbers compare as the versions do.
struct FileVersion {
  std::uint64_t packed = 0;

  static FileVersion of(std::uint16_t major,
                        std::uint16_t minor,
                        std::uint16_t build,
                        std::uint16_t revision);
  // "2.6.0.0"
  std::string text() const;
  std::uint16_t part(int index) const;  // 0 is the major version
  auto operator<=>(const FileVersion&) const = default;
};

struct VersionResource {
  FileVersion fileVersion;
  std::string originalFilename;  // UTF-8; empty when the string tables name none
};

// The version resource of the program, read only where Windows reads it: resource ID 1 of type
// RT_VERSION in one language, inside a section's bytes. Empty when there is none, when it is
// malformed, or when its string tables name different original file names. Never throws.
std::optional<VersionResource> readVersionResource(std::istream& file);
std::optional<VersionResource> readVersionResource(const std::filesystem::path& path);

}  // namespace muvra
