// The main window's update package handlers: File > Open, the check with its
// dialogs, and the digest of a file.
#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/form.h"
#include "base/codepage.h"
#include "base/file_system.h"
#include "base/text.h"
#include "package/md5.h"
#include "package/package_check.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

constexpr const char* kPackageFilter = "tvu(*.tvu)|*.tvu";

// Everything that describes the loaded package, so that a rejected or failed
// check can put the earlier package back exactly as it was.
struct LoadedPackage {
  std::string PackagePath, PackageFileName;
  std::string UpdateVersion, UpdateTypeCode, UpdateVersionNumber, SpecialModelCode;
  std::string FirmwareDigest;
  std::string UpdateVersionCaption;
  std::optional<std::string> FirmwareFile;  // full path of its open image
};

LoadedPackage Remember(const TForm1& form) {
  LoadedPackage saved{form.PackagePath,
                      form.PackageFileName,
                      form.UpdateVersion,
                      form.UpdateTypeCode,
                      form.UpdateVersionNumber,
                      form.SpecialModelCode,
                      form.FirmwareDigest,
                      form.LabelUpdateVersion.Caption(),
                      std::nullopt};
  if (form.FirmwareImage) saved.FirmwareFile = form.FirmwareImage->Path();
  return saved;
}

// Puts the remembered package back. Its image may have gone from the disk
// meanwhile, or been replaced by the image of the package whose check failed
// (both in the same folder); then no package stays loaded rather than one
// whose fields describe other bytes.
void Restore(TForm1& form, const LoadedPackage& saved) {
  form.FirmwareImage.reset();
  form.PackagePath = saved.PackagePath;
  form.PackageFileName = saved.PackageFileName;
  form.UpdateVersion = saved.UpdateVersion;
  form.UpdateTypeCode = saved.UpdateTypeCode;
  form.UpdateVersionNumber = saved.UpdateVersionNumber;
  form.SpecialModelCode = saved.SpecialModelCode;
  form.FirmwareDigest = saved.FirmwareDigest;
  form.LabelUpdateVersion.SetCaption(saved.UpdateVersionCaption);
  if (saved.FirmwareFile &&
      ToUpperAscii(DigestFileHex(*saved.FirmwareFile)) == saved.FirmwareDigest)
    form.FirmwareImage = TFileStream::OpenRead(*saved.FirmwareFile, nullptr);
  if (!form.PackagePath.empty() && !form.FirmwareImage) {
    form.PackagePath.clear();
    form.PackageFileName.clear();
    form.FirmwareDigest.clear();
    form.LogNote("Error : The earlier package's image is gone.");
  }
}

// Clears a flag on every way out of a scope.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void TForm1::OpenFileClick() {
  const std::optional<std::string> chosen = Services.Operator.OpenDialog(kPackageFilter);
  if (!chosen) return;

  // The dialog makes the chosen file's folder the working directory: "_fwbin"
  // and the settings file are relative names.
  const std::filesystem::path folder = Utf8Path(*chosen).parent_path();
  std::error_code cd_error;
  if (!folder.empty()) std::filesystem::current_path(folder, cd_error);
  if (cd_error)
    throw EPackageFileError(EPackageFileError::Kind::Open, FullPath(*chosen),
                            SystemErrorText(cd_error.value()));

  // The device stores the image under the package's file name, in code page
  // 932; a name it cannot receive must never become the loaded package.
  const std::string file_name = FileNamePart(*chosen);
  std::string device_name;
  if (!Utf8ToCp932(file_name, device_name)) {
    Services.Operator.MessageBox("The file name \"" + file_name +
                                     "\" cannot be sent to Merovox.\r\n" + "ファイル名「" +
                                     file_name + "」はMerovoxに送信できません。",
                                 kAppTitle, MsgButtons::Ok, MsgIcon::Warning);
    return;
  }

  bool accepted = false;
  {
    const FlagScope checking(PackageCheckInProgress);
    const LoadedPackage earlier = Remember(*this);
    try {
      FirmwareImage.reset();
      std::string error;
      FirmwareImage = TFileStream::OpenRead(*chosen, &error);
      if (!FirmwareImage)
        throw EPackageFileError(EPackageFileError::Kind::Open, FullPath(*chosen), error);
      accepted = fileCheck();
    } catch (...) {
      Restore(*this, earlier);
      throw;
    }
    if (!accepted) {
      Restore(*this, earlier);
      return;
    }
  }

  PackagePath = *chosen;
  PackageFileName = file_name;
  LabelFilename.SetCaption("Update filename  " + PackageFileName);
  Label1.SetCaption(kCradlePrompt);
  if (DeviceReady) {
    SequencerState = state::SetClock;
    Timer1.SetEnabled(true);
  }
}

bool TForm1::fileCheck() {
  Label1.SetCaption("File Check.");
  if (View != nullptr) View->Repaint();
  if (!FirmwareImage) return false;

  PackageCheckSteps steps;
  steps.VersionRead = [this](const PackageHeader& header) {
    UpdateVersion = header.UpdateVersion;
    LabelUpdateVersion.SetCaption(UpdateVersion);
    UpdateTypeCode = header.UpdateTypeCode;
    UpdateVersionNumber = header.UpdateVersionNumber;
  };
  steps.ModeChosen = [this](const PackageMode& mode) { Label1.SetCaption(std::string(mode.Text)); };
  steps.AskAccess = [this](const PackageMode& mode) -> std::optional<std::string> {
    if (Services.Operator.WarningDialog(std::string(mode.Warning)) != MsgAnswer::Yes)
      return std::nullopt;
    return Services.Operator.InputBox(std::string(mode.InputCaption), kPackageAccessPrompt);
  };
  steps.SpecialCodeRead = [this](const PackageHeader& header) {
    SpecialModelCode.clear();
    SpecialModelCode = header.SpecialModelCode;
    if (!SpecialModelCode.empty())
      LabelUpdateVersion.SetCaption(LabelUpdateVersion.Caption() + " " + SpecialModelCode);
    LogReceived("special_model_code:" + SpecialModelCode + " is enable");
  };

  const PackageCheckResult result = CheckAndExtractPackage(*FirmwareImage, kFirmwareFile, steps);
  if (result.Verdict != PackageVerdict::Accepted) {
    Label1.SetCaption(VerdictText(result.Verdict));
    return false;
  }
  // The image file is in place now: whatever happens next, it is removed at
  // exit, from this folder.
  const std::string image_path = FullPath(kFirmwareFile);
  if (std::find(FirmwareFilesMade.begin(), FirmwareFilesMade.end(), image_path) ==
      FirmwareFilesMade.end())
    FirmwareFilesMade.push_back(image_path);

  FirmwareDigest = result.Digest;
  LogReceived("file MD5:[" + FirmwareDigest + "]");

  // Held by its full path, so that it stays the image of this package
  // whatever folder a later File > Open moves to.
  std::string error;
  FirmwareImage = TFileStream::OpenRead(image_path, &error);
  if (!FirmwareImage) throw EPackageFileError(EPackageFileError::Kind::Open, image_path, error);

  Services.Operator.MessageBox("File Ver " + UpdateVersion, "Infomation", MsgButtons::Ok,
                               MsgIcon::Information);
  return true;
}

std::string TForm1::DigestFile(const std::string& file_name) {
  return DigestFileHex(file_name);
}

}  // namespace mvx
