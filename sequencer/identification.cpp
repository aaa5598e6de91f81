// Identification before the transfer (clock, version, serial number, model,
// detail, language), the compatibility rules, the operator's confirmation,
// and the shorter pass after the restart that ends with the final report.
#include <string>

#include "app/form.h"
#include "base/codepage.h"
#include "base/text.h"
#include "deviceops/file_exchange.h"
#include "sequencer/device_text.h"
#include "sequencer/model_table.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

constexpr const char* kNoSerialNumber = "------------";
constexpr const char* kModelMismatch = "Error : Model Mismatch.";
constexpr const char* kVersionMismatch = "Error : Version Mismatch.";
constexpr const char* kUnknownModel = "Error : Unknown Model.";
constexpr const char* kSerialRangeRefused = "ERROR : This product cannot be this version.";
constexpr const char* kSerialRangeBox =
    "ERROR : This product cannot be this version.\r\nCheck Merovox website.\r\n"
    "エラー：この製品はこのバージョンに出来ません。\r\nMerovoxウェブサイトをご確認ください。";
constexpr const char* kDemoWarning =
    "This Merovox is demo model, not for sale. Will you continue writing?";
constexpr const char* kRxWarning =
    "Modelname is TV004RX. Will you continue writing?\r\n"
    "モデル名はTV004RXです。書き込みを継続しますか？";
constexpr const char* kOperatorCancelled = "User requested cancel of current operation.";

// Sub-code thresholds: the device is asked "KIND" from 020, "DETAIL" from 026
// and "LANGUAGE" from 033, up to 999.
constexpr const char* kKindFrom = "020";
constexpr const char* kDetailFrom = "026";
constexpr const char* kLanguageFrom = "033";
constexpr const char* kSubCodeTop = "999";

bool BeginsWithOk(const std::string& response) {
  return StartsWith(response, "OK");
}

// The device's answer without its "OK " prefixes.
std::string Answer(const std::string& response) {
  return RemoveAll(response, "OK ");
}

// The device speaks code page 932; the log, labels and boxes take UTF-8.
std::string Shown(const std::string& device_text) {
  return Cp932ToUtf8(device_text);
}

void Repaint(TForm1& form) {
  if (form.View != nullptr) form.View->Repaint();
}

void RefuseWithError(TForm1& form, const std::string& log_line, const std::string& text) {
  form.LogReceived(log_line);
  if (form.RunErrorDialog(text)) form.EndRun();
}

// Asks whether to go on with a model that needs a warning; false when the run
// has ended (the operator said No, or a device change replaced the run).
bool WarningAccepted(TForm1& form, ModelWarning warning) {
  if (warning == ModelWarning::None) return true;
  const std::optional<MsgAnswer> answer =
      warning == ModelWarning::Demo
          ? form.RunWarningDialog(kDemoWarning)
          : form.RunBox(kRxWarning, "Warning", MsgButtons::YesNo, MsgIcon::Warning);
  if (!answer) return false;
  if (*answer != MsgAnswer::No) return true;
  form.LogReceived(kOperatorCancelled);
  form.EndRun();
  return false;
}

// A device that answers "KIND" takes the rules of its model's row; false when
// the run has ended.
bool ModelAccepted(TForm1& form, const std::string& model) {
  const std::string shown = Shown(model);
  const ModelRow* row = FindModel(model);
  if (row == nullptr) {
    RefuseWithError(form, "KIND command responce:" + shown + " is unknown.",
                    "model[" + shown + "] " + kUnknownModel);
    return false;
  }
  form.LogReceived("KIND command responce:" + shown + " is OK");
  if (!WarningAccepted(form, row->Warning)) return false;

  const PackageFacts package{form.SpecialModelCode, form.UpdateTypeCode, form.UpdateVersionNumber};
  switch (JudgeModel(*row, package, form.CrossTypeEnabled)) {
    case ModelVerdict::Accepted:
      return true;
    case ModelVerdict::AcceptedBySpecialCode:
      form.LogReceived("special_model_code:" + form.SpecialModelCode + " , model:" + shown);
      return true;
    case ModelVerdict::SpecialCodeMismatch:
      // The log line has no blank between the model and the message.
      RefuseWithError(form, shown + kModelMismatch, "model:" + shown + " " + kModelMismatch);
      return false;
    case ModelVerdict::ModelMismatch: {
      const std::string text = "model:" + shown + " " + kModelMismatch;
      RefuseWithError(form, text, text);
      return false;
    }
    case ModelVerdict::VersionMismatch: {
      const std::string text = "model:" + shown + " " + kVersionMismatch;
      RefuseWithError(form, text, text);
      return false;
    }
  }
  return false;
}

}  // namespace

bool TForm1::IsSerialRangeModel(const std::string& model) {
  const ModelRow* row = FindModel(model);
  return row != nullptr && row->SerialRange;
}

bool TForm1::CheckSerialRange() {
  // Package numbers from 050 up are for devices whose serial characters 6 to
  // 10 read 5000 or more; lower numbers for the others.
  const long long package_number = ToIntDef0(UpdateVersionNumber);
  const long long serial = ToIntDef0(Mid(LabelSerialNumber.Caption(), 6, 5));
  const bool refused =
      (package_number >= 50 && serial < 5000) || (package_number < 50 && serial >= 5000);
  if (!refused) return true;
  LogReceived("current version[" + Shown(CurrentVersion) + "] " + kSerialRangeRefused);
  if (RunBox(kSerialRangeBox, "ERROR!", MsgButtons::Ok, MsgIcon::Error)) EndRun();
  return false;
}

void TForm1::ConfirmUpdate() {
  // A device whose version text has neither 3 nor 6 characters has no
  // transfer path: the run stops here, with the device still held.
  if (UpdateType == UpdateKind::None) return;
  const std::string version = Shown(CurrentVersion);
  const std::optional<MsgAnswer> answer =
      RunBox("Current Version " + version + "\r\nIs Updating continued?\r\n現在のバージョンは" +
                 version + "です。アップデートしますか？",
             "Confirmation", MsgButtons::OkCancel, MsgIcon::Question);
  if (!answer) return;
  if (*answer != MsgAnswer::Ok) {
    EndRun();
    return;
  }
  Label1.SetCaption("File Transfer.");
  BeginTransfer();
}

void TForm1::BeginTransfer() {
  if (UpdateType == UpdateKind::Type2) {
    SequencerState = state::DownloadBegin;
    return;
  }
  // The device takes single-byte (code page 932) file names.
  std::string name;
  if (!DeviceFileName(name)) return;
  SendCommand("FILEINFO " + name);
  SequencerState = state::FileInfoReply;
}

// ---- Before the transfer ----------------------------------------------------

void TForm1::SetClock() {
  IdentifiedSerial.clear();
  NewFirmwareProven = false;
  InstallingUnitListed = false;
  InstallWatchdogs = 0;
  InfoUploads = 0;
  SetSerialTries = 0;
  SendCommand("RTC SET " + std::to_string(ClockSeconds(Services.Clock.Now())));
  SequencerState = state::ClockReply;
}

void TForm1::ClockReply() {
  std::string response;
  if (!TakeResponse(response) || !BeginsWithOk(response)) return;
  SendCommand("VER");
  SequencerState = state::VersionReply;
}

void TForm1::VersionReply() {
  std::string response;
  if (!TakeResponse(response)) return;
  std::string version;
  if (BeginsWithOk(response)) {
    version = Answer(response);
    UpdateType = version.size() == 3   ? UpdateKind::Type1
                 : version.size() == 6 ? UpdateKind::Type2
                                       : UpdateKind::None;
  } else {
    // No version, no transfer path: a type from the previous device must not
    // carry over to this one.
    UpdateType = UpdateKind::None;
  }
  CurrentVersion = version;
  LabelCurrentVersion.SetCaption(Shown(CurrentVersion));
  LabelClipboardCopyMessage.SetCaption("");
  LogNote("current version[" + Shown(CurrentVersion) + "] updatetype[" +
          std::to_string(static_cast<int>(UpdateType)) + "]");
  VersionSubCode = UpdateType == UpdateKind::Type2 ? Mid(CurrentVersion, 4, 3) : std::string();
  SendCommand("GSER");
  SequencerState = state::SerialReply;
}

void TForm1::SerialReply() {
  std::string response;
  if (!TakeResponse(response)) return;
  LabelSerialNumber.SetCaption(kNoSerialNumber);
  LabelClipboardCopyMessage.SetCaption("");
  if (BeginsWithOk(response)) {
    // "OK" counts as the first item: "OK a b serial" or "OK serial".
    const std::vector<std::string> items = SplitItems(response);
    std::string serial;
    if (items.size() == 4) serial = items[3];
    if (items.size() == 2) serial = items[1];
    if (!serial.empty()) LabelSerialNumber.SetCaption(Shown(serial));
    // Whoever comes back after the restart is recognised by this number.
    if (deviceops::IsWellFormedSerial(serial)) IdentifiedSerial = serial;
    LabelClipboardCopyMessage.SetCaption("");
  }
  if (UpdateType == UpdateKind::Type2 && SubCodeIn(VersionSubCode, kKindFrom, kSubCodeTop)) {
    SendCommand("KIND");
    SequencerState = state::KindReply;
    return;
  }
  // A device not asked for its model cannot take a package made for a
  // special model.
  if (!SpecialModelCode.empty()) {
    const std::string text = "current version[" + Shown(CurrentVersion) + "] " + kModelMismatch;
    RefuseWithError(*this, text, text);
    return;
  }
  if (CheckSerialRange()) ConfirmUpdate();
}

void TForm1::KindReply() {
  std::string response;
  if (!TakeResponse(response) || !BeginsWithOk(response)) return;
  const std::string model = Answer(response);
  LogReceived("model name[" + Shown(model) + "]");
  LabelModelName.SetCaption(Shown(model));
  if (IsSerialRangeModel(model) && !CheckSerialRange()) return;
  if (!ModelAccepted(*this, model)) return;
  if (UpdateType == UpdateKind::Type2 && SubCodeIn(VersionSubCode, kDetailFrom, kSubCodeTop)) {
    SendCommand("DETAIL");
    SequencerState = state::DetailReply;
    return;
  }
  ConfirmUpdate();
}

void TForm1::DetailReply() {
  std::string response;
  if (!TakeResponse(response) || !BeginsWithOk(response)) return;
  const std::string detail = Shown(Answer(response));
  LogReceived("detail[" + detail + "]");
  LabelCurrentVersion.SetCaption(detail);
  LabelClipboardCopyMessage.SetCaption("");
  if (SubCodeIn(VersionSubCode, kLanguageFrom, kSubCodeTop)) {
    SendCommand("LANGUAGE");
    SequencerState = state::LanguageReply;
    return;
  }
  ConfirmUpdate();
}

void TForm1::LanguageReply() {
  std::string response;
  if (!TakeResponse(response) || !BeginsWithOk(response)) return;
  const std::string language = Shown(Answer(response));
  LogReceived("Language[" + language + "]");
  LabelCurrentVersion.SetCaption(LabelCurrentVersion.Caption() + " " + language);
  ConfirmUpdate();
}

// ---- After the restart --------------------------------------------------------

void TForm1::PostCheckBegin() {
  LabelCurrentVersion.SetCaption(Shown(NewVersionText));
  LabelClipboardCopyMessage.SetCaption("");
  NewVersionSubCode = NewVersionText.size() >= 6 ? Mid(NewVersionText, 4, 3) : "000";
  if (SubCodeIn(NewVersionSubCode, kKindFrom, kSubCodeTop)) {
    SendCommand("KIND");
    SequencerState = state::PostKindReply;
    return;
  }
  FormatAllowed = true;
  SequencerState = state::FormatBegin;
}

void TForm1::PostKindReply() {
  std::string response;
  if (!TakeResponse(response)) return;
  FormatAllowed = true;
  if (BeginsWithOk(response)) {
    // The model only decides the format here; it is not compared with the
    // package again.
    const std::string model = Answer(response);
    LogReceived("model name[" + Shown(model) + "]");
    LabelModelName.SetCaption(Shown(model));
    Repaint(*this);
    const ModelRow* row = FindModel(model);
    if (row != nullptr && !row->FormatAfterUpdate) FormatAllowed = false;
  }
  SequencerState = state::FormatBegin;
}

void TForm1::PostDetailBegin() {
  if (SubCodeIn(NewVersionSubCode, kDetailFrom, kSubCodeTop)) {
    SendCommand("DETAIL");
    SequencerState = state::PostDetailReply;
    return;
  }
  SequencerState = state::Finished;
}

void TForm1::PostDetailReply() {
  std::string response;
  if (!TakeResponse(response)) return;
  // The device did not come back in shape to tell its identity: no final
  // report for it.
  if (!BeginsWithOk(response)) {
    EndRun();
    return;
  }
  const std::string detail = Shown(Answer(response));
  LogReceived("detail[" + detail + "]");
  LabelCurrentVersion.SetCaption(detail);
  LabelClipboardCopyMessage.SetCaption("");
  Repaint(*this);
  if (SubCodeIn(NewVersionSubCode, kLanguageFrom, kSubCodeTop)) {
    SendCommand("LANGUAGE");
    SequencerState = state::PostLanguageReply;
    return;
  }
  SequencerState = state::Finished;
}

void TForm1::PostLanguageReply() {
  std::string response;
  if (!TakeResponse(response)) return;
  if (!BeginsWithOk(response)) {
    EndRun();
    return;
  }
  const std::string language = Shown(Answer(response));
  LogReceived("Language[" + language + "]");
  LabelCurrentVersion.SetCaption(LabelCurrentVersion.Caption() + " " + language);
  Repaint(*this);
  SequencerState = state::Finished;
}

void TForm1::Finished() {
  // Only a unit that came back with the package's firmware is reported
  // finished; every way here has proven it, and this is where it must hold.
  if (!NewFirmwareProven && !ProveNewFirmware()) return;
  // The report names the version the device gave after the restart, not the
  // detail text that may stand in the label by now.
  if (RunBox("Update finished.\r\nアップデート完了しました。\r\nVer " + Shown(NewVersionText),
             "Information", MsgButtons::Ok, MsgIcon::Information))
    EndRun();
}

}  // namespace mvx
