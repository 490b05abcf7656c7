// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include "base/hex_text.h"
#include "base/sha256.h"

namespace kt {

std::string Sha256Hex(const std::uint8_t* data, std::size_t length) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) return std::string();
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32];
  bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
  // BCryptHashData takes a ULONG count: a larger input goes in pieces.
  const std::uint8_t* next = data;
  std::size_t left = length;
  while (ok && left > 0) {
    const ULONG piece = left > 0x40000000u ? 0x40000000u : static_cast<ULONG>(left);
    ok = BCryptHashData(hash, const_cast<PUCHAR>(next), piece, 0) >= 0;
    next += piece;
    left -= piece;
  }
  ok = ok && BCryptFinishHash(hash, digest, sizeof(digest), 0) >= 0;
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok ? HexText(digest, sizeof(digest)) : std::string();
}

}  // namespace kt
