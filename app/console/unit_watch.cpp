#include "app/console/unit_watch.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/codepage.h"
#include "base/file_system.h"
#include "base/text.h"
#include "sequencer/state_table.h"

namespace mvx::cli {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct PhaseRow {
  int State;
  Phase Of;
};

// Which phase each state of a run belongs to; the states not listed (idle,
// closing) belong to none.
constexpr PhaseRow kPhases[] = {
    {state::SetClock, Phase::Identifying},
    {state::ClockReply, Phase::Identifying},
    {state::VersionReply, Phase::Identifying},
    {state::SerialReply, Phase::Identifying},
    {state::KindReply, Phase::Identifying},
    {state::DetailReply, Phase::Identifying},
    {state::LanguageReply, Phase::Identifying},
    {state::FileInfoReply, Phase::Transfer},
    {state::DeleteReply, Phase::Transfer},
    {state::DownloadBegin, Phase::Transfer},
    {state::DownloadTransfer, Phase::Transfer},
    {state::VerifyBegin, Phase::Install},
    {state::VerifyReply, Phase::Install},
    {state::BackupReply, Phase::Install},
    {state::AwaitRestart, Phase::RestartWait},
    {state::RequeryVersion, Phase::RestartWait},
    {state::DigestReply, Phase::RestartWait},
    {state::NewVersionReply, Phase::RestartWait},
    {state::SerialInfoReply, Phase::SerialRestore},
    {state::UploadTransfer, Phase::SerialRestore},
    {state::SetSerialReply, Phase::SerialRestore},
    {state::ClearReply, Phase::SerialRestore},
    {state::PostCheckBegin, Phase::SerialRestore},
    {state::PostKindReply, Phase::SerialRestore},
    {state::FormatBegin, Phase::Format},
    {state::FormatStartReply, Phase::Format},
    {state::FormatReadyReply, Phase::Format},
    {state::FormatResetReply, Phase::Format},
    {state::FormatSizeReply, Phase::Format},
    {state::PostDetailBegin, Phase::Report},
    {state::PostDetailReply, Phase::Report},
    {state::PostLanguageReply, Phase::Report},
    {state::Finished, Phase::Report},
};

constexpr const char* kPhaseNames[] = {"waiting", "identifying",  "transfer",
                                       "install", "restart wait", "serial restore",
                                       "format",  "final report"};

// Labels show runs of dashes or hashes until the device told them.
bool Told(const std::string& caption) {
  return !caption.empty() && caption.find_first_not_of("-#") != std::string::npos;
}

// "yy/mm/dd hh:mm:ss zzz," and a two-character marker begin every log line.
constexpr std::size_t kLineHead = 24;

std::string_view Body(std::string_view line) {
  return line.size() >= kLineHead ? line.substr(kLineHead) : std::string_view();
}

// The text between prefix and the next closing bracket, when body begins so.
bool Bracketed(std::string_view body, std::string_view prefix, std::string& out) {
  if (body.substr(0, prefix.size()) != prefix) return false;
  const std::size_t end = body.find(']', prefix.size());
  if (end == std::string_view::npos) return false;
  out = std::string(body.substr(prefix.size(), end - prefix.size()));
  return true;
}

std::string FileSafe(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-';
    out += plain ? c : '_';
  }
  return out.substr(0, 40);
}

std::string FileStamp(std::chrono::system_clock::time_point moment) {
  // "2026-12-10T14:37:00.123+09:00" -> "20261210-143700"
  const std::string iso = IsoLocalTime(moment);
  if (iso.size() < 19) return "unit";
  return iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2) + "-" + iso.substr(11, 2) +
         iso.substr(14, 2) + iso.substr(17, 2);
}

}  // namespace

Phase PhaseOfState(int state) {
  for (const PhaseRow& row : kPhases)
    if (row.State == state) return row.Of;
  return Phase::None;
}

const char* PhaseName(Phase phase) {
  return kPhaseNames[static_cast<int>(phase)];
}

struct UnitWatch::Unit {
  std::uint64_t Run = 0;
  int Number = 0;
  UnitRecord Record;
  Phase At = Phase::None;
  bool Identified = false;
  bool FinalBox = false;
  std::string Error;
  std::string Declined;
  std::FILE* Log = nullptr;
  SteadyClock::time_point PercentAt{};
  long long Percent = -1;
};

UnitWatch::UnitWatch(TForm1& form, WatchSettings settings,
                     std::function<void(const std::string&)> print)
    : form_(form), settings_(std::move(settings)), print_(std::move(print)) {
  log_ = form_.Memo1.Listen(
      {[this](std::string_view line) { LineAdded(line); }, [this] { lines_.clear(); }});
}

UnitWatch::~UnitWatch() {
  if (unit_ && unit_->Log != nullptr) std::fclose(unit_->Log);
}

Phase UnitWatch::CurrentPhase() const {
  return unit_ ? unit_->At : Phase::None;
}

bool UnitWatch::Installing() const {
  return unit_ && unit_->At >= Phase::RestartWait;
}

void UnitWatch::Poll() {
  if (polling_) return;
  polling_ = true;
  if (unit_) {
    Follow();
    if (form_.RunNumber != unit_->Run) {
      End(unit_->FinalBox ? std::string()
          : !unit_->Error.empty()
              ? unit_->Error
              : std::string("Merovox was taken out during the ") + PhaseName(unit_->At) + ".");
    } else if (form_.SequencerState == state::Closing) {
      std::string result;
      if (!unit_->FinalBox) {
        result = !unit_->Error.empty()      ? unit_->Error
                 : !unit_->Declined.empty() ? "Cancelled: " + unit_->Declined
                                            : "Ended: " + LastWord();
      }
      End(result);
    }
  }
  const int state = form_.SequencerState;
  if (!unit_ && form_.CurrentDevice != nullptr && PhaseOfState(state) != Phase::None &&
      ended_run_ != form_.RunNumber)
    Begin();
  polling_ = false;
}

std::string UnitWatch::LastWord() const {
  // The run's last error line, else its last line that is more than a state
  // number.
  std::string last;
  for (auto line = lines_.rbegin(); line != lines_.rend(); ++line) {
    const std::string body = Trim(Body(*line));
    if (StartsWith(body, "Error") || StartsWith(body, "ERROR")) return body;
    const bool state_line = body.size() > 7 && body.substr(body.size() - 7) == " status";
    if (last.empty() && !body.empty() && !state_line) last = body;
  }
  return last.empty() ? "no report" : last;
}

void UnitWatch::Begin() {
  unit_ = std::make_unique<Unit>();
  unit_->Run = form_.RunNumber;
  unit_->Number = ++numbered_;
  UnitRecord& r = unit_->Record;
  r.Start = std::chrono::system_clock::now();
  r.Cradle = settings_.Cradle;
  r.Package = settings_.PackageName;
  r.PackageMd5 = settings_.PackageMd5;
  OpenLog();
  print_("unit " + std::to_string(unit_->Number) + ": Merovox set in");
  // Lines logged before the unit was noticed tell of it too.
  for (const std::string& line : lines_) Learn(Body(line));
  if (UnitBegun) UnitBegun();
  Follow();
}

void UnitWatch::OpenLog() {
  std::error_code error;
  std::filesystem::create_directories(Utf8Path(settings_.LogDir), error);
  const std::string stem = FileStamp(unit_->Record.Start) + "-" +
                           (settings_.Cradle.empty() ? "pc" : FileSafe(settings_.Cradle)) +
                           "-unit" + std::to_string(unit_->Number);
  for (int attempt = 1; attempt <= 50 && unit_->Log == nullptr; ++attempt) {
    const std::string name = stem + (attempt > 1 ? "-" + std::to_string(attempt) : "") + ".log";
    const std::string path = PathUtf8(Utf8Path(settings_.LogDir) / Utf8Path(name));
    unit_->Log = OpenFile(path, "wbx");
    if (unit_->Log != nullptr) unit_->Record.LogFile = path;
  }
  if (unit_->Log == nullptr) {
    print_("warning: the unit's log file cannot be made in " + settings_.LogDir);
    return;
  }
  for (const std::string& line : lines_) {
    std::fwrite(line.data(), 1, line.size(), unit_->Log);
    std::fputc('\n', unit_->Log);
  }
  std::fflush(unit_->Log);
}

void UnitWatch::LineAdded(std::string_view line) {
  lines_.emplace_back(line);
  if (!unit_) return;
  if (unit_->Log != nullptr) {
    std::fwrite(line.data(), 1, line.size(), unit_->Log);
    std::fputc('\n', unit_->Log);
    std::fflush(unit_->Log);
  }
  Learn(Body(line));
  Poll();
}

void UnitWatch::Learn(std::string_view body) {
  UnitRecord& r = unit_->Record;
  std::string value;
  if (unit_->At <= Phase::Identifying && Bracketed(body, "current version[", value))
    r.VersionBefore = value;
  const std::size_t type_at = body.find("updatetype[");
  if (type_at != std::string_view::npos)
    r.UpdateType = static_cast<int>(ToIntDef0(body.substr(type_at + 11, 1)));
  // The items as the unit's answer after the restart, or its information
  // file, told them.
  for (const auto& [prefix, field] : {std::pair{"PCB : ", &r.Pcb}, std::pair{"pcb:", &r.Pcb},
                                      std::pair{"BAT : ", &r.Bat}, std::pair{"bat:", &r.Bat}}) {
    const std::string_view head(prefix);
    if (body.substr(0, head.size()) == head) *field = Trim(body.substr(head.size()));
  }
}

void UnitWatch::Follow() {
  Unit& unit = *unit_;
  UnitRecord& r = unit.Record;
  if (Told(form_.LabelModelName.Caption())) r.Model = form_.LabelModelName.Caption();
  if (Told(form_.LabelSerialNumber.Caption())) r.Serial = form_.LabelSerialNumber.Caption();
  if (form_.LabelFormatStatus.Caption() == "Format completed.") r.Formatted = true;

  const Phase now = PhaseOfState(form_.SequencerState);
  if (now != Phase::None && now != unit.At) {
    if (unit.At == Phase::Identifying && !unit.Identified) {
      unit.Identified = true;
      print_("identified: model " + (r.Model.empty() ? "?" : r.Model) + ", serial " +
             (r.Serial.empty() ? "?" : r.Serial) + ", version " +
             (r.VersionBefore.empty() ? "?" : r.VersionBefore));
    }
    if (now >= Phase::SerialRestore && r.VersionAfter.empty())
      r.VersionAfter = Cp932ToUtf8(form_.NewVersionText);
    // A transfer that went on to the install went through whole.
    if (unit.At == Phase::Transfer && now == Phase::Install && unit.Percent < 100)
      print_("transfer 100%");
    unit.At = now;
    // The format states are passed through also when no format is asked for.
    const bool shown =
        now != Phase::Transfer && (now != Phase::Format || form_.CheckBoxFileFormat.Checked());
    if (shown) print_(PhaseName(now));
  }
  if (unit.At == Phase::Transfer) {
    const long long max = form_.ProgressBar1.Max();
    const long long percent = max > 0 ? form_.ProgressBar1.Position() * 100 / max : 0;
    const SteadyClock::time_point t = SteadyClock::now();
    if (unit.Percent < 0 ||
        (percent != unit.Percent && t - unit.PercentAt >= std::chrono::seconds(1))) {
      unit.Percent = percent;
      unit.PercentAt = t;
      print_("transfer " + std::to_string(percent) + "%");
    }
  }
}

void UnitWatch::BoxComing() {
  Poll();
  box_runs_.push_back(form_.RunNumber);
}

void UnitWatch::BoxSeen(const cli::BoxSeen& box) {
  // Boxes nest: each answer belongs to the run that was current when its box
  // came. An answer given after that run ended (a question left open at the
  // terminal while the unit was swapped) tells nothing of the unit now in.
  const std::uint64_t run = box_runs_.empty() ? form_.RunNumber : box_runs_.back();
  if (!box_runs_.empty()) box_runs_.pop_back();
  Poll();
  if (!unit_ || run != form_.RunNumber) return;
  if (StartsWith(box.Text, "Update finished.")) {
    unit_->FinalBox = true;
    unit_->Record.VersionAfter = Cp932ToUtf8(form_.NewVersionText);
  } else if (box.Kind == BoxKind::Error && unit_->Error.empty()) {
    unit_->Error = box.Text;
  } else if (box.Kind == BoxKind::Confirmation &&
             (box.Answer == MsgAnswer::No || box.Answer == MsgAnswer::Cancel)) {
    unit_->Declined = box.Text;
  }
}

void UnitWatch::Interrupt() {
  if (!unit_) return;
  End("Interrupted during the " + std::string(PhaseName(unit_->At)) + ".");
}

void UnitWatch::End(const std::string& result) {
  std::unique_ptr<Unit> unit = std::move(unit_);
  ended_run_ = unit->Run;
  UnitRecord& r = unit->Record;
  r.End = std::chrono::system_clock::now();
  r.Finished = result.empty();
  r.Result = r.Finished ? "finished" : OneLine(result);
  if (unit->Log != nullptr) std::fclose(unit->Log);
  unit->Log = nullptr;
  ++ended_;
  if (!r.Finished) ++failed_;
  const auto tenths =
      std::chrono::duration_cast<std::chrono::milliseconds>(r.End - r.Start).count() / 100;
  const std::string took = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
  print_(r.Finished ? "result: finished, Ver " + r.VersionAfter + " (" + took + ")"
                    : "result: FAILED: " + r.Result + " (" + took + ")");
  if (const std::error_code error = settings_.Record.Append(r)) {
    print_("error: the record cannot be written to " + settings_.Record.Path() + ": " +
           error.message());
    if (r.Finished) ++failed_;
  }
  if (UnitEnded) UnitEnded(r);
}

}  // namespace mvx::cli
