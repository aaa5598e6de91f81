#include "app/qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <climits>

#include "app/qt/qt_platform.h"

namespace mvx {
namespace {

// How long a new position may wait for the progress bar: smooth to the eye,
// long enough to gather many packets.
constexpr int kProgressBatchMs = 20;

QFont WindowFont(int pixel_size) {
  // Tahoma where it is installed; the Japanese texts need a font with
  // Japanese glyphs, which fonts-vlgothic provides (VL PGothic is its
  // proportional face, closer to Tahoma than the fixed-pitch VL Gothic).
  QFont font;
  font.setFamilies(
      {QStringLiteral("Tahoma"), QStringLiteral("VL PGothic"), QStringLiteral("VL Gothic")});
  font.setPixelSize(pixel_size);
  return font;
}

int ToProgressValue(long long value) {
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

}  // namespace

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) pressed_ = true;
  QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click && OnClick) OnClick();
}

MainWindow::MainWindow(TForm1& form) : form_(form) {
  setWindowTitle(QString::fromUtf8(kAppTitle));
  // A single fixed border with the system menu and minimize button only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(WindowFont(12));

  strip_ = new QWidget(this);
  strip_->setObjectName(QStringLiteral("ClientArea"));
  strip_->setFixedSize(kStripWidth, kStripHeight);
  setCentralWidget(strip_);

  BuildMenu();
  BuildControls();

  // The window is the strip plus the menu bar, which is as tall as a Windows
  // menu bar (19 pixels) unless its font needs more; nothing resizes it.
  const int menu_height = std::max(kMenuHeight, menuBar()->sizeHint().height());
  menuBar()->setFixedHeight(menu_height);
  setFixedSize(kStripWidth, kStripHeight + menu_height);
  CentreOnScreen();
}

MainWindow::~MainWindow() {
  for (TControl* control : bound_) control->OnChanged = nullptr;
  memo_listening_.Cancel();
}

void MainWindow::Bind(TControl& control, std::function<void()> show) {
  show();
  control.OnChanged = std::move(show);
  bound_.push_back(&control);
}

void MainWindow::BuildMenu() {
  auto add_menu = [this](TMenuItem& item) {
    QMenu* menu = menuBar()->addMenu(ToDisplayText(item.Caption));
    QAction* action = menu->menuAction();
    action->setObjectName(QString::fromStdString(item.Name));
    Bind(item, [action, &item] { action->setEnabled(item.Enabled()); });
    return menu;
  };
  auto add_item = [this](QMenu* menu, TMenuItem& item, void (TForm1::*handler)()) {
    QAction* action = menu->addAction(ToDisplayText(item.Caption));
    action->setObjectName(QString::fromStdString(item.Name));
    Bind(item, [action, &item] { action->setEnabled(item.Enabled()); });
    connect(action, &QAction::triggered, this,
            [this, handler] { form_.Guarded([this, handler] { (form_.*handler)(); }); });
  };
  QMenu* file = add_menu(form_.File1);
  add_item(file, form_.OpenFile, &TForm1::OpenFileClick);
  add_item(file, form_.Exit1, &TForm1::Exit1Click);
  QMenu* info = add_menu(form_.Info1);
  add_item(info, form_.Version1, &TForm1::Version1Click);
}

QLabel* MainWindow::AddLabel(TLabel& label, QLabel* widget) {
  if (widget == nullptr) widget = new QLabel(strip_);
  widget->setParent(strip_);
  widget->setObjectName(QString::fromStdString(label.Name));
  widget->setTextFormat(Qt::PlainText);
  const ControlPlace place = PlaceOf(label.Name);
  widget->move(place.Left, place.Top);
  Bind(label, [widget, &label] {
    widget->setText(ToDisplayText(label.Caption()));
    widget->adjustSize();
  });
  return widget;
}

QCheckBox* MainWindow::AddCheckBox(TCheckBox& box) {
  auto* widget = new QCheckBox(ToDisplayText(box.Caption), strip_);
  widget->setObjectName(QString::fromStdString(box.Name));
  const ControlPlace place = PlaceOf(box.Name);
  widget->setGeometry(place.Left, place.Top, place.Width, place.Height);
  widget->setFont(WindowFont(15));
  // A box that is no tab stop still takes the focus when clicked.
  widget->setFocusPolicy(box.TabStop ? Qt::StrongFocus : Qt::ClickFocus);
  Bind(box, [widget, &box] {
    const QSignalBlocker quiet(widget);
    widget->setChecked(box.Checked());
  });
  // Only the operator's toggles (click or Space) reach the form, which runs
  // the box's click handler; the form's own changes come back through Bind.
  connect(widget, &QCheckBox::clicked, this, [this, widget, &box](bool checked) {
    form_.Guarded([&box, checked] { box.SetChecked(checked); });
    const QSignalBlocker quiet(widget);
    widget->setChecked(box.Checked());
  });
  return widget;
}

void MainWindow::BuildControls() {
  TForm1& f = form_;
  QWidget* log = nullptr;
  QWidget* last_check_box = nullptr;
  for (const ControlPlace& place : kControlPlaces) {
    switch (place.Kind) {
      case ControlKind::Label:
      case ControlKind::NoteLabel:
      case ControlKind::StatusLabel:
        AddStyledLabel(*f.LabelNamed(place.Name), place.Kind);
        break;
      case ControlKind::ProgressBar:
        AddProgressBar(place);
        break;
      case ControlKind::Log:
        log = AddLog(place);
        break;
      case ControlKind::CheckBox:
        last_check_box = AddCheckBox(*f.CheckBoxNamed(place.Name));
        break;
      case ControlKind::Button:
        AddButton(f.SpeedButton1);
        break;
    }
  }
  // The log comes before the check boxes in the tab order; the cross-type box
  // is the one of them that takes the tab.
  if (log != nullptr && last_check_box != nullptr) setTabOrder(log, last_check_box);
}

QLabel* MainWindow::AddStyledLabel(TLabel& label, ControlKind kind) {
  QLabel* widget = nullptr;
  if (label.OnClick) {
    auto* clickable = new ClickLabel(strip_);
    clickable->OnClick = [this, &label] { form_.Guarded([&label] { label.OnClick(); }); };
    widget = clickable;
  }
  widget = AddLabel(label, widget);
  if (kind == ControlKind::NoteLabel) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
    widget->setPalette(palette);
  } else if (kind == ControlKind::StatusLabel) {
    QFont status_font = WindowFont(16);
    status_font.setBold(true);
    widget->setFont(status_font);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
    widget->setPalette(palette);
    widget->adjustSize();
  }
  return widget;
}

void MainWindow::AddProgressBar(const ControlPlace& place) {
  auto* progress = new QProgressBar(strip_);
  progress->setObjectName(QString::fromStdString(form_.ProgressBar1.Name));
  progress->setGeometry(place.Left, place.Top, place.Width, place.Height);
  progress->setTextVisible(false);
  progress_ = progress;
  // The download moves the bar with every packet, thousands of times a
  // second; the bar shows the latest position a few dozen times a second,
  // and at once before a repaint.
  progress_batch_.setSingleShot(true);
  progress_batch_.setInterval(kProgressBatchMs);
  connect(&progress_batch_, &QTimer::timeout, this, [this] { ShowProgress(); });
  ShowProgress();
  Bind(form_.ProgressBar1, [this] {
    if (!progress_batch_.isActive()) progress_batch_.start();
  });
}

QWidget* MainWindow::AddLog(const ControlPlace& place) {
  auto* memo = new LogView(strip_);
  memo->setObjectName(QString::fromStdString(form_.Memo1.Name));
  memo->setGeometry(place.Left, place.Top, place.Width, place.Height);
  memo_ = memo;
  LogModel& lines = memo->Model();
  memo_listening_ = form_.Memo1.Listen(
      {[&lines](std::string_view line) { lines.Append(line); }, [&lines] { lines.Clear(); }});
  return memo;
}

void MainWindow::AddButton(TButton& button) {
  auto* widget = new QPushButton(ToDisplayText(button.Caption), strip_);
  widget->setObjectName(QString::fromStdString(button.Name));
  const ControlPlace place = PlaceOf(button.Name);
  widget->setGeometry(place.Left, place.Top, place.Width, place.Height);
  widget->setFocusPolicy(Qt::NoFocus);
  widget->setAutoDefault(false);
  connect(widget, &QPushButton::clicked, this,
          [this, &button] { form_.Guarded([&button] { button.OnClick(); }); });
}

void MainWindow::CentreOnScreen() {
  const QScreen* screen = this->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  setGeometry(
      QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!destroyed_) {
    destroyed_ = true;
    // Closing ends the program whatever a version-up is doing: no tick may
    // run on a form whose image is already closed.
    form_.Timer1.SetEnabled(false);
    form_.Timer2.SetEnabled(false);
    form_.Guarded([this] { form_.FormDestroy(); });
  }
  event->accept();
  if (OnClosed) OnClosed();
}

void MainWindow::ShowPending() {
  if (memo_ != nullptr) memo_->Model().Flush();
  if (progress_batch_.isActive()) ShowProgress();
}

void MainWindow::ShowProgress() {
  progress_batch_.stop();
  progress_->setRange(0, ToProgressValue(form_.ProgressBar1.Max()));
  progress_->setValue(ToProgressValue(form_.ProgressBar1.Position()));
}

int RunMainWindow(QApplication& app, QtPlatform& platform, TForm1& form, const RunHooks& hooks) {
  // Only the main window ends the program. Left to Qt, the start-up warning
  // box, closed while no window is shown yet, would count as the last window
  // and end the program before it began.
  app.setQuitOnLastWindowClosed(false);
  MainWindow window(form);
  window.OnClosed = [&app] { app.quit(); };
  platform.SetWindow(&window);
  form.SetView(&platform);
  if (hooks.built) hooks.built(window);
  form.Guarded([&form] { form.FormCreate(); });
  window.show();
  if (hooks.shown) hooks.shown(window);
  const int status = app.exec();
  form.SetView(nullptr);
  platform.SetWindow(nullptr);
  return status;
}

}  // namespace mvx
