// The information file upload, the serial-number restore and "CLEAR".
#include <filesystem>
#include <fstream>
#include <iterator>

#include "protocol/layouts.h"
#include "tests/deviceops/ops_bench.h"

namespace mvx::testing_ops {
namespace {

using protocol::PacketReader;
using protocol::PacketWriter;

std::string Upls() {
  return PacketWriter().Keyword("UPLS").U32LE(1).U32LE(2).Bytes("TVINFO.INI").PadTo(1024).Take();
}

std::string Upld(std::uint32_t number, std::string_view data) {
  return PacketWriter().Keyword("UPLD").U32LE(number).Bytes(data).PadTo(1024).Take();
}

std::string Uple(std::uint32_t count, std::string_view data) {
  return PacketWriter().Keyword("UPLE").U32LE(count).Bytes(data).PadTo(1024).Take();
}

std::string Upli(std::size_t size) {
  return PacketWriter()
      .Keyword("UPLI")
      .U32LE(static_cast<std::uint32_t>(size))
      .Bytes("2026/12/08 09:00")
      .PadTo(1024)
      .Take();
}

const std::string kItems = "pcb PCB77\r\nbat BAT5\r\nser TV0400001234\r\n";

std::string ReadInfoFile() {
  std::ifstream in(protocol::kInfoFileName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

using Reply = std::pair<std::int64_t, std::int64_t>;
const Reply kNoReply{-1, -1};

class UploadTest : public OpsTest {
 protected:
  void SetUp() override { Form.SequencerState = 33; }

  // Hands one packet to state 33 and returns the "UPLR" reply it caused (code,
  // status), or kNoReply.
  Reply Feed(const std::string& packet) {
    const std::size_t sent = SentCount();
    Respond(packet);
    Form.UploadTransfer();
    if (SentCount() == sent) return kNoReply;
    const PacketReader reply(Model.Reports.back());
    if (reply.Keyword() != "UPLR") return kNoReply;
    return {reply.U32LE(4), reply.U32LE(8)};
  }

  // "<<" lines logged since index from.
  std::vector<std::string> ReceivedFrom(std::size_t from) const {
    std::vector<std::string> out;
    for (const auto& line : LogFrom(from))
      if (line.rfind("<<", 0) == 0) out.push_back(line.substr(2));
    return out;
  }
};

TEST_F(UploadTest, InOrderUploadWritesTheFileAndSetsTheSerial) {
  // The unit identified before the install by the serial its file carries.
  Form.IdentifiedSerial = "TV0400001234";
  // It came back with the package's firmware.
  Form.NewVersionText = "201040";
  Form.UpdateVersionNumber = "040";
  // A full data packet, then the end packet with the rest.
  const std::string file = kItems + std::string(1016 - kItems.size(), ';') + "\r\nrest of file\r\n";
  const std::string head = file.substr(0, 1016), tail = file.substr(1016);
  std::size_t mark = LogSize();
  EXPECT_EQ(Feed(Upls()), Reply(0x1001, 0));
  EXPECT_EQ(ReceivedFrom(mark), std::vector<std::string>{"Upload : Started. fileName:TVINFO.INI"});
  EXPECT_EQ(Feed(Upld(0, head)), Reply(0x1002, 0));
  EXPECT_EQ(Feed(Uple(static_cast<std::uint32_t>(tail.size()), tail)), Reply(0x1003, 0));
  EXPECT_EQ(Log().back(), "  ファイル書込");
  EXPECT_TRUE(ReadInfoFile() == file);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 1);

  mark = LogSize();
  Respond(Upli(file.size()));
  Form.UploadTransfer();
  EXPECT_EQ(LogFrom(mark), (std::vector<std::string>{
                               "  Verify : OK. fileSize:" + std::to_string(file.size()) +
                                   " timeStamp:2026/12/08 09:00",
                               "<<Upload : Done",
                               "  ser:TV0400001234",
                               "  pcb:PCB77",
                               "  bat:BAT5",
                               ">>SSER PCB770000000 BAT500000000 TV0400001234",
                           }));
  EXPECT_EQ(Form.SetSerialCommand, "SSER PCB770000000 BAT500000000 TV0400001234");
  EXPECT_EQ(LastSent(Form.SetSerialCommand.size() + 1), Form.SetSerialCommand + '\0');
  EXPECT_EQ(Form.SequencerState, 34);
}

TEST_F(UploadTest, OutOfOrderPacketsAreRefusedAndTheSizeCheckSendsBackToRereading) {
  const std::string block(1016, 'x');
  Feed(Upls());
  std::size_t mark = LogSize();
  EXPECT_EQ(Feed(Upld(1, block)), Reply(0x1002, 1));
  EXPECT_EQ(ReceivedFrom(mark), std::vector<std::string>{"Error : Invalid packet number."});
  EXPECT_FALSE(Form.UploadActive);

  // Once the upload is off, every data packet is refused.
  mark = LogSize();
  EXPECT_EQ(Feed(Upld(0, block)), Reply(0x1002, 1));
  EXPECT_EQ(ReceivedFrom(mark), std::vector<std::string>{"Error : Invalid status."});

  mark = LogSize();
  EXPECT_EQ(Feed(Uple(3, "abc")), Reply(0x1003, 1));
  EXPECT_EQ(ReceivedFrom(mark), std::vector<std::string>{"Error : Failed to upload file."});
  EXPECT_TRUE(Form.InfoUploadBuffer.empty());
  EXPECT_TRUE(std::filesystem::exists(protocol::kInfoFileName));
  EXPECT_EQ(ReadInfoFile(), "");

  mark = LogSize();
  Respond(Upli(1016 * 2 + 3));
  Form.UploadTransfer();
  EXPECT_EQ(LogFrom(mark), (std::vector<std::string>{
                               "  Error : Verify NG. fileSize:2035 timeStamp:2026/12/08 09:00",
                               "  Read retry.",
                           }));
  EXPECT_EQ(Form.SequencerState, 16);
}

TEST_F(UploadTest, SecondEndPacketIsIgnored) {
  Feed(Upls());
  EXPECT_EQ(Feed(Uple(5, "ser A")), Reply(0x1003, 0));
  EXPECT_EQ(Feed(Uple(5, "ser B")), kNoReply);
  EXPECT_EQ(Log().back(), "  受信データ無視");
  EXPECT_EQ(ReadInfoFile(), "ser A");
}

TEST_F(UploadTest, EndPacketCountBeyondOneBlockIsRefusedButTheFileIsWritten) {
  Feed(Upls());
  Feed(Upld(0, kItems + std::string(1016 - kItems.size(), ' ')));
  const std::size_t mark = LogSize();
  EXPECT_EQ(Feed(Uple(1017, std::string(1016, 'z'))), Reply(0x1003, 1));
  EXPECT_EQ(ReceivedFrom(mark), std::vector<std::string>{"Error : Failed to upload file."});
  EXPECT_EQ(Form.InfoUploadBuffer.size(), 1016u);
  EXPECT_EQ(ReadInfoFile().size(), 1016u);
  EXPECT_EQ(Log().back(), "  ファイル書込");
  // What was stored matches the device's size: the items are used.
  Respond(Upli(1016));
  Form.UploadTransfer();
  EXPECT_EQ(Form.SequencerState, 34);
}

TEST_F(UploadTest, EmptyEndPacketStillWritesTheFile) {
  std::ofstream(protocol::kInfoFileName) << "stale";
  Feed(Upls());
  EXPECT_EQ(Feed(Uple(0, "")), Reply(0x1003, 0));
  EXPECT_EQ(ReadInfoFile(), "");
  Respond(Upli(0));
  Form.UploadTransfer();
  EXPECT_EQ(Log().back(), "  Read retry. Item");
  EXPECT_EQ(Form.SequencerState, 16);
}

TEST_F(UploadTest, LongFileIsWrittenWholeAndOnlyItsHeadParsed) {
  // Items beyond the first 1025 bytes are not seen.
  const std::string file =
      "pcb P\r\nbat B\r\n" + std::string(2000, ';') + "\r\nser TV0400000001\r\n";
  Feed(Upls());
  Feed(Upld(0, file.substr(0, 1016)));
  Feed(Upld(1, file.substr(1016, 1016)));
  const std::string tail = file.substr(2032);
  Feed(Uple(static_cast<std::uint32_t>(tail.size()), tail));
  EXPECT_TRUE(ReadInfoFile() == file);
  Respond(Upli(file.size()));
  Form.UploadTransfer();
  EXPECT_EQ(Form.InfoSer, "");
  EXPECT_EQ(Form.InfoPcb, "P");
  EXPECT_EQ(Log().back(), "  Read retry. Item");
  EXPECT_EQ(Form.SequencerState, 16);
}

TEST_F(UploadTest, TwoSerLinesAndAPcbLineMakeThreeItems) {
  const std::string file = "ser FIRST\r\npcb PCB1\r\nser TV05SECOND\r\nbat LATE\r\n";
  Feed(Upls());
  Feed(Uple(static_cast<std::uint32_t>(file.size()), file));
  Respond(Upli(file.size()));
  Form.UploadTransfer();
  EXPECT_EQ(Form.SetSerialCommand, "SSER PCB100000000 000000000000 TV05SECOND00");
  EXPECT_EQ(Form.SequencerState, 34);
}

TEST_F(UploadTest, UnexpectedAnswerGivesUpOnTheSerialNumber) {
  Respond("NG");
  Form.UploadTransfer();
  ASSERT_EQ(Operator.Records.size(), 1u);
  EXPECT_EQ(Operator.Records[0].Kind, "MessageBox[warning]");
  EXPECT_EQ(Operator.Records[0].Caption, "Warning");
  EXPECT_EQ(Operator.Records[0].Text, "Error : Could not get serial number.");
  EXPECT_EQ(LastSent(6), std::string("CLEAR\0", 6));
  EXPECT_EQ(Form.SequencerState, 35);
}

TEST_F(UploadTest, UnwritableFolderIsReportedAndTheUploadGoesOn) {
  Feed(Upls());
  std::filesystem::create_directory(
      protocol::kInfoFileName);  // a folder stands where the file goes
  Respond(Uple(5, "ser A"));
  // As every step runs: an error that escapes it is shown by the top level.
  Form.Guarded([&] { Form.UploadTransfer(); });
  EXPECT_EQ(PacketReader(Model.Reports.back()).U32LE(8), 0u);  // acknowledged first
  ASSERT_EQ(Operator.Records.size(), 1u);
  EXPECT_EQ(Operator.Records[0].Caption, "MVXTVUP");
  EXPECT_NE(Operator.Records[0].Text.find("TVINFO.INI"), std::string::npos);
  EXPECT_NE(Log().back(), "  ファイル書込");
  EXPECT_EQ(Form.SequencerState, 33);
}

TEST_F(OpsTest, NewVersionChoosesUploadOrSerialQuery) {
  for (int type : {1, 2}) {
    Form.UpdateType = static_cast<UpdateKind>(type);
    Form.SequencerState = 21;
    Respond("NG");
    Form.NewVersionReply();
    EXPECT_EQ(Form.SequencerState, 21);
    Respond("OK V2.00.016 OK rest");
    Form.NewVersionReply();
    EXPECT_EQ(Form.NewVersionText, "V2.00.016 rest");
    EXPECT_EQ(Form.SequencerState, type == 1 ? 33 : 32);
    EXPECT_EQ(LastSent(16), type == 1 ? std::string("UPLS TVINFO.INI\0", 16)
                                      : std::string("GSER\0", 5) + std::string(11, '\0'));
  }
}

TEST_F(OpsTest, SerialInformationDecidesWhetherToUpload) {
  struct Case {
    const char* answer;
    int state;          // after the answer
    const char* sent;   // the command sent; nullptr: none
    const char* label;  // LabelSerialNumber; nullptr: unchanged
  } cases[] = {
      {"OK PCB1 BAT1 TV0400000001", 35, "CLEAR", "TV0400000001"},
      {"OK PCB1 BAT1 TV05ABC", 35, "CLEAR", "TV05ABC"},
      {"OK PCB1 BAT1 PX001", 35, "CLEAR", "PX001"},
      {"OK PCB1 BAT1 XTV04000001", 33, "UPLS TVINFO.INI", "XTV04000001"},
      // Fewer than three items: not well formed, the file is read instead.
      {"OK PCB1 TV0400000001", 33, "UPLS TVINFO.INI", ""},
      {"OK", 33, "UPLS TVINFO.INI", ""},
      {"NG", 33, "UPLS TVINFO.INI", nullptr},
      {"garbage", 32, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Form.SequencerState = 32;
    Form.InfoUploads = 0;
    Form.LabelSerialNumber.SetCaption("unchanged");
    const std::size_t sent = SentCount();
    Respond(c.answer);
    Form.SerialInfoReply();
    EXPECT_EQ(Form.SequencerState, c.state);
    if (c.sent) {
      ASSERT_EQ(SentCount(), sent + 1);
      const std::string expected = std::string(c.sent) + '\0';
      EXPECT_EQ(LastSent(expected.size()), expected);
    } else {
      EXPECT_EQ(SentCount(), sent);
    }
    EXPECT_EQ(Form.LabelSerialNumber.Caption(), c.label ? c.label : "unchanged");
  }
}

TEST_F(OpsTest, SerialInformationNotesTheItems) {
  Form.SequencerState = 32;
  Form.LabelClipboardCopyMessage.SetCaption("copied");
  const std::size_t mark = LogSize();
  Respond("OK PCB1 BAT1 TV0400000001");
  Form.SerialInfoReply();
  const auto log = LogFrom(mark);
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
            (std::vector<std::string>{"  SER : TV0400000001", "  PCB : PCB1", "  BAT : BAT1"}));
  EXPECT_EQ(Form.LabelClipboardCopyMessage.Caption(), "");
}

TEST_F(OpsTest, SetSerialIsResentUntilAccepted) {
  Form.SetSerialCommand = "SSER A00000000000 B00000000000 TV0400000001";
  Form.SequencerState = 34;
  for (int i = 0; i < 2; ++i) {
    Respond("NG");
    Form.SetSerialReply();
    EXPECT_EQ(Form.SequencerState, 34);
    EXPECT_EQ(LastSent(Form.SetSerialCommand.size()), Form.SetSerialCommand);
    EXPECT_EQ(Log().back(), "  retry. serialres");
  }
  const std::size_t sent = SentCount();
  Respond("busy");
  Form.SetSerialReply();
  EXPECT_EQ(SentCount(), sent);
  Respond("OK");
  Form.SetSerialReply();
  EXPECT_EQ(LastSent(5), std::string("GSER\0", 5));
  EXPECT_EQ(Form.SequencerState, 32);
}

TEST_F(OpsTest, ClearAnswerCompletesTheVersionUp) {
  Form.SequencerState = 35;
  Respond("Successfully erase");  // one character short
  Form.ClearReply();
  EXPECT_EQ(Form.SequencerState, 35);
  Respond("Successfully erased 3 files");
  Form.ClearReply();
  EXPECT_EQ(Form.LabelVersionupStatus.Caption(), "Versionup completed.");
  EXPECT_EQ(Form.SequencerState, 36);
}

}  // namespace
}  // namespace mvx::testing_ops
