// The file-system format after a version-up: decision, attempts, retry box.
#include "tests/deviceops/ops_bench.h"

namespace mvx::testing_ops {
namespace {

class FormatTest : public OpsTest {
 protected:
  void SetUp() override {
    Form.CheckBoxFileFormat.SetChecked(true);
    Operator.Records.clear();  // the check box's own warning
    Form.NewVersionSubCode = "016";
    Form.FormatAllowed = true;
  }

  // One attempt that the device spoils with an answer in state 42.
  void FailedAttempt() {
    Form.SequencerState = 44;
    Form.FormatBegin();
    ASSERT_EQ(Form.SequencerState, 42);
    Respond("OK");
    Form.FormatStartReply();
    ASSERT_EQ(Form.SequencerState, 44);
  }
};

TEST_F(FormatTest, DecisionSkipsTheFormatWithoutSendingAnything) {
  struct Case {
    bool checked;
    const char* sub_code;
    bool allowed;
    int state;
  } cases[] = {
      {true, "016", true, 42},  {true, "020", true, 42}, {true, "A00", true, 42},
      {true, "015", true, 48},  {true, "000", true, 48}, {false, "016", true, 48},
      {true, "016", false, 48}, {true, "01", true, 48},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sub_code);
    Form.CheckBoxFileFormat.SetChecked(c.checked);
    Form.NewVersionSubCode = c.sub_code;
    Form.FormatAllowed = c.allowed;
    Form.FormatAttempts = 0;
    Form.SequencerState = 44;
    const std::size_t sent = SentCount();
    const std::uint64_t start = Loop.NowMs();
    Form.FormatBegin();
    EXPECT_EQ(Form.SequencerState, c.state);
    EXPECT_EQ(SentCount(), sent + (c.state == 42 ? 1 : 0));
    EXPECT_EQ(Loop.NowMs() - start, c.state == 42 ? 2000u : 0u);
  }
}

TEST_F(FormatTest, OneAttemptToCompletion) {
  Form.SequencerState = 44;
  const std::uint64_t start = Loop.NowMs();
  Form.FormatBegin();
  EXPECT_EQ(Loop.NowMs() - start, 2000u);
  EXPECT_EQ(LastSent(5), std::string("fmts\0", 5));
  EXPECT_EQ(Form.Label1.Caption(), "FileSystem Format Start");
  EXPECT_EQ(Form.LabelFormatStatus.Caption(), "Format ...");
  EXPECT_EQ(Form.FormatAttempts, 1);

  Respond("filecmd_job 8");
  Form.FormatStartReply();
  EXPECT_EQ(Form.SequencerState, 43);
  Respond("OK");
  Form.FormatReadyReply();
  EXPECT_EQ(Loop.NowMs() - start, 3000u);
  EXPECT_EQ(LastSent(5), std::string("fres\0", 5));
  EXPECT_EQ(Form.SequencerState, 46);
  Respond("filecmd_job 16");
  Form.FormatResetReply();
  EXPECT_EQ(Form.SequencerState, 47);
  Respond("OK 500000000 bytes");
  Form.FormatSizeReply();
  EXPECT_EQ(Form.LabelFormatStatus.Caption(), "Format completed.");
  EXPECT_EQ(Form.SequencerState, 48);
  EXPECT_TRUE(Operator.Records.empty());
}

TEST_F(FormatTest, AnyOtherAnswerStartsANewAttempt) {
  struct Case {
    int state;
    const char* answer;
  } cases[] = {
      {42, "filecmd_job 1"},
      {42, "OK"},
      {43, "NG"},
      {43, "filecmd_job 8"},
      {46, "filecmd_job 8"},
      {46, "OK"},
      {47, "OK 499999999 bytes"},
      {47, "OK"},
      {47, "NG 900000000 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Form.SequencerState = c.state;
    const std::size_t sent = SentCount();
    Respond(c.answer);
    switch (c.state) {
      case 42:
        Form.FormatStartReply();
        break;
      case 43:
        Form.FormatReadyReply();
        break;
      case 46:
        Form.FormatResetReply();
        break;
      default:
        Form.FormatSizeReply();
        break;
    }
    EXPECT_EQ(Form.SequencerState, 44);
    EXPECT_EQ(SentCount(), sent);
    EXPECT_FALSE(Form.ResponseReceived);
  }
  EXPECT_NE(Form.LabelFormatStatus.Caption(), "Format completed.");
}

TEST_F(FormatTest, AfterFiveFailuresTheOperatorDecides) {
  for (int i = 0; i < 5; ++i) FailedAttempt();
  EXPECT_TRUE(Operator.Records.empty());
  EXPECT_EQ(Form.FormatAttempts, 5);

  // Retry: the count starts over, five more attempts run without a question.
  Operator.Answers = {"OK"};
  FailedAttempt();
  ASSERT_EQ(Operator.Records.size(), 1u);
  EXPECT_EQ(Operator.Records[0].Kind, "MessageBox[error]");
  EXPECT_EQ(Operator.Records[0].Caption, "ERROR!");
  EXPECT_EQ(Operator.Records[0].Text, "format error!.\r\nAre you retry?");
  EXPECT_EQ(Operator.Records[0].Answer, "OK");
  EXPECT_EQ(Form.FormatAttempts, 1);
  for (int i = 0; i < 4; ++i) FailedAttempt();
  EXPECT_EQ(Operator.Records.size(), 1u);

  // Cancel: no format, the run goes on.
  Operator.Answers = {"Cancel"};
  const std::size_t sent = SentCount();
  Form.SequencerState = 44;
  Form.FormatBegin();
  EXPECT_EQ(Operator.Records.size(), 2u);
  EXPECT_EQ(Form.SequencerState, 48);
  EXPECT_EQ(SentCount(), sent);
  EXPECT_EQ(Form.LabelFormatStatus.Caption(), "Format ...");
}

}  // namespace
}  // namespace mvx::testing_ops
