#include <openssl/evp.h>

#include "base/hex_text.h"
#include "base/sha256.h"

namespace kt {

std::string Sha256Hex(const std::uint8_t* data, std::size_t length) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_Digest(data, length, digest, &digestLength, EVP_sha256(), nullptr) != 1) return std::string();
  return HexText(digest, digestLength);
}

}  // namespace kt
