// A main window on the scripted platform: virtual loop and clock, scripted
// operator, the real settings file, and a HID backend of the caller's choice
// (none by default). Tests and the scenario runner build on it.
#pragma once

#include <memory>

#include "app/form.h"
#include "base/ini_profile.h"
#include "hid/sim/sim_backend.h"
#include "scripted/null_backend.h"
#include "scripted/scripted_operator.h"
#include "scripted/virtual_loop.h"

namespace mvx {

struct FormBench {
  enum class Devices { None, Simulated };

  // With Devices::Simulated the window sees the simulated HID backend Sim
  // (plug devices into it); otherwise no HID library at all.
  explicit FormBench(Devices devices = Devices::None)
      : Sim(devices == Devices::Simulated ? std::make_unique<SimBackend>(Loop) : nullptr),
        Hid(Sim ? static_cast<IHidBackend*>(Sim.get()) : &Null),
        Form(FormServices{Operator, Loop, Loop, Settings, *Hid}) {
    if (Sim) Loop.Busy = [this] { return Sim->InFlight(); };
  }

  // The sent command lines as the log shows them (">>" lines, time stamp cut).
  std::vector<std::string> SentLines() const { return LinesWithMarker(">>"); }
  std::vector<std::string> ReceivedLines() const { return LinesWithMarker("<<"); }
  std::vector<std::string> NoteLines() const { return LinesWithMarker("  "); }
  // Every log line without its time stamp (marker kept).
  std::vector<std::string> LogLines() const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < Recorded.Lines().Count(); ++i)
      out.push_back(WithoutStamp(std::string(Recorded.Lines().Line(i))));
    return out;
  }
  // Hands a response to the channel as the read thread would.
  void Respond(std::string_view bytes) {
    Form.HidCtrl1DeviceData(nullptr, 0, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                            static_cast<std::uint16_t>(bytes.size()));
  }

  static std::string WithoutStamp(const std::string& line) {
    // "yy/mm/dd hh:mm:ss zzz," is 22 characters.
    return line.size() >= 22 ? line.substr(22) : line;
  }

  VirtualLoop Loop;
  ScriptedOperator Operator;
  IniProfile Settings;
  NullHidBackend Null;
  std::unique_ptr<SimBackend> Sim;
  IHidBackend* Hid;
  TForm1 Form;
  // Every log line since the last clear, as the log control shows them.
  MemoRecorder Recorded{Form.Memo1};

 private:
  std::vector<std::string> LinesWithMarker(const char* marker) const {
    std::vector<std::string> out;
    for (const auto& line : LogLines())
      if (line.compare(0, 2, marker) == 0) out.push_back(line.substr(2));
    return out;
  }
};

}  // namespace mvx
