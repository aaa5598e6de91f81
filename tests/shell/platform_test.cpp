// The Qt platform services: the boxes' captions, buttons, icons and answers,
// the open-dialog filter, and the loop's guarantee that timers, posted calls
// and watched descriptors keep running while a modal box is open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QClipboard>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "app/qt/qt_platform.h"
#include "tests/shell/modal.h"

namespace mvx {
namespace {

using test::BoxSeen;

class PlatformTest : public ::testing::Test {
 protected:
  PlatformTest() { test::App(); }
  test::ModalWatchdog watchdog;
  QtPlatform platform;
};

TEST(FilterTest, WindowsFilterBecomesQtFilter) {
  const std::pair<const char*, const char*> cases[] = {
      {"tvu(*.tvu)|*.tvu", "tvu(*.tvu)"},
      {"Packages|*.tvu", "Packages (*.tvu)"},
      {"Images|*.bin;*.img|All|*.*", "Images (*.bin *.img);;All (*.*)"},
      {"tvu (*.tvu)|*.tvu", "tvu (*.tvu)"},
      {"", ""},
      {"label only", ""},
  };
  for (const auto& [windows, qt] : cases) EXPECT_EQ(ToQtFileFilter(windows), qt) << windows;
}

TEST(FilterTest, DisplayTextBreaksLinesAtLf) {
  EXPECT_EQ(
      ToDisplayText("Please set Merovox to a cradle.\r\nMerovoxをクレードルにセットしてください。"),
      QStringLiteral("Please set Merovox to a cradle.\nMerovoxをクレードルにセットしてください。"));
  EXPECT_EQ(ToDisplayText("a\r\rb\nc"), QStringLiteral("a\n\nb\nc"));
}

TEST_F(PlatformTest, WarningDialogAsksYesOrNo) {
  for (const auto& [button, answer] : {std::pair{QStringLiteral("はい(&Y)"), MsgAnswer::Yes},
                                       std::pair{QStringLiteral("いいえ(&N)"), MsgAnswer::No}}) {
    BoxSeen seen;
    test::ClickInNextBox(button, &seen);
    EXPECT_EQ(platform.WarningDialog(
                  "異なるタイプ間のバージョンアップを許可しますか？\r\n\r\n例) TV004 → "
                  "TV004SAR"),
              answer);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, QStringLiteral("警告"));
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons,
              (QStringList{QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")}));
    EXPECT_EQ(
        seen.text,
        QStringLiteral("異なるタイプ間のバージョンアップを許可しますか？\n\n例) TV004 → TV004SAR"));
  }
}

TEST_F(PlatformTest, ErrorDialogHasOneOkButton) {
  BoxSeen seen;
  test::ClickInNextBox(QStringLiteral("OK"), &seen);
  platform.ErrorDialog("failed");
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, QStringLiteral("エラー"));
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
  EXPECT_EQ(seen.text, QStringLiteral("failed"));
}

TEST_F(PlatformTest, MessageBoxButtonsIconsAndAnswers) {
  struct Case {
    MsgButtons buttons;
    MsgIcon icon;
    QString click;
    MsgAnswer answer;
    QMessageBox::Icon shown_icon;
    int button_count;
  };
  const Case cases[] = {
      {MsgButtons::Ok, MsgIcon::Information, "OK", MsgAnswer::Ok, QMessageBox::Information, 1},
      {MsgButtons::Ok, MsgIcon::Error, "OK", MsgAnswer::Ok, QMessageBox::Critical, 1},
      {MsgButtons::OkCancel, MsgIcon::Error, "OK", MsgAnswer::Ok, QMessageBox::Critical, 2},
      {MsgButtons::OkCancel, MsgIcon::Error, "Cancel", MsgAnswer::Cancel, QMessageBox::Critical, 2},
      {MsgButtons::YesNo, MsgIcon::Question, "&Yes", MsgAnswer::Yes, QMessageBox::Question, 2},
      {MsgButtons::YesNo, MsgIcon::Warning, "&No", MsgAnswer::No, QMessageBox::Warning, 2},
      {MsgButtons::Ok, MsgIcon::None, "OK", MsgAnswer::Ok, QMessageBox::NoIcon, 1},
  };
  for (const auto& c : cases) {
    BoxSeen seen;
    test::ClickInNextBox(c.click, &seen);
    EXPECT_EQ(platform.MessageBox("File Ver 201022", "Infomation", c.buttons, c.icon), c.answer)
        << c.click.toStdString();
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, QStringLiteral("Infomation"));
    EXPECT_EQ(seen.text, QStringLiteral("File Ver 201022"));
    EXPECT_EQ(seen.icon, c.shown_icon);
    EXPECT_EQ(seen.buttons.size(), c.button_count);
  }
}

TEST_F(PlatformTest, InputBoxGivesTheTextOrNothingWhenCancelled) {
  BoxSeen seen;
  test::AnswerNextInput(QStringLiteral("9137"), false, &seen);
  EXPECT_EQ(platform.InputBox("SAR/SDF Versionup enable", "Password"), "9137");
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, QStringLiteral("SAR/SDF Versionup enable"));
  EXPECT_EQ(seen.label, QStringLiteral("Password"));
  EXPECT_EQ(seen.text, QString());  // an empty default

  test::AnswerNextInput(QStringLiteral("8264085"), true);
  EXPECT_EQ(platform.InputBox("Mockup mode", "password"), "");
}

TEST_F(PlatformTest, ClipboardHoldsTheLastText) {
  platform.SetClipboardText("------------");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("------------"));
  platform.SetClipboardText("現バージョン");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("現バージョン"));
}

TEST_F(PlatformTest, PostedCallsRunInOrderOnTheGuiThread) {
  std::vector<int> order;
  std::atomic<int> wrong_thread{0};
  QThread* gui = QThread::currentThread();
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i)
      platform.Post([&, i] {
        if (QThread::currentThread() != gui) ++wrong_thread;
        order.push_back(i);
      });
  });
  worker.join();
  ASSERT_TRUE(test::RunUntil([&] { return order.size() == 100; }));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(wrong_thread.load(), 0);
}

// What a delivered call asks to run next runs before anything queued
// meanwhile, a delivery from a worker included; outside a delivery it is
// queued like any posted call.
TEST_F(PlatformTest, PostNextRunsRightAfterTheDeliveredCall) {
  std::vector<std::string> order;
  std::thread worker;
  platform.Post([&] {
    order.push_back("A");
    worker = std::thread([&] { platform.Post([&] { order.push_back("worker"); }); });
    worker.join();
    platform.Post([&] { order.push_back("C"); });
    platform.PostNext([&] {
      order.push_back("B1");
      platform.PostNext([&] { order.push_back("B2"); });
    });
  });
  platform.PostNext([&] { order.push_back("D"); });
  ASSERT_TRUE(test::RunUntil([&] { return order.size() == 6; }));
  EXPECT_EQ(order, (std::vector<std::string>{"A", "B1", "B2", "D", "worker", "C"}));
}

TEST_F(PlatformTest, ModalBoxKeepsTimersPostedCallsAndWatchesRunning) {
  int ticks = 0, posted = 0, ready = 0;
  int ticks_during = -1, posted_during = -1, ready_during = -1;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  auto ticker = platform.CreateTimer([&] { ++ticks; });
  ticker->Start(1);
  auto watch = platform.WatchFd(fds[0], [&] {
    char byte;
    while (read(fds[0], &byte, 1) == 1) ++ready;
  });
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop) {
      platform.Post([&] { ++posted; });
      if (write(fds[1], "x", 1) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });

  MsgAnswer answer = MsgAnswer::Ok;
  bool done = false;
  std::unique_ptr<ITimerSource> opener;
  opener = platform.CreateTimer([&] {
    opener->Stop();
    const int t0 = ticks, p0 = posted, r0 = ready;
    // Closed once every source has been seen running while the box is open.
    test::WhenModal([&, t0, p0, r0](QWidget* box) {
      auto* poll = new QTimer(box);
      QObject::connect(poll, &QTimer::timeout, [&, t0, p0, r0, box] {
        if (ticks - t0 < 50 || posted - p0 < 20 || ready - r0 < 20) return;
        ticks_during = ticks - t0;
        posted_during = posted - p0;
        ready_during = ready - r0;
        qobject_cast<QMessageBox*>(box)->button(QMessageBox::No)->click();
      });
      poll->start(5);
    });
    answer =
        platform.MessageBox("Update finished", "MVXTVUP", MsgButtons::YesNo, MsgIcon::Information);
    done = true;
  });
  opener->Start(10);

  const bool finished = test::RunUntil([&] { return done; }, 10000);
  stop = true;
  worker.join();
  close(fds[0]);
  close(fds[1]);
  ASSERT_TRUE(finished);
  EXPECT_EQ(answer, MsgAnswer::No);
  EXPECT_GE(ticks_during, 50);
  EXPECT_GE(posted_during, 20);
  EXPECT_GE(ready_during, 20);
}

TEST_F(PlatformTest, ErrorEscapingATimerIsShownAndTheLoopGoesOn) {
  int ticks = 0;
  auto timer = platform.CreateTimer([&] {
    if (++ticks == 1)
      throw std::runtime_error("ファイル \"/x/_fwbin\". Permission denied を作成できません");
  });
  BoxSeen seen;
  test::ClickInNextBox(QStringLiteral("OK"), &seen);
  timer->Start(1);
  EXPECT_TRUE(test::RunUntil([&] { return ticks > 10; }));
  timer->Stop();
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, QStringLiteral("MVXTVUP"));
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.text,
            QStringLiteral("ファイル \"/x/_fwbin\". Permission denied を作成できません"));
}

}  // namespace
}  // namespace mvx
