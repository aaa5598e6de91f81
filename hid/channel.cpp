// The command channel: choosing the Merovox device, reacting to device
// changes, sending command lines as output reports and turning input reports
// into responses.
#include <algorithm>
#include <cstring>

#include "app/form.h"
#include "base/byte_order.h"
#include "base/codepage.h"
#include "base/hex.h"
#include "base/text.h"
#include "hid/accepted_devices.h"
#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid/response_framing.h"
#include "protocol/packet.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

// How a response line ends: kind 1 lines ("OK", "NG") with CR LF, kind 2 lines
// (the device's job and boot reports) with LF; kind 0 has no terminator.
struct ResponseKind {
  int kind;
  std::string_view terminator;
};

ResponseKind ClassifyResponse(std::string_view text) {
  if (text.find("OK") != std::string_view::npos) return {1, "\r\n"};
  if (text.find("NG") != std::string_view::npos) return {1, "\r\n"};
  if (text.find("filecmd") != std::string_view::npos) return {2, "\n"};
  if (text.find("act_finfo") != std::string_view::npos) return {2, "\n"};
  if (text.find("--boot") != std::string_view::npos) return {2, "\n"};
  return {0, ""};
}

// The bytes with every one outside 0x20..0x7E shown as "_".
void AppendPrintable(std::string& out, std::string_view bytes) {
  const std::size_t from = out.size();
  out.append(bytes);
  for (std::size_t i = from; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (c < 0x20 || c > 0x7E) out[i] = '_';
  }
}

}  // namespace

std::string PackInt32(std::int32_t value) {
  std::uint8_t bytes[4];
  StoreLE32(bytes, static_cast<std::uint32_t>(value));
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void TForm1::SelectDevice(const std::vector<DeviceKey>& skip) {
  DeviceReady = false;
  if (CurrentDevice != nullptr) return;
  for (const AcceptedDevice& pair : kAcceptedDevices) {
    const bool claimed = ClaimFirst([&](const THidDevice& d) {
      return d.VendorID() == pair.VendorID && d.ProductID() == pair.ProductID &&
             std::find(skip.begin(), skip.end(), KeyOf(&d)) == skip.end();
    });
    if (claimed) return;
  }
}

bool TForm1::OnCradle(const THidDevice& device) const {
  return Cradle.empty() || device.PnPInfo().Location == Cradle;
}

bool TForm1::ClaimFirst(const std::function<bool(const THidDevice&)>& wanted) {
  for (int i = 0; i < HidCtrl1->Count(); ++i) {
    const THidDevice& listed = *HidCtrl1->Device(i);
    THidDevice* device = nullptr;
    if (!HidCtrl1->ClaimByIndex(i, OnCradle(listed) && wanted(listed), device)) continue;
    CurrentDevice = device;
    DeviceReady = true;
    LastClaimed = KeyOf(device);
    return true;
  }
  return false;
}

void TForm1::NoteRestartBystanders() {
  for (int i = 0; i < HidCtrl1->Count(); ++i) {
    const DeviceKey key = KeyOf(HidCtrl1->Device(i));
    if (key != InstalledUnit && std::find(RestartBystanders.begin(), RestartBystanders.end(),
                                          key) == RestartBystanders.end())
      RestartBystanders.push_back(key);
  }
}

DeviceKey TForm1::KeyOf(const THidDevice* device) {
  if (device == nullptr) return {};
  return {device->PnPInfo().Identity};
}

bool TForm1::Listed(const DeviceKey& key) const {
  for (int i = 0; i < HidCtrl1->Count(); ++i) {
    const THidDevice* device = HidCtrl1->Device(i);
    if (device->Present() && KeyOf(device) == key) return true;
  }
  return false;
}

bool TForm1::ClaimListed(const DeviceKey& key) {
  DeviceReady = false;
  if (CurrentDevice != nullptr) return false;
  return ClaimFirst([&](const THidDevice& d) { return d.Present() && KeyOf(&d) == key; });
}

void TForm1::CloseDevice() {
  HidCtrl1->Release(CurrentDevice);
  DeviceReady = false;
}

bool TForm1::SendCommand(const std::string& command) {
  if (ToUpperAscii(Left(command, 8)) == "FILEINFO") {
    const std::string name = Mid(command, 9, 46);
    if (name.empty()) {
      LogSent("Error : Filename is not specified.");
      return false;
    }
    return WriteCommand("FINS" + name);
  }
  return WriteCommand(command);
}

std::size_t TForm1::OutputReportLength() const {
  if (CurrentDevice == nullptr) return 0;
  HidCaps caps;
  CurrentDevice->QueryCapabilities(caps);
  // Exactly the device's output report length; never more than the buffer.
  return std::min<std::size_t>(caps.OutputReportByteLength, OutputBuffer.size());
}

std::size_t TForm1::InputRoom() const {
  if (CurrentDevice == nullptr) return 0;
  HidCaps caps;
  CurrentDevice->QueryCapabilities(caps);
  return caps.InputReportByteLength > 0 ? caps.InputReportByteLength - 1u : 0u;
}

std::size_t TForm1::CommandRoom() const {
  const std::size_t length = OutputReportLength();
  return length > 0 ? length - 1 : 0;
}

bool TForm1::WriteCommand(const std::string& command) {
  LogSent(command);
  OutputBuffer.fill(0);
  std::memcpy(OutputBuffer.data() + 1, command.data(),
              std::min(command.size(), OutputBuffer.size() - 1));
  if (CurrentDevice == nullptr) return false;
  ResponseReceived = false;
  const std::size_t length = OutputReportLength();
  std::size_t written = 0;
  if (CurrentDevice->WriteReport(OutputBuffer.data(), length, written)) {
    CurrentDevice->CloseInfoHandle();
    return true;
  }
  const std::uint32_t code = CurrentDevice->LastError();
  LogNote("WRITE1_ERROR," + Format("%s (%X)", CurrentDevice->ErrorMessage(code).c_str(), code));
  return false;
}

void TForm1::HidCtrl1DeviceChange(void* /*sender*/) {
  // Another HID device came or went while the held device stays: the run goes
  // on untouched.
  if (CurrentDevice != nullptr && CurrentDevice->Present()) {
    LogNote("device change.");
    return;
  }
  // The installed unit stays listed while it writes its firmware, until it
  // restarts: no change of other devices counts as its return, and it is not
  // taken back before it has left the bus.
  if (SequencerState == state::AwaitRestart && CurrentDevice == nullptr && InstallingUnitListed) {
    if (Listed(InstalledUnit)) {
      // Whatever arrived meanwhile is another device, now and later.
      NoteRestartBystanders();
      LogNote("device change.");
      return;
    }
    InstallingUnitListed = false;
  }
  ResetDeviceLabels();
  LogNote("device change.");

  if (CurrentDevice != nullptr) {  // held and no longer present: disconnect
    ++RunNumber;
    HidCtrl1->Release(CurrentDevice);
    Timer1.SetEnabled(false);
    LogNote("Disconnect device.");
    return;
  }

  // Waiting for the restart, the devices that were in their cradles when the
  // install went out are other units: none of them is the one coming back.
  std::vector<DeviceKey> passed_over;
  if (SequencerState == state::AwaitRestart)
    passed_over = RestartBystanders;
  else if (!ReclaimEndedUnit)
    passed_over.push_back(LastClaimed);
  SelectDevice(passed_over);
  if (DeviceReady) {
    LogNote("Connect device : " + Utf16ToUtf8(CurrentDevice->GetProductText()));
    if (!PackagePath.empty()) Timer1.SetEnabled(true);
    if (SequencerState == state::AwaitRestart) {
      SequencerState = state::RequeryVersion;
      Timer2.SetEnabled(false);
    } else {
      BeginNewRun();
    }
  } else if (SequencerState == state::Closing) {
    SequencerState = state::Idle;
    ProgressBar1.SetPosition(0);
    if (!PackagePath.empty()) Label1.SetCaption(kCradlePrompt);
  }
}

bool TForm1::TakeResponse() {
  if (!ResponseReceived) return false;
  ResponseReceived = false;
  return true;
}

bool TForm1::TakeResponse(std::string& copy) {
  if (!TakeResponse()) return false;
  copy = ResponseText;
  return true;
}

void TForm1::HidCtrl1DeviceDataError(THidDevice* dev, std::uint32_t code) {
  // A read that cannot be started is tried again every wait slice until the
  // device is released (an unplugged device fails so until its removal is
  // handled): only a read thread that stopped for good is worth a line.
  if (code != kReadThreadFailed) return;
  LogNote("Error : Reading from Merovox stopped (" + dev->ReadFailure() + ").");
}

void TForm1::ResetDeviceLabels() {
  LabelCurrentVersion.SetCaption("------");
  LabelModelName.SetCaption("-----");
  LabelSerialNumber.SetCaption("------------");
  LabelClipboardCopyMessage.SetCaption("");
  LabelVersionupStatus.SetCaption("");
  LabelFormatStatus.SetCaption("");
  FormatAttempts = 0;
  FormatAllowed = false;
}

void TForm1::BeginNewRun() {
  ++RunNumber;
  Memo1.Clear();
  SequencerState = state::SetClock;
}

FramedResponse FrameResponse(std::string_view report) {
  std::size_t length = report.size();
  std::size_t drop = 0;
  // A device packet is binary: it is taken whole, never cut at bytes that
  // happen to look like a terminator or a keyword.
  if (!protocol::IsDevicePacket(report)) {
    const ResponseKind kind = ClassifyResponse(report);
    if (kind.kind != 0) {
      const std::size_t at = report.find(kind.terminator);
      if (at != std::string_view::npos) length = at + kind.terminator.size();
      drop = kind.terminator.size();
    }
  }
  const std::string_view line = report.substr(0, length);
  return {line, line.substr(0, line.size() >= drop ? line.size() - drop : 0)};
}

void TForm1::HidCtrl1DeviceData(THidDevice* /*dev*/, std::uint8_t /*report_id*/,
                                const std::uint8_t* data, std::uint16_t size) {
  const FramedResponse framed =
      FrameResponse(std::string_view(reinterpret_cast<const char*>(data), size));
  ResponseText.assign(framed.Text);
  ResponseReceived = true;
  std::string line;
  line.reserve(framed.Line.size() * 3 + 1 + ResponseText.size());
  AppendHexDump(line, framed.Line);
  line += '-';
  AppendPrintable(line, ResponseText);
  LogReceived(line);
}

}  // namespace mvx
