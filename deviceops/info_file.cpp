// The device's information file and the serial-number restore (states 21, 32,
// 33, 34, 35).
#include "app/form.h"
#include "base/codepage.h"
#include "base/errors.h"
#include "base/text.h"
#include "deviceops/file_exchange.h"
#include "protocol/layouts.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

constexpr const char* kUnitNotChecked =
    "Warning : The returning Merovox is not checked (a serial number is unknown).";
constexpr const char* kInfoFileText =
    "The information file of Merovox could not be read.\r\n"
    "Merovoxの情報ファイルを読み出せませんでした。";
constexpr const char* kSerialText =
    "The serial number of Merovox could not be restored.\r\n"
    "Merovoxのシリアル番号を復元できませんでした。";

}  // namespace

void TForm1::RequestInfoUpload() {
  if (!TryAgain(InfoUploads, "Reading the information file", kInfoFileText)) return;
  SendCommand(std::string("UPLS ") + protocol::kInfoFileName);
  SequencerState = state::UploadTransfer;
}

void TForm1::SendUploadReply(std::int32_t code, std::int32_t status) {
  SendCommand(protocol::UploadAckPacket{static_cast<std::uint32_t>(code),
                                        static_cast<std::uint32_t>(status)}
                  .Write());
}

bool TForm1::CheckSameUnit(const std::string& serial) {
  if (IdentifiedSerial.empty() || !deviceops::IsWellFormedSerial(serial)) {
    LogNote(kUnitNotChecked);
    return true;
  }
  if (Trim(serial) == Trim(IdentifiedSerial)) return true;
  // The unit installed was taken out during the restart and another set in:
  // this one never got the image. It is updated in a run of its own; the
  // installed one gets a new run when it is set in again.
  ResetDeviceLabels();
  BeginNewRun();
  LogNote("Error : Another Merovox was set during the restart.");
  LogNote("SER : " + Cp932ToUtf8(serial) + " (installed: " + Cp932ToUtf8(IdentifiedSerial) + ")");
  return false;
}

void TForm1::NewVersionReply() {
  if (!TakeResponse()) return;
  if (!StartsWith(ResponseText, "OK")) return;
  NewVersionText = RemoveAll(ResponseText, "OK ");
  // The watchdog asked a unit that never left the bus: unless it already
  // runs the new firmware it is still installing, and is waited for.
  if (InstallingUnitListed && !AnswersNewFirmware()) {
    AwaitInstall();
    return;
  }
  if (UpdateType == UpdateKind::Type1) {
    RequestInfoUpload();
  } else {
    SendCommand("GSER");
    SequencerState = state::SerialInfoReply;
  }
}

void TForm1::SerialInfoReply() {
  if (!TakeResponse()) return;
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
    if (!CheckSameUnit(info.Serial) || !ProveNewFirmware()) return;
    SendCommand("CLEAR");
    SequencerState = state::ClearReply;
  } else {
    RequestInfoUpload();
  }
}

void TForm1::UploadTransfer() {
  if (!TakeResponse()) return;
  // The first four characters select the packet.
  const std::string_view keyword = std::string_view(ResponseText).substr(0, 4);
  if (keyword == protocol::UploadStartPacket::kKeyword) {
    UploadStarted();
  } else if (keyword == protocol::UploadDataPacket::kKeyword) {
    UploadDataReceived();
  } else if (keyword == protocol::UploadEndPacket::kKeyword) {
    UploadEnded();
  } else if (keyword == protocol::UploadInfoPacket::kKeyword) {
    UploadInformation();
  } else {
    if (!RunBox("Error : Could not get serial number.", "Warning", MsgButtons::Ok,
                MsgIcon::Warning))
      return;
    LogNote(kUnitNotChecked);
    if (!ProveNewFirmware()) return;
    SendCommand("CLEAR");
    SequencerState = state::ClearReply;
  }
}

void TForm1::UploadStarted() {
  const auto start = protocol::UploadStartPacket::Read(ResponseText);
  UploadActive = true;
  UploadPacketIndex = 0;
  UploadEndReceived = false;
  InfoUploadBuffer.clear();
  LogReceived(Format("Upload : Started. fileName:%s", Cp932ToUtf8(start.FileName).c_str()));
  SendUploadReply(protocol::kAckStart, 0);
}

void TForm1::UploadDataReceived() {
  const auto packet = protocol::UploadDataPacket::Read(ResponseText);
  std::int32_t status = 0;
  // Only bytes the device sent go into the file: a report too short for a
  // whole data packet is refused, never filled up.
  if (ResponseText.size() < protocol::kBlockHeader + protocol::kBlockSize) {
    LogReceived("Error : Upload packet too short.");
    UploadActive = false;
    status = 1;
  }
  if (!UploadActive) {
    LogReceived("Error : Invalid status.");
    UploadPacketIndex = 0;
    status = 1;
  }
  if (static_cast<std::int32_t>(packet.Number) != UploadPacketIndex) {
    LogReceived("Error : Invalid packet number.");
    UploadActive = false;
    status = 1;
  }
  SendUploadReply(protocol::kAckData, status);
  if (status == 0) {
    InfoUploadBuffer.insert(InfoUploadBuffer.end(), packet.Data.begin(), packet.Data.end());
    ++UploadPacketIndex;
  }
}

void TForm1::UploadEnded() {
  if (UploadEndReceived) {
    LogNote("受信データ無視");
    return;
  }
  UploadEndReceived = true;
  const auto end = protocol::UploadEndPacket::Read(ResponseText);
  std::int32_t status = 0;
  // A count beyond one block cannot describe this packet's data area: it is
  // refused like an end packet outside an upload.
  if (!UploadActive || end.Count > protocol::kBlockSize ||
      ResponseText.size() < protocol::kBlockHeader + end.Count) {
    LogReceived("Error : Failed to upload file.");
    UploadPacketIndex = 0;
    status = 1;
  }
  SendUploadReply(protocol::kAckEnd, status);
  if (status == 0 && end.Count >= 1)
    InfoUploadBuffer.insert(InfoUploadBuffer.end(), end.Data.begin(), end.Data.end());
  std::string error;
  if (!deviceops::ReplaceFile(protocol::kInfoFileName, InfoUploadBuffer, error))
    throw EAppError(error);
  LogNote("ファイル書込");
}

void TForm1::UploadInformation() {
  const auto info = protocol::UploadInfoPacket::Read(ResponseText);
  const auto file_size = static_cast<std::int32_t>(info.FileSize);
  const std::string time_stamp = Cp932ToUtf8(info.TimeStamp);
  if (file_size < 0 || static_cast<std::size_t>(file_size) != InfoUploadBuffer.size()) {
    LogNote(Format("Error : Verify NG. fileSize:%d timeStamp:%s", file_size, time_stamp.c_str()));
    SequencerState = state::RequeryVersion;
    LogNote("Read retry.");
    return;
  }
  LogNote(Format("Verify : OK. fileSize:%d timeStamp:%s", file_size, time_stamp.c_str()));
  LogReceived("Upload : Done");

  const deviceops::InfoItems items = deviceops::ParseInfoFile(InfoUploadBuffer);
  InfoSer = items.Ser;
  InfoPcb = items.Pcb;
  InfoBat = items.Bat;
  LogNote("ser:" + Cp932ToUtf8(InfoSer));
  LogNote("pcb:" + Cp932ToUtf8(InfoPcb));
  LogNote("bat:" + Cp932ToUtf8(InfoBat));
  if (items.Found < 3) {
    SequencerState = state::RequeryVersion;
    LogNote("Read retry. Item");
    return;
  }
  // The information file tells who came back, also when the update lost the
  // serial number that "GSER" reports.
  if (!CheckSameUnit(Trim(InfoSer)) || !ProveNewFirmware()) return;
  InfoSer = deviceops::PadWithZeros(InfoSer);
  InfoPcb = deviceops::PadWithZeros(InfoPcb);
  InfoBat = deviceops::PadWithZeros(InfoBat);
  SetSerialCommand = deviceops::BuildSetSerialCommand(InfoPcb, InfoBat, InfoSer);
  if (!TryAgain(SetSerialTries, "Restoring the serial number", kSerialText)) return;
  SendCommand(SetSerialCommand);
  SequencerState = state::SetSerialReply;
}

void TForm1::SetSerialReply() {
  if (!TakeResponse()) return;
  if (StartsWith(ResponseText, "OK")) {
    SendCommand("GSER");
    SequencerState = state::SerialInfoReply;
  } else if (StartsWith(ResponseText, "NG")) {
    if (!TryAgain(SetSerialTries, "Restoring the serial number", kSerialText)) return;
    SendCommand(SetSerialCommand);
    LogNote("retry. serialres");
  }
}

void TForm1::ClearReply() {
  if (!TakeResponse()) return;
  if (!StartsWith(ResponseText, "Successfully erased")) return;
  LabelVersionupStatus.SetCaption("Versionup completed.");
  SequencerState = state::PostCheckBegin;
}

}  // namespace mvx
