#include "protocol/layouts.h"

#include <algorithm>

#include "base/hex.h"
#include "protocol/packet.h"

namespace mvx::protocol {

std::string FamilyKeyword(char family, std::string_view suffix) {
  std::string keyword(1, family);
  keyword += suffix;
  return keyword;
}

ReplyWords ReplyWords::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  return ReplyWords{r.U32LE(4), r.U32LE(8)};
}

FileInfoPacket FileInfoPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  FileInfoPacket p;
  p.FileSize = r.U32BE(4);
  p.FileId = r.U16BE(8);
  p.Attributes = r.U8(10);
  p.Hour = r.U8(11);
  p.Minute = r.U8(12);
  p.Second = r.U8(13);
  p.Day = r.U8(14);
  p.Month = r.U8(15);
  p.Year = r.U16BE(16);
  p.FileName = r.Bytes(kNameOffset, kNameLength);
  p.Status = r.U8(kStatusOffset);
  return p;
}

std::string FileInfoPacket::Write() const {
  PacketWriter w;
  w.Keyword("FINS").U32BE(FileSize).U16BE(FileId).U8(Attributes);
  w.U8(Hour).U8(Minute).U8(Second).U8(Day).U8(Month).U16BE(Year);
  w.Bytes(std::string_view(FileName).substr(0, kNameLength)).PadTo(kStatusOffset).U8(Status);
  return w.Take();
}

DeleteAnswerPacket DeleteAnswerPacket::Read(std::string_view bytes) {
  return DeleteAnswerPacket{PacketReader(bytes).U8(kResultOffset)};
}

std::string DeleteAnswerPacket::Write() const {
  PacketWriter w;
  w.Keyword("DELE").PadTo(kResultOffset).U8(Result);
  return w.Take();
}

DownloadStartPacket DownloadStartPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  DownloadStartPacket p;
  p.Family = static_cast<char>(r.U8(0));
  p.ImageSize = r.U32LE(4);
  p.PacketCount = r.U32LE(8);
  p.FileName = r.Text(12, bytes.size());
  return p;
}

std::string DownloadStartPacket::Write() const {
  PacketWriter w;
  w.Keyword(FamilyKeyword(Family, "CPS")).U32LE(ImageSize).U32LE(PacketCount).Bytes(FileName);
  return w.Take();
}

DownloadDataPacket DownloadDataPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  return DownloadDataPacket{static_cast<char>(r.U8(0)), r.U32LE(4),
                            r.Bytes(kBlockHeader, kBlockSize)};
}

std::string DownloadDataPacket::Write() const {
  PacketWriter w;
  w.Keyword(FamilyKeyword(Family, "CPD")).U32LE(Sequence).Bytes(Data);
  return w.Take();
}

DownloadEndPacket DownloadEndPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  DownloadEndPacket p;
  p.Family = static_cast<char>(r.U8(0));
  p.Count = r.U16LE(4);
  p.Data = r.Bytes(kDataOffset, std::min<std::size_t>(p.Count, kBlockSize));
  return p;
}

std::string DownloadEndPacket::Write() const {
  PacketWriter w;
  w.Keyword(FamilyKeyword(Family, "CPE")).U16LE(static_cast<std::uint16_t>(Data.size()));
  w.Bytes(Data);
  return w.Take();
}

bool DownloadAckPacket::Matches(std::string_view bytes) {
  const std::string_view keyword = bytes.substr(0, 4);
  return keyword == "ACPR" || keyword == "FCPR";
}

DownloadAckPacket DownloadAckPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  return DownloadAckPacket{static_cast<char>(r.U8(0)), r.U32LE(4), r.U32LE(8)};
}

std::string DownloadAckPacket::Write() const {
  PacketWriter w;
  w.Keyword(FamilyKeyword(Family, "CPR")).U32LE(Code).U32LE(Status);
  return w.Take();
}

GcmdCommandPacket GcmdCommandPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  return GcmdCommandPacket{r.U32LE(4), r.U32LE(8), r.Text(12, bytes.size())};
}

std::string GcmdCommandPacket::Write() const {
  PacketWriter w;
  w.Keyword("GCMD").U32LE(SubCommand).U32LE(Argument).Bytes(FileName);
  return w.Take();
}

GcmdAnswerPacket GcmdAnswerPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  GcmdAnswerPacket p;
  p.Result = r.U32LE(4);
  p.Status = r.U32LE(8);
  for (std::size_t i = 0; i < p.Digest.size(); ++i) p.Digest[i] = r.U8(kDigestOffset + i);
  return p;
}

std::string GcmdAnswerPacket::Write() const {
  PacketWriter w;
  w.Keyword("GCMD").U32LE(Result).U32LE(Status);
  for (std::uint8_t b : Digest) w.U8(b);
  return w.Take();
}

std::string GcmdAnswerPacket::DigestText() const {
  return HexText(std::string_view(reinterpret_cast<const char*>(Digest.data()), Digest.size()));
}

UploadStartPacket UploadStartPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  return UploadStartPacket{r.U32LE(4), r.U32LE(8), r.Text(kNameOffset, kNameLength)};
}

std::string UploadStartPacket::Write() const {
  PacketWriter w;
  w.Keyword("UPLS").U32LE(Word1).U32LE(Word2);
  w.Bytes(std::string_view(FileName).substr(0, kNameLength));
  return w.Take();
}

UploadDataPacket UploadDataPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  return UploadDataPacket{r.U32LE(4), r.Bytes(kBlockHeader, kBlockSize)};
}

std::string UploadDataPacket::Write() const {
  PacketWriter w;
  w.Keyword("UPLD").U32LE(Number).Bytes(std::string_view(Data).substr(0, kBlockSize));
  w.PadTo(kBlockHeader + kBlockSize);
  return w.Take();
}

UploadEndPacket UploadEndPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  UploadEndPacket p;
  p.Count = r.U32LE(4);
  p.Data = r.Bytes(kBlockHeader, std::min<std::size_t>(p.Count, kBlockSize));
  return p;
}

std::string UploadEndPacket::Write() const {
  PacketWriter w;
  w.Keyword("UPLE").U32LE(Count).Bytes(std::string_view(Data).substr(0, kBlockSize));
  return w.Take();
}

UploadInfoPacket UploadInfoPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  return UploadInfoPacket{r.U32LE(4), r.Text(kStampOffset, kStampLength)};
}

std::string UploadInfoPacket::Write() const {
  PacketWriter w;
  w.Keyword("UPLI").U32LE(FileSize).Bytes(std::string_view(TimeStamp).substr(0, kStampLength));
  return w.Take();
}

UploadAckPacket UploadAckPacket::Read(std::string_view bytes) {
  const PacketReader r(bytes);
  return UploadAckPacket{r.U32LE(4), r.U32LE(8)};
}

std::string UploadAckPacket::Write() const {
  PacketWriter w;
  w.Keyword("UPLR").U32LE(Code).U32LE(Status);
  return w.Take();
}

}  // namespace mvx::protocol
