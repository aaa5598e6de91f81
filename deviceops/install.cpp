// Verify, backup, digest check and install (states 10, 12, 13, 20, 16).
#include "app/form.h"
#include "base/text.h"
#include "deviceops/file_exchange.h"
#include "protocol/layouts.h"
#include "protocol/packet.h"

namespace mvx {
namespace {

std::string GcmdLine(std::uint32_t command, std::uint32_t argument, const std::string& name = {}) {
  return protocol::PacketWriter().Keyword("GCMD").U32LE(command).U32LE(argument).Bytes(name).Take();
}

}  // namespace

void TForm1::VerifyBegin() {
  Label1.SetCaption("Verify.");
  if (UpdateType == 1) {
    std::string name;
    if (!DeviceFileName(name)) return;
    SendCommand(GcmdLine(protocol::kGcmdVerify, 0, name));
    SequencerState = 12;
  } else {
    const std::int64_t size = FirmwareImage ? FirmwareImage->Size() : 0;
    SendCommand(GcmdLine(protocol::kGcmdDataCheck, static_cast<std::uint32_t>(size)));
    SequencerState = 20;
  }
}

void TForm1::VerifyReply() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  if (protocol::PacketReader(ResponseText).Keyword() != "GCMD") return;
  if (static_cast<std::uint32_t>(ReplyCode()) != protocol::kGcmdResultVerify) {
    WriteLog("Error : Invalid command.", 0);
    StopSequencer();
  } else if (ReplyStatus() != 0) {
    WriteLog("Error : Failed to verify.", 0);
    StopSequencer();
  } else {
    // The device follows with its backup answer without being asked.
    WriteLog("Verify : OK", 0);
    SequencerState = 13;
  }
}

void TForm1::BackupReply() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  if (protocol::PacketReader(ResponseText).Keyword() != "GCMD") return;
  if (static_cast<std::uint32_t>(ReplyCode()) != protocol::kGcmdResultBackup) {
    WriteLog("Error : Invalid command.", 0);
    StopSequencer();
  } else if (ReplyStatus() != 0) {
    WriteLog("Error : Failed to backup system file.", 0);
    StopSequencer();
  } else {
    WriteLog("Backup system file : OK", 0);
    SendUpdateCommand();
  }
}

void TForm1::DigestReply() {
  if (!ResponseReceived) return;
  ResponseReceived = false;
  if (protocol::PacketReader(ResponseText).Keyword() != "GCMD") return;
  const auto code = static_cast<std::uint32_t>(ReplyCode());
  if (code == protocol::kGcmdResultBackup) {
    // A good backup is only the first of two answers: the digest follows.
    if (ReplyStatus() != 0) {
      WriteLog("Error : Failed to backup system file.", 0);
      StopSequencer();
    }
    return;
  }
  if (code != protocol::kGcmdResultDigest) {
    WriteLog("Error : Invalid command.", 0);
    StopSequencer();
    return;
  }
  if (ReplyStatus() != 0) {
    WriteLog("Error : Failed to update firmware.", 0);
    StopSequencer();
    return;
  }
  const std::string device_digest = deviceops::DeviceDigestText(ResponseText);
  LogNote("file MD5:[" + FirmwareDigest + "]");
  LogNote("Data MD5:[" + device_digest + "]");
  if (device_digest != FirmwareDigest) {
    Label1.SetCaption("Data check fail.");
    WriteLog("Error : MD5 Digest UNMATCHED.", 0);
    StopSequencer();
    return;
  }
  WriteLog("Check MD5 Digest : OK", 0);
  SendUpdateCommand();
}

void TForm1::SendUpdateCommand() {
  std::string name;
  if (!DeviceFileName(name)) return;
  SendCommand(GcmdLine(protocol::kGcmdInstall, 0, name));
  LogNote("Updating.");
  Label1.SetCaption("Updating.");
  SequencerState = 14;
  Timer2.SetEnabled(true);
  // The device restarts with the new firmware and leaves the bus; the run
  // resumes when it comes back or Timer2 gives up waiting.
  CloseDevice();
}

void TForm1::RequeryVersion() {
  SendCommand("VER");
  SequencerState = 21;
}

}  // namespace mvx
