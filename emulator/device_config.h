// Everything that makes one emulated Merovox device: who it says it is, what
// its file system holds, how fast it answers and which faults it shows.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mvx::emu {

// The three items of the device's serial information, in the order "GSER"
// answers them and "SSER" takes them.
struct SerialItems {
  std::string Pcb = "PCB000000001";
  std::string Bat = "BAT000000001";
  std::string Serial = "TV0400001234";
  bool operator==(const SerialItems&) const = default;
};

struct DeviceIdentity {
  std::uint16_t VendorId = 0x5E3A;
  std::uint16_t ProductId = 0x0051;
  std::string Product = "Merovox TV";
  // Report lengths as the HID capabilities give them, report-ID byte
  // included. Download and upload data packets need 1024 bytes after the ID.
  std::uint16_t InputReportLength = 1025;
  std::uint16_t OutputReportLength = 1025;
  std::string Version = "201026";  // the "VER" text
  // The version after an install of a file it holds; empty keeps Version.
  std::string VersionAfterInstall;
  std::string Model = "TV004";
  std::string Detail = "TV004 standard";
  std::string Language = "Japanese";
  SerialItems Serial;
  // What "GSER" reports after an install (a firmware that lost its serial
  // number); none keeps the items.
  std::optional<SerialItems> SerialAfterInstall;
};

// One file on the device. A file is described either by its bytes or, for a
// large image given only by its digest, by a size and an MD5 text.
struct StoredFile {
  std::string Content;
  std::optional<std::uint32_t> DeclaredSize;
  std::string DeclaredDigest;  // 32 upper-case hex digits
  std::uint32_t Size() const;
  std::string Digest() const;
};

struct DeviceTiming {
  std::uint32_t LatencyMs = 5;     // from a command to its first answer, and between answers
  std::uint32_t BackupMs = 200;    // backup of the system file
  std::uint32_t InstallMs = 500;   // from the install command to leaving the bus
  std::uint32_t RestartMs = 3000;  // off the bus during the restart
  std::uint32_t FormatMs = 1000;   // the file-system format
};

enum class FaultKind {
  Answer,              // the answer to a command replaced: NG, garbage, text or nothing
  PacketStatus,        // a download acknowledgement or GCMD answer with another status or code
  WrongDigest,         // the data-check digest differs from what was received
  DeleteFails,         // "DELE" with a non-zero result
  FinsStatus,          // "FINS" with the status byte given
  UploadSkipPacket,    // the upload leaves out the packet number given
  UploadDuplicateEnd,  // the upload end packet is sent twice
  UploadWrongSize,     // the upload information reports a size off by the value
  FormatSmallCount,    // "fres" reports the byte count given
  RemoveAt,            // the device leaves the bus instead of answering (and comes back)
  WriteFails,          // the host's write of the command fails: the device never gets it
  NoReturn,            // after the install the device never comes back
};

enum class Replacement { NG, Garbage, Nothing, Text };

// One fault. It watches the commands of one name (the first word of a text
// command, or the keyword of a binary packet) and acts on the occurrences
// First, First + 1, ... of that command, Times of them (0: all from First on).
struct Fault {
  FaultKind Kind = FaultKind::Answer;
  std::string Command;  // empty: the command the kind implies
  int First = 1;
  int Times = 1;
  // Answer: the replacement; AnswerIndex picks one answer of a command that
  // answers more than once (from 1), 0 replaces the whole reply by one.
  Replacement With = Replacement::NG;
  std::string Text;
  int AnswerIndex = 0;
  // PacketStatus: the status and code to report instead (none keeps them);
  // on "GCMD" only the answer with result code Result (0: every answer).
  std::optional<std::uint32_t> Status;
  std::optional<std::uint32_t> Code;
  std::uint32_t Result = 0;
  // FinsStatus: the status byte; UploadSkipPacket: the packet number left out;
  // UploadWrongSize: added to the size; FormatSmallCount: the byte count.
  std::int64_t Value = 0;
  // RemoveAt: the device comes back on the bus this long after it left
  // (a loose contact); none: it stays away until it is set in again.
  std::optional<std::uint32_t> ReturnMs;
};

struct DeviceConfig {
  DeviceIdentity Identity;
  std::map<std::string, StoredFile> Files;  // without "TVINFO.INI", one is made from Serial
  DeviceTiming Timing;
  // Acknowledgement codes spelt 0x1010 / 0x1020 / 0x1030 instead of
  // 0x1001 / 0x1002 / 0x1003.
  bool AltAckCodes = false;
  // The byte count "fres" reports after a good format.
  std::uint64_t FormatBytes = 1'000'000'000;
  // The time stamp text of the upload information packet.
  std::string UploadTimeStamp = "2026/12/08 09:00:00";
  std::vector<Fault> Faults;
};

// MD5 of the bytes as 32 upper-case hexadecimal digits.
std::string Md5Hex(std::string_view bytes);

// The information file's text for the serial items.
std::string InfoFileText(const SerialItems& items);

}  // namespace mvx::emu
