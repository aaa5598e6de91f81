// The device's information file and the serial-number restore (states 21, 32,
// 33, 34, 35).
#include "base/codepage.h"
#include "base/errors.h"
#include "app/form.h"
#include "base/text.h"
#include "deviceops/file_exchange.h"
#include "protocol/layouts.h"
#include "protocol/packet.h"

namespace mvx {

void TForm1::RequestInfoUpload() {
  SendCommand(std::string("UPLS ") + kInfoFile);
  SequencerState = 33;
}

void TForm1::SendUploadReply(std::int32_t code, std::int32_t status) {
  SendCommand(protocol::PacketWriter()
                  .Keyword("UPLR")
                  .U32LE(static_cast<std::uint32_t>(code))
                  .U32LE(static_cast<std::uint32_t>(status))
                  .Take());
}

void TForm1::NewVersionReply() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  if (!StartsWith(ResponseText, "OK")) return;
  NewVersionText = RemoveAll(ResponseText, "OK ");
  if (UpdateType == 1) {
    RequestInfoUpload();
  } else {
    SendCommand("GSER");
    SequencerState = 32;
  }
}

void TForm1::SerialInfoReply() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  if (StartsWith(ResponseText, "NG")) {
    RequestInfoUpload();
    return;
  }
  if (!StartsWith(ResponseText, "OK")) return;

  const deviceops::SerialInfo info = deviceops::ParseSerialAnswer(ResponseText);
  const std::string serial = Cp932ToUtf8(info.Serial);
  LogNote("SER : " + serial);
  LogNote("PCB : " + Cp932ToUtf8(info.Pcb));
  LogNote("BAT : " + Cp932ToUtf8(info.Bat));
  LabelSerialNumber.SetCaption(serial);
  LabelClipboardCopyMessage.SetCaption("");

  // An answer without all three items cannot vouch for the serial number.
  if (info.Complete && deviceops::IsWellFormedSerial(info.Serial)) {
    SendCommand("CLEAR");
    SequencerState = 35;
  } else {
    RequestInfoUpload();
  }
}

void TForm1::UploadTransfer() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  const protocol::PacketReader packet(ResponseText);
  const std::string keyword = packet.Keyword();

  if (keyword == "UPLS") {
    UploadActive = true;
    UploadPacketIndex = 0;
    UploadEndReceived = false;
    InfoUploadBuffer.clear();
    WriteLog(Format("Upload : Started. fileName:%s", Cp932ToUtf8(packet.Text(12, 52)).c_str()), 0);
    SendUploadReply(protocol::kAckStart, 0);
    return;
  }

  if (keyword == "UPLD") {
    std::int32_t status = 0;
    if (!UploadActive) {
      WriteLog("Error : Invalid status.", 0);
      UploadPacketIndex = 0;
      status = 1;
    }
    if (static_cast<std::int32_t>(packet.U32LE(4)) != UploadPacketIndex) {
      WriteLog("Error : Invalid packet number.", 0);
      UploadActive = false;
      status = 1;
    }
    SendUploadReply(protocol::kAckData, status);
    if (status == 0) {
      const std::string data = packet.Bytes(8, protocol::kBlockSize);
      InfoUploadBuffer.insert(InfoUploadBuffer.end(), data.begin(), data.end());
      ++UploadPacketIndex;
    }
    return;
  }

  if (keyword == "UPLE") {
    if (UploadEndReceived) {
      LogNote("受信データ無視");
      return;
    }
    UploadEndReceived = true;
    std::int32_t status = 0;
    const std::uint32_t count = packet.U32LE(4);
    // A count beyond one block cannot describe this packet's data area: it is
    // refused like an end packet outside an upload.
    if (!UploadActive || count > protocol::kBlockSize) {
      WriteLog("Error : Failed to upload file.", 0);
      UploadPacketIndex = 0;
      status = 1;
    }
    SendUploadReply(protocol::kAckEnd, status);
    if (status == 0 && count >= 1) {
      const std::string data = packet.Bytes(8, count);
      InfoUploadBuffer.insert(InfoUploadBuffer.end(), data.begin(), data.end());
    }
    std::string error;
    if (!deviceops::ReplaceFile(kInfoFile, InfoUploadBuffer, error)) throw EAppError(error);
    LogNote("ファイル書込");
    return;
  }

  if (keyword == "UPLI") {
    UploadInformation();
    return;
  }

  Services.Operator.MessageBox("Error : Could not get serial number.", "Warning", MsgButtons::Ok,
                               MsgIcon::Warning);
  SendCommand("CLEAR");
  SequencerState = 35;
}

void TForm1::UploadInformation() {
  const protocol::PacketReader packet(ResponseText);
  const std::int32_t file_size = static_cast<std::int32_t>(packet.U32LE(4));
  const std::string time_stamp = Cp932ToUtf8(packet.Text(8, 56));
  if (file_size < 0 || static_cast<std::size_t>(file_size) != InfoUploadBuffer.size()) {
    LogNote(Format("Error : Verify NG. fileSize:%d timeStamp:%s", file_size, time_stamp.c_str()));
    SequencerState = 16;
    LogNote("Read retry.");
    return;
  }
  LogNote(Format("Verify : OK. fileSize:%d timeStamp:%s", file_size, time_stamp.c_str()));
  WriteLog("Upload : Done", 0);

  const deviceops::InfoItems items = deviceops::ParseInfoFile(InfoUploadBuffer);
  InfoSer = items.Ser;
  InfoPcb = items.Pcb;
  InfoBat = items.Bat;
  LogNote("ser:" + Cp932ToUtf8(InfoSer));
  LogNote("pcb:" + Cp932ToUtf8(InfoPcb));
  LogNote("bat:" + Cp932ToUtf8(InfoBat));
  if (items.Found < 3) {
    SequencerState = 16;
    LogNote("Read retry. Item");
    return;
  }
  InfoSer = deviceops::PadWithZeros(InfoSer);
  InfoPcb = deviceops::PadWithZeros(InfoPcb);
  InfoBat = deviceops::PadWithZeros(InfoBat);
  SetSerialCommand = deviceops::BuildSetSerialCommand(InfoPcb, InfoBat, InfoSer);
  SendCommand(SetSerialCommand);
  SequencerState = 34;
}

void TForm1::SetSerialReply() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  if (StartsWith(ResponseText, "OK")) {
    SendCommand("GSER");
    SequencerState = 32;
  } else if (StartsWith(ResponseText, "NG")) {
    SendCommand(SetSerialCommand);
    LogNote("retry. serialres");
  }
}

void TForm1::ClearReply() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  if (!StartsWith(ResponseText, "Successfully erased")) return;
  LabelVersionupStatus.SetCaption("Versionup completed.");
  SequencerState = 36;
}

}  // namespace mvx
