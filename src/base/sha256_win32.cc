// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include "base/hex_text.h"
#include "base/sha256.h"
#include "base/system_dll_win32.h"

namespace kt {
namespace {

// CNG's hash calls, taken from System32's bcrypt.dll (never imported: see SystemDll).
struct CngFunctions {
  static constexpr const wchar_t* kDll = L"bcrypt.dll";
  decltype(&BCryptOpenAlgorithmProvider) OpenAlgorithmProvider = nullptr;
  decltype(&BCryptCloseAlgorithmProvider) CloseAlgorithmProvider = nullptr;
  decltype(&BCryptCreateHash) CreateHash = nullptr;
  decltype(&BCryptHashData) HashData = nullptr;
  decltype(&BCryptFinishHash) FinishHash = nullptr;
  decltype(&BCryptDestroyHash) DestroyHash = nullptr;
  bool Bind(win32::SystemDll& dll) {
    return dll.Bind(OpenAlgorithmProvider, "BCryptOpenAlgorithmProvider") &&
           dll.Bind(CloseAlgorithmProvider, "BCryptCloseAlgorithmProvider") &&
           dll.Bind(CreateHash, "BCryptCreateHash") && dll.Bind(HashData, "BCryptHashData") &&
           dll.Bind(FinishHash, "BCryptFinishHash") && dll.Bind(DestroyHash, "BCryptDestroyHash");
  }
};

}  // namespace

std::string Sha256Hex(const std::uint8_t* data, std::size_t length) {
  const CngFunctions* cng = win32::LoadSystemFunctions<CngFunctions>();
  if (cng == nullptr) return std::string();
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (cng->OpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) return std::string();
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32];
  bool ok = cng->CreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
  // BCryptHashData takes a ULONG count: a larger input goes in pieces.
  const std::uint8_t* next = data;
  std::size_t left = length;
  while (ok && left > 0) {
    const ULONG piece = left > 0x40000000u ? 0x40000000u : static_cast<ULONG>(left);
    ok = cng->HashData(hash, const_cast<PUCHAR>(next), piece, 0) >= 0;
    next += piece;
    left -= piece;
  }
  ok = ok && cng->FinishHash(hash, digest, sizeof(digest), 0) >= 0;
  if (hash != nullptr) cng->DestroyHash(hash);
  cng->CloseAlgorithmProvider(algorithm, 0);
  return ok ? HexText(digest, sizeof(digest)) : std::string();
}

}  // namespace kt
