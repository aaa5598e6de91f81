// File information, deletion and the firmware download, driven step by step.
#include <filesystem>

#include "tests/deviceops/ops_bench.h"

namespace mvx::testing_ops {
namespace {

using protocol::PacketReader;

struct TransferCase {
  std::int64_t size;
  int update_type;
  const char* ack;    // spelling the device uses
  bool second_codes;  // 0x1010/0x1020/0x1030 instead of 0x1001/0x1002/0x1003
  std::int32_t packet_count;
  std::int64_t end_bytes;
};

class DownloadTransferTest : public OpsTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(DownloadTransferTest, SendsThePlanAndTheWholeImage) {
  const TransferCase c = GetParam();
  const std::string image = MakeImage(c.size);
  Form.UpdateType = static_cast<UpdateKind>(c.update_type);
  const std::string family = c.update_type == 1 ? "A" : "F";
  Form.SequencerState = 8;
  Form.DownloadBegin();

  ASSERT_EQ(Form.SequencerState, 9);
  const PacketReader start(Model.Reports.back());
  EXPECT_EQ(start.Keyword(), family + "CPS");
  EXPECT_EQ(start.U32LE(4), static_cast<std::uint32_t>(c.size));
  EXPECT_EQ(start.U32LE(8), static_cast<std::uint32_t>(c.packet_count));
  EXPECT_EQ(start.Bytes(12, 7), std::string("fw.tvu\0", 7));
  EXPECT_EQ(Form.ProgressBar1.Max(), c.size);
  EXPECT_EQ(Form.ProgressBar1.Position(), 0);

  const std::int32_t start_code = c.second_codes ? 0x1010 : 0x1001;
  const std::int32_t data_code = c.second_codes ? 0x1020 : 0x1002;
  const std::int32_t end_code = c.second_codes ? 0x1030 : 0x1003;
  std::string received;
  std::uint32_t data_packets = 0;
  Respond(Ack(c.ack, start_code, 0));
  Form.DownloadTransfer();
  for (;;) {
    const PacketReader packet(Model.Reports.back());
    if (packet.Keyword() == family + "CPE") {
      const std::uint16_t count = packet.U16LE(4);
      EXPECT_EQ(count, c.end_bytes);
      received += packet.Bytes(6, count);
      break;
    }
    ASSERT_EQ(packet.Keyword(), family + "CPD");
    ASSERT_EQ(packet.U32LE(4), data_packets) << "sequence number";
    received += packet.Bytes(8, 1016);
    ++data_packets;
    // The bar follows the bytes sent.
    EXPECT_EQ(Form.ProgressBar1.Position(), static_cast<long long>(received.size()));
    Respond(Ack(c.ack, data_code, 0));
    Form.DownloadTransfer();
    ASSERT_LE(data_packets, static_cast<std::uint32_t>(c.packet_count));
  }
  EXPECT_EQ(data_packets + 1, static_cast<std::uint32_t>(std::max(c.packet_count, 1)));
  EXPECT_TRUE(received == image) << "image bytes differ";
  EXPECT_EQ(Form.ProgressBar1.Position(), c.size);
  EXPECT_EQ(Form.SequencerState, 9);

  Respond(Ack(c.ack, end_code, 0));
  Form.DownloadTransfer();
  EXPECT_EQ(Form.SequencerState, 10);
  EXPECT_EQ(Log().back(), ">>Download : Done");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DownloadTransferTest,
    ::testing::Values(
        TransferCase{0, 1, "ACPR", false, 0, 0}, TransferCase{1, 2, "FCPR", true, 1, 1},
        TransferCase{1015, 1, "FCPR", false, 1, 1015}, TransferCase{1016, 2, "ACPR", true, 1, 1016},
        TransferCase{1017, 1, "ACPR", true, 2, 1}, TransferCase{2032, 2, "FCPR", false, 2, 1016},
        // 3 MiB and 5 bytes: 3096 full packets, 197 bytes at the end
        TransferCase{3 * 1024 * 1024 + 5, 1, "ACPR", false, 3097, 197}));

TEST_F(OpsTest, DownloadBeginLogsSizeAndCount) {
  MakeImage(2032);
  const std::size_t before = LogSize();
  Form.DownloadBegin();
  const auto log = LogFrom(before);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
            (std::vector<std::string>{"  source file size:2032", "  source file size hex:000007F0",
                                      "  packet count:2", "  source packet size hex:00000002"}));
}

struct AckCase {
  const char* name;
  int acks_before;  // acknowledgements answered with status 0 first
  std::int32_t code;
  std::int32_t status;
};

class AcknowledgementStatusTest : public OpsTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(AcknowledgementStatusTest, NonZeroStatusStopsTheRunWhateverTheCode) {
  const AckCase c = GetParam();
  MakeImage(3 * 1016 + 10);  // 3 data packets and an end packet
  Form.UpdateType = UpdateKind::Type2;
  Form.DownloadBegin();
  if (c.acks_before > 0) {
    Respond(Ack("FCPR", 0x1001, 0));
    Form.DownloadTransfer();
  }
  for (int i = 1; i < c.acks_before; ++i) {
    Respond(Ack("FCPR", 0x1002, 0));
    Form.DownloadTransfer();
  }
  const std::size_t sent = SentCount();
  const std::size_t before = LogSize();
  Respond(Ack("ACPR", c.code, c.status));
  Form.DownloadTransfer();
  EXPECT_EQ(LogFrom(before), (std::vector<std::string>{
                                 "  ACPRステータス違い:" + std::to_string(c.status),
                                 "  Error : Failed to download data.", "  Boot loader : Stopped"}));
  EXPECT_EQ(Form.SequencerState, 1);
  EXPECT_FALSE(Form.DeviceReady);
  EXPECT_EQ(SentCount(), sent);
}

INSTANTIATE_TEST_SUITE_P(Packets, AcknowledgementStatusTest,
                         ::testing::Values(AckCase{"First", 0, 0x1001, 1},
                                           AckCase{"Middle", 2, 0x1002, 7},
                                           AckCase{"Last", 4, 0x1003, -1},
                                           AckCase{"UnknownCode", 1, 0x4444, 2}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(OpsTest, AcknowledgementsTheDownloadDoesNotKnowChangeNothing) {
  MakeImage(3000);
  Form.UpdateType = UpdateKind::Type1;
  Form.DownloadBegin();
  const std::size_t sent = SentCount();
  for (const std::string& response :
       {Ack("ACPR", 0x4444, 0), Ack("GCMD", 0x1001, 0), std::string("OK"), std::string()}) {
    Respond(response);
    Form.DownloadTransfer();
    EXPECT_FALSE(Form.ResponseReceived);
    EXPECT_EQ(Form.SequencerState, 9);
  }
  EXPECT_EQ(SentCount(), sent);
  // Still waiting for the start acknowledgement: it releases data packet 0.
  Respond(Ack("FCPR", 0x1001, 0));
  Form.DownloadTransfer();
  EXPECT_EQ(LastSent(8), std::string("ACPD\0\0\0\0", 8));
}

TEST_F(OpsTest, RepeatedAcknowledgementRepeatsTheRightBytes) {
  const std::string image = MakeImage(3 * 1016 + 1);
  Form.UpdateType = UpdateKind::Type1;
  Form.DownloadBegin();
  Respond(Ack("ACPR", 0x1001, 0));
  Form.DownloadTransfer();  // data 0
  Respond(Ack("ACPR", 0x1002, 0));
  Form.DownloadTransfer();  // data 1
  // The device starts over: data packet 0 again, with the image's first block.
  Respond(Ack("ACPR", 0x1001, 0));
  Form.DownloadTransfer();
  const PacketReader packet(Model.Reports.back());
  EXPECT_EQ(packet.U32LE(4), 0u);
  EXPECT_TRUE(packet.Bytes(8, 1016) == image.substr(0, 1016));
  EXPECT_EQ(Form.ProgressBar1.Position(), 1016);
}

TEST_F(OpsTest, ImageCutShortPartWayStopsTheRun) {
  MakeImage(10 * 1016);
  Form.UpdateType = UpdateKind::Type1;
  Form.DownloadBegin();
  Respond(Ack("ACPR", 0x1001, 0));
  Form.DownloadTransfer();
  // The image loses its end while packets are on their way.
  std::filesystem::resize_file(kFirmwareFile, 5 * 1016 + 100);
  for (int i = 0; i < 10 && Form.SequencerState == 9; ++i) {
    Respond(Ack("ACPR", 0x1002, 0));
    Form.DownloadTransfer();
  }
  EXPECT_EQ(Form.SequencerState, 1);
  EXPECT_EQ(PacketReader(Model.Reports.back()).U32LE(4), 4u) << "last packet sent whole";
  EXPECT_EQ(LogFrom(LogSize() - 2), (std::vector<std::string>{"  Error : Failed to download data.",
                                                              "  Boot loader : Stopped"}));
}

TEST_F(OpsTest, PackageNameTravelsInCodePage932) {
  MakeImage(10);
  Form.PackageFileName = "ファーム.tvu";
  Form.DownloadBegin();
  EXPECT_EQ(Form.SequencerState, 9);
  EXPECT_EQ(PacketReader(LastSent(1024)).Bytes(12, 13),
            std::string("\x83\x74\x83\x40\x81\x5B\x83\x80.tvu\0", 13));
}

TEST_F(OpsTest, NameWithoutCodePage932FormStopsTheRun) {
  MakeImage(10);
  Form.PackageFileName = "\xF0\x9F\x98\x80.tvu";  // an emoji
  Form.DownloadBegin();
  EXPECT_EQ(Form.SequencerState, 1);
  EXPECT_EQ(SentCount(), 0u);
  EXPECT_EQ(LogFrom(LogSize() - 2),
            (std::vector<std::string>{"  Error : The file name cannot be sent to the device.",
                                      "  Boot loader : Stopped"}));
}

TEST_F(OpsTest, MissingImageStopsBeforeTheStartPacket) {
  Form.DownloadBegin();
  EXPECT_EQ(Form.SequencerState, 1);
  EXPECT_EQ(SentCount(), 0u);
  EXPECT_EQ(LogFrom(LogSize() - 2), (std::vector<std::string>{"  Error : Failed to download data.",
                                                              "  Boot loader : Stopped"}));
}

std::string FinsPacket(std::uint8_t status) {
  return protocol::PacketWriter()
      .Keyword("FINS")
      .U32BE(70000)
      .U16BE(258)
      .U8(32)
      .U8(23)
      .U8(5)
      .U8(9)
      .U8(1)
      .U8(2)
      .U16BE(2025)
      .Bytes("fw.tvu")
      .PadTo(63)
      .U8(status)
      .Take();
}

TEST_F(OpsTest, FileInfoLogsThePacketAndDeletesAnOldCopy) {
  Form.PackageFileName = std::string(50, 'L') + ".tvu";  // whole in "DELS"
  Form.SequencerState = 5;
  const std::size_t before = LogSize();
  Respond(FinsPacket(1));
  Form.FileInfoReply();
  EXPECT_EQ(LogFrom(before), (std::vector<std::string>{
                                 "<<Fileinfo packet received.",
                                 "<<  cmd: FINS",
                                 "<<  filesize: 70000",
                                 "<<  fileID: 258",
                                 "<<  attrib: 32",
                                 "<<  date: 2025/2/1 23:5:9",
                                 "<<  filename: fw.tvu",
                                 "<<  status: 1",
                                 ">>DELS " + Form.PackageFileName,
                             }));
  EXPECT_EQ(LastSent(5 + 54 + 1), "DELS " + Form.PackageFileName + '\0');
  EXPECT_EQ(Form.SequencerState, 7);
}

TEST_F(OpsTest, FileInfoWithoutOldCopyGoesStraightToTheDownload) {
  for (std::uint8_t status : {0, 2}) {
    Form.SequencerState = 5;
    Respond(FinsPacket(status));
    Form.FileInfoReply();
    EXPECT_EQ(Form.SequencerState, 8);
  }
  Form.SequencerState = 5;
  Respond("DELE");
  Form.FileInfoReply();
  EXPECT_EQ(Form.SequencerState, 5);
  EXPECT_FALSE(Form.ResponseReceived);
  EXPECT_EQ(SentCount(), 0u);
}

TEST_F(OpsTest, DeleteAnswer) {
  struct Case {
    std::string response;
    int state;
    const char* line;  // nullptr: nothing logged
  } cases[] = {
      {protocol::PacketWriter().Keyword("DELE").PadTo(64).Take(), 8, "<<Delete file : OK"},
      {protocol::PacketWriter().Keyword("DELE").PadTo(63).U8(1).Take(), 99,
       "<<Error : Failed to delete file."},
      // A cut packet reads its result as 0.
      {"DELE", 8, "<<Delete file : OK"},
      {"FINS", 7, nullptr},
  };
  for (const Case& c : cases) {
    Form.SequencerState = 7;
    const std::size_t before = LogSize();
    Respond(c.response);
    Form.DeleteReply();
    EXPECT_EQ(Form.SequencerState, c.state);
    EXPECT_EQ(LogFrom(before),
              c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
  }
  EXPECT_EQ(SentCount(), 0u);
}

}  // namespace
}  // namespace mvx::testing_ops
