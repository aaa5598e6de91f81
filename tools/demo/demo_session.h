// What the two demo programs share (the Qt one on Linux, the Win32 one on
// Windows): a sample package, an emulated Merovox device in a simulated
// cradle, an operator who answers every box, and the script of a whole
// version-up. Only the window differs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/form.h"
#include "emulator/loop_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/sim/sim_backend.h"

namespace mvx::demo {

// The longest a version-up of the demo may take before it gives up (a whole
// run takes a few seconds, most of them the device's restart).
inline constexpr std::uint32_t kDemoLimitMs = 60000;
inline constexpr const char* kSampleVersion = "201035";

// One line on standard output, flushed.
void Print(const std::string& line);

// Writes the sample package (version kSampleVersion, 64 KiB of image) into
// folder and returns its path.
std::string WriteSamplePackage(const std::string& folder);

// The operator of the demo: the open dialog is answered with the sample
// package, and every box with its first button (an input box is cancelled);
// each is printed instead of shown. Finished is told when the final report
// has been answered.
class DemoOperator : public IOperator {
 public:
  DemoOperator(IOperator& platform, std::string package)
      : platform_(platform), package_(std::move(package)) {}

  std::function<void()> Finished;

  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override;
  MsgAnswer WarningDialog(const std::string& text) override;
  void ErrorDialog(const std::string& text) override;
  std::string InputBox(const std::string& caption, const std::string& prompt) override;
  std::optional<std::string> OpenDialog(const std::string& filter) override;
  void SetClipboardText(const std::string& text) override { platform_.SetClipboardText(text); }

 private:
  IOperator& platform_;
  std::string package_;
};

// The emulated device: a TV004 one version behind the sample package,
// answering on the GUI thread's timers as a real device's answers arrive.
class DemoCradle {
 public:
  DemoCradle(IEventLoop& loop, SimBackend& hid);
  void SetIn();
  void Remove();

 private:
  emu::LoopScheduler scheduler_;
  emu::MerovoxDevice device_;
  emu::SimMerovox cradle_;
};

// The run: open the package, set the device in, and after "Update finished"
// take it out and close the window (close_window); the window is closed too
// when the limit passes. Start once the window is shown.
class DemoScript {
 public:
  DemoScript(IEventLoop& loop, TForm1& form, DemoOperator& demo_operator, DemoCradle& cradle,
             std::function<void()> close_window);
  // How long after the start the device is set in (the package is opened
  // after 300 ms); the cradle prompt shows meanwhile.
  std::uint32_t CradleAfterMs = 800;
  void Start();
  bool Finished() const { return finished_; }

 private:
  emu::LoopScheduler scheduler_;
  TForm1& form_;
  DemoOperator& operator_;
  DemoCradle& cradle_;
  std::function<void()> close_window_;
  bool finished_ = false;
};

// Prints every log line (for as long as the subscription lives) and every
// change of Label1 as it happens.
[[nodiscard]] TMemo::Subscription EchoLogAndLabel(TForm1& form);

}  // namespace mvx::demo
