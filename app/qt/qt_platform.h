// The platform services of the core on Qt Widgets: message boxes, dialogs and
// the clipboard for the operator; QTimer, queued calls and socket notifiers for
// the GUI thread's loop; the local clock; and the window as the form's view.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/deliveries.h"
#include "base/platform.h"

class QObject;

namespace mvx {

// The core's texts are UTF-8 with CR LF line breaks; Qt breaks lines at LF.
QString ToDisplayText(const std::string& text);

// An open-dialog filter in the "label|pattern|label|pattern" form, where a
// pattern may list several masks separated by ";", in Qt's
// "label (mask mask);;label (mask)" form.
QString ToQtFileFilter(const std::string& filter);

// Create on the GUI thread after the QApplication, and keep it alive until
// every form and device using it is gone.
class QtPlatform : public IOperator, public IEventLoop, public IClock, public IFormView {
 public:
  QtPlatform();
  ~QtPlatform() override;
  QtPlatform(const QtPlatform&) = delete;
  QtPlatform& operator=(const QtPlatform&) = delete;

  // The main window: the parent of every box and what Repaint and Close act on.
  void SetWindow(QWidget* window) { window_ = window; }
  QWidget* Window() const { return window_; }

  // IOperator
  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override;
  MsgAnswer WarningDialog(const std::string& text) override;
  void ErrorDialog(const std::string& text) override;
  std::string InputBox(const std::string& caption, const std::string& prompt) override;
  std::optional<std::string> OpenDialog(const std::string& filter) override;
  void SetClipboardText(const std::string& text) override;

  // IEventLoop
  std::unique_ptr<ITimerSource> CreateTimer(std::function<void()> on_fire) override;
  void Post(std::function<void()> call) override;
  std::unique_ptr<IWatch> WatchFd(int fd, std::function<void()> on_ready) override;

  // IClock
  LocalTime Now() override;
  void Sleep(unsigned ms) override;

  // IFormView
  void Repaint() override;
  void Close() override;

  // Runs a call that the loop delivers. The form guards its own handlers;
  // this is the last line, so that no exception ever unwinds through Qt's
  // event loop: an escaped error is shown as the form would show it.
  void Deliver(const std::function<void()>& call);
  void PostNext(std::function<void()> call) override;

 private:
  QPointer<QWidget> window_;
  // Lives on the GUI thread; queued calls run in its context.
  std::unique_ptr<QObject> receiver_;
  Deliveries deliveries_;
};

}  // namespace mvx
