// The download's floor: the same mechanism as the tool's download with none
// of the tool's work. The same Qt loop, simulated backend, controller, read
// thread and synchronized delivery, the same answer scheduler, a device that
// keeps each packet's bytes and answers it, and a 1 ms component timer whose
// tick, queued right after each delivery as the main window queues its
// response tick, writes the next 1025-byte report. No log, no state machine,
// no packet parsing: what the tool costs beyond this is the tool's own work.
#pragma once

#include <chrono>
#include <cstdint>

#include "app/qt/qt_platform.h"
#include "bench/download/answer_scheduler.h"

class QApplication;

namespace mvx::bench {

struct FloorFigures {
  bool Done = false;
  long Packets = 0;
  double Seconds = 0;
  double GuiCpu = 0;  // the GUI thread alone
  AnswerScheduler::Answers Device;
};

FloorFigures RunFloor(QApplication& app, QtPlatform& platform, long packets,
                      std::chrono::microseconds latency);

}  // namespace mvx::bench
