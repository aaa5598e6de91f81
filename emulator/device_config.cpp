#include "emulator/device_config.h"

#include "package/md5.h"

namespace mvx::emu {

std::string Md5Hex(std::string_view bytes) {
  Md5 md5;
  md5.Update(bytes.data(), bytes.size());
  return HexDigest(md5.Finish(), true);
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
