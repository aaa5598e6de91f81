#include "tools/demo/demo_session.h"

#include <cstdio>
#include <filesystem>

#include "base/file_system.h"
#include "base/text.h"
#include "package/package_builder.h"

namespace mvx::demo {
namespace {

std::vector<std::uint8_t> SampleImage() {
  // 64 KiB of a simple pattern: enough packets for the progress bar to move.
  std::vector<std::uint8_t> image(std::size_t{64} * 1024);
  std::uint32_t x = 0x2545F491;
  for (auto& byte : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x);
  }
  return image;
}

emu::DeviceConfig DemoDevice() {
  emu::DeviceConfig config;
  config.Identity.Version = "201033";
  config.Identity.VersionAfterInstall = kSampleVersion;
  config.Timing.LatencyMs = 1;
  config.Timing.RestartMs = 2000;
  return config;
}

}  // namespace

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string WriteSamplePackage(const std::string& folder) {
  std::string package = PathUtf8(Utf8Path(folder) / "sample.tvu");
  WritePackageFile(package, PackageOptions{kSampleVersion, "", "Tavun"}, SampleImage());
  return package;
}

MsgAnswer DemoOperator::MessageBox(const std::string& text, const std::string& caption,
                                   MsgButtons buttons, MsgIcon) {
  const MsgAnswer answer = buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
  Print("[box] " + caption + ": " + OneLine(text) +
        (answer == MsgAnswer::Yes ? " -> Yes" : " -> OK"));
  if (text.rfind("Update finished.", 0) == 0 && Finished) Finished();
  return answer;
}

MsgAnswer DemoOperator::WarningDialog(const std::string& text) {
  Print(std::string("[box] ") + kWarningDialogCaption + ": " + OneLine(text) + " -> Yes");
  return MsgAnswer::Yes;
}

void DemoOperator::ErrorDialog(const std::string& text) {
  Print("[box] エラー: " + OneLine(text) + " -> OK");
}

std::string DemoOperator::InputBox(const std::string& caption, const std::string& prompt) {
  Print("[box] " + caption + ": " + prompt + " -> cancelled");
  return {};
}

std::optional<std::string> DemoOperator::OpenDialog(const std::string& filter) {
  Print("[open] " + filter + " -> " + package_);
  // As the standard dialog does, the chosen file's folder becomes the
  // working directory.
  std::error_code ignored;
  std::filesystem::current_path(Utf8Path(package_).parent_path(), ignored);
  return package_;
}

DemoCradle::DemoCradle(IEventLoop& loop, SimBackend& hid)
    : scheduler_(loop), device_(DemoDevice(), scheduler_), cradle_(hid, device_) {}

void DemoCradle::SetIn() {
  Print("[demo] the device is set into the cradle");
  cradle_.SetIn();
}

void DemoCradle::Remove() {
  Print("[demo] the device is taken out");
  cradle_.Remove();
}

DemoScript::DemoScript(IEventLoop& loop, TForm1& form, DemoOperator& demo_operator,
                       DemoCradle& cradle, std::function<void()> close_window)
    : scheduler_(loop),
      form_(form),
      operator_(demo_operator),
      cradle_(cradle),
      close_window_(std::move(close_window)) {}

void DemoScript::Start() {
  scheduler_.After(300, [this] { form_.Guarded([this] { form_.OpenFileClick(); }); });
  scheduler_.After(CradleAfterMs, [this] { cradle_.SetIn(); });
  // After the final report the operator takes the device out.
  operator_.Finished = [this] {
    finished_ = true;
    scheduler_.After(500, [this] { cradle_.Remove(); });
    scheduler_.After(1500, [this] { close_window_(); });
  };
  scheduler_.After(CradleAfterMs + kDemoLimitMs, [this] {
    Print("[demo] the version-up did not finish in time");
    close_window_();
  });
}

TMemo::Subscription EchoLogAndLabel(TForm1& form) {
  auto label_shown = form.Label1.OnChanged;
  form.Label1.OnChanged = [label_shown, &form] {
    if (label_shown) label_shown();
    Print("[Label1] " + OneLine(form.Label1.Caption()));
  };
  return form.Memo1.Listen({[](std::string_view line) { Print(std::string(line)); }, nullptr});
}

}  // namespace mvx::demo
