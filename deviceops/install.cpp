// Verify, backup, digest check and install (states 10, 12, 13, 20, 16).
#include "app/form.h"
#include "base/codepage.h"
#include "base/text.h"
#include "deviceops/file_exchange.h"
#include "protocol/layouts.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

std::string GcmdLine(std::uint32_t command, std::uint32_t argument, const std::string& name = {}) {
  return protocol::GcmdCommandPacket{command, argument, name}.Write();
}

bool IsGcmdAnswer(std::string_view response) {
  return StartsWith(response, protocol::GcmdAnswerPacket::kKeyword);
}

// Watchdog periods a unit that has not restarted is waited for after the
// first: 30 s each, five minutes in all.
constexpr int kInstallWatchdogLimit = 10;

constexpr const char* kInstallingPrompt =
    "Installing. Do not remove Merovox.\r\n"
    "インストール中です。Merovoxを取り外さないでください。";
constexpr const char* kNotTakenText =
    "Merovox did not take the new firmware.\r\n"
    "Merovoxに新しいファームウェアが書き込まれませんでした。";
constexpr const char* kInstallNotSentText =
    "The install command could not be sent to Merovox.\r\n"
    "Merovoxにインストールコマンドを送信できませんでした。";

// Characters 4 to 6 of a six-character version text: the firmware's number,
// as the package names it.
std::string VersionNumber(const std::string& version) {
  return version.size() >= 6 ? Mid(version, 4, 3) : std::string();
}

}  // namespace

void TForm1::VerifyBegin() {
  Label1.SetCaption("Verify.");
  if (UpdateType == UpdateKind::Type1) {
    std::string name;
    if (!DeviceFileName(name)) return;
    SendCommand(GcmdLine(protocol::kGcmdVerify, 0, name));
    SequencerState = state::VerifyReply;
  } else {
    const std::int64_t size = FirmwareImage ? FirmwareImage->Size() : 0;
    SendCommand(GcmdLine(protocol::kGcmdDataCheck, static_cast<std::uint32_t>(size)));
    SequencerState = state::DigestReply;
  }
}

void TForm1::VerifyReply() {
  if (!TakeResponse()) return;
  if (!IsGcmdAnswer(ResponseText)) return;
  const auto answer = protocol::GcmdAnswerPacket::Read(ResponseText);
  if (answer.Result != protocol::kGcmdResultVerify) {
    LogReceived("Error : Invalid command.");
    StopSequencer();
  } else if (answer.Status != 0) {
    LogReceived("Error : Failed to verify.");
    StopSequencer();
  } else {
    // The device follows with its backup answer without being asked.
    LogReceived("Verify : OK");
    SequencerState = state::BackupReply;
  }
}

void TForm1::BackupReply() {
  if (!TakeResponse()) return;
  if (!IsGcmdAnswer(ResponseText)) return;
  const auto answer = protocol::GcmdAnswerPacket::Read(ResponseText);
  if (answer.Result != protocol::kGcmdResultBackup) {
    LogReceived("Error : Invalid command.");
    StopSequencer();
  } else if (answer.Status != 0) {
    LogReceived("Error : Failed to backup system file.");
    StopSequencer();
  } else {
    LogReceived("Backup system file : OK");
    SendUpdateCommand();
  }
}

void TForm1::DigestReply() {
  if (!TakeResponse()) return;
  if (!IsGcmdAnswer(ResponseText)) return;
  const auto answer = protocol::GcmdAnswerPacket::Read(ResponseText);
  if (answer.Result == protocol::kGcmdResultBackup) {
    // A good backup is only the first of two answers: the digest follows.
    if (answer.Status != 0) {
      LogReceived("Error : Failed to backup system file.");
      StopSequencer();
    }
    return;
  }
  if (answer.Result != protocol::kGcmdResultDigest) {
    LogReceived("Error : Invalid command.");
    StopSequencer();
    return;
  }
  if (answer.Status != 0) {
    LogReceived("Error : Failed to update firmware.");
    StopSequencer();
    return;
  }
  const std::string device_digest = answer.DigestText();
  LogNote("file MD5:[" + FirmwareDigest + "]");
  LogNote("Data MD5:[" + device_digest + "]");
  if (device_digest != FirmwareDigest) {
    Label1.SetCaption("Data check fail.");
    LogReceived("Error : MD5 Digest UNMATCHED.");
    StopSequencer();
    return;
  }
  LogReceived("Check MD5 Digest : OK");
  SendUpdateCommand();
}

void TForm1::SendUpdateCommand() {
  std::string name;
  if (!DeviceFileName(name)) return;
  if (!SendCommand(GcmdLine(protocol::kGcmdInstall, 0, name))) {
    // The unit never got it: there is no restart to wait for.
    EndRunWithError("Error : The install command could not be sent.", kInstallNotSentText);
    return;
  }
  InstalledUnit = KeyOf(CurrentDevice);
  RestartBystanders.clear();
  NoteRestartBystanders();
  InstallingUnitListed = true;
  LogNote("Updating.");
  Label1.SetCaption("Updating.");
  SequencerState = state::AwaitRestart;
  Timer2.SetEnabled(true);
  // The device restarts with the new firmware and leaves the bus; the run
  // resumes when it comes back or Timer2 gives up waiting.
  CloseDevice();
}

void TForm1::RequeryVersion() {
  SendCommand("VER");
  SequencerState = state::NewVersionReply;
}

bool TForm1::AnswersNewFirmware() const {
  if (NewVersionText.size() < 6) return NewVersionText != CurrentVersion;
  return VersionNumber(NewVersionText) == UpdateVersionNumber;
}

void TForm1::AwaitInstall() {
  const std::string shown = Cp932ToUtf8(NewVersionText);
  if (++InstallWatchdogs > kInstallWatchdogLimit) {
    EndRunWithError("Error : Merovox did not restart with the new firmware (Ver " + shown + ").",
                    kNotTakenText);
    return;
  }
  LogNote("Installing : Merovox answers Ver " + shown + " and has not restarted yet.");
  Label1.SetCaption(kInstallingPrompt);
  CloseDevice();
  SequencerState = state::AwaitRestart;
  Timer2.SetEnabled(true);
}

bool TForm1::ProveNewFirmware() {
  const std::string shown = Cp932ToUtf8(NewVersionText);
  if (NewVersionText.size() < 6) {
    LogNote("Warning : The version after the restart (Ver " + shown +
            ") cannot be compared with the package.");
  } else if (VersionNumber(NewVersionText) != UpdateVersionNumber) {
    EndRunWithError("Error : Merovox did not take the new firmware (Ver " + shown +
                        ", package Ver " + UpdateVersion + ").",
                    kNotTakenText);
    return false;
  }
  NewFirmwareProven = true;
  return true;
}

}  // namespace mvx
