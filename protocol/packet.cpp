#include "protocol/packet.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace mvx::protocol {

bool IsDevicePacket(std::string_view bytes) {
  if (bytes.size() < 4) return false;
  const std::string_view head = bytes.substr(0, 4);
  for (std::string_view keyword : kDeviceKeywords)
    if (head == keyword) return true;
  return false;
}

std::size_t PacketReader::Available(std::size_t offset) const {
  return offset < bytes_.size() ? bytes_.size() - offset : 0;
}

std::uint8_t PacketReader::U8(std::size_t offset) const {
  return Available(offset) > 0 ? static_cast<std::uint8_t>(bytes_[offset]) : 0;
}

// The byte skip places after offset, without letting the sum wrap around to
// the start of the packet.
std::uint8_t PacketReader::U8After(std::size_t offset, std::size_t skip) const {
  return skip < Available(offset) ? static_cast<std::uint8_t>(bytes_[offset + skip]) : 0;
}

std::uint16_t PacketReader::U16LE(std::size_t offset) const {
  return LoadLE16(Field<2>(offset).data());
}

std::uint16_t PacketReader::U16BE(std::size_t offset) const {
  return LoadBE16(Field<2>(offset).data());
}

std::uint32_t PacketReader::U32LE(std::size_t offset) const {
  return LoadLE32(Field<4>(offset).data());
}

std::uint32_t PacketReader::U32BE(std::size_t offset) const {
  return LoadBE32(Field<4>(offset).data());
}

std::string PacketReader::Bytes(std::size_t offset, std::size_t length) const {
  std::string out(length, '\0');
  const std::size_t present = std::min(length, Available(offset));
  if (present > 0) std::memcpy(out.data(), bytes_.data() + offset, present);
  return out;
}

std::string PacketReader::Text(std::size_t offset, std::size_t max_length) const {
  std::string out;
  const std::size_t present = std::min(max_length, Available(offset));
  for (std::size_t i = 0; i < present; ++i) {
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
  std::uint8_t bytes[2];
  StoreLE16(bytes, value);
  return Raw(bytes, sizeof bytes);
}

PacketWriter& PacketWriter::U16BE(std::uint16_t value) {
  std::uint8_t bytes[2];
  StoreBE16(bytes, value);
  return Raw(bytes, sizeof bytes);
}

PacketWriter& PacketWriter::U32LE(std::uint32_t value) {
  std::uint8_t bytes[4];
  StoreLE32(bytes, value);
  return Raw(bytes, sizeof bytes);
}

PacketWriter& PacketWriter::U32BE(std::uint32_t value) {
  std::uint8_t bytes[4];
  StoreBE32(bytes, value);
  return Raw(bytes, sizeof bytes);
}

PacketWriter& PacketWriter::Raw(const std::uint8_t* bytes, std::size_t length) {
  data_.append(reinterpret_cast<const char*>(bytes), length);
  return *this;
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
