// The main window on Qt Widgets: the 280 x 111 strip below the menu that the
// operator sees (Label1 and ProgressBar1), and every other control of the
// form laid out beyond it as a real widget, bound to the form's control.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <vector>

#include "app/form.h"
#include "app/qt/log_view.h"
#include "app/window_layout.h"

class QApplication;
class QCheckBox;
class QProgressBar;

namespace mvx {

class QtPlatform;

// A label that reports a click: a press and a release inside it.
class ClickLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> OnClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window from the form's controls; the form must outlive it.
  explicit MainWindow(TForm1& form);
  ~MainWindow() override;

  // The fixed client strip under the menu; the other controls are its
  // children beyond its edges.
  QWidget* Strip() const { return strip_; }

  // Told once the window has closed (the form's FormDestroy has run).
  std::function<void()> OnClosed;

  // Puts what waits for the controls' next update (log lines, the progress
  // bar's position) into them now, before a repaint that must show it.
  void ShowPending();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenu();
  void BuildControls();
  QLabel* AddLabel(TLabel& label, QLabel* widget = nullptr);
  QCheckBox* AddCheckBox(TCheckBox& box);
  QLabel* AddStyledLabel(TLabel& label, ControlKind kind);
  void AddProgressBar(const ControlPlace& place);
  QWidget* AddLog(const ControlPlace& place);
  void AddButton(TButton& button);
  void Bind(TControl& control, std::function<void()> show);
  void CentreOnScreen();

  TForm1& form_;
  QWidget* strip_ = nullptr;
  void ShowProgress();

  LogView* memo_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QTimer progress_batch_;
  TMemo::Subscription memo_listening_;
  std::vector<TControl*> bound_;
  bool destroyed_ = false;
};

struct RunHooks {
  std::function<void(MainWindow&)> built;  // the window exists, FormCreate has not run
  std::function<void(MainWindow&)> shown;  // the window is on screen
};

// The program's run: builds the window, runs FormCreate before it is shown,
// shows it, and runs the loop until the window closes (which runs FormDestroy).
int RunMainWindow(QApplication& app, QtPlatform& platform, TForm1& form,
                  const RunHooks& hooks = {});

}  // namespace mvx
