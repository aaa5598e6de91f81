// Helpers for tests that meet modal boxes: a QApplication on the offscreen
// platform, and answers given to the next box from a timer, since the code
// under test sits in the box's own loop until it is closed.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

namespace mvx::test {

// The process's one QApplication (offscreen unless a platform is set).
QApplication& App();

// What a box showed.
struct BoxSeen {
  bool shown = false;
  QString title, text;
  QStringList buttons;  // button texts, as shown (mnemonics kept)
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString label;  // an input dialog's prompt
};

// Waits (from the event loop) for the next modal widget and hands it to act.
// Fails the test if none appears within timeout_ms.
void WhenModal(std::function<void(QWidget*)> act, int timeout_ms = 5000);

// Answers the next message box by clicking the button with this text.
void ClickInNextBox(const QString& button, BoxSeen* seen = nullptr);
// Answers the next input dialog: types the text and presses OK, or cancels
// when cancel is true.
void AnswerNextInput(const QString& text, bool cancel, BoxSeen* seen = nullptr);

// Runs the loop until done() holds or timeout_ms passes; returns done().
bool RunUntil(const std::function<bool()>& done, int timeout_ms = 5000);

// Closes any modal widget left open longer than a few seconds (and fails the
// test), so that a broken expectation ends the test instead of hanging it.
class ModalWatchdog {
 public:
  ModalWatchdog();
  ~ModalWatchdog();

 private:
  class QTimer* timer_;
};

}  // namespace mvx::test
