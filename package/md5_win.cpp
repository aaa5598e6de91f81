// MD5 (RFC 1321) through Windows' CNG (bcrypt), which every supported Windows
// has: the Windows build needs no OpenSSL.
#include "package/md5.h"

#include "base/windows_api.h"
// after windows.h
#include <bcrypt.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace mvx {

struct Md5::Context {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool failed = false;

  ~Context() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Md5::Md5() : context_(std::make_unique<Context>()) {
  // The hash object's memory is left to CNG (null buffer, Windows 7 and later).
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&context_->algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)) ||
      !BCRYPT_SUCCESS(
          BCryptCreateHash(context_->algorithm, &context_->hash, nullptr, 0, nullptr, 0, 0)))
    throw std::runtime_error("MD5 is not available");
}

Md5::~Md5() = default;

void Md5::Update(const void* data, std::size_t length) {
  // BCryptHashData takes at most 4 GiB at a time and a non-const pointer,
  // which it only reads.
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (length > 0 && !context_->failed) {
    const ULONG part =
        static_cast<ULONG>(std::min<std::size_t>(length, std::numeric_limits<ULONG>::max()));
    if (!BCRYPT_SUCCESS(BCryptHashData(context_->hash, bytes, part, 0))) context_->failed = true;
    bytes += part;
    length -= part;
  }
}

std::array<std::uint8_t, 16> Md5::Finish() {
  std::array<std::uint8_t, 16> digest{};
  if (context_->failed ||
      !BCRYPT_SUCCESS(BCryptFinishHash(context_->hash, digest.data(), digest.size(), 0)))
    throw std::runtime_error("MD5 could not be computed");
  return digest;
}

}  // namespace mvx
