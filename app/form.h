// The main window, TForm1: it owns every component and all state of a
// version-up. The operator-facing controls live here as text holders; a shell
// (Qt, Win32, the demo's console) only shows them and reports clicks. Each
// subsystem implements its methods in its own folder (app/, package/, hid/,
// sequencer/, deviceops/); the shells, the scenario runner, the benches and
// the tests drive the window through this header too.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/controls.h"
#include "base/platform.h"
#include "base/timer.h"
#include "deviceops/device_file_fields.h"
#include "hid/channel_fields.h"
#include "package/package_fields.h"
#include "sequencer/sequencer_fields.h"

namespace mvx {

class THidDevice;
class THidDeviceController;
class IHidBackend;

// Everything the main window needs from outside.
struct FormServices {
  IOperator& Operator;
  IEventLoop& Loop;
  IClock& Clock;
  ISettingsFile& Settings;
  IHidBackend& Hid;
};

inline constexpr const char* kAppTitle = "MVXTVUP";
inline constexpr const char* kAlreadyRunning =
    "MVXTVUP is already running.\r\nMVXTVUPは既に起動しています。";
// The directions of a log line; any other value writes a note.
inline constexpr int kLogReceived = 0;
inline constexpr int kLogSent = 1;
inline constexpr int kLogNote = -1;
#ifdef _WIN32
inline constexpr const char* kSettingsFile = ".\\mvxtvup_setting.ini";
#else
inline constexpr const char* kSettingsFile = "./mvxtvup_setting.ini";
#endif
inline constexpr const char* kCradlePrompt =
    "Please set Merovox to a cradle.\r\nMerovoxをクレードルにセットしてください。";
inline constexpr const char* kRemovePrompt = "Remove Merovox.\r\nMerovoxを取り外してください。";

// The state each subsystem keeps lives in a struct of its own folder; the
// main window holds them all, under the names the steps use.
class TForm1 : public PackageFields,
               public ChannelFields,
               public SequencerFields,
               public DeviceFileFields {
 public:
  explicit TForm1(FormServices services);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Runs a handler as the application does: an error that escapes it is shown
  // in an error box captioned "MVXTVUP", the handler's remaining steps are
  // skipped and the program goes on. Every entry point from the shell, the
  // timers and the HID controller goes through here.
  // Since every event passes here, it also wakes a parked Timer1: whatever
  // the event changed, the next tick sees it.
  template <class F>
  void Guarded(F&& handler) {
    try {
      handler();
    } catch (const std::exception& e) {
      ShowError(e.what());
    } catch (...) {
      ShowError("Unknown error");
    }
    Timer1.Unpark();
  }
  void ShowError(const std::string& text);

  void SetView(IFormView* view) { View = view; }

  // ---- Controls (the shell binds a widget to each) -------------------------
  TMenuItem File1, OpenFile, Exit1, Info1, Version1;
  TLabel Label1, Label2, Label3, Label4, Label5, Label6;
  TLabel LabelCurrentVersion, LabelFilename, LabelModelName, LabelUpdateVersion;
  TLabel LabelSerialNumber, LabelClipboardCopyMessage;
  TLabel LabelVersionupStatus, LabelFormatStatus;
  TProgressBar ProgressBar1;
  TMemo Memo1;
  TCheckBox CheckBoxFileFormat, CheckBoxSarSdfVersionup;
  TButton SpeedButton1;
  // The control of that name, for a shell that makes its widgets from the
  // layout table; nullptr when the form has no such control of that kind.
  TLabel* LabelNamed(std::string_view name);
  TCheckBox* CheckBoxNamed(std::string_view name);

  // ---- Components ----------------------------------------------------------
  std::unique_ptr<THidDeviceController> HidCtrl1;
  TTimer Timer1;  // 1 ms, the sequencer's tick
  TTimer Timer2;  // 30000 ms, the restart watchdog

  // ---- Main window, operator controls and log ------------------------------
  void FormCreate();
  void FormDestroy();
  void Exit1Click();
  void SpeedButton1Click();
  void Version1Click();
  void CheckBoxFileFormatClick();
  void CheckBoxSarSdfVersionupClick();
  void LabelSerialNumberClick();
  void LabelCurrentVersionClick();
  // direction kLogReceived "<<", kLogSent ">>", anything else: a note.
  void WriteLog(const std::string& text, int direction);
  void LogReceived(const std::string& text) { WriteLog(text, kLogReceived); }
  void LogSent(const std::string& text) { WriteLog(text, kLogSent); }
  void LogNote(const std::string& text);
  void UpdateMenus(bool allow_open);

  // ---- Update package ------------------------------------------------------
  void OpenFileClick();
  bool fileCheck();
  static std::string DigestFile(const std::string& file_name);

  // ---- Command channel -----------------------------------------------------
  // Claims the first free accepted device, passing over the devices named in
  // skip.
  void SelectDevice(const std::vector<DeviceKey>& skip = {});
  void CloseDevice();
  // False when the line did not reach a device (none held, the write failed,
  // a file name missing).
  bool SendCommand(const std::string& command);
  bool WriteCommand(const std::string& command);
  // The bytes of a command line that one output report of the current device
  // carries (its output report length less the report ID); 0 without one.
  std::size_t CommandRoom() const;
  std::size_t OutputReportLength() const;
  // The bytes of an answer that one input report of the current device
  // carries; 0 without one.
  std::size_t InputRoom() const;
  // Who a device is from one scan to the next; whether such a device is
  // listed now; claiming exactly that one (as SelectDevice claims any).
  static DeviceKey KeyOf(const THidDevice* device);
  bool Listed(const DeviceKey& key) const;
  bool ClaimListed(const DeviceKey& key);
  // Whether the device is set into the port this copy serves (any port
  // when Cradle is empty).
  bool OnCradle(const THidDevice& device) const;
  // Claims the first listed device on this copy's port that wanted takes (as
  // the current one).
  bool ClaimFirst(const std::function<bool(const THidDevice&)>& wanted);
  // Adds every listed device but the installed unit to the restart's
  // bystanders: none of them is ever taken for the unit coming back.
  void NoteRestartBystanders();
  void HidCtrl1DeviceChange(void* sender);
  // What a device change clears: the labels of the device and the format's
  // attempts.
  void ResetDeviceLabels();
  // A run from the start for the device in the cradle: the log cleared,
  // state 2.
  void BeginNewRun();
  void HidCtrl1DeviceData(THidDevice* dev, std::uint8_t report_id, const std::uint8_t* data,
                          std::uint16_t size);
  void HidCtrl1DeviceDataError(THidDevice* dev, std::uint32_t code);

  // The response, taken once: false until one has arrived, and each response
  // is consumed by exactly one step. The copy outlives a box the step opens,
  // while which the next report may replace ResponseText.
  bool TakeResponse();
  bool TakeResponse(std::string& copy);

  // ---- Sequencer state machine ---------------------------------------------
  void Timer1Timer();
  void DispatchStep();
  void StopSequencer();
  void Timer2Timer();

  // ---- The operator's boxes inside a run -----------------------------------
  // Every box a step opens goes through these. The message loop runs on
  // while a box is open: the unit may be taken out or another set in. The
  // answer comes back only while the run that opened the box still stands
  // (the same unit held, no new run begun); otherwise nothing, and the step
  // leaves the machine as the device change left it.
  std::optional<MsgAnswer> RunBox(const std::string& text, const std::string& caption,
                                  MsgButtons buttons, MsgIcon icon);
  std::optional<MsgAnswer> RunWarningDialog(const std::string& text);
  bool RunErrorDialog(const std::string& text);
  // The end of a refusal, a cancel or the final report: the unit let go, the
  // operator asked to remove it, state 99.
  void EndRun();
  // A run that fails after the identification: the log line, Label1 and an
  // error box say why, then the unit is let go (state 99) and nothing more
  // is sent to it.
  void EndRunWithError(const std::string& log_line, const std::string& text);
  // Counts one more try of something sent again; false, with the run ended
  // by the error, once it has been tried too often.
  bool TryAgain(std::int32_t& tries, const std::string& what, const std::string& text);
  // ---- Identification and compatibility ------------------------------------
  void SetClock();           // 2
  void ClockReply();         // 3
  void VersionReply();       // 4
  void SerialReply();        // 41
  void KindReply();          // 39
  void DetailReply();        // 40
  void LanguageReply();      // 50
  void PostCheckBegin();     // 36
  void PostKindReply();      // 37
  void PostDetailBegin();    // 48
  void PostDetailReply();    // 38
  void PostLanguageReply();  // 49
  void Finished();           // 45
  static bool IsSerialRangeModel(const std::string& model);
  bool CheckSerialRange();
  void ConfirmUpdate();
  void BeginTransfer();

  // ---- File information, deletion and download -----------------------------
  void FileInfoReply();     // 5
  void DeleteReply();       // 7
  void DownloadBegin();     // 8
  void DownloadTransfer();  // 9
  void SendDownloadData();
  void SendDownloadEnd();
  std::int32_t ReplyCode() const;
  std::int32_t ReplyStatus() const;

  // PackageFileName as the device reads it (code page 932). A name that has
  // no such form (the package check refuses it) ends the run instead.
  bool DeviceFileName(std::string& name);
  // The image could not be read as planned: the run ends.
  void AbortDownload();
  // Whether the device's output report takes a packet of that size whole;
  // if not the run ends with the error shown.
  bool ReportsCarry(std::size_t packet_size);
  // Up to length image bytes from offset; the count read, -1 on failure.
  std::int64_t ReadImageBlock(std::int64_t offset, char* buffer, std::size_t length);

  // ---- Verify, backup, install and digest check ----------------------------
  void VerifyBegin();     // 10
  void VerifyReply();     // 12
  void BackupReply();     // 13
  void DigestReply();     // 20
  void RequeryVersion();  // 16
  void SendUpdateCommand();
  // The restart wait: whether the unit's version text after the install
  // shows the package's firmware (a text too short to compare counts when it
  // changed); waiting on for a unit the watchdog found still on its old
  // firmware; the proof that ends the wait for good or ends the run.
  bool AnswersNewFirmware() const;
  void AwaitInstall();
  bool ProveNewFirmware();

  // ---- Device information file and serial number ---------------------------
  void NewVersionReply();     // 21
  void SerialInfoReply();     // 32
  void UploadTransfer();      // 33: one handler per upload packet
  void UploadStarted();       // "UPLS"
  void UploadDataReceived();  // "UPLD"
  void UploadEnded();         // "UPLE"
  void UploadInformation();   // "UPLI"
  void SetSerialReply();      // 34
  void ClearReply();          // 35

  void RequestInfoUpload();
  // False when the unit in the cradle after the restart is not the one that
  // was installed (its serial number differs from IdentifiedSerial): that
  // run ends there and a new run begins for the unit in the cradle.
  bool CheckSameUnit(const std::string& serial);
  void SendUploadReply(std::int32_t code, std::int32_t status);

  // ---- Device file-system format -------------------------------------------
  void FormatBegin();       // 44
  void FormatStartReply();  // 42
  void FormatReadyReply();  // 43
  void FormatResetReply();  // 46
  void FormatSizeReply();   // 47

  // ---- Services --------------------------------------------------------------
  FormServices Services;
  IFormView* View = nullptr;

 private:
  void QueueResponseTick();
  // Calls posted to the loop check it: the form may be gone when they run.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// A 32-bit value as the four bytes of a command line, least significant first.
std::string PackInt32(std::int32_t value);

}  // namespace mvx
