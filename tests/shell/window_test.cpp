// The real main window under the offscreen platform: the strip the operator
// sees, the controls beyond it, the bindings both ways, focus and the tab-stop
// rule, and start-up and shut-down.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "base/ini_profile.h"
#include "scripted/null_backend.h"
#include "tests/base/temp_dir.h"
#include "tests/shell/modal.h"

namespace mvx {
namespace {

using test::BoxSeen;

// The program's parts on the Qt platform, without a HID library.
struct Program {
  Program() : form(FormServices{platform, platform, platform, settings, hid}) {}
  QtPlatform platform;
  IniProfile settings;
  NullHidBackend hid;
  TForm1 form;
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    test::App();
    window = std::make_unique<MainWindow>(program.form);
    program.platform.SetWindow(window.get());
    program.form.SetView(&program.platform);
  }
  ~WindowTest() override {
    program.form.SetView(nullptr);
    window.reset();
  }

  template <class W>
  W* Find(const char* name) {
    W* widget = window->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QAction* Action(const char* name) { return Find<QAction>(name); }

  void ShowActive() {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  ScopedWorkDir dir;
  test::ModalWatchdog watchdog;
  Program program;
  std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, TheStripTheOperatorSees) {
  ShowActive();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("MVXTVUP"));
  EXPECT_EQ(window->centralWidget(), window->Strip());
  EXPECT_EQ(window->Strip()->geometry(), QRect(0, 19, 280, 111));
  EXPECT_EQ(window->menuBar()->geometry(), QRect(0, 0, 280, 19));
  EXPECT_EQ(window->size(), QSize(280, 130));
  // Fixed size, no maximize button.
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
  const QRect screen = window->screen()->availableGeometry();
  EXPECT_LE((window->geometry().center() - screen.center()).manhattanLength(), 2);

  auto* label1 = Find<QLabel>("Label1");
  EXPECT_EQ(label1->pos(), QPoint(20, 12));
  EXPECT_EQ(label1->text(), QStringLiteral("Select File."));
  auto* progress = Find<QProgressBar>("ProgressBar1");
  EXPECT_EQ(progress->geometry(), QRect(20, 52, 229, 25));
  EXPECT_TRUE(window->Strip()->rect().contains(progress->geometry()));

  // Both lines of the cradle prompt fit between the top and the progress bar.
  program.form.Label1.SetCaption(kCradlePrompt);
  EXPECT_EQ(
      label1->text(),
      QStringLiteral("Please set Merovox to a cradle.\nMerovoxをクレードルにセットしてください。"));
  EXPECT_GT(label1->height(), label1->fontMetrics().height());
  EXPECT_LE(label1->geometry().bottom(), 52);
  EXPECT_LE(label1->geometry().right(), 279);

  const QList<QAction*> menus = window->menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), QStringLiteral("File"));
  EXPECT_EQ(menus[1]->text(), QStringLiteral("Info"));
  QStringList file_items, info_items;
  for (QAction* a : menus[0]->menu()->actions()) file_items << a->text();
  for (QAction* a : menus[1]->menu()->actions()) info_items << a->text();
  EXPECT_EQ(file_items, (QStringList{"Open", "Close"}));
  EXPECT_EQ(info_items, QStringList{"Version"});
}

TEST_F(WindowTest, EveryOtherControlLiesBeyondTheStrip) {
  struct Case {
    const char* name;
    QPoint pos;
    QString text;
  };
  const Case cases[] = {
      {"Label3", {20, 116}, "Current version"},
      {"LabelCurrentVersion", {120, 116}, "------"},
      {"LabelFilename", {188, 116}, "Update filename"},
      {"Label2", {20, 132}, "Model name"},
      {"LabelModelName", {120, 132}, "------"},
      {"Label4", {188, 132}, "Update version"},
      {"LabelUpdateVersion", {288, 132}, "------"},
      {"Label5", {20, 148}, "Serial number"},
      {"LabelSerialNumber", {120, 148}, "------------"},
      {"LabelClipboardCopyMessage", {56, 164}, "##########"},
      {"LabelVersionupStatus", {540, 112}, "LabelVersionupStatus"},
      {"LabelFormatStatus", {540, 136}, "LabelFormatStatus"},
      {"Label6", {432, 312}, "Label6"},
  };
  const QRect strip = window->Strip()->rect();
  for (const auto& c : cases) {
    auto* label = Find<QLabel>(c.name);
    if (label == nullptr) continue;
    EXPECT_EQ(label->pos(), c.pos) << c.name;
    EXPECT_EQ(label->text(), c.text) << c.name;
    EXPECT_FALSE(strip.intersects(label->geometry())) << c.name;
  }
  auto* format = Find<QCheckBox>("CheckBoxFileFormat");
  auto* cross_type = Find<QCheckBox>("CheckBoxSarSdfVersionup");
  auto* memo = Find<LogView>("Memo1");
  auto* close = Find<QPushButton>("SpeedButton1");
  EXPECT_EQ(format->geometry(), QRect(540, 36, 273, 17));
  EXPECT_EQ(format->text(), QStringLiteral("Format file-system after versionup"));
  EXPECT_EQ(cross_type->geometry(), QRect(540, 64, 273, 17));
  EXPECT_EQ(cross_type->text(), QStringLiteral("TV004SAR/SDF Versionup enable"));
  EXPECT_EQ(memo->geometry(), QRect(28, 188, 829, 377));
  EXPECT_EQ(memo->Model().rowCount(), 0);
  EXPECT_EQ(close->geometry(), QRect(736, 584, 85, 22));
  EXPECT_EQ(close->text(), QStringLiteral("Close"));
  for (QWidget* w : std::initializer_list<QWidget*>{format, cross_type, memo, close})
    EXPECT_FALSE(strip.intersects(w->geometry())) << w->objectName().toStdString();
}

TEST_F(WindowTest, FormChangesReachTheWidgets) {
  program.form.LabelSerialNumber.SetCaption("A1234567");
  EXPECT_EQ(Find<QLabel>("LabelSerialNumber")->text(), QStringLiteral("A1234567"));
  program.form.LabelVersionupStatus.SetCaption("Versionup completed.");
  EXPECT_EQ(Find<QLabel>("LabelVersionupStatus")->text(), QStringLiteral("Versionup completed."));

  auto* progress = Find<QProgressBar>("ProgressBar1");
  program.form.ProgressBar1.SetMax(1234);
  program.form.ProgressBar1.SetPosition(600);
  program.form.ProgressBar1.SetPosition(617);
  // The bar shows the latest position with its next update, or at once
  // before a repaint.
  ASSERT_TRUE(test::RunUntil([&] { return progress->value() == 617; }));
  EXPECT_EQ(progress->maximum(), 1234);
  program.form.ProgressBar1.SetPosition(0);
  program.platform.Repaint();
  EXPECT_EQ(progress->value(), 0);

  auto* memo = Find<LogView>("Memo1");
  LogModel& log = memo->Model();
  auto row = [&log](int i) { return log.data(log.index(i), Qt::DisplayRole).toString(); };
  program.form.WriteLog("VER", kLogSent);
  program.form.WriteLog("201022\r\nOK\r\n", kLogReceived);
  program.form.LogNote("ファイル");
  // The lines reach the control with its next update.
  EXPECT_EQ(log.rowCount(), 0);
  ASSERT_TRUE(test::RunUntil([&] { return log.rowCount() == 4; }));
  EXPECT_TRUE(row(0).endsWith(QStringLiteral(",>>VER")));
  EXPECT_TRUE(row(1).endsWith(QStringLiteral(",<<201022")));
  EXPECT_EQ(row(2), QStringLiteral("OK"));
  EXPECT_TRUE(row(3).endsWith(QStringLiteral(",  ファイル")));
  // Ctrl+C copies the selected lines, or all of them when none is selected.
  memo->setFocus();
  QTest::keyClick(memo, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), row(0) + "\n" + row(1) + "\nOK\n" + row(3) + "\n");
  memo->selectionModel()->select(log.index(2), QItemSelectionModel::Select);
  memo->selectionModel()->select(log.index(1), QItemSelectionModel::Select);
  QTest::keyClick(memo, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), row(1) + "\nOK\n");
  program.form.Memo1.Clear();
  EXPECT_EQ(log.rowCount(), 0);
  EXPECT_EQ(log.Lines().Count(), 0u);

  // Lines of a burst arrive whole and in order; a clear drops the lines that
  // still wait, and a repaint shows the waiting ones at once.
  for (int i = 0; i < 500; ++i) program.form.LogNote("line " + std::to_string(i));
  program.form.Memo1.Clear();
  for (int i = 0; i < 500; ++i) program.form.LogNote("after " + std::to_string(i));
  program.platform.Repaint();
  ASSERT_EQ(log.rowCount(), 500);
  for (int i : {0, 1, 250, 499})
    EXPECT_TRUE(row(i).endsWith(QString::fromStdString("  after " + std::to_string(i)))) << i;

  program.form.SequencerState = 2;
  program.form.UpdateMenus(false);
  EXPECT_FALSE(Action("File1")->isEnabled());
  EXPECT_FALSE(Action("Info1")->isEnabled());
  EXPECT_FALSE(Action("OpenFile")->isEnabled());
  program.form.SequencerState = 1;
  program.form.UpdateMenus(true);
  EXPECT_TRUE(Action("File1")->isEnabled());
  EXPECT_TRUE(Action("OpenFile")->isEnabled());

  // A change by the program shows on the box and runs the click handler once
  // (the warning box), without the widget feeding it back.
  auto* format = Find<QCheckBox>("CheckBoxFileFormat");
  BoxSeen seen;
  test::ClickInNextBox(QStringLiteral("OK"), &seen);
  program.form.CheckBoxFileFormat.SetChecked(true);
  EXPECT_TRUE(format->isChecked());
  EXPECT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, QStringLiteral("MVXTVUP v1.77"));
  program.form.CheckBoxFileFormat.SetChecked(false);
  EXPECT_FALSE(format->isChecked());
  EXPECT_EQ(ScopedWorkDir::Read("mvxtvup_setting.ini"),
            "[Setting]\r\nCheckBoxFileFormat=False\r\n");
}

TEST_F(WindowTest, TabReachesTheCrossTypeBoxAndSpaceTogglesIt) {
  ShowActive();
  auto* format = Find<QCheckBox>("CheckBoxFileFormat");
  auto* cross_type = Find<QCheckBox>("CheckBoxSarSdfVersionup");
  EXPECT_EQ(format->focusPolicy() & Qt::TabFocus, 0);
  EXPECT_EQ(Find<QPushButton>("SpeedButton1")->focusPolicy(), Qt::NoFocus);

  // Around the focus chain twice: the cross-type box is on it, the format box
  // and the close button are not.
  QSet<QString> reached;
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    if (QApplication::focusWidget() != nullptr)
      reached << QApplication::focusWidget()->objectName();
  }
  EXPECT_TRUE(reached.contains(QStringLiteral("CheckBoxSarSdfVersionup")));
  EXPECT_FALSE(reached.contains(QStringLiteral("CheckBoxFileFormat")));
  EXPECT_FALSE(reached.contains(QStringLiteral("SpeedButton1")));

  while (QApplication::focusWidget() != cross_type)
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);

  // Space, then No: the box is unchecked again and nothing is unlocked.
  BoxSeen question;
  test::ClickInNextBox(QStringLiteral("いいえ(&N)"), &question);
  QTest::keyClick(cross_type, Qt::Key_Space);
  ASSERT_TRUE(question.shown);
  EXPECT_EQ(question.title, QStringLiteral("警告"));
  EXPECT_FALSE(cross_type->isChecked());
  EXPECT_FALSE(program.form.CheckBoxSarSdfVersionup.Checked());
  EXPECT_FALSE(program.form.CrossTypeEnabled);

  // Space, Yes and a cancelled code: unchecked again.
  test::ClickInNextBox(QStringLiteral("はい(&Y)"));
  test::AnswerNextInput(QStringLiteral("9137"), true);
  QTest::keyClick(cross_type, Qt::Key_Space);
  EXPECT_FALSE(cross_type->isChecked());
  EXPECT_FALSE(program.form.CrossTypeEnabled);

  // Space, Yes and the access code: unlocked and checked.
  BoxSeen code;
  test::ClickInNextBox(QStringLiteral("はい(&Y)"));
  test::AnswerNextInput(QStringLiteral("9137"), false, &code);
  QTest::keyClick(cross_type, Qt::Key_Space);
  EXPECT_TRUE(code.shown);
  EXPECT_EQ(code.title, QStringLiteral("SAR/SDF Versionup enable"));
  EXPECT_TRUE(cross_type->isChecked());
  EXPECT_TRUE(program.form.CheckBoxSarSdfVersionup.Checked());
  EXPECT_TRUE(program.form.CrossTypeEnabled);

  // Space once more unchecks it and locks it without a question.
  QTest::keyClick(cross_type, Qt::Key_Space);
  EXPECT_FALSE(cross_type->isChecked());
  EXPECT_FALSE(program.form.CrossTypeEnabled);
}

TEST_F(WindowTest, FailedSettingsWriteShowsAfterTheWarningAndTheBoxStaysChecked) {
  ShowActive();
  std::filesystem::create_directory("mvxtvup_setting.ini");
  auto* format = Find<QCheckBox>("CheckBoxFileFormat");
  BoxSeen warning, error;
  test::ClickInNextBox(QStringLiteral("OK"), &warning);
  test::ClickInNextBox(QStringLiteral("OK"), &error);
  QTest::mouseClick(format, Qt::LeftButton);
  ASSERT_TRUE(warning.shown);
  EXPECT_EQ(warning.title, QStringLiteral("MVXTVUP v1.77"));
  EXPECT_EQ(warning.icon, QMessageBox::Warning);
  ASSERT_TRUE(error.shown);
  EXPECT_EQ(error.title, QStringLiteral("MVXTVUP"));
  EXPECT_EQ(error.icon, QMessageBox::Critical);
  EXPECT_EQ(error.text, QStringLiteral("./mvxtvup_setting.ini に書き込めません"));
  EXPECT_TRUE(format->isChecked());
  EXPECT_TRUE(program.form.CheckBoxFileFormat.Checked());
}

TEST_F(WindowTest, LabelClicksCopyToTheClipboard) {
  ShowActive();
  QTest::mouseClick(Find<QLabel>("LabelSerialNumber"), Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("------------"));
  EXPECT_EQ(Find<QLabel>("LabelClipboardCopyMessage")->text(),
            QStringLiteral("シリアル番号[------------]をクリップボードにコピーしました"));
  program.form.LabelCurrentVersion.SetCaption("201022");
  QTest::mouseClick(Find<QLabel>("LabelCurrentVersion"), Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("201022"));
  EXPECT_EQ(Find<QLabel>("LabelClipboardCopyMessage")->text(),
            QStringLiteral("現バージョン[201022]をクリップボードにコピーしました"));
}

TEST_F(WindowTest, VersionBoxAndCloseFromTheMenu) {
  ShowActive();
  BoxSeen version;
  test::ClickInNextBox(QStringLiteral("OK"), &version);
  Action("Version1")->trigger();
  ASSERT_TRUE(version.shown);
  EXPECT_EQ(version.title, QStringLiteral("Version"));
  EXPECT_EQ(version.icon, QMessageBox::Information);
  EXPECT_EQ(version.text,
            QStringLiteral("Merovox Update Tool\nVer 1.77\n\nMerovox Update Tool contributors"));

  // An image the package check made here.
  ScopedWorkDir::Write("_fwbin", "image");
  program.form.FirmwareFilesMade.push_back(std::filesystem::absolute("_fwbin").string());
  program.form.Timer1.SetEnabled(true);
  bool closed = false;
  window->OnClosed = [&closed] { closed = true; };
  Action("Exit1")->trigger();
  EXPECT_TRUE(closed);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(std::filesystem::exists("_fwbin"));
  EXPECT_FALSE(program.form.Timer1.Enabled());
}

TEST_F(WindowTest, CloseButtonClosesTheWindow) {
  ShowActive();
  // An image the package check made here.
  ScopedWorkDir::Write("_fwbin", "image");
  program.form.FirmwareFilesMade.push_back(std::filesystem::absolute("_fwbin").string());
  QTest::mouseClick(Find<QPushButton>("SpeedButton1"), Qt::LeftButton);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(std::filesystem::exists("_fwbin"));
}

TEST(StartUpTest, SavedSettingWarnsBeforeTheWindowIsShownAndTheProgramRuns) {
  test::App();
  test::ModalWatchdog watchdog;
  ScopedWorkDir dir;
  ScopedWorkDir::Write("mvxtvup_setting.ini", "[Setting]\r\nCheckBoxFileFormat=True\r\n");
  Program program;
  BoxSeen warning;
  bool window_shown_at_warning = true, ran = false;
  MainWindow* built = nullptr;
  test::WhenModal([&](QWidget* box) {
    window_shown_at_warning = built != nullptr && built->isVisible();
    warning.shown = true;
    warning.title = box->windowTitle();
    qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
  });
  RunHooks hooks;
  hooks.built = [&built](MainWindow& window) { built = &window; };
  hooks.shown = [&ran](MainWindow& window) {
    // Still running a moment later: the closed warning box did not end the
    // program as the last window would have.
    QTimer::singleShot(300, &window, [&ran, &window] {
      ran = true;
      window.close();
    });
  };
  RunMainWindow(test::App(), program.platform, program.form, hooks);
  EXPECT_TRUE(warning.shown);
  EXPECT_EQ(warning.title, QStringLiteral("MVXTVUP v1.77"));
  EXPECT_FALSE(window_shown_at_warning);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(program.form.CheckBoxFileFormat.Checked());
}

}  // namespace
}  // namespace mvx
