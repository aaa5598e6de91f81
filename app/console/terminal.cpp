#include "app/console/terminal.h"

#ifdef _WIN32
#include <io.h>
#include "base/windows_api.h"
#else
#include <unistd.h>
#include <csignal>
#endif

#include <atomic>
#include <cstdio>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

namespace mvx::cli {
namespace {

std::atomic<int> g_interrupts{0};

// What the reading thread hands over; it lives as long as the program, so
// the thread (blocked in a read at exit) never outlives it.
struct TypedLines {
  std::mutex Mutex;
  std::deque<std::string> Lines;
  bool AtEnd = false;
  bool Started = false;
};

TypedLines& Typed() {
  static TypedLines* lines = new TypedLines;  // never destroyed: see above
  return *lines;
}

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      g_interrupts.fetch_add(1);
      return TRUE;
    default:
      return FALSE;
  }
}
#else
extern "C" void OnSignal(int) {
  g_interrupts.fetch_add(1);
}
#endif

}  // namespace

bool StdinIsTerminal() {
#ifdef _WIN32
  // _isatty holds for any character device, NUL too: only a console can
  // answer a question.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

void CatchInterrupts() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;  // a read of standard input goes on
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
#endif
}

int Interrupts() {
  return g_interrupts.load();
}

std::optional<std::string> TypedLine(bool& at_end) {
  TypedLines& typed = Typed();
  std::lock_guard<std::mutex> lock(typed.Mutex);
  if (!typed.Started) {
    typed.Started = true;
    std::thread([&typed] {
      std::string line;
      while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::lock_guard<std::mutex> hold(typed.Mutex);
        typed.Lines.push_back(line);
      }
      std::lock_guard<std::mutex> hold(typed.Mutex);
      typed.AtEnd = true;
    }).detach();
  }
  at_end = false;
  if (!typed.Lines.empty()) {
    std::string line = std::move(typed.Lines.front());
    typed.Lines.pop_front();
    return line;
  }
  at_end = typed.AtEnd;
  return std::nullopt;
}

}  // namespace mvx::cli
