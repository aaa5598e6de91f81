#include "protocol/layouts.h"

#include <gtest/gtest.h>

#include <limits>

#include "protocol/packet.h"

namespace mvx::protocol {
namespace {

TEST(Layouts, FieldsSitAtTheirOffsets) {
  FileInfoPacket fins;
  fins.FileSize = 0x01020304;
  fins.FileId = 0x0506;
  fins.Attributes = 7;
  fins.Hour = 8;
  fins.Minute = 9;
  fins.Second = 10;
  fins.Day = 11;
  fins.Month = 12;
  fins.Year = 0x07EA;
  fins.FileName = "fw.tvu";
  fins.Status = 1;
  const std::string bytes = fins.Write();
  ASSERT_EQ(bytes.size(), 64u);
  EXPECT_EQ(bytes.substr(0, 18),
            std::string("FINS\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x07\xEA", 18));
  EXPECT_EQ(bytes.substr(18, 7), std::string("fw.tvu\0", 7));
  EXPECT_EQ(bytes[63], '\x01');

  EXPECT_EQ(DownloadStartPacket({'A', 4097, 2, "a.tvu"}).Write(),
            std::string("ACPS\x01\x10\0\0\x02\0\0\0a.tvu", 17));
  EXPECT_EQ(DownloadEndPacket({'F', 0, "xyz"}).Write(), std::string("FCPE\x03\0xyz", 9));
  EXPECT_EQ(DownloadAckPacket({'F', 0x1020, 5}).Write(),
            std::string("FCPR\x20\x10\0\0\x05\0\0\0", 12));
  EXPECT_EQ(GcmdCommandPacket({kGcmdDataCheck, 300, ""}).Write(),
            std::string("GCMD\x0A\x10\0\0\x2C\x01\0\0", 12));
  EXPECT_EQ(UploadAckPacket({kAckEnd, 1}).Write(), std::string("UPLR\x03\x10\0\0\x01\0\0\0", 12));
  EXPECT_EQ(DeleteAnswerPacket{3}.Write().substr(60), std::string("\0\0\0\x03", 4));
  EXPECT_EQ(UploadDataPacket({2, "ab"}).Write().size(), 1024u);
}

TEST(Layouts, ReadersRoundTripWhatWritersMake) {
  GcmdAnswerPacket gcmd;
  gcmd.Result = 8;
  gcmd.Status = 0;
  for (std::size_t i = 0; i < 16; ++i) gcmd.Digest[i] = static_cast<std::uint8_t>(i * 17);
  const GcmdAnswerPacket back = GcmdAnswerPacket::Read(gcmd.Write());
  EXPECT_EQ(back.Result, 8u);
  EXPECT_EQ(back.DigestText(), "00112233445566778899AABBCCDDEEFF");

  const UploadEndPacket end = UploadEndPacket::Read(UploadEndPacket{3, "a\r\n"}.Write());
  EXPECT_EQ(end.Count, 3u);
  EXPECT_EQ(end.Data, "a\r\n");
  const UploadInfoPacket info = UploadInfoPacket::Read(UploadInfoPacket{77, "stamp"}.Write());
  EXPECT_EQ(info.FileSize, 77u);
  EXPECT_EQ(info.TimeStamp, "stamp");
  const DownloadDataPacket data = DownloadDataPacket::Read(DownloadDataPacket{'A', 9, "d"}.Write());
  EXPECT_EQ(data.Sequence, 9u);
  EXPECT_EQ(data.Data.size(), kBlockSize);
  EXPECT_EQ(data.Data.substr(0, 2), std::string("d\0", 2));
}

TEST(Layouts, ShortAndOversizedPacketsReadSafely) {
  // Fields beyond a short packet read as zero.
  const FileInfoPacket fins = FileInfoPacket::Read("FINS\x00\x00");
  EXPECT_EQ(fins.FileSize, 0u);
  EXPECT_EQ(fins.Status, 0);
  EXPECT_EQ(fins.FileName, std::string(45, '\0'));
  EXPECT_EQ(GcmdAnswerPacket::Read("GCMD\x08").Result, 8u);
  // A count larger than the data area is kept as said, the data held to it.
  const std::string big_end = std::string("UPLE\xFF\xFF\0\0", 8) + std::string(2000, 'x');
  const UploadEndPacket end = UploadEndPacket::Read(big_end);
  EXPECT_EQ(end.Count, 0xFFFFu);
  EXPECT_EQ(end.Data.size(), kBlockSize);
  EXPECT_EQ(DownloadEndPacket::Read("ACPE\x05").Data, std::string(5, '\0'));
  // Names stop at their NUL, or at the end of their field.
  EXPECT_EQ(
      UploadStartPacket::Read(std::string("UPLS", 4) + std::string(8, '\0') + std::string(80, 'n'))
          .FileName.size(),
      52u);
}

// An offset near the top of the address space must not wrap around to the
// start of the packet.
TEST(Layouts, OffsetsPastTheEndNeverWrapToTheStart) {
  const PacketReader r("ABCDEFGH");
  const std::size_t far = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(r.U16LE(far), 0u);
  EXPECT_EQ(r.U16BE(far), 0u);
  EXPECT_EQ(r.U32LE(far - 1), 0u);
  EXPECT_EQ(r.U32BE(far - 2), 0u);
  EXPECT_EQ(r.Bytes(far - 1, 4), std::string(4, '\0'));
  EXPECT_EQ(r.Text(far - 1, 4), "");
  EXPECT_EQ(r.U32LE(6), 0x4847u);
}

}  // namespace
}  // namespace mvx::protocol
