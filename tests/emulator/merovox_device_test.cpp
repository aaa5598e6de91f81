#include "emulator/merovox_device.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/emulator/emulator_client.h"

namespace mvx::emu {
namespace {

using namespace mvx::protocol;

DeviceConfig Config() {
  DeviceConfig c;
  c.Identity.Version = "201026";
  c.Identity.VersionAfterInstall = "201040";
  c.Identity.Model = "TV004 SAR";
  c.Identity.Detail = "SAR detail";
  c.Identity.Language = "English";
  c.Identity.Serial = {"PCB111111111", "BAT222222222", "TV0412345678"};
  c.Timing = {5, 200, 500, 3000, 1000};
  return c;
}

Fault MakeFault(FaultKind kind) {
  Fault f;
  f.Kind = kind;
  return f;
}

std::string Image(std::size_t size) {
  std::string image(size, '\0');
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return image;
}

// The packets of a whole download of image, as the tool sends them: the last
// full block travels in the end packet, so an empty image announces 0 packets
// and sends an end packet of 0 bytes.
std::vector<std::string> DownloadPackets(char family, const std::string& image,
                                         const std::string& name) {
  int data_packets = static_cast<int>(image.size() / kBlockSize);
  if (image.size() % kBlockSize == 0) --data_packets;
  std::vector<std::string> packets;
  packets.push_back(DownloadStartPacket{family, static_cast<std::uint32_t>(image.size()),
                                        static_cast<std::uint32_t>(data_packets + 1), name}
                        .Write());
  for (int i = 0; i < data_packets; ++i)
    packets.push_back(DownloadDataPacket{family, static_cast<std::uint32_t>(i),
                                         image.substr(i * kBlockSize, kBlockSize)}
                          .Write());
  const std::size_t rest = static_cast<std::size_t>(std::max(data_packets, 0)) * kBlockSize;
  packets.push_back(DownloadEndPacket{family, 0, image.substr(rest)}.Write());
  return packets;
}

TEST(MerovoxDevice, TextCommandsAnswerInOneLatency) {
  struct Case {
    std::string command, answer;
  } cases[] = {
      {"RTC SET 817462800", "OK\r\n"},
      {"RTC SET soon", "NG\r\n"},
      {"VER", "OK 201026\r\n"},
      {"GSER", "OK PCB111111111 BAT222222222 TV0412345678\r\n"},
      {"KIND", "OK TV004 SAR\r\n"},
      {"DETAIL", "OK SAR detail\r\n"},
      {"LANGUAGE", "OK English\r\n"},
      {"CLEAR", "Successfully erased\r\n"},
      {"HELLO", "NG\r\n"},
  };
  for (const Case& c : cases) {
    EmulatorClient client(Config());
    const auto answers = client.Exchange(c.command);
    ASSERT_EQ(answers.size(), 1u) << c.command;
    EXPECT_EQ(answers[0].Text(), c.answer) << c.command;
    EXPECT_EQ(answers[0].AtMs, 5u) << c.command;
    // Report ID 0, then the answer zero-padded to the input report length.
    ASSERT_EQ(client.reports[0].size(), 1025u);
    EXPECT_EQ(client.reports[0][0], '\0');
    EXPECT_EQ(client.reports[0].find_first_not_of('\0', 1 + c.answer.size()), std::string::npos);
  }
}

TEST(MerovoxDevice, SetSerialStoresTheThreeItemsAndRewritesTheInfoFile) {
  EmulatorClient client(Config());
  EXPECT_EQ(client.Exchange("SSER PCBX BATY")[0].Text(), "NG\r\n");
  EXPECT_EQ(client.Exchange("SSER PCB000000009 BAT000000008 TV0400000007")[0].Text(), "OK\r\n");
  EXPECT_EQ(client.Exchange("GSER")[0].Text(), "OK PCB000000009 BAT000000008 TV0400000007\r\n");
  EXPECT_EQ(client.device.Files().at("TVINFO.INI").Content,
            "ser TV0400000007\r\npcb PCB000000009\r\nbat BAT000000008\r\n");
}

TEST(MerovoxDevice, FormatAnswersJobLinesThenOkAndByteCount) {
  DeviceConfig config = Config();
  config.Files["old.tvu"].Content = "abc";
  config.FormatBytes = 512000000;
  EmulatorClient client(config);

  auto a = client.Exchange("fmts");
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0].Text(), "filecmd_job 8\n");
  EXPECT_EQ(a[0].AtMs, 5u);
  EXPECT_EQ(a[1].Text(), "OK\r\n");
  EXPECT_EQ(a[1].AtMs, 1005u);
  EXPECT_EQ(client.device.Files().count("old.tvu"), 0u);
  EXPECT_EQ(client.device.Files().count("TVINFO.INI"), 1u);

  a = client.Exchange("fres");
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0].Text(), "filecmd_job 16\n");
  EXPECT_EQ(a[1].Text(), "OK 512000000 bytes\r\n");
  EXPECT_EQ(a[1].AtMs - a[0].AtMs, 5u);
}

TEST(MerovoxDevice, SmallFormatCountForTheChosenAttempts) {
  DeviceConfig config = Config();
  Fault small;
  small.Kind = FaultKind::FormatSmallCount;
  small.First = 2;
  small.Times = 2;
  small.Value = 499999999;
  config.Faults.push_back(small);
  EmulatorClient client(config);
  const char* expected[] = {"OK 1000000000 bytes\r\n", "OK 499999999 bytes\r\n",
                            "OK 499999999 bytes\r\n", "OK 1000000000 bytes\r\n"};
  for (const char* e : expected) EXPECT_EQ(client.Exchange("fres")[1].Text(), e);
}

TEST(MerovoxDevice, FileInfoIsBigEndianWithStatusOneForAHeldFile) {
  DeviceConfig config = Config();
  const std::string long_name(50, 'n');
  config.Files["a.tvu"].Content = "x";
  config.Files[long_name].Content = std::string(0x01020304 & 0xFFFF, 'y');
  config.Files["zz.tvu"] = StoredFile{"", 0x0A0D4B4F, "00112233445566778899AABBCCDDEEFF"};
  EmulatorClient client(config);

  // A declared size whose bytes are CR, LF, "K" and "O" arrives whole.
  auto a = client.Exchange("FINS zz.tvu");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].Bytes.substr(0, 8), std::string("FINS\x0A\x0D\x4B\x4F", 8));
  FileInfoPacket p = FileInfoPacket::Read(a[0].Bytes);
  EXPECT_EQ(p.FileSize, 0x0A0D4B4Fu);
  EXPECT_EQ(p.Status, 1);
  EXPECT_EQ(p.Year, 2026);
  EXPECT_EQ(p.FileName.substr(0, 7), std::string("zz.tvu\0", 7));

  // The FINS line carries only 45 characters of a long name.
  p = FileInfoPacket::Read(client.Exchange("FINS " + long_name.substr(0, 45))[0].Bytes);
  EXPECT_EQ(p.Status, 1);
  EXPECT_EQ(p.FileSize, 0x0304u);

  p = FileInfoPacket::Read(client.Exchange("FINS b.tvu")[0].Bytes);
  EXPECT_EQ(p.Status, 0);
  EXPECT_EQ(p.FileSize, 0u);
}

TEST(MerovoxDevice, FinsStatusAndDeleteFaults) {
  DeviceConfig config = Config();
  config.Files["a.tvu"].Content = "x";
  Fault fins;
  fins.Kind = FaultKind::FinsStatus;
  fins.Value = 2;
  config.Faults.push_back(fins);
  Fault del;
  del.Kind = FaultKind::DeleteFails;
  config.Faults.push_back(del);
  EmulatorClient client(config);

  EXPECT_EQ(FileInfoPacket::Read(client.Exchange("FINS a.tvu")[0].Bytes).Status, 2);
  EXPECT_EQ(FileInfoPacket::Read(client.Exchange("FINS a.tvu")[0].Bytes).Status, 1);
  auto a = client.Exchange("DELS a.tvu");
  EXPECT_EQ(a[0].Keyword(), "DELE");
  EXPECT_EQ(DeleteAnswerPacket::Read(a[0].Bytes).Result, 1);
  EXPECT_EQ(client.device.Files().count("a.tvu"), 1u);
  EXPECT_EQ(DeleteAnswerPacket::Read(client.Exchange("DELS a.tvu")[0].Bytes).Result, 0);
  EXPECT_EQ(client.device.Files().count("a.tvu"), 0u);
  // Deleting what is not there fails.
  EXPECT_EQ(DeleteAnswerPacket::Read(client.Exchange("DELS a.tvu")[0].Bytes).Result, 1);
}

TEST(MerovoxDevice, DownloadIsAcknowledgedPacketByPacketAndStored) {
  struct Case {
    char family;
    bool alt;
    std::size_t size;
    std::vector<std::uint32_t> codes;
  } cases[] = {
      {'A', false, 2 * kBlockSize + 5, {0x1001, 0x1002, 0x1002, 0x1003}},
      {'F', true, 2 * kBlockSize, {0x1010, 0x1020, 0x1030}},
      {'F', false, 1000, {0x1001, 0x1003}},
      {'F', false, 0, {0x1001, 0x1003}},
  };
  for (const Case& c : cases) {
    DeviceConfig config = Config();
    config.AltAckCodes = c.alt;
    EmulatorClient client(config);
    const std::string image = Image(c.size);
    std::vector<std::uint32_t> codes;
    for (const std::string& packet : DownloadPackets(c.family, image, "fw.tvu")) {
      const auto a = client.Exchange(packet);
      ASSERT_EQ(a.size(), 1u);
      EXPECT_EQ(a[0].Keyword(), std::string(1, c.family) + "CPR");
      const DownloadAckPacket ack = DownloadAckPacket::Read(a[0].Bytes);
      EXPECT_EQ(ack.Status, 0u);
      codes.push_back(ack.Code);
    }
    EXPECT_EQ(codes, c.codes) << c.size;
    EXPECT_EQ(client.device.Files().at("fw.tvu").Content, image);
  }
}

TEST(MerovoxDevice, DownloadRefusesPacketsOutOfOrder) {
  EmulatorClient client(Config());
  const std::string image = Image(3000);
  const auto packets = DownloadPackets('F', image, "fw.tvu");
  auto status = [&](const std::string& packet) {
    return DownloadAckPacket::Read(client.Exchange(packet)[0].Bytes).Status;
  };
  EXPECT_EQ(status(packets[1]), 1u);  // data before any start
  EXPECT_EQ(status(packets[0]), 0u);
  EXPECT_EQ(status(packets[2]), 2u);  // packet 1 where 0 is due
  EXPECT_EQ(status(packets[1]), 0u);
  EXPECT_EQ(status(packets[3]), 4u);  // end before packet 1: short of the size
  EXPECT_EQ(client.device.Files().count("fw.tvu"), 0u);
  EXPECT_EQ(status(packets[3]), 1u);  // the transfer is over
}

TEST(MerovoxDevice, PacketStatusFaultHitsTheChosenPacket) {
  DeviceConfig config = Config();
  Fault f;
  f.Kind = FaultKind::PacketStatus;
  f.Command = "FCPD";
  f.First = 2;
  f.Status = 7;
  f.Code = 0x1003;
  config.Faults.push_back(f);
  EmulatorClient client(config);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> acks;
  for (const std::string& packet : DownloadPackets('F', Image(4000), "fw.tvu")) {
    const DownloadAckPacket ack = DownloadAckPacket::Read(client.Exchange(packet)[0].Bytes);
    acks.emplace_back(ack.Code, ack.Status);
  }
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {0x1001, 0}, {0x1002, 0}, {0x1003, 7}, {0x1002, 0}, {0x1003, 0}};
  EXPECT_EQ(acks, expected);
}

TEST(MerovoxDevice, VerifyAnswersResultThenBackupByItself) {
  DeviceConfig config = Config();
  config.Files["fw.tvu"].Content = "firmware";
  EmulatorClient client(config);
  auto a = client.Exchange(GcmdCommandPacket{kGcmdVerify, 0, "fw.tvu"}.Write());
  ASSERT_EQ(a.size(), 2u);
  GcmdAnswerPacket first = GcmdAnswerPacket::Read(a[0].Bytes);
  GcmdAnswerPacket second = GcmdAnswerPacket::Read(a[1].Bytes);
  EXPECT_EQ(first.Result, 1u);
  EXPECT_EQ(first.Status, 0u);
  EXPECT_EQ(second.Result, 2u);
  EXPECT_EQ(second.Status, 0u);
  EXPECT_EQ(a[0].AtMs, 5u);
  EXPECT_EQ(a[1].AtMs, 210u);

  a = client.Exchange(GcmdCommandPacket{kGcmdVerify, 0, "other.tvu"}.Write());
  EXPECT_EQ(GcmdAnswerPacket::Read(a[0].Bytes).Status, 1u);
}

TEST(MerovoxDevice, DataCheckReportsTheDigestOfWhatItReceived) {
  for (bool wrong : {false, true}) {
    DeviceConfig config = Config();
    if (wrong) config.Faults.push_back(MakeFault(FaultKind::WrongDigest));
    EmulatorClient client(config);
    const std::string image = Image(5000);
    for (const std::string& packet : DownloadPackets('F', image, "fw.tvu")) client.Exchange(packet);
    auto a = client.Exchange(GcmdCommandPacket{kGcmdDataCheck, 5000, ""}.Write());
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(GcmdAnswerPacket::Read(a[0].Bytes).Result, 2u);
    const GcmdAnswerPacket digest = GcmdAnswerPacket::Read(a[1].Bytes);
    EXPECT_EQ(digest.Result, 8u);
    EXPECT_EQ(digest.Status, 0u);
    EXPECT_EQ(digest.DigestText() == Md5Hex(image), !wrong);
    EXPECT_EQ(a[1].AtMs - a[0].AtMs, 5u);

    // A size other than what arrived fails the check.
    a = client.Exchange(GcmdCommandPacket{kGcmdDataCheck, 4999, ""}.Write());
    EXPECT_EQ(GcmdAnswerPacket::Read(a[1].Bytes).Status, 1u);
  }
}

TEST(MerovoxDevice, GcmdStatusFaultOnOneResultCode) {
  DeviceConfig config = Config();
  config.Files["fw.tvu"].Content = "firmware";
  Fault f;
  f.Kind = FaultKind::PacketStatus;
  f.Command = "GCMD";
  f.Result = 2;
  f.Status = 3;
  config.Faults.push_back(f);
  EmulatorClient client(config);
  const auto a = client.Exchange(GcmdCommandPacket{kGcmdVerify, 0, "fw.tvu"}.Write());
  EXPECT_EQ(GcmdAnswerPacket::Read(a[0].Bytes).Status, 0u);
  EXPECT_EQ(GcmdAnswerPacket::Read(a[1].Bytes).Status, 3u);
}

TEST(MerovoxDevice, InstallLeavesTheBusAndReturnsWithTheNewVersion) {
  DeviceConfig config = Config();
  config.Files["fw.tvu"].Content = "firmware";
  config.Identity.SerialAfterInstall = SerialItems{"0", "0", "0"};
  EmulatorClient client(config);
  client.Send(GcmdCommandPacket{kGcmdInstall, 0, "fw.tvu"}.Write());
  client.scheduler.Advance(499);
  EXPECT_TRUE(client.events.empty());
  client.scheduler.Advance(1);
  EXPECT_EQ(client.events, std::vector<std::string>{"leave@500"});
  EXPECT_TRUE(client.device.Restarting());
  client.Send("VER");  // nobody listens while it restarts
  client.scheduler.RunUntilIdle();
  EXPECT_EQ(client.events, (std::vector<std::string>{"leave@500", "return@3500"}));
  EXPECT_TRUE(client.answers.empty());
  EXPECT_EQ(client.Exchange("VER")[0].Text(), "OK 201040\r\n");
  EXPECT_EQ(client.Exchange("GSER")[0].Text(), "OK 0 0 0\r\n");
  // The information file keeps the real items.
  EXPECT_EQ(client.device.Files().at("TVINFO.INI").Content.substr(0, 16), "ser TV0412345678");
}

TEST(MerovoxDevice, InstallFaultsNoReturnAndRemovalCancelsTheReturn) {
  DeviceConfig config = Config();
  config.Files["fw.tvu"].Content = "firmware";
  config.Faults.push_back(MakeFault(FaultKind::NoReturn));
  EmulatorClient client(config);
  client.Exchange(GcmdCommandPacket{kGcmdInstall, 0, "fw.tvu"}.Write());
  EXPECT_EQ(client.events, std::vector<std::string>{"leave@500"});

  EmulatorClient other(Config());
  other.Send(GcmdCommandPacket{kGcmdInstall, 0, "none.tvu"}.Write());
  other.scheduler.Advance(1000);
  other.device.Removed();
  other.scheduler.RunUntilIdle();
  EXPECT_EQ(other.events, std::vector<std::string>{"leave@500"});
  other.device.Attached();
  // Without the named file the version stays.
  EXPECT_EQ(other.Exchange("VER")[0].Text(), "OK 201026\r\n");
}

// Runs a whole upload, answering every packet with UPLR; returns the packets.
std::vector<EmulatorClient::Answer> Upload(EmulatorClient& client, std::uint32_t refuse = 0) {
  std::vector<EmulatorClient::Answer> packets = client.Exchange("UPLS TVINFO.INI");
  for (std::size_t i = 0; i < packets.size() && i < 50; ++i) {
    const std::string keyword = packets[i].Keyword();
    std::vector<EmulatorClient::Answer> next;
    if (keyword == "UPLS") next = client.Exchange(UploadAck(kAckStart));
    if (keyword == "UPLD") next = client.Exchange(UploadAck(kAckData, refuse));
    if (keyword == "UPLE") next = client.Exchange(UploadAck(kAckEnd));
    packets.insert(packets.end(), next.begin(), next.end());
  }
  return packets;
}

std::string Keywords(const std::vector<EmulatorClient::Answer>& packets) {
  std::string out;
  for (const auto& p : packets) {
    out += p.Keyword();
    if (p.Keyword() == "UPLD") out += std::to_string(UploadDataPacket::Read(p.Bytes).Number);
    out += " ";
  }
  return out;
}

TEST(MerovoxDevice, UploadWaitsForEachAcknowledgement) {
  DeviceConfig config = Config();
  const std::string info = "ser TV0412345678\r\n" + std::string(2500, 'z');
  config.Files["TVINFO.INI"].Content = info;
  EmulatorClient client(config);

  // The start packet, then nothing until the tool acknowledges it.
  auto a = client.Exchange("UPLS TVINFO.INI");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(UploadStartPacket::Read(a[0].Bytes).FileName, "TVINFO.INI");

  const auto packets = Upload(client);
  EXPECT_EQ(Keywords(packets), "UPLS UPLD0 UPLD1 UPLE UPLI ");
  std::string received;
  for (const auto& p : packets) {
    if (p.Keyword() == "UPLD") received += UploadDataPacket::Read(p.Bytes).Data;
    if (p.Keyword() == "UPLE") {
      const UploadEndPacket end = UploadEndPacket::Read(p.Bytes);
      EXPECT_EQ(end.Count, info.size() - 2 * kBlockSize);
      received += end.Data;
    }
  }
  EXPECT_EQ(received, info);
  const UploadInfoPacket last = UploadInfoPacket::Read(packets.back().Bytes);
  EXPECT_EQ(last.FileSize, info.size());
  EXPECT_EQ(last.TimeStamp, "2026/12/08 09:00:00");
}

TEST(MerovoxDevice, UploadFaults) {
  struct Case {
    FaultKind kind;
    std::int64_t value;
    std::string keywords;
    std::uint32_t size;
  } cases[] = {
      {FaultKind::UploadSkipPacket, 1, "UPLS UPLD0 UPLD2 UPLE UPLI ", 2050},
      {FaultKind::UploadDuplicateEnd, 0, "UPLS UPLD0 UPLD1 UPLE UPLE UPLI ", 2050},
      {FaultKind::UploadWrongSize, -3, "UPLS UPLD0 UPLD1 UPLE UPLI ", 2047},
  };
  for (const Case& c : cases) {
    DeviceConfig config = Config();
    config.Files["TVINFO.INI"].Content = std::string(2050, 'q');
    Fault f;
    f.Kind = c.kind;
    f.Value = c.value;
    config.Faults.push_back(f);
    EmulatorClient client(config);
    const auto packets = Upload(client);
    EXPECT_EQ(Keywords(packets), c.keywords);
    EXPECT_EQ(UploadInfoPacket::Read(packets.back().Bytes).FileSize, c.size);
    // The fault was for the first upload only.
    EXPECT_EQ(Keywords(Upload(client)), "UPLS UPLD0 UPLD1 UPLE UPLI ");
  }
}

TEST(MerovoxDevice, UploadOfAMissingFileAnswersNG) {
  EmulatorClient client(Config());
  EXPECT_EQ(client.Exchange("UPLS NOFILE.INI")[0].Text(), "NG\r\n");
  // An acknowledgement with no upload going on is not answered.
  EXPECT_TRUE(client.Exchange(UploadAck(kAckStart)).empty());
}

TEST(MerovoxDevice, AnswerFaultsReplaceOrSilenceAnswers) {
  struct Case {
    Replacement with;
    int answer_index;
    std::string text;
    std::vector<std::string> expected;  // answers to the second "fmts"
  } cases[] = {
      {Replacement::NG, 0, "", {"NG\r\n"}},
      {Replacement::Nothing, 0, "", {}},
      {Replacement::Text, 2, "filecmd_job 9\n", {"filecmd_job 8\n", "filecmd_job 9\n"}},
      {Replacement::Nothing, 1, "", {"OK\r\n"}},
  };
  for (const Case& c : cases) {
    DeviceConfig config = Config();
    Fault f;
    f.Kind = FaultKind::Answer;
    f.Command = "fmts";
    f.First = 2;
    f.With = c.with;
    f.Text = c.text;
    f.AnswerIndex = c.answer_index;
    config.Faults.push_back(f);
    EmulatorClient client(config);
    EXPECT_EQ(client.Exchange("fmts").size(), 2u);
    std::vector<std::string> texts;
    for (const auto& a : client.Exchange("fmts")) texts.push_back(a.Text());
    EXPECT_EQ(texts, c.expected);
    EXPECT_EQ(client.Exchange("fmts").size(), 2u);
  }
}

TEST(MerovoxDevice, GarbageAnswerHoldsNoKeyword) {
  DeviceConfig config = Config();
  Fault f;
  f.Kind = FaultKind::Answer;
  f.Command = "KIND";
  f.With = Replacement::Garbage;
  config.Faults.push_back(f);
  EmulatorClient client(config);
  const std::string text = client.Exchange("KIND")[0].Text();
  ASSERT_FALSE(text.empty());
  for (const char* keyword : {"OK", "NG", "filecmd", "\r", "\n"})
    EXPECT_EQ(text.find(keyword), std::string::npos) << keyword;
}

TEST(MerovoxDevice, RemovalAtAChosenPacket) {
  DeviceConfig config = Config();
  Fault f;
  f.Kind = FaultKind::RemoveAt;
  f.Command = "FCPD";
  f.First = 2;
  config.Faults.push_back(f);
  EmulatorClient client(config);
  const auto packets = DownloadPackets('F', Image(4000), "fw.tvu");
  EXPECT_EQ(client.Exchange(packets[0]).size(), 1u);
  EXPECT_EQ(client.Exchange(packets[1]).size(), 1u);
  EXPECT_TRUE(client.Exchange(packets[2]).empty());
  EXPECT_EQ(client.events, std::vector<std::string>{"leave@10"});
}

TEST(MerovoxDevice, RemovalDropsAnswersOnTheirWay) {
  EmulatorClient client(Config());
  client.Send("VER");
  client.scheduler.Advance(4);
  client.device.Removed();
  client.scheduler.RunUntilIdle();
  EXPECT_TRUE(client.answers.empty());
}

TEST(MerovoxDevice, ShortReportsTruncateAnswersAndCommands) {
  DeviceConfig config = Config();
  config.Identity.InputReportLength = 9;
  config.Identity.OutputReportLength = 9;
  EmulatorClient client(config);
  const auto a = client.Exchange("GSER");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].Bytes, "OK PCB11");
  // A data packet cut by the output report is refused or breaks the size,
  // never read past its end.
  for (const std::string& packet : DownloadPackets('F', Image(3000), "f.tvu")) client.Send(packet);
  client.scheduler.RunUntilIdle();
  EXPECT_EQ(client.device.Files().count("f.tvu"), 0u);
}

}  // namespace
}  // namespace mvx::emu
