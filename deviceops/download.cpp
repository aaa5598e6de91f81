// File information, deletion and the firmware download (states 5, 7, 8, 9).
#include <algorithm>
#include <array>
#include <limits>

#include "app/form.h"
#include "base/codepage.h"
#include "base/text.h"
#include "deviceops/file_exchange.h"
#include "protocol/layouts.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

constexpr auto kDownloadBlock = static_cast<std::int64_t>(protocol::kBlockSize);
// A data packet (keyword, number, a whole block) is the longest the download
// sends after its start packet; the end packet carries at most a block too.
constexpr std::size_t kLongestTransferPacket = protocol::kBlockHeader + protocol::kBlockSize;
// The longest answer: an upload data packet of the information file.
constexpr std::size_t kLongestAnswerPacket = protocol::kBlockHeader + protocol::kBlockSize;
// How often the device may begin the transfer again, or answer the end
// packet with something else than its end, before the download gives up.
constexpr std::int32_t kTransferTries = 3;

}  // namespace

bool TForm1::DeviceFileName(std::string& name) {
  if (Utf8ToCp932(PackageFileName, name)) return true;
  LogNote("Error : The file name cannot be sent to the device.");
  StopSequencer();
  return false;
}

std::int32_t TForm1::ReplyCode() const {
  return static_cast<std::int32_t>(protocol::ReplyWords::Read(ResponseText).Code);
}

std::int32_t TForm1::ReplyStatus() const {
  return static_cast<std::int32_t>(protocol::ReplyWords::Read(ResponseText).Status);
}

void TForm1::FileInfoReply() {
  if (!TakeResponse()) return;
  if (!StartsWith(ResponseText, protocol::FileInfoPacket::kKeyword)) return;

  protocol::FileInfoPacket info = protocol::FileInfoPacket::Read(ResponseText);
  // The name field is padded: the log shows the name alone.
  info.FileName = Cp932ToUtf8(Trim(info.FileName));
  for (const std::string& line : deviceops::FileInfoLogLines(info)) LogReceived(line);

  if (info.Status == 1) {
    std::string name;
    if (!DeviceFileName(name)) return;
    SendCommand("DELS " + name);
    SequencerState = state::DeleteReply;
  } else {
    SequencerState = state::DownloadBegin;
  }
}

void TForm1::DeleteReply() {
  if (!TakeResponse()) return;
  if (!StartsWith(ResponseText, protocol::DeleteAnswerPacket::kKeyword)) return;
  if (protocol::DeleteAnswerPacket::Read(ResponseText).Result == 0) {
    LogReceived("Delete file : OK");
    SequencerState = state::DownloadBegin;
  } else {
    LogReceived("Error : Failed to delete file.");
    SequencerState = state::Closing;
  }
}

bool TForm1::ReportsCarry(std::size_t packet_size) {
  // A command line longer than the device's output report is cut to it: a
  // transfer packet cut so would leave the device with a file of the right
  // size and the wrong content. Its answers must fit its input reports as
  // well: the information file comes back in packets as long as the
  // download's, and bytes a short report lacks would be missing from it.
  struct Direction {
    std::size_t room, needed;
    const char* what;
    const char* label;
  };
  const Direction directions[] = {
      {CommandRoom(), packet_size, "receive the firmware",
       "This Merovox cannot receive the firmware.\r\n"
       "このMerovoxはファームウェアを受信できません。"},
      {InputRoom(), kLongestAnswerPacket, "send its information file",
       "This Merovox cannot send its information file.\r\n"
       "このMerovoxは情報ファイルを送信できません。"},
  };
  for (const Direction& d : directions) {
    if (d.room >= d.needed) continue;
    LogNote(std::string("Error : Merovox cannot ") + d.what + " (" + std::to_string(d.room) +
            " bytes per report, " + std::to_string(d.needed) + " needed).");
    Label1.SetCaption(d.label);
    StopSequencer();
    return false;
  }
  return true;
}

void TForm1::AbortDownload() {
  LogNote("Error : Failed to download data.");
  StopSequencer();
}

void TForm1::DownloadBegin() {
  std::string name;
  if (!DeviceFileName(name)) return;
  const std::int64_t size = FirmwareImage ? FirmwareImage->Size() : -1;
  // The start packet announces the size in 32 bits.
  if (size < 0 || size > std::numeric_limits<std::int32_t>::max() || !FirmwareImage->Seek(0)) {
    AbortDownload();
    return;
  }
  DownloadImageSize = size;
  DownloadEndSent = false;
  DownloadEndsSent = 0;
  DownloadRestarts = 0;
  ProgressBar1.SetPosition(0);
  ProgressBar1.SetMax(size);
  LogNote("source file size:" + std::to_string(size));

  const deviceops::DownloadPlan plan = deviceops::PlanDownload(size);
  DownloadDataPackets = plan.DataPackets;
  DownloadPacketCount = plan.PacketCount;
  LogNote(Format("source file size hex:%08X", static_cast<unsigned>(size)));
  LogNote("packet count:" + std::to_string(DownloadPacketCount));
  LogNote(Format("source packet size hex:%08X", static_cast<unsigned>(DownloadPacketCount)));

  const std::string start =
      protocol::DownloadStartPacket{protocol::DownloadFamily(UpdateType == UpdateKind::Type1),
                                    static_cast<std::uint32_t>(size),
                                    static_cast<std::uint32_t>(DownloadPacketCount), name}
          .Write();
  if (!ReportsCarry(std::max(start.size(), kLongestTransferPacket))) return;
  SendCommand(start);
  SequencerState = state::DownloadTransfer;
}

void TForm1::DownloadTransfer() {
  if (!TakeResponse()) return;
  if (!protocol::DownloadAckPacket::Matches(ResponseText)) return;

  const protocol::DownloadAckPacket ack = protocol::DownloadAckPacket::Read(ResponseText);
  const std::uint32_t code = ack.Code;
  if (ack.Status != 0) {
    LogNote("ACPRステータス違い:" + std::to_string(static_cast<std::int32_t>(ack.Status)));
    AbortDownload();
    return;
  }
  switch (code) {
    case protocol::kAckStart:
    case protocol::kAckStartAlt:
      // The first start acknowledgement begins the transfer; a later one
      // begins it again, a few times at most.
      if (++DownloadRestarts > kTransferTries + 1) {
        LogNote("Error : Merovox began the download again too often.");
        AbortDownload();
        return;
      }
      DownloadPacketIndex = 0;
      DownloadEndSent = false;
      [[fallthrough]];
    case protocol::kAckData:
    case protocol::kAckDataAlt:
      if (DownloadPacketIndex < DownloadDataPackets) {
        SendDownloadData();
        ++DownloadPacketIndex;
      } else if (DownloadEndsSent >= kTransferTries) {
        LogNote("Error : Merovox did not take the end of the download.");
        AbortDownload();
      } else {
        SendDownloadEnd();
      }
      break;
    case protocol::kAckEnd:
    case protocol::kAckEndAlt:
      // Only the end packet ends the transfer: an end before it would leave
      // a truncated file on the device.
      if (!DownloadEndSent) {
        LogNote("Error : Merovox ended the download before its last packet.");
        AbortDownload();
        return;
      }
      LogSent("Download : Done");
      SequencerState = state::VerifyBegin;
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
  SendCommand(protocol::DownloadDataPacket{
      protocol::DownloadFamily(UpdateType == UpdateKind::Type1),
      static_cast<std::uint32_t>(DownloadPacketIndex), std::string(block.data(), block.size())}
                  .Write());
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
  protocol::DownloadEndPacket end;
  end.Family = protocol::DownloadFamily(UpdateType == UpdateKind::Type1);
  end.Data.assign(block.data(), static_cast<std::size_t>(got));
  SendCommand(end.Write());
  DownloadEndSent = true;
  ++DownloadEndsSent;
}

std::int64_t TForm1::ReadImageBlock(std::int64_t offset, char* buffer, std::size_t length) {
  if (!FirmwareImage) return -1;
  if (FirmwareImage->Position() != offset && !FirmwareImage->Seek(offset)) return -1;
  return FirmwareImage->Read(buffer, length);
}

}  // namespace mvx
