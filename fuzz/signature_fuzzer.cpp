// Arbitrary bytes as a program and as its certificate table: the walk answers and never throws;
// a table it finds lies inside the file, and what it reads of a signature lies inside the table.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "proof/authenticode.h"
#include "require.h"

namespace {

bool inside(muvra::ByteView part, muvra::ByteView whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void walkTable(muvra::ByteView table) {
  const auto signatures = muvra::readSignatures(table);
  if (!signatures) {
    return;
  }
  fuzz::require(!signatures->empty());
  for (const muvra::AuthenticodeSignature& signature : *signatures) {
    fuzz::require(inside(signature.fileDigest, table) && inside(signature.content, table) &&
                  inside(signature.messageDigest, table) && inside(signature.signature, table) &&
                  inside(signature.signerKey.subjectPublicKeyInfo, table));
    fuzz::require(!signature.signedAttributes.empty() && signature.signedAttributes[0] == 0x31);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream stream(bytes);
  if (const auto table = muvra::findSignatureTable(stream, size)) {
    fuzz::require(table->size >= 8 && table->offset + table->size <= size);
    walkTable(muvra::ByteView(data + table->offset, table->size));
  }
  walkTable(muvra::ByteView(data, size));
  return 0;
}
