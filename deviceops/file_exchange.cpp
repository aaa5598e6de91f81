#include "deviceops/file_exchange.h"

#include <system_error>

#include "base/file_system.h"
#include "base/text.h"

namespace mvx::deviceops {

DownloadPlan PlanDownload(std::int64_t image_size) {
  constexpr auto kDownloadBlock = static_cast<std::int64_t>(protocol::kBlockSize);
  DownloadPlan plan;
  std::int64_t data = image_size / kDownloadBlock;
  std::int64_t count = data + 1;
  // The device expects the end packet to carry data: a last full block goes
  // there instead of into a data packet of its own.
  if (image_size % kDownloadBlock == 0) {
    --data;
    --count;
  }
  plan.DataPackets = static_cast<std::int32_t>(data);
  plan.PacketCount = static_cast<std::int32_t>(count);
  plan.EndBytes = image_size - (data > 0 ? data : 0) * kDownloadBlock;
  return plan;
}

std::vector<std::string> FileInfoLogLines(const protocol::FileInfoPacket& info) {
  return {
      "Fileinfo packet received.",
      "  cmd: FINS",
      "  filesize: " + std::to_string(info.FileSize),
      "  fileID: " + std::to_string(info.FileId),
      "  attrib: " + std::to_string(info.Attributes),
      Format("  date: %u/%u/%u %u:%u:%u", unsigned{info.Year}, unsigned{info.Month},
             unsigned{info.Day}, unsigned{info.Hour}, unsigned{info.Minute}, unsigned{info.Second}),
      "  filename: " + info.FileName,
      Format("  status: %u", unsigned{info.Status}),
  };
}

std::string DeviceDigestText(std::string_view packet) {
  return protocol::GcmdAnswerPacket::Read(packet).DigestText();
}

namespace {

bool IsSeparator(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::vector<std::string> SplitFields(std::string_view text) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(text[i])) ++i;
    const std::size_t begin = i;
    while (i < text.size() && !IsSeparator(text[i])) ++i;
    if (i > begin) fields.emplace_back(text.substr(begin, i - begin));
  }
  return fields;
}

}  // namespace

SerialInfo ParseSerialAnswer(std::string_view answer) {
  const std::vector<std::string> fields = SplitFields(RemoveAll(answer, "OK "));
  SerialInfo info;
  // A short answer leaves the missing items empty: an empty serial number is
  // never well formed, so the information file is read instead.
  if (fields.size() > 0) info.Pcb = fields[0];
  if (fields.size() > 1) info.Bat = fields[1];
  if (fields.size() > 2) info.Serial = fields[2];
  info.Complete = fields.size() >= 3;
  return info;
}

bool IsWellFormedSerial(std::string_view serial) {
  return StartsWith(serial, "TV04") || StartsWith(serial, "TV05") || StartsWith(serial, "PX001");
}

namespace {

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

}  // namespace

InfoItems ParseInfoFile(const std::vector<std::uint8_t>& file) {
  std::string text;
  for (std::size_t i = 0; i < file.size() && i < kInfoParseLimit; ++i) {
    if (file[i] == 0) break;
    text += static_cast<char>(file[i]);
  }
  InfoItems items;
  for (const std::string& line : SplitLines(text)) {
    if (line.find("ser") != std::string::npos)
      items.Ser = RemoveAll(line, "ser ");
    else if (line.find("pcb") != std::string::npos)
      items.Pcb = RemoveAll(line, "pcb ");
    else if (line.find("bat") != std::string::npos)
      items.Bat = RemoveAll(line, "bat ");
    else
      continue;
    if (++items.Found == 3) break;
  }
  return items;
}

std::string PadWithZeros(std::string value, std::size_t width) {
  if (value.size() < width) value.append(width - value.size(), '0');
  return value;
}

std::string BuildSetSerialCommand(const std::string& pcb, const std::string& bat,
                                  const std::string& serial) {
  return "SSER " + PadWithZeros(pcb) + " " + PadWithZeros(bat) + " " + PadWithZeros(serial);
}

long long FormatByteCount(std::string_view answer) {
  return ToIntDef0(RemoveAll(RemoveAll(answer, "OK "), " bytes"));
}

bool ReplaceFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                 std::string& error) {
  const std::error_code failure = ReplaceFileContents(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!failure) return true;
  error = "Cannot write " + path + ". " + failure.message();
  return false;
}

}  // namespace mvx::deviceops
