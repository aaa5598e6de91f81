// A main window whose steps the tests drive tick by tick, handing the
// device's answers to the channel as the read thread would.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "scripted/form_bench.h"
#include "sequencer/state_table.h"

namespace mvx {

// One main window with a device held and a package loaded, run at state 2.
struct Machine {
  Machine() {
    form.DeviceReady = true;
    form.SequencerState = state::SetClock;
    form.PackagePath = form.PackageFileName = "x.tvu";
    form.UpdateTypeCode = "201";
    form.UpdateVersionNumber = "030";
  }
  void Tick() { form.Timer1Timer(); }
  void Answer(const std::string& line) {
    bench.Respond(line + "\r\n");
    Tick();
  }
  // Clock, version and serial number; the run then stands where the serial
  // answer took it.
  void Identify(const std::string& version, const std::string& serial_answer) {
    Tick();
    Answer("OK");
    Answer("OK " + version);
    Answer(serial_answer);
  }
  // The steps' own "<<" lines, without the channel's hex-dumped responses.
  std::vector<std::string> StepLines() const {
    static const std::regex dump("^([0-9A-F]{2},)*[0-9A-F]{2}-.*");
    std::vector<std::string> out;
    for (const auto& line : bench.ReceivedLines())
      if (!std::regex_match(line, dump)) out.push_back(line);
    return out;
  }
  // Boxes as "kind|caption|text|answer".
  std::vector<std::string> Boxes() const {
    std::vector<std::string> out;
    for (const auto& r : bench.Operator.Records)
      out.push_back(r.Kind + "|" + r.Caption + "|" + r.Text + "|" + r.Answer);
    return out;
  }
  void ExpectRefused() {
    EXPECT_EQ(form.SequencerState, state::Closing);
    EXPECT_FALSE(form.DeviceReady);
    EXPECT_EQ(form.Label1.Caption(), kRemovePrompt);
  }

  FormBench bench;
  TForm1& form = bench.Form;
};

}  // namespace mvx
