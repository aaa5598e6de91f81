#include "app/qt/qt_platform.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <exception>

#include "app/form.h"
#include "app/qt/main_window.h"
#include "base/calendar.h"

namespace mvx {
namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
  return text.toUtf8().toStdString();
}

QMessageBox::Icon ToQtIcon(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information:
      return QMessageBox::Information;
    case MsgIcon::Warning:
      return QMessageBox::Warning;
    case MsgIcon::Error:
      return QMessageBox::Critical;
    case MsgIcon::Question:
      return QMessageBox::Question;
    case MsgIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

class QtTimerSource final : public ITimerSource {
 public:
  QtTimerSource(QtPlatform& platform, std::function<void()> on_fire) {
    // The sequencer ticks every millisecond; a coarse timer would stretch a
    // version-up several times over.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_,
                     [&platform, fire = std::move(on_fire)] { platform.Deliver(fire); });
  }
  void Start(unsigned interval_ms) override {
    timer_.start(static_cast<int>(std::min<unsigned>(interval_ms, INT_MAX)));
  }
  void Stop() override { timer_.stop(); }

 private:
  QTimer timer_;
};

class QtFdWatch final : public IWatch {
 public:
  QtFdWatch(QtPlatform& platform, int fd, std::function<void()> on_ready)
      : notifier_(fd, QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_,
                     [&platform, ready = std::move(on_ready)] { platform.Deliver(ready); });
  }

 private:
  QSocketNotifier notifier_;
};

}  // namespace

QString ToDisplayText(const std::string& text) {
  QString shown = FromUtf8(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

QString ToQtFileFilter(const std::string& filter) {
  const QStringList parts = FromUtf8(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString label = parts[i].trimmed();
    QStringList masks = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& mask : masks) mask = mask.trimmed();
    const QString joined = masks.join(QLatin1Char(' '));
    // Qt reads the masks from the last parenthesised group of an entry; a
    // label that already shows them, such as "tvu(*.tvu)", is kept as it is.
    if (!label.endsWith(QLatin1Char('(') + joined + QLatin1Char(')')))
      label += QStringLiteral(" (") + joined + QLatin1Char(')');
    entries << label;
  }
  return entries.join(QStringLiteral(";;"));
}

QtPlatform::QtPlatform()
    : receiver_(std::make_unique<QObject>()), deliveries_([this](const std::string& text) {
        MessageBox(text, kAppTitle, MsgButtons::Ok, MsgIcon::Error);
      }) {}

QtPlatform::~QtPlatform() = default;

void QtPlatform::Deliver(const std::function<void()>& call) {
  deliveries_.Deliver(call);
}

void QtPlatform::PostNext(std::function<void()> call) {
  // Outside a delivery (or off the GUI thread) there is nothing to run after.
  if (QThread::currentThread() == receiver_->thread() && deliveries_.QueueNext(call)) return;
  Post(std::move(call));
}

MsgAnswer QtPlatform::MessageBox(const std::string& text, const std::string& caption,
                                 MsgButtons buttons, MsgIcon icon) {
  QMessageBox::StandardButtons qt_buttons = QMessageBox::Ok;
  if (buttons == MsgButtons::OkCancel) qt_buttons = QMessageBox::Ok | QMessageBox::Cancel;
  if (buttons == MsgButtons::YesNo) qt_buttons = QMessageBox::Yes | QMessageBox::No;
  QMessageBox box(ToQtIcon(icon), FromUtf8(caption), ToDisplayText(text), qt_buttons, window_);
  box.setTextFormat(Qt::PlainText);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return MsgAnswer::Yes;
    case QMessageBox::No:
      return MsgAnswer::No;
    case QMessageBox::Cancel:
      return MsgAnswer::Cancel;
    case QMessageBox::Ok:
      return MsgAnswer::Ok;
    default:
      break;
  }
  // Closed without a button: the box's escape answer.
  if (buttons == MsgButtons::YesNo) return MsgAnswer::No;
  return buttons == MsgButtons::OkCancel ? MsgAnswer::Cancel : MsgAnswer::Ok;
}

MsgAnswer QtPlatform::WarningDialog(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kWarningDialogCaption),
                  ToDisplayText(text), QMessageBox::NoButton, window_);
  box.setTextFormat(Qt::PlainText);
  QPushButton* yes = box.addButton(QString::fromUtf8(kWarningDialogYes), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QString::fromUtf8(kWarningDialogNo), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes ? MsgAnswer::Yes : MsgAnswer::No;
}

void QtPlatform::ErrorDialog(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kErrorDialogCaption),
                  ToDisplayText(text), QMessageBox::Ok, window_);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

std::string QtPlatform::InputBox(const std::string& caption, const std::string& prompt) {
  QInputDialog dialog(window_);
  dialog.setWindowTitle(FromUtf8(caption));
  dialog.setLabelText(ToDisplayText(prompt));
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setTextValue(QString());
  if (dialog.exec() != QDialog::Accepted) return {};
  return ToUtf8(dialog.textValue());
}

std::optional<std::string> QtPlatform::OpenDialog(const std::string& filter) {
  const QString path =
      QFileDialog::getOpenFileName(window_, QString(), QDir::currentPath(), ToQtFileFilter(filter));
  if (path.isEmpty()) return std::nullopt;
  // The standard open dialog leaves the chosen file's folder as the working
  // directory; "_fwbin" and the settings file are found there afterwards.
  QDir::setCurrent(QFileInfo(path).absolutePath());
  return ToUtf8(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

void QtPlatform::SetClipboardText(const std::string& text) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(FromUtf8(text));
}

std::unique_ptr<ITimerSource> QtPlatform::CreateTimer(std::function<void()> on_fire) {
  return std::make_unique<QtTimerSource>(*this, std::move(on_fire));
}

void QtPlatform::Post(std::function<void()> call) {
  // Queued to an object of the GUI thread: safe from any thread, and run by
  // whichever loop the GUI thread is in, a modal box's included.
  QMetaObject::invokeMethod(
      receiver_.get(), [this, posted = std::move(call)] { Deliver(posted); }, Qt::QueuedConnection);
}

std::unique_ptr<IWatch> QtPlatform::WatchFd(int fd, std::function<void()> on_ready) {
  return std::make_unique<QtFdWatch>(*this, fd, std::move(on_ready));
}

LocalTime QtPlatform::Now() {
  return SystemLocalTime();
}

void QtPlatform::Sleep(unsigned ms) {
  QThread::msleep(ms);
}

void QtPlatform::Repaint() {
  if (!window_) return;
  if (auto* main = qobject_cast<MainWindow*>(window_.data())) main->ShowPending();
  window_->repaint();
}

void QtPlatform::Close() {
  if (window_) window_->close();
}

}  // namespace mvx
