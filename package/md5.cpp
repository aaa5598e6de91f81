#include "package/md5.h"

#ifndef _WIN32
#include <openssl/evp.h>
#endif

#include <stdexcept>
#include <vector>

#include "base/file_stream.h"

namespace mvx {

// Windows computes the digest through its CNG, in md5_win.cpp.
#ifndef _WIN32
struct Md5::Context {
  EVP_MD_CTX* ctx;
};

Md5::Md5() : context_(new Context{EVP_MD_CTX_new()}) {
  if (context_->ctx == nullptr || EVP_DigestInit_ex(context_->ctx, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(context_->ctx);
    delete context_;
    throw std::runtime_error("MD5 is not available");
  }
}

Md5::~Md5() {
  EVP_MD_CTX_free(context_->ctx);
  delete context_;
}

void Md5::Update(const void* data, std::size_t length) {
  if (length > 0) EVP_DigestUpdate(context_->ctx, data, length);
}

std::array<std::uint8_t, 16> Md5::Finish() {
  std::array<std::uint8_t, 16> digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_->ctx, digest.data(), &length);
  return digest;
}
#endif

std::string HexDigest(const std::array<std::uint8_t, 16>& digest, bool upper_case) {
  const char* digits = upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string hex;
  hex.reserve(32);
  for (const std::uint8_t byte : digest) {
    hex += digits[byte >> 4];
    hex += digits[byte & 0x0F];
  }
  return hex;
}

std::string DigestFileHex(const std::string& file_name) {
  const std::unique_ptr<TFileStream> file = TFileStream::OpenRead(file_name, nullptr);
  if (!file) return {};
  if (file->Size() < 0) return {};
  Md5 md5;
  std::vector<std::uint8_t> block(8192);
  while (true) {
    const std::int64_t got = file->Read(block.data(), block.size());
    if (got < 0) return {};
    if (got == 0) break;
    md5.Update(block.data(), static_cast<std::size_t>(got));
  }
  return HexDigest(md5.Finish(), false);
}

}  // namespace mvx
