// Verify, backup, digest check and the install command.
#include "tests/deviceops/ops_bench.h"

namespace mvx::testing_ops {
namespace {

using protocol::PacketReader;

std::string Gcmd(std::int32_t code, std::int32_t status, const std::string& digest = {}) {
  return protocol::PacketWriter()
      .Keyword("GCMD")
      .U32LE(static_cast<std::uint32_t>(code))
      .U32LE(static_cast<std::uint32_t>(status))
      .Bytes(digest)
      .PadTo(64)
      .Take();
}

const std::string kDigestBytes("\x01\x23\x45\x67\x89\xAB\xCD\xEF\xFE\xDC\xBA\x98\x76\x54\x32\x10",
                               16);
const char* const kDigestText = "0123456789ABCDEFFEDCBA9876543210";

TEST_F(OpsTest, VerifyBeginChoosesTheCommandByUpdateType) {
  MakeImage(5000);
  Form.UpdateType = UpdateKind::Type1;
  Form.VerifyBegin();
  EXPECT_EQ(Form.Label1.Caption(), "Verify.");
  EXPECT_EQ(Form.SequencerState, 12);
  EXPECT_EQ(LastSent(19), std::string("GCMD\x01\x10\0\0\0\0\0\0fw.tvu\0", 19));

  Form.UpdateType = UpdateKind::Type2;
  Form.VerifyBegin();
  EXPECT_EQ(Form.SequencerState, 20);
  // Data check: the image size and no name.
  EXPECT_EQ(LastSent(13), std::string("GCMD\x0A\x10\0\0\x88\x13\0\0\0", 13));
}

struct GcmdCase {
  const char* name;
  int state;
  std::int32_t code;
  std::int32_t status;
  const char* line;  // the "<<" line; nullptr: none
  int next_state;
};

class GcmdAnswerTest : public OpsTest, public ::testing::WithParamInterface<GcmdCase> {};

TEST_P(GcmdAnswerTest, ResultCodeAndStatusDecideTheNextState) {
  const GcmdCase c = GetParam();
  MakeImage(100);
  Form.FirmwareDigest = kDigestText;
  Form.SequencerState = c.state;
  const std::size_t before = LogSize();
  Respond(Gcmd(c.code, c.status, kDigestBytes));
  switch (c.state) {
    case 12:
      Form.VerifyReply();
      break;
    case 13:
      Form.BackupReply();
      break;
    default:
      Form.DigestReply();
      break;
  }
  EXPECT_EQ(Form.SequencerState, c.next_state);
  std::vector<std::string> received;
  for (const auto& line : LogFrom(before))
    if (line.rfind("<<", 0) == 0) received.push_back(line);
  EXPECT_EQ(received, c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
  if (c.next_state == 1) {
    EXPECT_EQ(Log().back(), "  Boot loader : Stopped");
    EXPECT_FALSE(Form.DeviceReady);
  }
}

INSTANTIATE_TEST_SUITE_P(
    States, GcmdAnswerTest,
    ::testing::Values(
        GcmdCase{"VerifyOk", 12, 1, 0, "<<Verify : OK", 13},
        GcmdCase{"VerifyFailed", 12, 1, 3, "<<Error : Failed to verify.", 1},
        GcmdCase{"VerifyGetsBackup", 12, 2, 0, "<<Error : Invalid command.", 1},
        GcmdCase{"VerifyGetsDigest", 12, 8, 0, "<<Error : Invalid command.", 1},
        GcmdCase{"BackupOk", 13, 2, 0, "<<Backup system file : OK", 14},
        GcmdCase{"BackupFailed", 13, 2, 1, "<<Error : Failed to backup system file.", 1},
        GcmdCase{"BackupGetsDigest", 13, 8, 0, "<<Error : Invalid command.", 1},
        GcmdCase{"DigestPathBackupOkWaits", 20, 2, 0, nullptr, 20},
        GcmdCase{"DigestPathBackupFailed", 20, 2, 9, "<<Error : Failed to backup system file.", 1},
        GcmdCase{"DataCheckFailed", 20, 8, 1, "<<Error : Failed to update firmware.", 1},
        GcmdCase{"DigestMatches", 20, 8, 0, "<<Check MD5 Digest : OK", 14},
        GcmdCase{"DigestPathGetsVerify", 20, 1, 0, "<<Error : Invalid command.", 1}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(OpsTest, AnswersOtherThanGcmdAreConsumedAndIgnored) {
  for (int state : {12, 13, 20}) {
    Form.SequencerState = state;
    Respond("OK");
    if (state == 12) Form.VerifyReply();
    if (state == 13) Form.BackupReply();
    if (state == 20) Form.DigestReply();
    EXPECT_EQ(Form.SequencerState, state);
    EXPECT_FALSE(Form.ResponseReceived);
  }
  EXPECT_EQ(SentCount(), 0u);
}

TEST_F(OpsTest, DigestDifferingInOneByteFails) {
  Form.FirmwareDigest = kDigestText;
  std::string other = kDigestBytes;
  other[15] = '\x11';
  Form.SequencerState = 20;
  const std::size_t before = LogSize();
  Respond(Gcmd(8, 0, other));
  Form.DigestReply();
  EXPECT_EQ(LogFrom(before), (std::vector<std::string>{
                                 "  file MD5:[0123456789ABCDEFFEDCBA9876543210]",
                                 "  Data MD5:[0123456789ABCDEFFEDCBA9876543211]",
                                 "<<Error : MD5 Digest UNMATCHED.",
                                 "  Boot loader : Stopped",
                             }));
  EXPECT_EQ(Form.Label1.Caption(), "Data check fail.");
  EXPECT_EQ(Form.SequencerState, 1);
  EXPECT_EQ(SentCount(), 0u);
}

TEST_F(OpsTest, InstallCommandReleasesTheDeviceAndArmsTheWatchdog) {
  Form.FirmwareDigest = kDigestText;
  Form.UpdateType = UpdateKind::Type2;
  Form.SequencerState = 20;
  Respond(Gcmd(8, 0, kDigestBytes));
  Form.DigestReply();
  // The install command carries the name for every update type.
  EXPECT_EQ(LastSent(19), std::string("GCMD\x02\x10\0\0\0\0\0\0fw.tvu\0", 19));
  EXPECT_EQ(LogFrom(LogSize() - 3)[2], "  Updating.");
  EXPECT_EQ(Form.Label1.Caption(), "Updating.");
  EXPECT_EQ(Form.SequencerState, 14);
  EXPECT_TRUE(Form.Timer2.Enabled());
  EXPECT_FALSE(Form.DeviceReady);
  EXPECT_EQ(Form.CurrentDevice, nullptr);
}

TEST_F(OpsTest, RequeryVersionSendsVer) {
  Form.RequeryVersion();
  EXPECT_EQ(LastSent(4), std::string("VER\0", 4));
  EXPECT_EQ(Form.SequencerState, 21);
}

}  // namespace
}  // namespace mvx::testing_ops
