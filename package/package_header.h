// The update package (".tvu"): a 64-byte header and the firmware image. This
// header is the one place that knows its layout, its modes and the order of
// its checks; the main window and tvutool both check packages through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mvx {

inline constexpr std::size_t kPackageHeaderSize = 64;

// Field offsets and lengths in the header.
inline constexpr std::size_t kMagicOffset = 0, kMagicLength = 5;
inline constexpr std::size_t kVersionOffset = 8, kVersionLength = 6;
inline constexpr std::size_t kSpecialCodeOffset = 14, kSpecialCodeLength = 6;
inline constexpr std::size_t kSizeOffset = 56;
inline constexpr std::size_t kCheckValueOffset = 60;

inline constexpr std::string_view kPackageMagics[] = {"Tavun", "Tavu2"};

// Both the mockup and the ping-marker package ask for this access value.
inline constexpr const char* kPackageAccessValue = "8264085";
inline constexpr const char* kPackageAccessPrompt = "password";

// One mode of a package, chosen by the first three characters of its version.
struct PackageMode {
  std::string_view TypeCode;
  std::string_view Text;  // shown in Label1
  // Empty for a mode that needs no confirmation; else the warning dialog's
  // text and the caption of the input box that asks for the access value.
  std::string_view Warning;
  std::string_view InputCaption;
};

// nullptr for an unknown type code.
const PackageMode* FindPackageMode(std::string_view type_code);

enum class PackageVerdict {
  Accepted,
  BadMagic,       // "Invalid File.(01)"
  BadMode,        // "Invalid File.(02)", also a refused confirmation
  BadSize,        // "Invalid File.(03)"
  BadCheckValue,  // "Invalid File.(04)"
};

// What Label1 shows for a rejection; "accepted" for an acceptance.
std::string VerdictText(PackageVerdict verdict);

// The header as read: every text field up to its first NUL byte. Bytes beyond
// the end of a short file read as zero.
struct PackageHeader {
  std::string Magic;  // the five bytes at offset 0, as they are
  std::string UpdateVersion;
  std::string UpdateTypeCode;       // characters 1 to 3 of UpdateVersion
  std::string UpdateVersionNumber;  // characters 4 to 6
  std::string SpecialModelCode;
  std::int32_t DeclaredSize = 0;  // compared as a signed number
  std::uint32_t CheckValue = 0;
};

// bytes: the start of the file, at most 64 bytes; what is missing reads as 0.
PackageHeader ParsePackageHeader(std::span<const std::uint8_t> bytes);

// What the checks tell their caller between steps, and the one question they
// ask. Every member may be left empty.
struct PackageCheckSteps {
  // The version text has been read.
  std::function<void(const PackageHeader&)> VersionRead;
  // A known mode has been chosen (before any confirmation).
  std::function<void(const PackageMode&)> ModeChosen;
  // For a mode that needs confirmation: nothing when the operator declined
  // the warning, else the text entered in the input box (empty when it was
  // cancelled). Left empty, every confirmation is refused.
  std::function<std::optional<std::string>(const PackageMode&)> AskAccess;
  // The special model code has been read (also when it is empty).
  std::function<void(const PackageHeader&)> SpecialCodeRead;
};

// Every check that needs only the header and the file's size, in the order
// the operator sees them: magic, mode with its confirmation, special model
// code, size. Accepted means the payload's check value is still to be tested.
PackageVerdict CheckPackageHeader(const PackageHeader& header, std::int64_t file_size,
                                  const PackageCheckSteps& steps);

}  // namespace mvx
