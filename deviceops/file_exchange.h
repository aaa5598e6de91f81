// Rules of the device file exchanges that need no window: the download packet
// plan, the file-information log lines, the digest text, the serial-number tests,
// the information file's items and the replacement of a file on disk. The
// main window's steps (download.cpp, install.cpp, info_file.cpp, format.cpp)
// use them; they are kept apart so that each rule can be checked alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/layouts.h"

namespace mvx::deviceops {

// The information file parser looks at no more than this many bytes.
inline constexpr std::size_t kInfoParseLimit = 1025;

// How an image of a given size travels: full data packets, then one end packet
// that carries the rest, and the last full block when the size is a multiple
// of the block (an empty image announces 0 packets and still sends an end
// packet of 0 bytes).
struct DownloadPlan {
  std::int32_t DataPackets = 0;  // may be -1 for an empty image
  std::int32_t PacketCount = 0;  // announced to the device
  std::int64_t EndBytes = 0;     // bytes in the end packet
};
DownloadPlan PlanDownload(std::int64_t image_size);

// The lines logged for a file-information packet, first to last, with the
// file name as it stands in info (the caller trims and converts it for the log).
std::vector<std::string> FileInfoLogLines(const protocol::FileInfoPacket& info);

// The 16 digest bytes of a "GCMD" data-check answer as 32 upper-case hex digits.
std::string DeviceDigestText(std::string_view packet);

// The three items of a "GSER" answer: pcb, bat, serial number.
struct SerialInfo {
  std::string Pcb, Bat, Serial;
  bool Complete = false;  // all three items were present
};
SerialInfo ParseSerialAnswer(std::string_view answer);
// A serial number the device may keep: it begins "TV04", "TV05" or "PX001".
bool IsWellFormedSerial(std::string_view serial);

// Items picked out of the information file (serial number, pcb, bat).
struct InfoItems {
  std::string Ser, Pcb, Bat;
  int Found = 0;  // lines that carried an item, at most 3
};
// Parses at most the first kInfoParseLimit bytes, up to the first NUL byte.
InfoItems ParseInfoFile(const std::vector<std::uint8_t>& file);

// The value padded on the right with '0' to at least width characters.
std::string PadWithZeros(std::string value, std::size_t width = 12);
// "SSER " + pcb + " " + bat + " " + serial, each padded to 12 characters.
std::string BuildSetSerialCommand(const std::string& pcb, const std::string& bat,
                                  const std::string& serial);

// The byte count of the device's answer to "fres" ("OK 123 bytes"); 0 when the
// rest is not a number.
long long FormatByteCount(std::string_view answer);

// Writes the bytes to a temporary file next to path and renames it over path,
// so that path holds either its old or its new content, never a part. False
// and a description in error when it fails.
bool ReplaceFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                 std::string& error);

}  // namespace mvx::deviceops
