#include "proof/authenticode.h"

#include <algorithm>
#include <array>

#include "proof/der.h"
#include "proof/pe_format.h"

namespace muvra {
namespace {

constexpr std::uint64_t kMostTableBytes = 256 * 1024;
constexpr std::uint32_t kMostSections = 96;

// Encoded object identifiers (the contents of their DER elements).
constexpr std::uint8_t kSignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
constexpr std::uint8_t kIndirectDataOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                             0x82, 0x37, 0x02, 0x01, 0x04};
constexpr std::uint8_t kNestedSignatureOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                                0x82, 0x37, 0x02, 0x04, 0x01};
constexpr std::uint8_t kCountersignatureOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                 0x0D, 0x01, 0x09, 0x06};
constexpr std::uint8_t kTimeStampTokenOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                               0x82, 0x37, 0x03, 0x03, 0x01};
constexpr std::uint8_t kContentTypeOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x03};
constexpr std::uint8_t kMessageDigestOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
constexpr std::uint8_t kSha256Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
constexpr std::uint8_t kSha384Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02};
constexpr std::uint8_t kSha512Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};
constexpr std::uint8_t kRsaOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
constexpr std::uint8_t kEcPublicKeyOid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr std::uint8_t kP256Oid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr std::uint8_t kP384Oid[] = {0x2B, 0x81, 0x04, 0x00, 0x22};
constexpr std::uint8_t kP521Oid[] = {0x2B, 0x81, 0x04, 0x00, 0x23};

// Where what the loader maps of the file ends: the headers, the section table and each section's
// bytes as the loader reads them, rounded up to the file alignment. Empty when the alignment is
// not a power of two of at most 64 KiB, or a section header cannot be read.
std::optional<std::uint64_t> endOfMappedBytes(std::istream& file,
                                              std::uint64_t sectionTable,
                                              std::uint32_t count,
                                              std::uint64_t sizeOfHeaders,
                                              std::uint64_t fileAlignment) {
  if (fileAlignment == 0 || fileAlignment > 0x10000 || (fileAlignment & (fileAlignment - 1)) != 0) {
    return std::nullopt;
  }
  std::uint64_t end = std::max(sectionTable + std::uint64_t{count} * 40, sizeOfHeaders);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::array<std::uint8_t, 40> section{};
    if (!pe::readAt(file, sectionTable + i * 40, section)) {
      return std::nullopt;
    }
    const std::uint64_t size = pe::littleEndian(&section[16], 4);
    if (size != 0) {
      const std::uint64_t aligned = (size + fileAlignment - 1) & ~(fileAlignment - 1);
      end = std::max(end, pe::littleEndian(&section[20], 4) + aligned);
    }
  }
  return end;
}

std::optional<DigestAlgorithm> digestAlgorithm(der::Bytes algorithmIdentifier) {
  der::Reader reader(algorithmIdentifier);
  const std::optional<der::Bytes> oid = reader.contents(der::kObjectId);
  if (!oid) {
    return std::nullopt;
  }
  if (der::equal(*oid, kSha256Oid)) {
    return DigestAlgorithm::Sha256;
  }
  if (der::equal(*oid, kSha384Oid)) {
    return DigestAlgorithm::Sha384;
  }
  if (der::equal(*oid, kSha512Oid)) {
    return DigestAlgorithm::Sha512;
  }
  return std::nullopt;
}

// The kind of key a SubjectPublicKeyInfo holds, when it is RSA or ECDSA on a NIST curve.
std::optional<PublicKey> publicKey(der::Bytes subjectPublicKeyInfo) {
  const std::optional<der::Bytes> info = der::only(subjectPublicKeyInfo, der::kSequence);
  if (!info) {
    return std::nullopt;
  }
  der::Reader infoReader(*info);
  const std::optional<der::Bytes> algorithm = infoReader.contents(der::kSequence);
  if (!algorithm || !infoReader.contents(der::kBitString) || !infoReader.atEnd()) {
    return std::nullopt;
  }
  der::Reader reader(*algorithm);
  const std::optional<der::Bytes> oid = reader.contents(der::kObjectId);
  if (oid && der::equal(*oid, kRsaOid)) {
    return PublicKey{subjectPublicKeyInfo, KeyKind::Rsa, 0};
  }
  const std::optional<der::Bytes> curve = reader.contents(der::kObjectId);
  if (!oid || !der::equal(*oid, kEcPublicKeyOid) || !curve) {
    return std::nullopt;
  }
  for (const auto& [curveOid, width] :
       {std::pair<der::Bytes, std::size_t>{kP256Oid, 32}, {kP384Oid, 48}, {kP521Oid, 66}}) {
    if (der::equal(*curve, curveOid)) {
      return PublicKey{subjectPublicKeyInfo, KeyKind::Ecdsa, width};
    }
  }
  return std::nullopt;
}

// The SubjectPublicKeyInfo of the certificate whose issuer and serial number the signer names.
std::optional<der::Bytes> signerPublicKeyInfo(der::Bytes certificates,
                                              der::Bytes issuer,
                                              der::Bytes serial) {
  der::Reader reader(certificates);
  while (!reader.atEnd()) {
    const std::optional<der::Bytes> certificate = reader.contents(der::kSequence);
    if (!certificate) {
      return std::nullopt;
    }
    const std::optional<der::Bytes> signedPart = der::Reader(*certificate).contents(der::kSequence);
    if (!signedPart) {
      return std::nullopt;
    }
    der::Reader fields(*signedPart);
    fields.next(der::contextTag(0));  // the version, when it is there
    const std::optional<der::Element> certificateSerial = fields.next(der::kInteger);
    fields.next(der::kSequence);  // the certificate's signature algorithm
    const std::optional<der::Element> certificateIssuer = fields.next(der::kSequence);
    const bool validity = fields.next(der::kSequence).has_value();
    const bool subject = fields.next(der::kSequence).has_value();
    const std::optional<der::Element> keyInfo = fields.next(der::kSequence);
    if (!certificateSerial || !certificateIssuer || !validity || !subject || !keyInfo) {
      return std::nullopt;
    }
    if (der::equal(certificateSerial->whole, serial) &&
        der::equal(certificateIssuer->whole, issuer)) {
      return keyInfo->whole;
    }
  }
  return std::nullopt;
}

// The values (a SET's contents) of the attribute `oid` among `attributes`, a SET OF Attribute's
// contents; empty when it is not there or the attributes do not parse.
der::Bytes attributeValues(der::Bytes attributes, der::Bytes oid) {
  der::Reader reader(attributes);
  while (!reader.atEnd()) {
    const std::optional<der::Bytes> attribute = reader.contents(der::kSequence);
    if (!attribute) {
      return {};
    }
    der::Reader fields(*attribute);
    const std::optional<der::Bytes> type = fields.contents(der::kObjectId);
    const std::optional<der::Bytes> values = fields.contents(der::kSet);
    if (!type || !values) {
      return {};
    }
    if (der::equal(*type, oid)) {
      return *values;
    }
  }
  return {};
}

struct ParsedSignedData {
  AuthenticodeSignature signature;
  der::Bytes unsignedAttributes;
};

// The SpcIndirectDataContent of a SignedData: what it states of the program.
bool readIndirectData(der::Bytes contentInfo, AuthenticodeSignature& signature) {
  der::Reader reader(contentInfo);
  const std::optional<der::Bytes> type = reader.contents(der::kObjectId);
  const std::optional<der::Bytes> explicitContent = reader.contents(der::contextTag(0));
  if (!type || !der::equal(*type, kIndirectDataOid) || !explicitContent) {
    return false;
  }
  const std::optional<der::Bytes> content = der::only(*explicitContent, der::kSequence);
  if (!content) {
    return false;
  }
  der::Reader fields(*content);
  fields.next(der::kSequence);  // SpcAttributeTypeAndOptionalValue
  const std::optional<der::Bytes> digestInfo = fields.contents(der::kSequence);
  if (!digestInfo) {
    return false;
  }
  der::Reader digestFields(*digestInfo);
  const std::optional<der::Bytes> algorithm = digestFields.contents(der::kSequence);
  const std::optional<der::Bytes> digest = digestFields.contents(der::kOctetString);
  if (!algorithm || !digest) {
    return false;
  }
  signature.content = *content;
  signature.fileDigestAlgorithm = digestAlgorithm(*algorithm);
  signature.fileDigest = *digest;
  return true;
}

// The one SignerInfo, with its key found among `certificates`.
bool readSigner(der::Bytes signerInfos, der::Bytes certificates, ParsedSignedData& parsed) {
  const std::optional<der::Bytes> signer = der::only(signerInfos, der::kSequence);
  if (!signer) {
    return false;
  }
  der::Reader fields(*signer);
  fields.next(der::kInteger);
  const std::optional<der::Bytes> issuerAndSerial = fields.contents(der::kSequence);
  const std::optional<der::Bytes> algorithm = fields.contents(der::kSequence);
  const std::optional<der::Element> attributes = fields.next(der::contextTag(0));
  fields.next(der::kSequence);  // the signature algorithm: the key's own kind decides
  const std::optional<der::Bytes> value = fields.contents(der::kOctetString);
  if (!issuerAndSerial || !algorithm || !attributes || !value) {
    return false;
  }
  der::Reader sid(*issuerAndSerial);
  const std::optional<der::Element> issuer = sid.next(der::kSequence);
  const std::optional<der::Element> serial = sid.next(der::kInteger);
  if (!issuer || !serial) {
    return false;
  }
  const std::optional<der::Bytes> keyInfo =
      signerPublicKeyInfo(certificates, issuer->whole, serial->whole);
  const std::optional<PublicKey> key = keyInfo ? publicKey(*keyInfo) : std::nullopt;
  if (!key) {
    return false;
  }
  AuthenticodeSignature& signature = parsed.signature;
  signature.signerDigestAlgorithm = digestAlgorithm(*algorithm);
  signature.signature = *value;
  signature.signerKey = *key;
  // The signer signed the attributes' DER with the SET tag in place of [0] IMPLICIT.
  signature.signedAttributes.assign(attributes->whole.begin(), attributes->whole.end());
  signature.signedAttributes[0] = der::kSet;
  const std::optional<der::Bytes> contentType =
      der::only(attributeValues(attributes->contents, kContentTypeOid), der::kObjectId);
  signature.contentTypeIsIndirectData = contentType && der::equal(*contentType, kIndirectDataOid);
  signature.messageDigest =
      der::only(attributeValues(attributes->contents, kMessageDigestOid), der::kOctetString)
          .value_or(der::Bytes());
  if (const std::optional<der::Bytes> unsignedAttributes = fields.contents(der::contextTag(1))) {
    parsed.unsignedAttributes = *unsignedAttributes;
  }
  return true;
}

// A PKCS #7 ContentInfo holding an Authenticode SignedData.
std::optional<ParsedSignedData> readSignedData(der::Bytes bytes) {
  const std::optional<der::Bytes> contentInfo = der::only(bytes, der::kSequence);
  if (!contentInfo) {
    return std::nullopt;
  }
  der::Reader outer(*contentInfo);
  const std::optional<der::Bytes> type = outer.contents(der::kObjectId);
  const std::optional<der::Bytes> explicitContent = outer.contents(der::contextTag(0));
  if (!type || !der::equal(*type, kSignedDataOid) || !explicitContent) {
    return std::nullopt;
  }
  const std::optional<der::Bytes> signedData = der::only(*explicitContent, der::kSequence);
  if (!signedData) {
    return std::nullopt;
  }
  der::Reader fields(*signedData);
  fields.next(der::kInteger);
  fields.next(der::kSet);  // the digest algorithms, which the signer names again
  const std::optional<der::Bytes> content = fields.contents(der::kSequence);
  const std::optional<der::Bytes> certificates = fields.contents(der::contextTag(0));
  fields.next(der::contextTag(1));  // revocation lists
  const std::optional<der::Bytes> signerInfos = fields.contents(der::kSet);
  ParsedSignedData parsed;
  if (!content || !certificates || !signerInfos || !readIndirectData(*content, parsed.signature) ||
      !readSigner(*signerInfos, *certificates, parsed)) {
    return std::nullopt;
  }
  return parsed;
}

// Whether a signer's unsigned attributes (a SET OF Attribute's contents) hold nothing but nested
// signatures and time stamps: anything else would be bytes outside the digest that nobody signed.
bool onlyKnownUnsignedAttributes(der::Bytes attributes) {
  der::Reader reader(attributes);
  while (!reader.atEnd()) {
    const std::optional<der::Bytes> attribute = reader.contents(der::kSequence);
    const std::optional<der::Bytes> type =
        attribute ? der::Reader(*attribute).contents(der::kObjectId) : std::nullopt;
    if (!type) {
      return false;
    }
    const bool known = der::equal(*type, kNestedSignatureOid) ||
                       der::equal(*type, kCountersignatureOid) ||
                       der::equal(*type, kTimeStampTokenOid);
    if (!known) {
      return false;
    }
  }
  return true;
}

// The signatures nested in the primary's unsigned attributes; those that do not parse are left out.
// False when one of them carries an unsigned attribute of another kind.
bool addNestedSignatures(der::Bytes unsignedAttributes,
                         std::vector<AuthenticodeSignature>& signatures) {
  der::Reader values(attributeValues(unsignedAttributes, kNestedSignatureOid));
  while (const std::optional<der::Element> value = values.next()) {
    if (std::optional<ParsedSignedData> nested = readSignedData(value->whole)) {
      if (!onlyKnownUnsignedAttributes(nested->unsignedAttributes)) {
        return false;
      }
      signatures.push_back(std::move(nested->signature));
    }
  }
  return true;
}

}  // namespace

std::optional<SignatureTableLocation> findSignatureTable(std::istream& file,
                                                         std::uint64_t fileSize) {
  try {
    const std::optional<std::uint64_t> header = pe::headerOffset(file);
    std::array<std::uint8_t, 24 + 112 + 40> headers{};  // to the end of entry 4 of PE32+
    if (!header || !pe::readAt(file, *header, headers) ||
        pe::littleEndian(&headers[0], 4) != 0x00004550) {
      return std::nullopt;
    }
    const std::uint32_t sections = pe::littleEndian(&headers[6], 2);
    const std::uint32_t optionalSize = pe::littleEndian(&headers[20], 2);
    const std::uint32_t magic = pe::littleEndian(&headers[24], 2);
    const std::uint32_t directories = magic == 0x20B ? 112 : 96;
    constexpr std::uint32_t kEntryFour = 4 * 8;
    if ((magic != 0x20B && magic != 0x10B) || optionalSize < directories + kEntryFour + 8 ||
        pe::littleEndian(&headers[24 + directories - 4], 4) < 5 || sections > kMostSections) {
      return std::nullopt;
    }
    SignatureTableLocation table;
    table.checksumOffset = *header + 24 + 64;
    table.directoryEntryOffset = *header + 24 + directories + kEntryFour;
    const std::uint8_t* entry = &headers[24 + directories + kEntryFour];
    table.offset = pe::littleEndian(entry, 4);
    table.size = pe::littleEndian(entry + 4, 4);
    const std::optional<std::uint64_t> mappedEnd = endOfMappedBytes(
        file, *header + 24 + optionalSize, sections, pe::littleEndian(&headers[24 + 60], 4),
        pe::littleEndian(&headers[24 + 36], 4));
    // The table ends the file: no byte outside the digest lies behind it.
    if (!mappedEnd || table.size < 8 || table.size > kMostTableBytes || table.offset < *mappedEnd ||
        table.offset > fileSize || table.size != fileSize - table.offset) {
      return std::nullopt;
    }
    return table;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::vector<AuthenticodeSignature>> readSignatures(ByteView table) {
  try {
    if (table.size() < 8) {
      return std::nullopt;
    }
    const std::uint32_t length = pe::littleEndian(&table[0], 4);
    const std::uint32_t revision = pe::littleEndian(&table[4], 2);
    const std::uint32_t type = pe::littleEndian(&table[6], 2);
    constexpr std::uint32_t kRevision2 = 0x0200;
    constexpr std::uint32_t kPkcsSignedData = 0x0002;
    if (length <= 8 || length > table.size() || revision != kRevision2 || type != kPkcsSignedData) {
      return std::nullopt;
    }
    // Only the zeros that align the table to 8 bytes may follow the signature, inside the entry's
    // length or after it: a second entry or any other byte would ride along unsigned.
    const std::optional<der::Element> element = der::Reader(table.subspan(8, length - 8)).next();
    if (!element) {
      return std::nullopt;
    }
    const ByteView rest = table.subspan(8 + element->whole.size());
    if (rest.size() >= 8 ||
        !std::ranges::all_of(rest, [](std::uint8_t byte) { return byte == 0; })) {
      return std::nullopt;
    }
    std::optional<ParsedSignedData> primary = readSignedData(element->whole);
    if (!primary || !onlyKnownUnsignedAttributes(primary->unsignedAttributes)) {
      return std::nullopt;
    }
    std::vector<AuthenticodeSignature> signatures{std::move(primary->signature)};
    if (!addNestedSignatures(primary->unsignedAttributes, signatures)) {
      return std::nullopt;
    }
    return signatures;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace muvra
