#include "package/package_header.h"

#include "base/byte_order.h"

#include <algorithm>
#include <array>

namespace mvx {
namespace {

constexpr PackageMode kModes[] = {
    {"201", "Normal mode", "", ""},
    {"211", "Mockup mode",
     "This file is for demo Merovox for promotion. Will you continue writing?", "Mockup mode"},
    {"212", "Ping marker mode",
     "This file is for Ultrasonic Beacon Merovox. Will you continue writing?", "Ping marker mode"},
};

// A NUL-padded text field: its bytes up to the first NUL.
std::string TextField(const std::array<std::uint8_t, kPackageHeaderSize>& header,
                      std::size_t offset, std::size_t length) {
  std::string text;
  for (std::size_t i = offset; i < offset + length && header[i] != 0; ++i)
    text += static_cast<char>(header[i]);
  return text;
}

}  // namespace

const PackageMode* FindPackageMode(std::string_view type_code) {
  for (const PackageMode& mode : kModes)
    if (mode.TypeCode == type_code) return &mode;
  return nullptr;
}

std::string VerdictText(PackageVerdict verdict) {
  switch (verdict) {
    case PackageVerdict::Accepted:
      return "accepted";
    case PackageVerdict::BadMagic:
      return "Invalid File.(01)";
    case PackageVerdict::BadMode:
      return "Invalid File.(02)";
    case PackageVerdict::BadSize:
      return "Invalid File.(03)";
    case PackageVerdict::BadCheckValue:
      return "Invalid File.(04)";
  }
  return "Invalid File.";
}

PackageHeader ParsePackageHeader(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, kPackageHeaderSize> header{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), header.size()), header.begin());

  PackageHeader h;
  h.Magic.assign(reinterpret_cast<const char*>(header.data()) + kMagicOffset, kMagicLength);
  h.UpdateVersion = TextField(header, kVersionOffset, kVersionLength);
  h.UpdateTypeCode = h.UpdateVersion.substr(0, 3);
  h.UpdateVersionNumber = h.UpdateVersion.size() > 3 ? h.UpdateVersion.substr(3, 3) : "";
  h.SpecialModelCode = TextField(header, kSpecialCodeOffset, kSpecialCodeLength);
  h.DeclaredSize = static_cast<std::int32_t>(LoadLE32(header.data() + kSizeOffset));
  h.CheckValue = LoadLE32(header.data() + kCheckValueOffset);
  return h;
}

PackageVerdict CheckPackageHeader(const PackageHeader& header, std::int64_t file_size,
                                  const PackageCheckSteps& steps) {
  if (std::find(std::begin(kPackageMagics), std::end(kPackageMagics), header.Magic) ==
      std::end(kPackageMagics))
    return PackageVerdict::BadMagic;

  if (steps.VersionRead) steps.VersionRead(header);

  const PackageMode* mode = FindPackageMode(header.UpdateTypeCode);
  if (mode == nullptr) return PackageVerdict::BadMode;
  if (steps.ModeChosen) steps.ModeChosen(*mode);
  if (!mode->Warning.empty()) {
    const std::optional<std::string> entered =
        steps.AskAccess ? steps.AskAccess(*mode) : std::nullopt;
    if (!entered || *entered != kPackageAccessValue) return PackageVerdict::BadMode;
  }

  if (steps.SpecialCodeRead) steps.SpecialCodeRead(header);

  // A file shorter than its header would read the missing bytes as zero and
  // could pass as a package with an empty image; it is never one.
  if (file_size < static_cast<std::int64_t>(kPackageHeaderSize) ||
      static_cast<std::int64_t>(header.DeclaredSize) != file_size)
    return PackageVerdict::BadSize;
  return PackageVerdict::Accepted;
}

}  // namespace mvx
