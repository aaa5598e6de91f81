// The identification and post-restart steps driven tick by tick with the
// device's answers handed to the channel directly, as the read thread would.
#include <gtest/gtest.h>

#include "tests/sequencer/machine.h"

namespace mvx {
namespace {

const std::string kSerialRangeBox =
    "MessageBox[error]|ERROR!|ERROR : This product cannot be this version.\r\nCheck Merovox "
    "website.\r\nエラー：この製品はこのバージョンに出来ません。\r\nMerovoxウェブサイトをご確認"
    "ください。|OK";

std::string Confirmation(const std::string& v) {
  return "MessageBox[question]|Confirmation|Current Version " + v +
         "\r\nIs Updating continued?\r\n現在のバージョンは" + v + "です。アップデートしますか？|";
}

class StepTest : public ::testing::Test, protected Machine {};

TEST_F(StepTest, ClockThenVersionThenSerial) {
  Tick();
  EXPECT_EQ(bench.SentLines(), std::vector<std::string>{"RTC SET 818413200"});
  Answer("NG");  // any other answer is consumed and the clock step waits on
  EXPECT_EQ(form.SequencerState, state::ClockReply);
  EXPECT_FALSE(form.ResponseReceived);
  Answer("OK");
  Answer("OK 100019");
  EXPECT_EQ(form.UpdateType, UpdateKind::Type2);
  EXPECT_EQ(form.VersionSubCode, "019");
  EXPECT_EQ(bench.NoteLines().back(), "current version[100019] updatetype[2]");
  EXPECT_EQ(bench.SentLines(), (std::vector<std::string>{"RTC SET 818413200", "VER", "GSER"}));
  EXPECT_EQ(form.SequencerState, state::SerialReply);
}

TEST_F(StepTest, VersionAnswerWithoutOkLeavesNoUpdateType) {
  form.UpdateType = UpdateKind::Type2;  // from the previous device
  Tick();
  Answer("OK");
  Answer("NG");
  EXPECT_EQ(form.CurrentVersion, "");
  EXPECT_EQ(form.UpdateType, UpdateKind::None);
  EXPECT_EQ(bench.NoteLines().back(), "current version[] updatetype[0]");
  EXPECT_EQ(form.SequencerState, state::SerialReply);
}

TEST_F(StepTest, SerialRangeRuleWithoutModelQuestion) {
  struct Case {
    std::string number, serial_answer, label;
    bool accepted;
  };
  const Case cases[] = {
      {"050", "OK 0 0 ABCDE04999", "ABCDE04999", false},
      {"050", "OK 0 0 ABCDE05000", "ABCDE05000", true},
      {"049", "OK 0 0 ABCDE05000", "ABCDE05000", false},
      {"049", "OK 0 0 ABCDE04999", "ABCDE04999", true},
      {"050", "OK ABCD", "ABCD", false},                  // short: counts as 0
      {"050", "OK,X,Y,ABCDE9999Z", "ABCDE9999Z", false},  // not a number: 0
      {"000", "OK 1 2", "------------", true},            // 3 items: dashes, read as 0
      {"050", "NG", "------------", false},
  };
  for (const Case& c : cases) {
    Machine t;
    t.form.UpdateVersionNumber = c.number;
    t.bench.Operator.Answers = {"OK"};
    t.Identify("1.0", c.serial_answer);
    EXPECT_EQ(t.form.LabelSerialNumber.Caption(), c.label) << c.serial_answer;
    if (c.accepted) {
      EXPECT_EQ(t.Boxes(), std::vector<std::string>{Confirmation("1.0") + "OK"});
      EXPECT_EQ(t.bench.SentLines().back(), "FINS x.tvu");
      EXPECT_EQ(t.form.SequencerState, state::FileInfoReply);
      EXPECT_EQ(t.form.Label1.Caption(), "File Transfer.");
    } else {
      EXPECT_EQ(t.StepLines(),
                std::vector<std::string>{"current version[1.0] ERROR : This product cannot be this "
                                         "version."});
      EXPECT_EQ(t.Boxes(), std::vector<std::string>{kSerialRangeBox});
      t.ExpectRefused();
    }
  }
}

TEST_F(StepTest, SpecialPackageOnDeviceNotAskedForModel) {
  for (const std::string version : {"1.0", "100019"}) {
    Machine t;
    t.form.SpecialModelCode = "SAR";
    t.Identify(version, "OK 0 0 ABCDE01234");
    const std::string text = "current version[" + version + "] Error : Model Mismatch.";
    EXPECT_EQ(t.StepLines(), std::vector<std::string>{text});
    EXPECT_EQ(t.Boxes(), std::vector<std::string>{"ErrorDialog|エラー|" + text + "|OK"});
    t.ExpectRefused();
  }
}

TEST_F(StepTest, UpdateTypeZeroStopsAtConfirmationWithoutBox) {
  Identify("1.0.0", "OK 0 0 ABCDE01234");
  EXPECT_EQ(form.UpdateType, UpdateKind::None);
  EXPECT_TRUE(bench.Operator.Records.empty());
  EXPECT_EQ(form.SequencerState, state::SerialReply);
  EXPECT_TRUE(form.DeviceReady);
}

TEST_F(StepTest, SubCodeThresholds) {
  struct Case {
    std::string version;
    std::vector<std::string> asked;  // after "GSER"
    std::string label;
  };
  const Case cases[] = {
      {"100019", {}, "100019"},
      {"100025", {"KIND"}, "100025"},
      {"100026", {"KIND", "DETAIL"}, "Detail"},
      {"100033", {"KIND", "DETAIL", "LANGUAGE"}, "Detail JPN"},
      {"100999", {"KIND", "DETAIL", "LANGUAGE"}, "Detail JPN"},
      {"101000", {}, "101000"},
  };
  for (const Case& c : cases) {
    Machine t;
    t.bench.Operator.Answers = {"OK"};
    t.Identify(c.version, "OK 0 0 ABCDE01234");
    // Unaccepted answers are consumed while each question waits.
    for (int waiting : {state::KindReply, state::DetailReply, state::LanguageReply})
      if (t.form.SequencerState == waiting) {
        t.Answer("NG");
        EXPECT_EQ(t.form.SequencerState, waiting);
        t.Answer(waiting == state::KindReply     ? "OK TV004"
                 : waiting == state::DetailReply ? "OK Detail"
                                                 : "OK JPN");
      }
    const auto sent = t.bench.SentLines();
    EXPECT_EQ(std::vector<std::string>(sent.begin() + 3, sent.end()), c.asked) << c.version;
    EXPECT_EQ(t.form.LabelCurrentVersion.Caption(), c.label) << c.version;
    EXPECT_EQ(t.Boxes(), std::vector<std::string>{Confirmation(c.version) + "OK"});
    EXPECT_EQ(t.form.SequencerState, state::DownloadBegin) << c.version;
  }
}

TEST_F(StepTest, ModelRulesDecide) {
  const std::string ok = "KIND command responce:";
  const std::string demo =
      "WarningDialog|警告|This Merovox is demo model, not for sale. Will you continue writing?|";
  const std::string rx =
      "MessageBox[warning]|Warning|Modelname is TV004RX. Will you continue writing?\r\n"
      "モデル名はTV004RXです。書き込みを継続しますか？|";
  const std::string cancel = "User requested cancel of current operation.";
  const std::string mismatch = " Error : Model Mismatch.";
  auto error = [](const std::string& text) { return "ErrorDialog|エラー|" + text + "|OK"; };
  using Lines = std::vector<std::string>;
  struct Case {
    std::string model, code, number;
    bool cross;
    std::deque<std::string> answers;
    Lines lines;  // after "model name[...]"
    Lines boxes;  // before the confirmation
    bool accepted;
  };
  // clang-format off
  const Case cases[] = {
      {"TV004", "", "030", false, {}, {ok + "TV004 is OK"}, {}, true},
      {"TV004 SAR", "", "030", false, {}, {ok + "TV004 SAR is OK", "model:TV004 SAR" + mismatch}, {error("model:TV004 SAR" + mismatch)}, false},
      {"TV005 PRO", "", "021", false, {}, {ok + "TV005 PRO is OK", "model:TV005 PRO Error : Version Mismatch."}, {error("model:TV005 PRO Error : Version Mismatch.")}, false},
      {"PX001 SDF", "SDF", "030", false, {}, {ok + "PX001 SDF is OK", "special_model_code:SDF , model:PX001 SDF"}, {}, true},
      {"TV004", "SAR", "030", true, {}, {ok + "TV004 is OK", "special_model_code:SAR , model:TV004"}, {}, true},
      {"TV005 BASIC", "KS", "030", false, {}, {ok + "TV005 BASIC is OK", "TV005 BASICError : Model Mismatch."}, {error("model:TV005 BASIC" + mismatch)}, false},
      {"3T", "", "050", false, {"Yes"}, {ok + "3T is OK"}, {demo + "Yes"}, true},
      {"3T", "", "030", false, {"No"}, {ok + "3T is OK", cancel}, {demo + "No"}, false},
      {"3T", "SAR", "030", true, {"Yes"}, {ok + "3T is OK", "3TError : Model Mismatch."}, {demo + "Yes", error("model:3T" + mismatch)}, false},
      {"TV004 RX", "", "030", false, {"Yes"}, {ok + "TV004 RX is OK"}, {rx + "Yes"}, true},
      {"TV004 RX", "", "030", false, {"No"}, {ok + "TV004 RX is OK", cancel}, {rx + "No"}, false},
      {"tv004", "", "030", false, {}, {ok + "tv004 is unknown."}, {error("model[tv004] Error : Unknown Model.")}, false},
      // A serial-range model is refused before it is recognised.
      {"TV004 RX", "", "050", false, {}, {"current version[100025] ERROR : This product cannot be this version."}, {kSerialRangeBox}, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    Machine t;
    t.form.SpecialModelCode = c.code;
    t.form.UpdateVersionNumber = c.number;
    t.form.CrossTypeEnabled = c.cross;
    t.bench.Operator.Answers = c.answers;
    t.bench.Operator.Answers.push_back("OK");
    t.Identify("100025", "OK 0 0 ABCDE01234");
    t.Answer("OK " + c.model);
    const std::string what = c.model + " code[" + c.code + "] " + c.number;
    Lines lines{"model name[" + c.model + "]"};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(t.StepLines(), lines) << what;
    EXPECT_EQ(t.form.LabelModelName.Caption(), c.model) << what;
    Lines boxes = c.boxes;
    if (c.accepted) boxes.push_back(Confirmation("100025") + "OK");
    EXPECT_EQ(t.Boxes(), boxes) << what;
    if (c.accepted)
      EXPECT_EQ(t.form.SequencerState, state::DownloadBegin) << what;
    else
      t.ExpectRefused();
  }
}

TEST_F(StepTest, ConfirmationCancelledEndsTheRunSilently) {
  bench.Operator.Answers = {"Cancel"};
  Identify("1.0", "OK 0 0 ABCDE01234");
  EXPECT_TRUE(StepLines().empty());
  EXPECT_EQ(bench.SentLines().back(), "GSER");
  ExpectRefused();
}

// A device change while a box is open starts a new run; the answer given for
// the old device must not steer it.
TEST_F(StepTest, AnswerAfterTheRunWasReplacedIsDropped) {
  bench.Operator.WhileOpen = [&](const ScriptedOperator::Record&) { form.BeginNewRun(); };
  bench.Operator.Answers = {"OK"};
  Identify("1.0", "OK 0 0 ABCDE01234");
  EXPECT_EQ(form.SequencerState, state::SetClock);
  // The new run cleared the log; nothing was sent after the box.
  EXPECT_TRUE(bench.SentLines().empty());
  EXPECT_NE(form.Label1.Caption(), "File Transfer.");

  form.SpecialModelCode = "SAR";
  form.SequencerState = state::SerialReply;
  Answer("OK 0 0 ABCDE01234");
  EXPECT_EQ(form.SequencerState, state::SetClock);
  EXPECT_TRUE(form.DeviceReady);
}

TEST_F(StepTest, AfterRestart) {
  struct Case {
    std::string version;
    std::vector<std::string> answers;  // to KIND, DETAIL, LANGUAGE as asked
    bool format;
    std::vector<std::string> asked;
    std::string label;
    bool report;
  };
  // clang-format off
  const Case cases[] = {
      {"1.2.3", {}, true, {}, "1.2.3", true},
      {"100020", {"OK TV005 BASIC"}, false, {"KIND"}, "100020", true},
      {"100020", {"NG"}, true, {"KIND"}, "100020", true},
      {"100025", {"OK TV004 RX"}, false, {"KIND"}, "100025", true},
      {"100026", {"OK PX001", "OK Detail"}, false, {"KIND", "DETAIL"}, "Detail", true},
      {"100033", {"OK TV004", "OK Detail", "OK JPN"}, true, {"KIND", "DETAIL", "LANGUAGE"}, "Detail JPN", true},
      // No final report for a device that does not answer its identity.
      {"100033", {"OK TV004", "NG"}, true, {"KIND", "DETAIL"}, "100033", false},
      {"100033", {"OK TV004", "OK Detail", "NG"}, true, {"KIND", "DETAIL", "LANGUAGE"}, "Detail", false},
  };
  // clang-format on
  for (const Case& c : cases) {
    Machine t;
    t.form.NewVersionText = c.version;
    // The unit came back with the package's firmware (proven before the
    // information file): what follows is the identification after it.
    t.form.NewFirmwareProven = true;
    t.form.SequencerState = state::PostCheckBegin;
    t.Tick();
    std::size_t next = 0;
    if (t.form.SequencerState == state::PostKindReply) t.Answer(c.answers[next++]);
    EXPECT_EQ(t.form.SequencerState, state::FormatBegin) << c.version;
    EXPECT_EQ(t.form.FormatAllowed, c.format) << c.version;
    t.form.SequencerState = state::PostDetailBegin;  // the format steps pass on to here
    t.Tick();
    while (t.form.SequencerState == state::PostDetailReply ||
           t.form.SequencerState == state::PostLanguageReply)
      t.Answer(c.answers[next++]);
    EXPECT_EQ(t.bench.SentLines(), c.asked) << c.version;
    EXPECT_EQ(t.form.LabelCurrentVersion.Caption(), c.label) << c.version;
    if (c.report) {
      EXPECT_EQ(t.form.SequencerState, state::Finished);
      t.Tick();
      EXPECT_EQ(t.Boxes(), std::vector<std::string>{
                               "MessageBox[information]|Information|Update finished.\r\nアップデー"
                               "ト完了しました。\r\nVer " +
                               c.version + "|OK"});
    } else {
      EXPECT_TRUE(t.Boxes().empty());
    }
    t.ExpectRefused();
  }
}

}  // namespace
}  // namespace mvx
