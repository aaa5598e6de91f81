// The latency benchmark on the Qt shell's own message loop (QtPlatform): the
// figure the tool sees, from a report's arrival at the backend to the return
// of the data handler on the GUI thread. Without a display it runs on Qt's
// offscreen platform.
//
//   bench_hid_latency_qt [reports]     (default 10000)
#include <QApplication>
#include <QEventLoop>
#include <cstdlib>

#include "app/qt/qt_platform.h"
#include "bench/hid_latency/latency.h"

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int reports = argc > 1 ? std::atoi(argv[1]) : 10000;
  mvx::QtPlatform platform;
  auto micros = mvx::bench::MeasureHidLatency(
      platform,
      [](const std::function<bool()>& done) {
        while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      },
      reports, 200);
  return mvx::bench::PrintLatency("Qt", std::move(micros));
}
