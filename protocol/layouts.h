// One declaration per binary packet of the device protocol: its keyword, its
// fields at their fixed offsets, a reader and a writer. The tool reads what the
// device sends and the device emulator reads what the tool sends, through the
// same declarations. Every reader is bounds-checked (PacketReader): a field
// beyond the end of a short packet reads as zero.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mvx::protocol {

// The device's information file, which the tool uploads after the install
// (and writes into its working folder under the same name).
inline constexpr const char* kInfoFileName = "TVINFO.INI";

// Bytes of image or file data in one download or upload data packet: with the
// 8-byte header a data packet fills 1024 bytes.
inline constexpr std::size_t kBlockSize = 1016;
inline constexpr std::size_t kBlockHeader = 8;

// Acknowledgement codes of the download (two spellings each) and of the upload.
inline constexpr std::uint32_t kAckStart = 0x1001, kAckStartAlt = 0x1010;
inline constexpr std::uint32_t kAckData = 0x1002, kAckDataAlt = 0x1020;
inline constexpr std::uint32_t kAckEnd = 0x1003, kAckEndAlt = 0x1030;

// "GCMD" sub-commands the tool sends and result codes the device answers.
inline constexpr std::uint32_t kGcmdVerify = 0x1001;
inline constexpr std::uint32_t kGcmdInstall = 0x1002;
inline constexpr std::uint32_t kGcmdDataCheck = 0x100A;
inline constexpr std::uint32_t kGcmdResultVerify = 1;
inline constexpr std::uint32_t kGcmdResultBackup = 2;
inline constexpr std::uint32_t kGcmdResultDigest = 8;

// The letter of a download family: 'A' ("ACPS", "ACPD", ...) or 'F'.
std::string FamilyKeyword(char family, std::string_view suffix);
// Update type 1 talks to the device with the A family, every other type with
// the F family.
constexpr char DownloadFamily(bool update_type_1) {
  return update_type_1 ? 'A' : 'F';
}

// The two words every answer packet carries after its keyword: a code (the
// acknowledged packet, the "GCMD" result) at offset 4 and a status at 8.
struct ReplyWords {
  std::uint32_t Code = 0;
  std::uint32_t Status = 0;

  static ReplyWords Read(std::string_view bytes);
};

// "FINS": file information, device to tool. Numbers are big-endian.
struct FileInfoPacket {
  static constexpr std::string_view kKeyword = "FINS";
  static constexpr std::size_t kNameOffset = 18, kNameLength = 45, kStatusOffset = 63, kLength = 64;
  std::uint32_t FileSize = 0;
  std::uint16_t FileId = 0;
  std::uint8_t Attributes = 0;
  std::uint8_t Hour = 0, Minute = 0, Second = 0, Day = 0, Month = 0;
  std::uint16_t Year = 0;
  std::string FileName;  // raw 45 bytes when read; at most 45 written
  std::uint8_t Status = 0;

  static FileInfoPacket Read(std::string_view bytes);
  std::string Write() const;
};

// "DELE": the delete answer, device to tool; result 0 is deleted.
struct DeleteAnswerPacket {
  static constexpr std::string_view kKeyword = "DELE";
  static constexpr std::size_t kResultOffset = 63, kLength = 64;
  std::uint8_t Result = 0;

  static DeleteAnswerPacket Read(std::string_view bytes);
  std::string Write() const;
};

// "ACPS"/"FCPS": download start, tool to device.
struct DownloadStartPacket {
  char Family = 'F';
  std::uint32_t ImageSize = 0;
  std::uint32_t PacketCount = 0;
  std::string FileName;  // no terminator, no padding

  static DownloadStartPacket Read(std::string_view bytes);
  std::string Write() const;
};

// "ACPD"/"FCPD": one data packet of 1016 image bytes, tool to device.
struct DownloadDataPacket {
  char Family = 'F';
  std::uint32_t Sequence = 0;
  std::string Data;  // kBlockSize bytes when read

  static DownloadDataPacket Read(std::string_view bytes);
  std::string Write() const;
};

// "ACPE"/"FCPE": the end packet with the last 1 to 1016 image bytes.
struct DownloadEndPacket {
  static constexpr std::size_t kDataOffset = 6;
  char Family = 'F';
  std::uint16_t Count = 0;  // as the packet says; Data holds at most kBlockSize
  std::string Data;

  static DownloadEndPacket Read(std::string_view bytes);
  std::string Write() const;  // Count is taken from Data
};

// "ACPR"/"FCPR": acknowledgement of a download packet, device to tool.
struct DownloadAckPacket {
  static constexpr std::size_t kLength = 12;
  // "ACPR" or "FCPR": the device answers in either family.
  static bool Matches(std::string_view bytes);
  char Family = 'F';
  std::uint32_t Code = 0;
  std::uint32_t Status = 0;

  static DownloadAckPacket Read(std::string_view bytes);
  std::string Write() const;
};

// "GCMD" command, tool to device: verify and install carry a file name,
// the data check the image size.
struct GcmdCommandPacket {
  static constexpr std::string_view kKeyword = "GCMD";
  std::uint32_t SubCommand = 0;
  std::uint32_t Argument = 0;
  std::string FileName;  // empty: nothing after offset 11

  static GcmdCommandPacket Read(std::string_view bytes);
  std::string Write() const;
};

// "GCMD" answer, device to tool; the digest is present with result 8 only.
struct GcmdAnswerPacket {
  static constexpr std::string_view kKeyword = "GCMD";
  static constexpr std::size_t kDigestOffset = 12, kLength = 28;
  std::uint32_t Result = 0;
  std::uint32_t Status = 0;
  std::array<std::uint8_t, 16> Digest{};

  static GcmdAnswerPacket Read(std::string_view bytes);
  std::string Write() const;
  // The digest as 32 upper-case hexadecimal digits.
  std::string DigestText() const;
};

// "UPLS": upload start, device to tool.
struct UploadStartPacket {
  static constexpr std::string_view kKeyword = "UPLS";
  static constexpr std::size_t kNameOffset = 12, kNameLength = 52;
  std::uint32_t Word1 = 0, Word2 = 0;
  std::string FileName;

  static UploadStartPacket Read(std::string_view bytes);
  std::string Write() const;
};

// "UPLD": one upload data packet of 1016 file bytes, device to tool.
struct UploadDataPacket {
  static constexpr std::string_view kKeyword = "UPLD";
  std::uint32_t Number = 0;
  std::string Data;  // kBlockSize bytes when read; padded to it when written

  static UploadDataPacket Read(std::string_view bytes);
  std::string Write() const;
};

// "UPLE": upload end with the last 0 to 1016 file bytes, device to tool.
struct UploadEndPacket {
  static constexpr std::string_view kKeyword = "UPLE";
  std::uint32_t Count = 0;  // as the packet says; Data holds at most kBlockSize
  std::string Data;

  static UploadEndPacket Read(std::string_view bytes);
  std::string Write() const;  // Count is written as given
};

// "UPLI": upload information, device to tool.
struct UploadInfoPacket {
  static constexpr std::string_view kKeyword = "UPLI";
  static constexpr std::size_t kStampOffset = 8, kStampLength = 56;
  std::uint32_t FileSize = 0;
  std::string TimeStamp;

  static UploadInfoPacket Read(std::string_view bytes);
  std::string Write() const;
};

// "UPLR": the tool's acknowledgement of an upload packet; status 0 accepts.
struct UploadAckPacket {
  static constexpr std::string_view kKeyword = "UPLR";
  std::uint32_t Code = 0;
  std::uint32_t Status = 0;

  static UploadAckPacket Read(std::string_view bytes);
  std::string Write() const;
};

}  // namespace mvx::protocol
