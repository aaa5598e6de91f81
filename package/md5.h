// MD5 (RFC 1321): OpenSSL's EVP interface on Linux (md5_openssl.cpp), Windows'
// CNG on Windows (md5_win.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mvx {

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  void Update(const void* data, std::size_t length);
  // The digest of everything given so far; the object is spent afterwards.
  std::array<std::uint8_t, 16> Finish();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// The digest's bytes in order, two hexadecimal digits each.
std::string HexDigest(const std::array<std::uint8_t, 16>& digest, bool upper_case);

// The lower-case digest of the whole named file read in blocks of 8192 bytes;
// empty text when the file cannot be opened, its size cannot be read or a read
// fails.
std::string DigestFileHex(const std::string& file_name);

}  // namespace mvx
