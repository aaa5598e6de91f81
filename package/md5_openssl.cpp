// MD5 through OpenSSL's EVP interface (Windows uses its CNG, md5_win.cpp).
#include <openssl/evp.h>

#include <stdexcept>

#include "package/md5.h"

namespace mvx {

struct Md5::Context {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(ctx); }
};

Md5::Md5() : context_(std::make_unique<Context>()) {
  if (context_->ctx == nullptr || EVP_DigestInit_ex(context_->ctx, EVP_md5(), nullptr) != 1)
    throw std::runtime_error("MD5 is not available");
}

Md5::~Md5() = default;

void Md5::Update(const void* data, std::size_t length) {
  if (length > 0) EVP_DigestUpdate(context_->ctx, data, length);
}

std::array<std::uint8_t, 16> Md5::Finish() {
  std::array<std::uint8_t, 16> digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_->ctx, digest.data(), &length);
  return digest;
}

}  // namespace mvx
