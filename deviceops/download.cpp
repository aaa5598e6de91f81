// File information, deletion and the firmware download (states 5, 7, 8, 9).
#include <array>
#include <limits>

#include "base/codepage.h"
#include "app/form.h"
#include "base/text.h"
#include "deviceops/file_exchange.h"
#include "protocol/layouts.h"
#include "protocol/packet.h"

namespace mvx {
namespace {

constexpr auto kDownloadBlock = static_cast<std::int64_t>(protocol::kBlockSize);

// Update type 1 talks to the device with the A family of download packets,
// every other type with the F family.
std::string FamilyKeyword(int update_type, const char* rest) {
  return std::string(update_type == 1 ? "A" : "F") + rest;
}

bool IsAcknowledgement(std::string_view keyword) {
  return keyword == "ACPR" || keyword == "FCPR";
}

}  // namespace

bool TForm1::DeviceFileName(std::string& name) {
  if (Utf8ToCp932(PackageFileName, name)) return true;
  LogNote("Error : The file name cannot be sent to the device.");
  StopSequencer();
  return false;
}

std::int32_t TForm1::ReplyCode() const {
  return static_cast<std::int32_t>(protocol::PacketReader(ResponseText).U32LE(4));
}

std::int32_t TForm1::ReplyStatus() const {
  return static_cast<std::int32_t>(protocol::PacketReader(ResponseText).U32LE(8));
}

void TForm1::FileInfoReply() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  if (!StartsWith(ResponseText, "FINS")) return;

  protocol::FileInfoPacket info = protocol::FileInfoPacket::Read(ResponseText);
  // The name field is padded: the log shows the name alone.
  info.FileName = Cp932ToUtf8(Trim(info.FileName));
  for (const std::string& line : deviceops::FileInfoLogLines(info)) WriteLog(line, 0);

  if (info.Status == 1) {
    std::string name;
    if (!DeviceFileName(name)) return;
    SendCommand("DELS " + name);
    SequencerState = 7;
  } else {
    SequencerState = 8;
  }
}

void TForm1::DeleteReply() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  const protocol::PacketReader packet(ResponseText);
  if (packet.Keyword() != "DELE") return;
  if (packet.U8(63) == 0) {
    WriteLog("Delete file : OK", 0);
    SequencerState = 8;
  } else {
    WriteLog("Error : Failed to delete file.", 0);
    SequencerState = 99;
  }
}

void TForm1::AbortDownload() {
  LogNote("Error : Failed to download data.");
  StopSequencer();
}

void TForm1::DownloadBegin() {
  const std::string keyword = FamilyKeyword(UpdateType, "CPS");
  std::string name;
  if (!DeviceFileName(name)) return;
  const std::int64_t size = FirmwareImage ? FirmwareImage->Size() : -1;
  // The start packet announces the size in 32 bits.
  if (size < 0 || size > std::numeric_limits<std::int32_t>::max() || !FirmwareImage->Seek(0)) {
    AbortDownload();
    return;
  }
  DownloadImageSize = size;
  ProgressBar1.SetPosition(0);
  ProgressBar1.SetMax(size);
  LogNote("source file size:" + std::to_string(size));

  const deviceops::DownloadPlan plan = deviceops::PlanDownload(size);
  DownloadDataPackets = plan.DataPackets;
  DownloadPacketCount = plan.PacketCount;
  LogNote(Format("source file size hex:%08X", static_cast<unsigned>(size)));
  LogNote("packet count:" + std::to_string(DownloadPacketCount));
  LogNote(Format("source packet size hex:%08X", static_cast<unsigned>(DownloadPacketCount)));

  SendCommand(protocol::PacketWriter()
                  .Keyword(keyword)
                  .U32LE(static_cast<std::uint32_t>(size))
                  .U32LE(static_cast<std::uint32_t>(DownloadPacketCount))
                  .Bytes(name)
                  .Take());
  SequencerState = 9;
}

void TForm1::DownloadTransfer() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  if (!IsAcknowledgement(protocol::PacketReader(ResponseText).Keyword())) return;

  const auto code = static_cast<std::uint32_t>(ReplyCode());
  const std::int32_t status = ReplyStatus();
  if (status != 0) {
    LogNote("ACPRステータス違い:" + std::to_string(status));
    AbortDownload();
    return;
  }
  switch (code) {
    case protocol::kAckStart:
    case protocol::kAckStartAlt:
      DownloadPacketIndex = 0;
      [[fallthrough]];
    case protocol::kAckData:
    case protocol::kAckDataAlt:
      if (DownloadPacketIndex < DownloadDataPackets) {
        SendDownloadData();
        ++DownloadPacketIndex;
      } else {
        SendDownloadEnd();
      }
      break;
    case protocol::kAckEnd:
    case protocol::kAckEndAlt:
      WriteLog("Download : Done", 1);
      SequencerState = 10;
      break;
    default:
      break;  // not an acknowledgement the download knows: wait for the next
  }
}

// Each packet is read from the image just before it leaves, at the offset its
// place in the plan gives: a repeated acknowledgement then repeats a packet
// with the right bytes instead of shifting the image.
void TForm1::SendDownloadData() {
  std::array<char, protocol::kBlockSize> block;
  const std::int64_t offset = std::int64_t{DownloadPacketIndex} * kDownloadBlock;
  // A data packet is always full; anything less means the image changed or
  // could not be read since the plan was made.
  if (ReadImageBlock(offset, block.data(), block.size()) != kDownloadBlock) {
    AbortDownload();
    return;
  }
  ProgressBar1.SetPosition(offset + kDownloadBlock);
  SendCommand(protocol::PacketWriter()
                  .Keyword(FamilyKeyword(UpdateType, "CPD"))
                  .U32LE(static_cast<std::uint32_t>(DownloadPacketIndex))
                  .Bytes(std::string_view(block.data(), block.size()))
                  .Take());
}

void TForm1::SendDownloadEnd() {
  std::array<char, protocol::kBlockSize> block;
  const deviceops::DownloadPlan plan = deviceops::PlanDownload(DownloadImageSize);
  const std::int64_t offset = DownloadImageSize - plan.EndBytes;
  const std::int64_t got = ReadImageBlock(offset, block.data(), block.size());
  if (got != plan.EndBytes) {
    AbortDownload();
    return;
  }
  ProgressBar1.SetPosition(offset + got);
  SendCommand(protocol::PacketWriter()
                  .Keyword(FamilyKeyword(UpdateType, "CPE"))
                  .U16LE(static_cast<std::uint16_t>(got))
                  .Bytes(std::string_view(block.data(), static_cast<std::size_t>(got)))
                  .Take());
}

std::int64_t TForm1::ReadImageBlock(std::int64_t offset, char* buffer, std::size_t length) {
  if (!FirmwareImage) return -1;
  if (FirmwareImage->Position() != offset && !FirmwareImage->Seek(offset)) return -1;
  return FirmwareImage->Read(buffer, length);
}

}  // namespace mvx
