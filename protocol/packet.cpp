#include "protocol/packet.h"

namespace mvx::protocol {

bool IsDevicePacket(std::string_view bytes) {
  if (bytes.size() < 4) return false;
  const std::string_view head = bytes.substr(0, 4);
  for (std::string_view keyword : kDeviceKeywords)
    if (head == keyword) return true;
  return false;
}

std::uint8_t PacketReader::U8(std::size_t offset) const {
  return offset < bytes_.size() ? static_cast<std::uint8_t>(bytes_[offset]) : 0;
}

std::uint16_t PacketReader::U16LE(std::size_t offset) const {
  return static_cast<std::uint16_t>(U8(offset) | (U8(offset + 1) << 8));
}

std::uint16_t PacketReader::U16BE(std::size_t offset) const {
  return static_cast<std::uint16_t>((U8(offset) << 8) | U8(offset + 1));
}

std::uint32_t PacketReader::U32LE(std::size_t offset) const {
  return static_cast<std::uint32_t>(U16LE(offset)) |
         (static_cast<std::uint32_t>(U16LE(offset + 2)) << 16);
}

std::uint32_t PacketReader::U32BE(std::size_t offset) const {
  return (static_cast<std::uint32_t>(U16BE(offset)) << 16) | U16BE(offset + 2);
}

std::string PacketReader::Bytes(std::size_t offset, std::size_t length) const {
  std::string out(length, '\0');
  for (std::size_t i = 0; i < length && offset + i < bytes_.size(); ++i)
    out[i] = bytes_[offset + i];
  return out;
}

std::string PacketReader::Text(std::size_t offset, std::size_t max_length) const {
  std::string out;
  for (std::size_t i = 0; i < max_length && offset + i < bytes_.size(); ++i) {
    const char c = bytes_[offset + i];
    if (c == '\0') break;
    out += c;
  }
  return out;
}

PacketWriter& PacketWriter::Keyword(std::string_view keyword) {
  return Bytes(keyword);
}

PacketWriter& PacketWriter::U8(std::uint8_t value) {
  data_ += static_cast<char>(value);
  return *this;
}

PacketWriter& PacketWriter::U16LE(std::uint16_t value) {
  U8(static_cast<std::uint8_t>(value));
  return U8(static_cast<std::uint8_t>(value >> 8));
}

PacketWriter& PacketWriter::U16BE(std::uint16_t value) {
  U8(static_cast<std::uint8_t>(value >> 8));
  return U8(static_cast<std::uint8_t>(value));
}

PacketWriter& PacketWriter::U32LE(std::uint32_t value) {
  U16LE(static_cast<std::uint16_t>(value));
  return U16LE(static_cast<std::uint16_t>(value >> 16));
}

PacketWriter& PacketWriter::U32BE(std::uint32_t value) {
  U16BE(static_cast<std::uint16_t>(value >> 16));
  return U16BE(static_cast<std::uint16_t>(value));
}

PacketWriter& PacketWriter::Bytes(std::string_view bytes) {
  data_.append(bytes);
  return *this;
}

PacketWriter& PacketWriter::PadTo(std::size_t length) {
  if (data_.size() < length) data_.resize(length, '\0');
  return *this;
}

}  // namespace mvx::protocol
