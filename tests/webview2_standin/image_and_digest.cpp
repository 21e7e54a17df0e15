// The PNG of a capture and the digests of the transcript.

#include "standin.h"

#include <bcrypt.h>

#include <algorithm>

namespace standin {

namespace {

std::uint32_t crc32(const std::string& bytes, std::uint32_t crc = 0) {
  crc = ~crc;
  for (const unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  return ~crc;
}

std::string bigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string chunk(const std::string& type, const std::string& data) {
  return bigEndian(static_cast<std::uint32_t>(data.size())) + type + data +
         bigEndian(crc32(type + data));
}

// A zlib stream of stored (uncompressed) blocks.
std::string zlibStored(const std::string& data) {
  std::string stream = "\x78\x01";
  std::size_t offset = 0;
  do {
    const std::size_t size = std::min<std::size_t>(data.size() - offset, 65535);
    const bool last = offset + size == data.size();
    stream += static_cast<char>(last ? 1 : 0);
    stream += static_cast<char>(size & 0xFF);
    stream += static_cast<char>(size >> 8);
    stream += static_cast<char>(~size & 0xFF);
    stream += static_cast<char>((~size >> 8) & 0xFF);
    stream.append(data, offset, size);
    offset += size;
  } while (offset < data.size());
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (const unsigned char byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return stream + bigEndian((b << 16) | a);
}

}  // namespace

HRESULT writePng(IStream* stream, int width, int height, COLORREF colour) {
  if (width <= 0 || height <= 0) {
    return E_INVALIDARG;
  }
  std::string row(1, '\0');  // filter type 0
  for (int x = 0; x < width; ++x) {
    row += static_cast<char>(GetRValue(colour));
    row += static_cast<char>(GetGValue(colour));
    row += static_cast<char>(GetBValue(colour));
  }
  std::string pixels;
  for (int y = 0; y < height; ++y) {
    pixels += row;
  }
  const std::string header =
      bigEndian(width) + bigEndian(height) + std::string("\x08\x02\0\0\0", 5);
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) +
                          chunk("IDAT", zlibStored(pixels)) + chunk("IEND", "");
  ULONG written = 0;
  return stream->lpVtbl->Write(stream, png.data(), static_cast<ULONG>(png.size()), &written);
}

std::string sha256Hex(const std::string& bytes) {
  unsigned char digest[32] = {};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    if (BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
      BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                     static_cast<ULONG>(bytes.size()), 0);
      BCryptFinishHash(hash, digest, sizeof digest, 0);
      BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
  }
  std::string hex;
  for (const unsigned char byte : digest) {
    hex += "0123456789abcdef"[byte >> 4];
    hex += "0123456789abcdef"[byte & 15];
  }
  return hex;
}

}  // namespace standin
