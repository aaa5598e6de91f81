#include "emulator/device_config.h"

#include <openssl/evp.h>

namespace mvx::emu {

std::string Md5Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

std::uint32_t StoredFile::Size() const {
  return DeclaredSize ? *DeclaredSize : static_cast<std::uint32_t>(Content.size());
}

std::string StoredFile::Digest() const {
  return DeclaredDigest.empty() ? Md5Hex(Content) : DeclaredDigest;
}

std::string InfoFileText(const SerialItems& items) {
  return "ser " + items.Serial + "\r\npcb " + items.Pcb + "\r\nbat " + items.Bat + "\r\n";
}

}  // namespace mvx::emu
