// The loaded package as the main window holds it: written only by the package
// check (File > Open), read by every step that sends the image.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/file_stream.h"

namespace mvx {

struct PackageFields {
  std::string PackagePath;  // empty: no package loaded
  std::string PackageFileName;
  std::string UpdateVersion;
  std::string UpdateTypeCode;
  std::string UpdateVersionNumber;
  std::string SpecialModelCode;
  std::string FirmwareDigest;
  std::unique_ptr<TFileStream> FirmwareImage;
  // Full paths of the image files the package checks wrote, each in the
  // folder of its package: removed at exit.
  std::vector<std::string> FirmwareFilesMade;
  // True while a package check runs (its dialogs are open): no version-up
  // starts or runs on a package that is still being checked.
  bool PackageCheckInProgress = false;
};

}  // namespace mvx
