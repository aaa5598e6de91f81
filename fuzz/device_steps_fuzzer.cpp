// The sequencer's steps fed with whatever a device might send: each record of
// the input is one input report, framed by the channel's data handler and
// then read by the step of the current state. A record may first move the
// machine to any state, so every step meets every kind of answer, in and out
// of its order.
//
// Input: one byte of setup (update type, image size), then records of a
// selector byte (high bit: jump to the state it names), a 16-bit length and
// the report's bytes.
//
// Properties after every report: the state is one of the machine's states;
// the packet counters stay within the plan; the progress bar within its
// range; every move out of a packet step is the one the packet's fields
// call for; an upload takes only the packet it expects, exactly its data
// area, and "TVINFO.INI" is always the whole upload buffer, never a part of
// it, with no temporary file left behind.
#include <openssl/evp.h>

#include "deviceops/file_exchange.h"
#include "fuzz/fuzz_support.h"
#include "hid/response_framing.h"
#include "protocol/layouts.h"
#include "protocol/packet.h"
#include "scripted/form_bench.h"
#include "sequencer/state_table.h"

namespace {

using mvx::protocol::PacketReader;
namespace state = mvx::state;

// Image sizes around the packet boundaries: empty, one byte, one full block,
// more than two blocks.
constexpr std::int64_t kImageSizes[] = {0, 1, 1016, 3000};

std::string ImageName(std::size_t which) {
  return "image" + std::to_string(which);
}

std::string Md5Upper(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  MVX_FUZZ_CHECK(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) == 1);
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += "0123456789ABCDEF"[digest[i] >> 4];
    hex += "0123456789ABCDEF"[digest[i] & 15];
  }
  return hex;
}

struct Images {
  std::vector<std::string> Digests;
  Images() {
    for (std::size_t i = 0; i < std::size(kImageSizes); ++i) {
      std::string bytes(static_cast<std::size_t>(kImageSizes[i]), '\0');
      for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k * 13 + 7);
      mvx::fuzz::WriteFile(ImageName(i), bytes);
      Digests.push_back(Md5Upper(bytes));
    }
  }
};

// The reply states: those whose step reads an answer.
constexpr int kStates[] = {
    state::ClockReply,        state::VersionReply,     state::SerialReply,
    state::KindReply,         state::DetailReply,      state::LanguageReply,
    state::FileInfoReply,     state::DeleteReply,      state::DownloadBegin,
    state::DownloadTransfer,  state::VerifyBegin,      state::VerifyReply,
    state::BackupReply,       state::DigestReply,      state::NewVersionReply,
    state::SerialInfoReply,   state::UploadTransfer,   state::SetSerialReply,
    state::ClearReply,        state::PostKindReply,    state::PostDetailReply,
    state::PostLanguageReply, state::FormatStartReply, state::FormatReadyReply,
    state::FormatResetReply,  state::FormatSizeReply,  state::SetClock,
};

bool IsAck(const std::string& keyword) {
  return keyword == "ACPR" || keyword == "FCPR";
}

// What a step that reads a binary packet did, checked against the packet.
void CheckMove(int before, int after, const std::string& text, const std::string& digest) {
  const PacketReader p(text);
  const std::string keyword = p.Keyword();
  const std::uint32_t code = p.U32LE(4), status = p.U32LE(8);
  switch (before) {
    case state::FileInfoReply:
      if (after == state::DeleteReply) MVX_FUZZ_CHECK(keyword == "FINS" && p.U8(63) == 1);
      if (after == state::DownloadBegin) MVX_FUZZ_CHECK(keyword == "FINS" && p.U8(63) != 1);
      break;
    case state::DeleteReply:
      if (after == state::DownloadBegin) MVX_FUZZ_CHECK(keyword == "DELE" && p.U8(63) == 0);
      if (after == state::Closing) MVX_FUZZ_CHECK(keyword == "DELE" && p.U8(63) != 0);
      if (keyword != "DELE") MVX_FUZZ_CHECK(after == before);
      break;
    case state::DownloadTransfer:
      if (after == state::VerifyBegin)
        MVX_FUZZ_CHECK(IsAck(keyword) && status == 0 && (code == 0x1003 || code == 0x1030));
      if (!IsAck(keyword)) MVX_FUZZ_CHECK(after == before);
      break;
    case state::VerifyReply:
      if (after == state::BackupReply)
        MVX_FUZZ_CHECK(keyword == "GCMD" && code == 1 && status == 0);
      if (keyword != "GCMD") MVX_FUZZ_CHECK(after == before);
      break;
    case state::BackupReply:
      if (after == state::AwaitRestart)
        MVX_FUZZ_CHECK(keyword == "GCMD" && code == 2 && status == 0);
      if (keyword != "GCMD") MVX_FUZZ_CHECK(after == before);
      break;
    case state::DigestReply:
      if (after == state::AwaitRestart)
        MVX_FUZZ_CHECK(keyword == "GCMD" && code == 8 && status == 0 &&
                       mvx::deviceops::DeviceDigestText(text) == digest);
      if (keyword != "GCMD") MVX_FUZZ_CHECK(after == before);
      break;
    default:
      break;
  }
}

struct UploadBefore {
  bool Active;
  std::int32_t Index;
  bool EndReceived;
  std::vector<std::uint8_t> Buffer;
  std::string File;
  bool FileExists;
};

void CheckUpload(const UploadBefore& before, const mvx::TForm1& form, const std::string& text) {
  const PacketReader p(text);
  const std::string keyword = p.Keyword();
  const auto& buffer = form.InfoUploadBuffer;
  std::string file;
  const bool file_exists = mvx::fuzz::ReadFile(mvx::protocol::kInfoFileName, file);
  const bool grew = buffer.size() > before.Buffer.size();
  // Only bytes the device sent: a packet shorter than its layout adds none.
  constexpr std::size_t kWholeData = mvx::protocol::kBlockHeader + mvx::protocol::kBlockSize;
  if (keyword == "UPLS") {
    MVX_FUZZ_CHECK(buffer.empty() && form.UploadActive && form.UploadPacketIndex == 0);
  } else if (keyword == "UPLD") {
    if (grew) {
      // Only the packet the upload waits for is taken, and all of its data.
      MVX_FUZZ_CHECK(before.Active && p.U32LE(4) == static_cast<std::uint32_t>(before.Index));
      MVX_FUZZ_CHECK(text.size() >= kWholeData);
      MVX_FUZZ_CHECK(buffer.size() == before.Buffer.size() + mvx::protocol::kBlockSize);
      MVX_FUZZ_CHECK(std::equal(before.Buffer.begin(), before.Buffer.end(), buffer.begin()));
      const std::string data = p.Bytes(8, mvx::protocol::kBlockSize);
      MVX_FUZZ_CHECK(
          std::equal(data.begin(), data.end(), buffer.begin() + before.Buffer.size(),
                     [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
      MVX_FUZZ_CHECK(form.UploadPacketIndex == before.Index + 1);
    } else {
      MVX_FUZZ_CHECK(buffer == before.Buffer);
      MVX_FUZZ_CHECK(!before.Active || p.U32LE(4) != static_cast<std::uint32_t>(before.Index) ||
                     text.size() < kWholeData);
    }
  } else if (keyword == "UPLE") {
    if (before.EndReceived) {
      // A second end packet changes nothing.
      MVX_FUZZ_CHECK(buffer == before.Buffer);
      MVX_FUZZ_CHECK(file_exists == before.FileExists && file == before.File);
    } else {
      const std::uint32_t count = p.U32LE(4);
      const std::size_t added = buffer.size() - before.Buffer.size();
      MVX_FUZZ_CHECK(buffer.size() >= before.Buffer.size());
      MVX_FUZZ_CHECK(added <= mvx::protocol::kBlockSize);
      if (added > 0)
        MVX_FUZZ_CHECK(before.Active && added == count &&
                       text.size() >= mvx::protocol::kBlockHeader + count);
      // The file is the whole buffer, written at once.
      MVX_FUZZ_CHECK(file_exists);
      MVX_FUZZ_CHECK(file.size() == buffer.size());
      MVX_FUZZ_CHECK(
          std::equal(file.begin(), file.end(), buffer.begin(),
                     [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
    }
  } else {
    MVX_FUZZ_CHECK(buffer == before.Buffer);
  }
  if (keyword != "UPLE") MVX_FUZZ_CHECK(file_exists == before.FileExists && file == before.File);
}

mvx::fuzz::WorkDir* work_dir = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static mvx::fuzz::WorkDir dir("steps", argc, argv);
  work_dir = &dir;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Images images;
  std::error_code ignored;
  std::filesystem::remove(mvx::protocol::kInfoFileName, ignored);

  mvx::fuzz::Bytes in(data, size);
  const std::uint8_t setup = in.U8();
  const std::size_t image = (setup >> 1) % std::size(kImageSizes);

  mvx::FormBench bench;
  mvx::TForm1& form = bench.Form;
  form.PackagePath = "package.tvu";
  form.PackageFileName = "package.tvu";
  form.UpdateType = (setup & 1) != 0 ? mvx::UpdateKind::Type1 : mvx::UpdateKind::Type2;
  form.FirmwareDigest = images.Digests[image];
  std::string error;
  form.FirmwareImage = mvx::TFileStream::OpenRead(ImageName(image), &error);
  MVX_FUZZ_CHECK(form.FirmwareImage != nullptr);
  form.SequencerState = state::FileInfoReply;

  while (!in.Empty()) {
    const std::uint8_t selector = in.U8();
    if ((selector & 0x80) != 0)
      form.SequencerState = kStates[(selector & 0x7F) % std::size(kStates)];
    const std::string report(in.Take(in.U16() % 1025));

    const int before = form.SequencerState;
    // The upload's state before the step, kept only where a step may change it.
    UploadBefore upload{};
    if (before == state::UploadTransfer) {
      upload = {form.UploadActive,
                form.UploadPacketIndex,
                form.UploadEndReceived,
                form.InfoUploadBuffer,
                {},
                false};
      upload.FileExists = mvx::fuzz::ReadFile(mvx::protocol::kInfoFileName, upload.File);
    }

    bench.Respond(report);
    MVX_FUZZ_CHECK(form.ResponseText == mvx::FrameResponse(report).Text);
    const std::string text = form.ResponseText;
    if (mvx::FindState(before)->Step != nullptr) form.DispatchStep();

    MVX_FUZZ_CHECK(mvx::FindState(form.SequencerState) != nullptr);
    MVX_FUZZ_CHECK(form.DownloadPacketIndex >= 0);
    MVX_FUZZ_CHECK(form.DownloadPacketIndex <= std::max(form.DownloadDataPackets, 0));
    MVX_FUZZ_CHECK(form.ProgressBar1.Position() >= 0);
    MVX_FUZZ_CHECK(form.ProgressBar1.Position() <= std::max(form.ProgressBar1.Max(), 0LL));
    MVX_FUZZ_CHECK(form.UploadPacketIndex >= 0);
    CheckMove(before, form.SequencerState, text, form.FirmwareDigest);
    if (before == state::UploadTransfer) CheckUpload(upload, form, text);
  }
  // Nothing but the images and the information file: no temporary file stays.
  for (const std::string& name : work_dir->Names())
    MVX_FUZZ_CHECK(name == mvx::protocol::kInfoFileName || name.rfind("image", 0) == 0);
  return 0;
}
