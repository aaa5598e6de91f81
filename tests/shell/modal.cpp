#include "tests/shell/modal.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <deque>

namespace mvx::test {

QApplication& App() {
  static int argc = 1;
  static char name[] = "shell_test";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = [] {
    auto* created = new QApplication(argc, argv);
    // Boxes open and close here while no other window is shown; none of that
    // may end the application's loop.
    created->setQuitOnLastWindowClosed(false);
    return created;
  }();
  return *app;
}

namespace {

struct PendingAnswer {
  std::function<void(QWidget*)> act;
  QDeadlineTimer deadline;
};

// Answers wait in the order given; each new box gets the oldest one.
std::deque<PendingAnswer>& Answers() {
  static std::deque<PendingAnswer> answers;
  return answers;
}

QTimer& AnswerPoll() {
  static QTimer* poll = [] {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer] {
      auto& answers = Answers();
      if (answers.empty()) {
        timer->stop();
        return;
      }
      QWidget* modal = QApplication::activeModalWidget();
      if (modal != nullptr && !modal->property("mvx_answered").toBool()) {
        PendingAnswer next = std::move(answers.front());
        answers.pop_front();
        modal->setProperty("mvx_answered", true);
        next.act(modal);
      } else if (answers.front().deadline.hasExpired()) {
        answers.pop_front();
        ADD_FAILURE() << "no modal box appeared";
      }
    });
    return timer;
  }();
  return *poll;
}

}  // namespace

void WhenModal(std::function<void(QWidget*)> act, int timeout_ms) {
  Answers().push_back({std::move(act), QDeadlineTimer(timeout_ms)});
  if (!AnswerPoll().isActive()) AnswerPoll().start(10);
}

void ClickInNextBox(const QString& button, BoxSeen* seen) {
  WhenModal([button, seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
      ADD_FAILURE() << "expected a message box, found " << modal->metaObject()->className();
      modal->close();
      return;
    }
    QAbstractButton* target = nullptr;
    QStringList texts;
    for (QAbstractButton* b : box->buttons()) {
      texts << b->text();
      if (b->text() == button) target = b;
    }
    if (seen != nullptr) {
      seen->shown = true;
      seen->title = box->windowTitle();
      seen->text = box->text();
      seen->buttons = texts;
      seen->icon = box->icon();
    }
    if (target == nullptr) {
      ADD_FAILURE() << "no button " << button.toStdString() << " in "
                    << texts.join(QLatin1Char(',')).toStdString();
      box->close();
      return;
    }
    target->click();
  });
}

void AnswerNextInput(const QString& text, bool cancel, BoxSeen* seen) {
  WhenModal([text, cancel, seen](QWidget* modal) {
    auto* dialog = qobject_cast<QInputDialog*>(modal);
    if (dialog == nullptr) {
      ADD_FAILURE() << "expected an input dialog, found " << modal->metaObject()->className();
      modal->close();
      return;
    }
    if (seen != nullptr) {
      seen->shown = true;
      seen->title = dialog->windowTitle();
      seen->label = dialog->labelText();
      seen->text = dialog->textValue();
    }
    // Typed first in either case: a cancelled box must drop what was typed.
    dialog->findChild<QLineEdit*>()->setText(text);
    if (cancel)
      dialog->reject();
    else
      dialog->accept();
  });
}

bool RunUntil(const std::function<bool()>& done, int timeout_ms) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done() && elapsed.elapsed() < timeout_ms)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

ModalWatchdog::ModalWatchdog() : timer_((App(), new QTimer)) {
  auto open_since = std::make_shared<QElapsedTimer>();
  auto last = std::make_shared<QPointer<QWidget>>();
  QObject::connect(timer_, &QTimer::timeout, [open_since, last] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != *last) {
      *last = modal;
      open_since->start();
      return;
    }
    if (modal != nullptr && open_since->elapsed() > 8000) {
      ADD_FAILURE() << "a modal box stayed open: " << modal->windowTitle().toStdString();
      if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->done(0);
      else
        modal->close();
    }
  });
  timer_->start(200);
}

ModalWatchdog::~ModalWatchdog() {
  delete timer_;
}

}  // namespace mvx::test
