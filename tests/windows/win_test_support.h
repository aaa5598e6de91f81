// Helpers for the Windows backend's tests: a message pump for the GUI
// thread, and a named pipe that stands in for a device's file handle (a
// message pipe carries one report per read, as a HID interface does).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hid/windows/win_hid_api.h"
#include "scripted/virtual_loop.h"

namespace mvx::wintest {

// Dispatches the thread's window messages and runs the loop's posted calls.
inline void Pump(VirtualLoop& loop) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  loop.RunPending();
}

// Pumps until done() holds or about five seconds have passed.
inline bool PumpUntil(VirtualLoop& loop, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Pump(loop);
    Sleep(2);
  }
  return true;
}

inline std::string UniquePipeName() {
  static int counter = 0;
  return "\\\\.\\pipe\\mvx-hid-test-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++counter);
}

// The far end of the pipe: what the device would send and receive.
class PipeServer {
 public:
  PipeServer() : name_(UniquePipeName()) {
    pipe_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096,
                             0, nullptr);
  }
  ~PipeServer() {
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  }
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  bool Valid() const { return pipe_ != INVALID_HANDLE_VALUE; }
  const std::string& Name() const { return name_; }

  bool Send(const std::vector<std::uint8_t>& report) {
    DWORD written = 0;
    return WriteFile(pipe_, report.data(), static_cast<DWORD>(report.size()), &written, nullptr) &&
           written == report.size();
  }
  std::vector<std::uint8_t> Receive() {
    std::vector<std::uint8_t> data(4096);
    DWORD got = 0;
    if (!ReadFile(pipe_, data.data(), static_cast<DWORD>(data.size()), &got, nullptr)) got = 0;
    data.resize(got);
    return data;
  }
  // The device goes away: the client's pending and later reads fail.
  void Disconnect() { DisconnectNamedPipe(pipe_); }

 private:
  std::string name_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

// A report of the given length: report ID 0, the text, zero fill.
inline std::vector<std::uint8_t> Report(const std::string& text, std::size_t length) {
  std::vector<std::uint8_t> report(length, 0);
  for (std::size_t i = 0; i < text.size() && i + 1 < length; ++i)
    report[i + 1] = static_cast<std::uint8_t>(text[i]);
  return report;
}

// A stand-in interface's handle: it answers the queries as a cradle with
// 65-byte reports would and takes every write, without I/O; it reads nothing.
class AnswerHandle : public IHidHandle {
 public:
  bool GetAttributes(HidAttributes& a) override {
    a.VendorID = 0x0F0F;
    a.ProductID = 0x0001;
    return true;
  }
  bool GetCaps(HidCaps& caps) override {
    caps = HidCaps{};
    caps.InputReportByteLength = 65;
    caps.OutputReportByteLength = 65;
    return true;
  }
  bool GetProductString(std::u16string& text, std::size_t) override {
    text = u"Cradle";
    return true;
  }
  bool Write(const std::uint8_t*, std::size_t length, std::size_t& written) override {
    written = length;
    return true;
  }
  bool BeginRead(std::uint8_t*, std::size_t) override { return false; }
  bool WaitRead(unsigned) override { return true; }
  std::size_t FinishRead() override { return 0; }
  bool CancelRead() override { return true; }
  void Interrupt() override {}
};

}  // namespace mvx::wintest
