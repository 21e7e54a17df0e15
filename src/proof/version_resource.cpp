#include "proof/version_resource.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <span>
#include <vector>

#include "base/text.h"
#include "proof/pe_format.h"

namespace muvra {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint32_t kVersionType = 16;  // RT_VERSION
constexpr std::uint32_t kVersionId = 1;     // VS_VERSION_INFO
constexpr std::uint32_t kMostEntries = 4096;
constexpr std::uint32_t kMostVersionBytes = 0xFFFF;  // what a 16-bit wLength can count
constexpr std::uint32_t kFixedInfoBytes = 52;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kHighBit = 0x80000000;

// The program's bytes as it is mapped: only what a section holds in the file can be read.
class Image {
 public:
  Image(std::istream& file, std::vector<pe::Section> sections)
      : file_(file), sections_(std::move(sections)) {}

  bool read(std::uint64_t address, std::span<std::uint8_t> into) const {
    for (const pe::Section& section : sections_) {
      const std::uint64_t mapped = section.virtualSize == 0
                                       ? section.fileSize
                                       : std::min(section.fileSize, section.virtualSize);
      if (address >= section.virtualAddress &&
          address + into.size() <= std::uint64_t{section.virtualAddress} + mapped) {
        return pe::readAt(file_, section.fileOffset + (address - section.virtualAddress), into);
      }
    }
    return false;
  }

 private:
  std::istream& file_;
  std::vector<pe::Section> sections_;
};

// One IMAGE_RESOURCE_DIRECTORY_ENTRY: a numeric id (or a name) and where its directory or data
// entry lies, counted from the start of the resource directory.
struct DirectoryEntry {
  bool named = false;
  std::uint32_t id = 0;
  bool subdirectory = false;
  std::uint32_t offset = 0;
};

struct ResourceDirectory {
  const Image& image;
  std::uint32_t address = 0;
  std::uint32_t size = 0;

  bool read(std::uint64_t offset, std::span<std::uint8_t> into) const {
    return offset <= size && into.size() <= size - offset && image.read(address + offset, into);
  }

  std::optional<std::vector<DirectoryEntry>> entries(std::uint32_t offset) const {
    std::array<std::uint8_t, 16> header{};
    if (!read(offset, header)) {
      return std::nullopt;
    }
    const std::uint32_t count = pe::littleEndian(&header[12], 2) + pe::littleEndian(&header[14], 2);
    if (count > kMostEntries) {
      return std::nullopt;
    }
    std::vector<std::uint8_t> table(std::size_t{count} * 8);
    if (!read(std::uint64_t{offset} + 16, table)) {
      return std::nullopt;
    }
    std::vector<DirectoryEntry> entries;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t name = pe::littleEndian(&table[i * 8], 4);
      const std::uint32_t data = pe::littleEndian(&table[i * 8 + 4], 4);
      entries.push_back(
          {(name & kHighBit) != 0, name & ~kHighBit, (data & kHighBit) != 0, data & ~kHighBit});
    }
    return entries;
  }

  // The subdirectory of the numeric id `id` in the directory at `offset`.
  std::optional<std::uint32_t> subdirectory(std::uint32_t offset, std::uint32_t id) const {
    const std::optional<std::vector<DirectoryEntry>> found = entries(offset);
    if (!found) {
      return std::nullopt;
    }
    const auto entry = std::ranges::find_if(*found, [id](const DirectoryEntry& candidate) {
      return !candidate.named && candidate.id == id;
    });
    if (entry == found->end() || !entry->subdirectory) {
      return std::nullopt;
    }
    return entry->offset;
  }
};

// The bytes of resource RT_VERSION / VS_VERSION_INFO in its only language.
std::optional<std::vector<std::uint8_t>> versionBytes(const ResourceDirectory& resources) {
  const std::optional<std::uint32_t> names = resources.subdirectory(0, kVersionType);
  const std::optional<std::uint32_t> languages =
      names ? resources.subdirectory(*names, kVersionId) : std::nullopt;
  const std::optional<std::vector<DirectoryEntry>> language =
      languages ? resources.entries(*languages) : std::nullopt;
  if (!language || language->size() != 1 || language->front().subdirectory) {
    return std::nullopt;
  }
  std::array<std::uint8_t, 16> dataEntry{};
  if (!resources.read(language->front().offset, dataEntry)) {
    return std::nullopt;
  }
  const std::uint32_t size = pe::littleEndian(&dataEntry[4], 4);
  if (size < 6 || size > kMostVersionBytes) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(size);
  if (!resources.image.read(pe::littleEndian(&dataEntry[0], 4), bytes)) {
    return std::nullopt;
  }
  return bytes;
}

std::size_t alignedToFour(std::size_t offset) {
  return (offset + 3) & ~std::size_t{3};
}

// One block of VS_VERSIONINFO (wLength, wValueLength, wType, szKey, the value, the children).
struct Block {
  std::u16string key;
  std::size_t valueLength = 0;  // as wValueLength states it
  std::size_t value = 0;        // where the value starts
  std::size_t end = 0;
};

std::optional<Block> readBlock(Bytes bytes, std::size_t at, std::size_t end) {
  if (end - at < 6) {
    return std::nullopt;
  }
  const std::size_t length = pe::littleEndian(&bytes[at], 2);
  if (length < 6 || length > end - at) {
    return std::nullopt;
  }
  Block block;
  block.end = at + length;
  block.valueLength = pe::littleEndian(&bytes[at + 2], 2);
  for (std::size_t i = at + 6; i + 2 <= block.end; i += 2) {
    const auto unit = static_cast<char16_t>(pe::littleEndian(&bytes[i], 2));
    if (unit == 0) {
      block.value = std::min(alignedToFour(i + 2), block.end);
      return block;
    }
    block.key.push_back(unit);
  }
  return std::nullopt;  // the key has no end
}

// Calls `visit` with each child block between `start` and `end`; false when one is malformed.
bool forEachChild(Bytes bytes,
                  std::size_t start,
                  std::size_t end,
                  const std::function<bool(const Block&)>& visit) {
  for (std::size_t at = alignedToFour(start); at < end; at = alignedToFour(at)) {
    const std::optional<Block> child = readBlock(bytes, at, end);
    if (!child || !visit(*child)) {
      return false;
    }
    at = child->end;
  }
  return true;
}

// A String block's value: UTF-16 up to its NUL or the block's end.
std::string textValue(Bytes bytes, const Block& block) {
  std::u16string text;
  for (std::size_t i = block.value; i + 2 <= block.end; i += 2) {
    const auto unit = static_cast<char16_t>(pe::littleEndian(&bytes[i], 2));
    if (unit == 0) {
      break;
    }
    text.push_back(unit);
  }
  return utf16ToUtf8Lossy(text);
}

std::optional<VersionResource> parseVersionInfo(Bytes bytes) {
  const std::optional<Block> root = readBlock(bytes, 0, bytes.size());
  if (!root || root->key != u"VS_VERSION_INFO" || root->valueLength != kFixedInfoBytes ||
      root->end - root->value < kFixedInfoBytes ||
      pe::littleEndian(&bytes[root->value], 4) != kFixedInfoSignature) {
    return std::nullopt;
  }
  VersionResource resource;
  resource.fileVersion.packed = std::uint64_t{pe::littleEndian(&bytes[root->value + 8], 4)} << 32 |
                                pe::littleEndian(&bytes[root->value + 12], 4);
  std::optional<std::string> name;
  bool agree = true;
  const auto visitString = [&](const Block& string) {
    if (string.key == u"OriginalFilename") {
      const std::string value = textValue(bytes, string);
      agree = agree && (!name || equalsIgnoringAsciiCase(*name, value));
      name = value;
    }
    return true;
  };
  const auto visitTable = [&](const Block& table) {
    return forEachChild(bytes, table.value, table.end, visitString);
  };
  const bool wellFormed =
      forEachChild(bytes, root->value + kFixedInfoBytes, root->end, [&](const Block& child) {
        return child.key != u"StringFileInfo" ||
               forEachChild(bytes, child.value, child.end, visitTable);
      });
  if (!wellFormed || !agree) {
    return std::nullopt;
  }
  resource.originalFilename = name.value_or("");
  return resource;
}

}  // namespace

FileVersion FileVersion::of(std::uint16_t major,
                            std::uint16_t minor,
                            std::uint16_t build,
                            std::uint16_t revision) {
  return {std::uint64_t{major} << 48 | std::uint64_t{minor} << 32 | std::uint64_t{build} << 16 |
          revision};
}

std::uint16_t FileVersion::part(int index) const {
  return static_cast<std::uint16_t>(packed >> (48 - 16 * index));
}

std::string FileVersion::text() const {
  return std::to_string(part(0)) + "." + std::to_string(part(1)) + "." + std::to_string(part(2)) +
         "." + std::to_string(part(3));
}

std::optional<VersionResource> readVersionResource(std::istream& file) {
  try {
    const std::optional<std::uint64_t> header = pe::headerOffset(file);
    std::array<std::uint8_t, 24 + 112 + 3 * 8> headers{};  // to the end of PE32+ entry 2
    if (!header || !pe::readAt(file, *header, headers) ||
        pe::littleEndian(&headers[0], 4) != 0x00004550) {
      return std::nullopt;
    }
    const std::uint32_t optionalSize = pe::littleEndian(&headers[20], 2);
    if (pe::littleEndian(&headers[24], 2) != 0x20B || optionalSize < 112 + 3 * 8 ||
        pe::littleEndian(&headers[24 + 108], 4) < 3) {
      return std::nullopt;
    }
    const std::optional<std::vector<pe::Section>> sections =
        pe::readSections(file, *header + 24 + optionalSize, pe::littleEndian(&headers[6], 2));
    if (!sections) {
      return std::nullopt;
    }
    const Image image(file, *sections);
    const ResourceDirectory resources{image, pe::littleEndian(&headers[24 + 112 + 16], 4),
                                      pe::littleEndian(&headers[24 + 112 + 20], 4)};
    const std::optional<std::vector<std::uint8_t>> bytes = versionBytes(resources);
    return bytes ? parseVersionInfo(*bytes) : std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<VersionResource> readVersionResource(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  return readVersionResource(file);
}

}  // namespace muvra
