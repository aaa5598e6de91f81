// The main window's own handlers: start-up and shut-down, the menu, the two
// check boxes, the label clicks and the log writer.
#include "app/form.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/errors.h"
#include "base/file_system.h"
#include "base/text.h"
#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

constexpr const char* kFormatWarning =
    "バージョンアップ後にフォーマットを実行するように設定されています\r\n\r\n"
    "設定はチェックボックスで変更でき次回起動時にも再現されます";
constexpr const char* kCrossTypeQuestion =
    "異なるタイプ間のバージョンアップを許可しますか？\r\n\r\n例) TV004 → TV004SAR";
constexpr const char* kCrossTypeAccessCode = "9137";
constexpr const char* kSettingsSection = "Setting";
constexpr const char* kSettingsKey = "CheckBoxFileFormat";

// "yy/mm/dd hh:mm:ss zzz,": every log line begins so.
constexpr std::size_t kStampLength = 22;

void AppendDigits(std::string& out, int value, int digits) {
  char text[3];
  for (int i = digits - 1; i >= 0; --i, value /= 10) text[i] = static_cast<char>('0' + value % 10);
  out.append(text, static_cast<std::size_t>(digits));
}

// Written digit by digit: the download logs two lines per packet, and a
// printf-style format cost more than the rest of the line.
void AppendStamp(std::string& out, const LocalTime& t) {
  const int fields[] = {t.year % 100, t.month, t.day, t.hour, t.minute, t.second};
  const bool clock_like = std::all_of(std::begin(fields), std::end(fields),
                                      [](int field) { return field >= 0 && field <= 99; }) &&
                          t.millisecond >= 0 && t.millisecond <= 999;
  if (!clock_like) {  // not a clock's reading: as printf shows it
    out += Format("%02d/%02d/%02d %02d:%02d:%02d %03d,", fields[0], t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond);
    return;
  }
  const char separators[] = "// :: ";
  for (int i = 0; i < 6; ++i) {
    AppendDigits(out, fields[i], 2);
    out += separators[i];
  }
  AppendDigits(out, t.millisecond, 3);
  out += ',';
}

void InitLabel(TLabel& label, const char* name, const char* caption) {
  label.Name = name;
  label.SetCaption(caption);
}

}  // namespace

TForm1::TForm1(FormServices services)
    : Timer1(services.Loop, 1), Timer2(services.Loop, 30000), Services(services) {
  File1.Name = "File1";
  File1.Caption = "File";
  OpenFile.Name = "OpenFile";
  OpenFile.Caption = "Open";
  Exit1.Name = "Exit1";
  Exit1.Caption = "Close";
  Info1.Name = "Info1";
  Info1.Caption = "Info";
  Version1.Name = "Version1";
  Version1.Caption = "Version";

  InitLabel(Label1, "Label1", "Select File.");
  InitLabel(Label2, "Label2", "Model name");
  InitLabel(Label3, "Label3", "Current version");
  InitLabel(Label4, "Label4", "Update version");
  InitLabel(Label5, "Label5", "Serial number");
  InitLabel(Label6, "Label6", "Label6");
  InitLabel(LabelCurrentVersion, "LabelCurrentVersion", "------");
  InitLabel(LabelFilename, "LabelFilename", "Update filename");
  InitLabel(LabelModelName, "LabelModelName", "------");
  InitLabel(LabelUpdateVersion, "LabelUpdateVersion", "------");
  InitLabel(LabelSerialNumber, "LabelSerialNumber", "------------");
  InitLabel(LabelClipboardCopyMessage, "LabelClipboardCopyMessage", "##########");
  InitLabel(LabelVersionupStatus, "LabelVersionupStatus", "LabelVersionupStatus");
  InitLabel(LabelFormatStatus, "LabelFormatStatus", "LabelFormatStatus");
  LabelCurrentVersion.OnClick = [this] { LabelCurrentVersionClick(); };
  LabelSerialNumber.OnClick = [this] { LabelSerialNumberClick(); };
  SpeedButton1.Name = "SpeedButton1";
  SpeedButton1.Caption = "Close";
  SpeedButton1.OnClick = [this] { SpeedButton1Click(); };
  ProgressBar1.Name = "ProgressBar1";
  Memo1.Name = "Memo1";

  CheckBoxFileFormat.Name = "CheckBoxFileFormat";
  CheckBoxFileFormat.Caption = "Format file-system after versionup";
  CheckBoxFileFormat.TabStop = false;
  CheckBoxFileFormat.OnClick = [this] { CheckBoxFileFormatClick(); };
  CheckBoxSarSdfVersionup.Name = "CheckBoxSarSdfVersionup";
  CheckBoxSarSdfVersionup.Caption = "TV004SAR/SDF Versionup enable";
  CheckBoxSarSdfVersionup.TabStop = true;
  CheckBoxSarSdfVersionup.OnClick = [this] { CheckBoxSarSdfVersionupClick(); };

  HidCtrl1 = std::make_unique<THidDeviceController>(Services.Loop, Services.Hid);
  HidCtrl1->Loading = true;
  HidCtrl1->SetOnDeviceChange(
      [this](void* sender) { Guarded([&] { HidCtrl1DeviceChange(sender); }); });
  HidCtrl1->SetOnDeviceData(
      [this](THidDevice* dev, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
        Guarded([&] { HidCtrl1DeviceData(dev, id, data, size); });
        QueueResponseTick();
      });
  HidCtrl1->SetOnDeviceDataError([this](THidDevice* dev, std::uint32_t code) {
    Guarded([&] { HidCtrl1DeviceDataError(dev, code); });
  });
  HidCtrl1->ErrorHandler = [this](const std::string& text) { ShowError(text); };
  HidCtrl1->Loading = false;
  Timer1.SetOnTimer([this] { Timer1Timer(); });
  Timer2.SetOnTimer([this] { Guarded([this] { Timer2Timer(); }); });
}

TForm1::~TForm1() {
  alive_.reset();
  // The held device and then the controller go first: their read threads
  // deliver to this form.
  if (HidCtrl1) HidCtrl1->Release(CurrentDevice);
  HidCtrl1.reset();
}

void TForm1::QueueResponseTick() {
  // A response was just delivered: the step waiting for it runs as soon as the
  // delivery returns instead of on the next timer period, and before the next
  // report is delivered, so two answers that the device sends back to back
  // both reach their steps.
  if (!Timer1.Enabled() || !Timer1.HasHandler()) return;
  std::weak_ptr<bool> alive = alive_;
  Services.Loop.PostNext([this, alive] {
    if (alive.lock()) Timer1.FireNow();
  });
}

void TForm1::ShowError(const std::string& text) {
  Services.Operator.MessageBox(text, kAppTitle, MsgButtons::Ok, MsgIcon::Error);
}

void TForm1::FormCreate() {
  SequencerState = state::Initial;
  PackagePath.clear();
  InfoUploadBuffer.clear();
  const std::string value =
      Services.Settings.ReadString(kSettingsFile, kSettingsSection, kSettingsKey, "False");
  if (value == "True") CheckBoxFileFormat.SetChecked(true);
}

void TForm1::FormDestroy() {
  FirmwareImage.reset();
  InfoUploadBuffer.clear();
  InfoUploadBuffer.shrink_to_fit();
  // Each image is removed where it was made, whatever folder is current now.
  std::error_code ignored;
  for (const std::string& path : FirmwareFilesMade)
    std::filesystem::remove(Utf8Path(path), ignored);
}

TLabel* TForm1::LabelNamed(std::string_view name) {
  for (TLabel* label : {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6, &LabelCurrentVersion,
                        &LabelFilename, &LabelModelName, &LabelUpdateVersion, &LabelSerialNumber,
                        &LabelClipboardCopyMessage, &LabelVersionupStatus, &LabelFormatStatus})
    if (label->Name == name) return label;
  return nullptr;
}

TCheckBox* TForm1::CheckBoxNamed(std::string_view name) {
  for (TCheckBox* box : {&CheckBoxFileFormat, &CheckBoxSarSdfVersionup})
    if (box->Name == name) return box;
  return nullptr;
}

void TForm1::Exit1Click() {
  if (View != nullptr) View->Close();
}

void TForm1::SpeedButton1Click() {
  Exit1Click();
}

void TForm1::Version1Click() {
  Services.Operator.MessageBox(
      "Merovox Update Tool\r\nVer 1.77\r\n\r\nMerovox Update Tool contributors", "Version",
      MsgButtons::Ok, MsgIcon::Information);
}

void TForm1::CheckBoxFileFormatClick() {
  std::string value = "False";
  if (CheckBoxFileFormat.Checked()) {
    value = "True";
    Services.Operator.MessageBox(kFormatWarning, "MVXTVUP v1.77", MsgButtons::Ok, MsgIcon::Warning);
  }
  if (!Services.Settings.WriteString(kSettingsFile, kSettingsSection, kSettingsKey, value))
    throw EAppError(std::string(kSettingsFile) + " に書き込めません");
}

void TForm1::CheckBoxSarSdfVersionupClick() {
  CrossTypeEnabled = false;
  if (!CheckBoxSarSdfVersionup.Checked()) return;
  if (Services.Operator.WarningDialog(kCrossTypeQuestion) != MsgAnswer::Yes) {
    CheckBoxSarSdfVersionup.SetChecked(false);
    return;
  }
  const std::string code = Services.Operator.InputBox("SAR/SDF Versionup enable", "Password");
  if (code == kCrossTypeAccessCode)
    CrossTypeEnabled = true;
  else
    CheckBoxSarSdfVersionup.SetChecked(false);
}

void TForm1::LabelSerialNumberClick() {
  const std::string caption = LabelSerialNumber.Caption();
  Services.Operator.SetClipboardText(caption);
  LabelClipboardCopyMessage.SetCaption("シリアル番号[" + caption +
                                       "]をクリップボードにコピーしました");
}

void TForm1::LabelCurrentVersionClick() {
  const std::string caption = LabelCurrentVersion.Caption();
  Services.Operator.SetClipboardText(caption);
  LabelClipboardCopyMessage.SetCaption("現バージョン[" + caption +
                                       "]をクリップボードにコピーしました");
}

void TForm1::WriteLog(const std::string& text, int direction) {
  const LocalTime t = Services.Clock.Now();
  const char* marker = direction == kLogReceived ? "<<" : direction == kLogSent ? ">>" : "  ";
  // The log shows a text up to its first NUL byte, as a text control does (a
  // sent binary packet shows its keyword and the bytes before its first zero).
  std::string_view shown(text.data(), std::min(text.size(), text.find('\0')));
  shown = TrimRightView(shown);
  std::string line;
  line.reserve(kStampLength + 2 + shown.size());
  AppendStamp(line, t);
  line.append(marker).append(shown);
  Memo1.Add(line);
}

void TForm1::LogNote(const std::string& text) {
  WriteLog(text, kLogNote);
}

void TForm1::UpdateMenus(bool allow_open) {
  OpenFile.SetEnabled(allow_open);
  File1.SetEnabled(SequencerState == state::Idle);
  Info1.SetEnabled(SequencerState == state::Idle);
}

}  // namespace mvx
