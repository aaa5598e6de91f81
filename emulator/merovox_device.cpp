#include "emulator/merovox_device.h"

#include <algorithm>
#include <charconv>

#include "protocol/layouts.h"

namespace mvx::emu {

using namespace mvx::protocol;

namespace {

// Binary commands: their keyword names them, and their bytes run past NULs.
constexpr std::string_view kBinaryCommands[] = {"ACPS", "ACPD", "ACPE", "FCPS",
                                                "FCPD", "FCPE", "GCMD", "UPLR"};

// A device answer that holds none of the channel's keywords.
constexpr std::string_view kGarbage = "\x13\x37#~?\xFE\x80\x7F\x01";

bool IsBinary(std::string_view line) {
  if (line.size() < 4) return false;
  return std::find(std::begin(kBinaryCommands), std::end(kBinaryCommands), line.substr(0, 4)) !=
         std::end(kBinaryCommands);
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && static_cast<unsigned char>(text[i]) > ' ') ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

// The text after "NAME ".
std::string_view Argument(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() + 1) return {};
  return line.substr(name.size() + 1);
}

std::uint32_t AltCode(std::uint32_t code) {
  switch (code) {
    case kAckStart:
      return kAckStartAlt;
    case kAckData:
      return kAckDataAlt;
    case kAckEnd:
      return kAckEndAlt;
  }
  return code;
}

std::array<std::uint8_t, 16> DigestBytes(const std::string& hex) {
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size() && 2 * i + 1 < hex.size(); ++i) {
    unsigned value = 0;
    std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, value, 16);
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  return bytes;
}

std::string DefaultCommand(FaultKind kind) {
  switch (kind) {
    case FaultKind::WrongDigest:
      return "GCMD datacheck";
    case FaultKind::NoReturn:
    case FaultKind::WriteFails:
      return "GCMD install";
    case FaultKind::DeleteFails:
      return "DELS";
    case FaultKind::FinsStatus:
      return "FINS";
    case FaultKind::UploadSkipPacket:
    case FaultKind::UploadDuplicateEnd:
    case FaultKind::UploadWrongSize:
      return "UPLS";
    case FaultKind::FormatSmallCount:
      return "fres";
    case FaultKind::Answer:
    case FaultKind::PacketStatus:
    case FaultKind::RemoveAt:
      break;
  }
  return {};
}

}  // namespace

struct MerovoxDevice::Download {
  char Family = 'F';
  std::uint32_t ImageSize = 0;
  std::uint32_t PacketCount = 0;
  std::string FileName;
  std::string Data;
  std::uint32_t Next = 0;
};

struct MerovoxDevice::Upload {
  std::string Content;
  std::size_t Offset = 0;
  std::uint32_t Number = 0;
  bool EndSent = false;
  const Fault* Skip = nullptr;
  const Fault* DuplicateEnd = nullptr;
  const Fault* WrongSize = nullptr;
};

MerovoxDevice::Host MerovoxDevice::Host::OfCradle(
    std::function<void(const std::uint8_t*, std::size_t)> input, std::function<void()> leave,
    std::function<void()> come_back, const std::function<void(bool on_bus)>& on_bus_change) {
  Host host;
  host.Input = std::move(input);
  host.LeaveBus = [leave = std::move(leave), &on_bus_change] {
    if (on_bus_change) on_bus_change(false);
    leave();
  };
  host.ReturnToBus = [come_back = std::move(come_back), &on_bus_change] {
    if (on_bus_change) on_bus_change(true);
    come_back();
  };
  return host;
}

MerovoxDevice::MerovoxDevice(DeviceConfig config, IScheduler& scheduler)
    : scheduler_(scheduler), config_(std::move(config)) {
  if (!config_.Files.count(kInfoFileName))
    config_.Files[kInfoFileName].Content = InfoFileText(config_.Identity.Serial);
}

MerovoxDevice::~MerovoxDevice() {
  std::lock_guard<std::mutex> lock(guard_->Mutex);
  guard_->Alive = false;
}

void MerovoxDevice::SetHost(Host host) {
  std::lock_guard<std::mutex> lock(guard_->Mutex);
  host_ = std::move(host);
}

MerovoxDevice::CommandNames MerovoxDevice::NamesOf(const std::uint8_t* report, std::size_t length) {
  CommandNames names;
  if (length < 2) return names;
  std::string_view line(reinterpret_cast<const char*>(report) + 1, length - 1);
  const bool binary = IsBinary(line);
  if (!binary) line = line.substr(0, std::min(line.size(), line.find('\0')));
  names.Line = line;
  // A binary packet is named by its keyword; its bytes are never split into words.
  if (binary) {
    names.Name = std::string(line.substr(0, 4));
  } else {
    const std::vector<std::string> words = Words(line);
    if (!words.empty()) names.Name = words.front();
  }
  if (names.Name == GcmdCommandPacket::kKeyword) {
    switch (GcmdCommandPacket::Read(line).SubCommand) {
      case kGcmdVerify:
        names.Sub = "GCMD verify";
        break;
      case kGcmdDataCheck:
        names.Sub = "GCMD datacheck";
        break;
      case kGcmdInstall:
        names.Sub = "GCMD install";
        break;
      default:
        break;
    }
  }
  return names;
}

bool MerovoxDevice::RefusesWrite(const std::uint8_t* report, std::size_t length) {
  if (length < 2) return false;
  const CommandNames names = NamesOf(report, length);
  std::lock_guard<std::mutex> lock(guard_->Mutex);
  // The attempt is counted first, so that a fault on the n-th command acts
  // on this one when it is the n-th.
  ++counts_[names.Name];
  if (!names.Sub.empty()) ++counts_[names.Sub];
  commands_.push_back(names.Name);
  if (ActiveFault(FaultKind::WriteFails, names.Name) ||
      (!names.Sub.empty() && ActiveFault(FaultKind::WriteFails, names.Sub)))
    return true;
  --counts_[names.Name];
  if (!names.Sub.empty()) --counts_[names.Sub];
  commands_.pop_back();
  return false;
}

void MerovoxDevice::Receive(const std::uint8_t* report, std::size_t length) {
  if (length < 2) return;
  const CommandNames names = NamesOf(report, length);
  const std::string& name = names.Name;
  const std::string_view line = names.Line;

  std::unique_lock<std::mutex> lock(guard_->Mutex);
  if (restarting_) return;
  ++counts_[name];
  commands_.push_back(name);
  Reply reply;
  if (const Fault* removal = ActiveFault(FaultKind::RemoveAt, name)) {
    const std::optional<std::uint32_t> back = removal->ReturnMs;
    reply.push_back({0, {}, [this, back] {
                       Forget();
                       outbox_.push_back([leave = host_.LeaveBus] {
                         if (leave) leave();
                       });
                       // A loose contact: the device comes back by itself.
                       if (!back) return;
                       Schedule({{*back, {}, [this] {
                                    outbox_.push_back([come_back = host_.ReturnToBus] {
                                      if (come_back) come_back();
                                    });
                                  }}});
                     }});
  } else {
    reply = Dispatch(name, line);
    ApplyAnswerFaults(name, reply);
  }
  Schedule(std::move(reply));
  Flush(lock);
}

void MerovoxDevice::Attached() {
  std::unique_lock<std::mutex> lock(guard_->Mutex);
  restarting_ = false;
  Forget();
}

void MerovoxDevice::Removed() {
  std::unique_lock<std::mutex> lock(guard_->Mutex);
  restarting_ = false;
  Forget();
}

void MerovoxDevice::SendUnasked(std::string answer) {
  std::unique_lock<std::mutex> lock(guard_->Mutex);
  if (restarting_) return;
  Schedule({{0, std::move(answer), nullptr}});
  Flush(lock);
}

DeviceIdentity MerovoxDevice::Identity() const {
  std::lock_guard<std::mutex> lock(guard_->Mutex);
  return config_.Identity;
}

std::map<std::string, StoredFile> MerovoxDevice::Files() const {
  std::lock_guard<std::mutex> lock(guard_->Mutex);
  return config_.Files;
}

bool MerovoxDevice::Restarting() const {
  std::lock_guard<std::mutex> lock(guard_->Mutex);
  return restarting_;
}

std::vector<std::string> MerovoxDevice::Commands() const {
  std::lock_guard<std::mutex> lock(guard_->Mutex);
  return commands_;
}

int MerovoxDevice::CommandCount(const std::string& name) const {
  std::lock_guard<std::mutex> lock(guard_->Mutex);
  const auto it = counts_.find(name);
  return it == counts_.end() ? 0 : it->second;
}

// ---- Commands -----------------------------------------------------------------

MerovoxDevice::Reply MerovoxDevice::Dispatch(const std::string& name, std::string_view line) {
  const DeviceIdentity& id = config_.Identity;
  if (name == "RTC") return SetClock(line);
  if (name == "VER") return TextAnswer("OK " + id.Version);
  if (name == "GSER")
    return TextAnswer("OK " + id.Serial.Pcb + " " + id.Serial.Bat + " " + id.Serial.Serial);
  if (name == "KIND") return TextAnswer("OK " + id.Model);
  if (name == "DETAIL") return TextAnswer("OK " + id.Detail);
  if (name == "LANGUAGE") return TextAnswer("OK " + id.Language);
  if (name == "SSER") return SetSerial(line);
  if (name == "CLEAR") return TextAnswer("Successfully erased");
  if (name == "fmts") return Format(false);
  if (name == "fres") return Format(true);
  if (name == "FINS") return FileInfo(Argument(line, name));
  if (name == "DELS") return DeleteFile(Argument(line, name));
  if (name == "UPLS") return UploadStart(Argument(line, name));
  if (name == "ACPS" || name == "FCPS") return DownloadStart(line);
  if (name == "ACPD" || name == "FCPD") return DownloadData(line);
  if (name == "ACPE" || name == "FCPE") return DownloadEnd(line);
  if (name == "GCMD") return Gcmd(line);
  if (name == "UPLR") return UploadAck(line);
  return TextAnswer("NG");
}

MerovoxDevice::Reply MerovoxDevice::TextAnswer(std::string text) const {
  return {{config_.Timing.LatencyMs, text + "\r\n", nullptr}};
}

MerovoxDevice::Reply MerovoxDevice::SetClock(std::string_view line) {
  const std::vector<std::string> words = Words(line);
  std::uint64_t seconds = 0;
  const bool valid =
      words.size() == 3 && words[1] == "SET" &&
      std::from_chars(words[2].data(), words[2].data() + words[2].size(), seconds).ptr ==
          words[2].data() + words[2].size();
  return TextAnswer(valid ? "OK" : "NG");
}

MerovoxDevice::Reply MerovoxDevice::SetSerial(std::string_view line) {
  const std::vector<std::string> words = Words(line);
  if (words.size() != 4) return TextAnswer("NG");
  config_.Identity.Serial = SerialItems{words[1], words[2], words[3]};
  config_.Files[kInfoFileName] = StoredFile{InfoFileText(config_.Identity.Serial), {}, {}};
  return TextAnswer("OK");
}

// "fmts": the job-8 line, then "OK" once the format is done; "fres": the
// job-16 line, then the size of the fresh file system.
MerovoxDevice::Reply MerovoxDevice::Format(bool reset) {
  const DeviceTiming& t = config_.Timing;
  if (!reset) {
    return {{t.LatencyMs, "filecmd_job 8\n", nullptr},
            {t.LatencyMs + t.FormatMs,
             {},
             [this] {
               // The format keeps only the information file.
               std::erase_if(config_.Files, [](const auto& f) { return f.first != kInfoFileName; });
             }},
            {t.LatencyMs + t.FormatMs, "OK\r\n", nullptr}};
  }
  std::uint64_t bytes = config_.FormatBytes;
  if (const Fault* f = ActiveFault(FaultKind::FormatSmallCount, "fres"))
    bytes = static_cast<std::uint64_t>(f->Value);
  return {{t.LatencyMs, "filecmd_job 16\n", nullptr},
          {2 * t.LatencyMs, "OK " + std::to_string(bytes) + " bytes\r\n", nullptr}};
}

MerovoxDevice::Reply MerovoxDevice::FileInfo(std::string_view name) {
  FileInfoPacket p;
  p.FileName = std::string(name.substr(0, FileInfoPacket::kNameLength));
  const StoredFile* held = FindFile(name);
  std::uint16_t id = 0;
  for (const auto& [file_name, file] : config_.Files) {
    ++id;
    if (&file != held) continue;
    p.FileSize = file.Size();
    p.FileId = id;
    p.Attributes = 0x20;
    p.Hour = 9;
    p.Day = 8;
    p.Month = 12;
    p.Year = 2026;
    p.FileName = file_name.substr(0, FileInfoPacket::kNameLength);
    p.Status = 1;
  }
  if (const Fault* f = ActiveFault(FaultKind::FinsStatus, "FINS"))
    p.Status = static_cast<std::uint8_t>(f->Value);
  return {{config_.Timing.LatencyMs, p.Write(), nullptr}};
}

MerovoxDevice::Reply MerovoxDevice::DeleteFile(std::string_view name) {
  DeleteAnswerPacket p;
  const auto it = config_.Files.find(std::string(name));
  if (ActiveFault(FaultKind::DeleteFails, "DELS") || it == config_.Files.end()) {
    p.Result = 1;
  } else {
    config_.Files.erase(it);
  }
  return {{config_.Timing.LatencyMs, p.Write(), nullptr}};
}

// Download status values: 1 no transfer started, 2 packet out of sequence,
// 3 bad end count, 4 size or packet count differs from the announcement.
MerovoxDevice::Reply MerovoxDevice::DownloadStart(std::string_view line) {
  const DownloadStartPacket p = DownloadStartPacket::Read(line);
  download_ = std::make_unique<Download>();
  download_->Family = p.Family;
  download_->ImageSize = p.ImageSize;
  download_->PacketCount = p.PacketCount;
  download_->FileName = p.FileName;
  // Room for the announced image (within reason: the size may be anything).
  download_->Data.reserve(std::min<std::size_t>(p.ImageSize, std::size_t{64} << 20));
  const std::uint32_t status = p.FileName.empty() ? 1 : 0;
  if (status) download_.reset();
  return {{config_.Timing.LatencyMs, DownloadAck(p.Family, kAckStart, status), nullptr}};
}

MerovoxDevice::Reply MerovoxDevice::DownloadData(std::string_view line) {
  const DownloadDataPacket p = DownloadDataPacket::Read(line);
  std::uint32_t status = 0;
  if (!download_) {
    status = 1;
  } else if (p.Sequence != download_->Next) {
    status = 2;
  } else {
    download_->Data += p.Data;
    ++download_->Next;
  }
  return {{config_.Timing.LatencyMs, DownloadAck(p.Family, kAckData, status), nullptr}};
}

MerovoxDevice::Reply MerovoxDevice::DownloadEnd(std::string_view line) {
  const DownloadEndPacket p = DownloadEndPacket::Read(line);
  std::uint32_t status = 0;
  // An empty image is announced with a packet count of 0 and ends with an end
  // packet of 0 bytes; any other image ends with 1 to 1016 bytes, the packet
  // count taking the end packet in.
  const bool empty = download_ && download_->ImageSize == 0;
  if (!download_) {
    status = 1;
  } else if ((p.Count == 0 && !empty) || p.Count > kBlockSize) {
    status = 3;
  } else {
    download_->Data += p.Data;
    // What the data check reports, kept instead of a second copy of the image.
    received_digest_ = Md5Hex(download_->Data);
    received_size_ = download_->Data.size();
    const std::uint32_t packets = empty ? download_->Next : download_->Next + 1;
    if (download_->Data.size() != download_->ImageSize || packets != download_->PacketCount)
      status = 4;
    else
      config_.Files[download_->FileName] = StoredFile{std::move(download_->Data), {}, {}};
  }
  download_.reset();
  return {{config_.Timing.LatencyMs, DownloadAck(p.Family, kAckEnd, status), nullptr}};
}

// The acknowledgement keyword follows the family of the packet it answers.
std::string MerovoxDevice::DownloadAck(char family, std::uint32_t code,
                                       std::uint32_t status) const {
  DownloadAckPacket ack{family == 'A' ? 'A' : 'F', config_.AltAckCodes ? AltCode(code) : code,
                        status};
  if (const Fault* f = ActiveFault(FaultKind::PacketStatus, commands_.back())) {
    if (f->Status) ack.Status = *f->Status;
    if (f->Code) ack.Code = *f->Code;
  }
  return ack.Write();
}

MerovoxDevice::Reply MerovoxDevice::Gcmd(std::string_view line) {
  const GcmdCommandPacket p = GcmdCommandPacket::Read(line);
  const DeviceTiming& t = config_.Timing;
  switch (p.SubCommand) {
    case kGcmdVerify: {
      ++counts_["GCMD verify"];
      const StoredFile* file = FindFile(p.FileName);
      const std::uint32_t status = file && file->Size() > 0 ? 0 : 1;
      // The device follows the verify result with its backup by itself.
      return {{t.LatencyMs, GcmdAnswer(kGcmdResultVerify, status), nullptr},
              {2 * t.LatencyMs + t.BackupMs, GcmdAnswer(kGcmdResultBackup, 0), nullptr}};
    }
    case kGcmdDataCheck: {
      ++counts_["GCMD datacheck"];
      std::string digest = received_digest_;
      if (ActiveFault(FaultKind::WrongDigest, "GCMD datacheck"))
        digest[0] = digest[0] == '0' ? '1' : '0';
      const std::uint32_t status = received_size_ == p.Argument ? 0 : 1;
      return {
          {t.LatencyMs + t.BackupMs, GcmdAnswer(kGcmdResultBackup, 0), nullptr},
          {2 * t.LatencyMs + t.BackupMs, GcmdAnswer(kGcmdResultDigest, status, digest), nullptr}};
    }
    case kGcmdInstall:
      ++counts_["GCMD install"];
      return Install(p.FileName);
  }
  return TextAnswer("NG");
}

std::string MerovoxDevice::GcmdAnswer(std::uint32_t result, std::uint32_t status,
                                      const std::string& digest) const {
  GcmdAnswerPacket answer;
  answer.Result = result;
  answer.Status = status;
  if (!digest.empty()) answer.Digest = DigestBytes(digest);
  const Fault* f = ActiveFault(FaultKind::PacketStatus, "GCMD");
  if (f && (f->Result == 0 || f->Result == result)) {
    if (f->Status) answer.Status = *f->Status;
    if (f->Code) answer.Result = *f->Code;
  }
  std::string bytes = answer.Write();
  // Only the data-check answer carries the digest.
  if (result != kGcmdResultDigest) bytes.resize(GcmdAnswerPacket::kDigestOffset);
  return bytes;
}

// The install: the device works for a while, leaves the bus to restart and
// comes back with the new firmware's version.
MerovoxDevice::Reply MerovoxDevice::Install(const std::string& file_name) {
  const bool returns = !ActiveFault(FaultKind::NoReturn, "GCMD install");
  const bool holds_file = FindFile(file_name) != nullptr;
  return {{config_.Timing.InstallMs, {}, [this, returns, holds_file] {
             Forget();
             restarting_ = true;
             DeviceIdentity& id = config_.Identity;
             if (holds_file && !id.VersionAfterInstall.empty()) id.Version = id.VersionAfterInstall;
             if (holds_file && id.SerialAfterInstall) id.Serial = *id.SerialAfterInstall;
             outbox_.push_back([leave = host_.LeaveBus] {
               if (leave) leave();
             });
             if (!returns) return;
             Schedule({{config_.Timing.RestartMs, {}, [this] {
                          restarting_ = false;
                          outbox_.push_back([back = host_.ReturnToBus] {
                            if (back) back();
                          });
                        }}});
           }}};
}

MerovoxDevice::Reply MerovoxDevice::UploadStart(std::string_view name) {
  const StoredFile* file = FindFile(name);
  if (!file || !file->DeclaredDigest.empty()) return TextAnswer("NG");
  upload_ = std::make_unique<Upload>();
  upload_->Content = file->Content;
  upload_->Skip = ActiveFault(FaultKind::UploadSkipPacket, "UPLS");
  upload_->DuplicateEnd = ActiveFault(FaultKind::UploadDuplicateEnd, "UPLS");
  upload_->WrongSize = ActiveFault(FaultKind::UploadWrongSize, "UPLS");
  UploadStartPacket p;
  p.Word1 = static_cast<std::uint32_t>(file->Content.size());
  p.Word2 = static_cast<std::uint32_t>(file->Content.size() / kBlockSize + 1);
  p.FileName = std::string(name);
  return {{config_.Timing.LatencyMs, p.Write(), nullptr}};
}

// Each upload packet waits for the tool's "UPLR" for the one before.
MerovoxDevice::Reply MerovoxDevice::UploadAck(std::string_view line) {
  const UploadAckPacket ack = UploadAckPacket::Read(line);
  const std::uint32_t latency = config_.Timing.LatencyMs;
  if (!upload_) return {};
  if (ack.Code == kAckStart || ack.Code == kAckData) {
    if (upload_->EndSent) return {};
    return {{latency, NextUploadPacket(), nullptr}};
  }
  if (ack.Code != kAckEnd) return {};
  Reply reply;
  std::uint32_t at = latency;
  if (upload_->DuplicateEnd) {
    UploadEndPacket end;
    end.Data = upload_->Content.substr(upload_->Offset);
    end.Count = static_cast<std::uint32_t>(end.Data.size());
    reply.push_back({at, end.Write(), nullptr});
    at += latency;
  }
  UploadInfoPacket info;
  info.FileSize = static_cast<std::uint32_t>(upload_->Content.size());
  if (upload_->WrongSize) info.FileSize += static_cast<std::uint32_t>(upload_->WrongSize->Value);
  info.TimeStamp = config_.UploadTimeStamp;
  reply.push_back({at, info.Write(), nullptr});
  upload_.reset();
  return reply;
}

// Full blocks go in data packets; the rest, up to one whole block, in the end
// packet.
std::string MerovoxDevice::NextUploadPacket() {
  Upload& u = *upload_;
  const std::size_t remaining = u.Content.size() - u.Offset;
  if (remaining > kBlockSize) {
    if (u.Skip && u.Number == static_cast<std::uint32_t>(u.Skip->Value)) ++u.Number;
    UploadDataPacket data{u.Number++, u.Content.substr(u.Offset, kBlockSize)};
    u.Offset += kBlockSize;
    return data.Write();
  }
  u.EndSent = true;
  UploadEndPacket end;
  end.Data = u.Content.substr(u.Offset);
  end.Count = static_cast<std::uint32_t>(end.Data.size());
  return end.Write();
}

// ---- Faults, files and delivery ---------------------------------------------

const Fault* MerovoxDevice::ActiveFault(FaultKind kind, const std::string& command) const {
  for (const Fault& f : config_.Faults) {
    if (f.Kind != kind) continue;
    const std::string watched = f.Command.empty() ? DefaultCommand(kind) : f.Command;
    if (!watched.empty() && watched != command) continue;
    int n = 0;
    if (watched.empty()) {
      n = static_cast<int>(commands_.size());
    } else if (const auto it = counts_.find(watched); it != counts_.end()) {
      n = it->second;
    }
    if (n >= f.First && (f.Times == 0 || n < f.First + f.Times)) return &f;
  }
  return nullptr;
}

void MerovoxDevice::ApplyAnswerFaults(const std::string& name, Reply& reply) const {
  const Fault* f = ActiveFault(FaultKind::Answer, name);
  if (!f) return;
  std::string replacement;
  switch (f->With) {
    case Replacement::NG:
      replacement = "NG\r\n";
      break;
    case Replacement::Garbage:
      replacement = std::string(kGarbage);
      break;
    case Replacement::Text:
      replacement = f->Text;
      break;
    case Replacement::Nothing:
      break;
  }
  const bool silent = f->With == Replacement::Nothing;
  int index = 0;
  std::uint32_t first_at = config_.Timing.LatencyMs;
  bool seen = false;
  Reply out;
  for (Step& step : reply) {
    if (step.Action) {
      out.push_back(std::move(step));
      continue;
    }
    ++index;
    if (!seen) first_at = step.AtMs;
    seen = true;
    if (f->AnswerIndex != 0 && index != f->AnswerIndex) {
      out.push_back(std::move(step));
    } else if (f->AnswerIndex != 0 && !silent) {
      step.Answer = replacement;
      out.push_back(std::move(step));
    }
  }
  if (f->AnswerIndex == 0 && !silent) out.insert(out.begin(), {first_at, replacement, nullptr});
  reply = std::move(out);
}

// By its name; a name cut to the 45 characters of a "FINS" line finds the
// file whose name begins with it.
const StoredFile* MerovoxDevice::FindFile(std::string_view name) const {
  if (name.empty()) return nullptr;
  if (const auto it = config_.Files.find(std::string(name)); it != config_.Files.end())
    return &it->second;
  if (name.size() != FileInfoPacket::kNameLength) return nullptr;
  for (const auto& [file_name, file] : config_.Files)
    if (file_name.starts_with(name)) return &file;
  return nullptr;
}

void MerovoxDevice::Schedule(Reply reply) {
  // Called with the device's mutex held.
  for (Step& step : reply) {
    if (scheduler_.DueAtOnce(step.AtMs)) {
      if (step.Action)
        step.Action();
      else
        Emit(step.Answer);
      continue;
    }
    scheduler_.After(step.AtMs, [this, guard = guard_, epoch = epoch_, step = std::move(step)] {
      std::unique_lock<std::mutex> lock(guard->Mutex);
      if (!guard->Alive || epoch != epoch_) return;
      if (step.Action)
        step.Action();
      else
        Emit(step.Answer);
      Flush(lock);
    });
  }
}

void MerovoxDevice::Emit(const std::string& answer) {
  std::vector<std::uint8_t> report(std::max<std::size_t>(config_.Identity.InputReportLength, 1));
  std::copy_n(answer.begin(), std::min(answer.size(), report.size() - 1), report.begin() + 1);
  outbox_.push_back([input = host_.Input, report = std::move(report)] {
    if (input) input(report.data(), report.size());
  });
}

void MerovoxDevice::Flush(std::unique_lock<std::mutex>& lock) {
  std::vector<std::function<void()>> outbox;
  outbox.swap(outbox_);
  lock.unlock();
  for (auto& deliver : outbox) deliver();
}

void MerovoxDevice::Forget() {
  ++epoch_;
  download_.reset();
  upload_.reset();
}

}  // namespace mvx::emu
