// The device's binary packets: a keyword of four ASCII letters, then fields at
// fixed offsets. Readers are bounds-checked: a byte beyond the end of a short
// packet reads as zero, exactly as the zero padding of a full report would.
// The tool and the device emulator both build and read packets with these.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mvx::protocol {

// Keywords of the packets the device sends.
inline constexpr std::string_view kDeviceKeywords[] = {"FINS", "DELE", "ACPR", "FCPR", "GCMD",
                                                       "UPLS", "UPLD", "UPLE", "UPLI"};

// True when the first four bytes are one of the device's packet keywords: such
// a response is binary and is never cut at a line terminator.
bool IsDevicePacket(std::string_view bytes);

class PacketReader {
 public:
  explicit PacketReader(std::string_view bytes) : bytes_(bytes) {}
  std::size_t Size() const { return bytes_.size(); }
  std::string Keyword() const { return Bytes(0, 4); }
  std::uint8_t U8(std::size_t offset) const;
  std::uint16_t U16LE(std::size_t offset) const;
  std::uint16_t U16BE(std::size_t offset) const;
  std::uint32_t U32LE(std::size_t offset) const;
  std::uint32_t U32BE(std::size_t offset) const;
  // length bytes from offset, zeros where the packet is short.
  std::string Bytes(std::size_t offset, std::size_t length) const;
  // Text at offset up to its first NUL byte, at most max_length bytes.
  std::string Text(std::size_t offset, std::size_t max_length) const;

 private:
  // Bytes of the packet from offset on (0 at or past its end).
  std::size_t Available(std::size_t offset) const;
  std::uint8_t U8After(std::size_t offset, std::size_t skip) const;
  // N bytes from offset, zeros where the packet is short.
  template <std::size_t N>
  std::array<std::uint8_t, N> Field(std::size_t offset) const {
    std::array<std::uint8_t, N> field{};
    for (std::size_t i = 0; i < N; ++i) field[i] = U8After(offset, i);
    return field;
  }
  std::string_view bytes_;
};

class PacketWriter {
 public:
  PacketWriter& Keyword(std::string_view keyword);
  PacketWriter& U8(std::uint8_t value);
  PacketWriter& U16LE(std::uint16_t value);
  PacketWriter& U16BE(std::uint16_t value);
  PacketWriter& U32LE(std::uint32_t value);
  PacketWriter& U32BE(std::uint32_t value);
  PacketWriter& Bytes(std::string_view bytes);
  // Zero bytes up to the given total length (nothing when already longer).
  PacketWriter& PadTo(std::size_t length);
  const std::string& Data() const { return data_; }
  std::string Take() { return std::move(data_); }

 private:
  PacketWriter& Raw(const std::uint8_t* bytes, std::size_t length);
  std::string data_;
};

}  // namespace mvx::protocol
