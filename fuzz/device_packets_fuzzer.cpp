// The readers of the device's binary packets: the bounds-checked packet
// reader, the "FINS" file information, the "GCMD" digest and the device's
// code page 932 texts. The first two input bytes pick offsets for the reader;
// the rest is the packet.
//
// Properties: every read agrees with the packet's bytes and reads zero past
// its end (ASan stops any read beyond it); a decoded file name never exceeds
// its 45 bytes and carries no blank or control character at either end; a
// digest text is 32 upper-case hex digits of the bytes at 12 to 27; a device
// text converts to valid UTF-8 whose conversion back is stable.
#include <algorithm>

#include "base/codepage.h"
#include "base/text.h"
#include "deviceops/file_exchange.h"
#include "fuzz/fuzz_support.h"
#include "protocol/layouts.h"
#include "protocol/packet.h"

namespace {

using mvx::protocol::PacketReader;

// The byte skip places after offset; zero beyond the end, also where the
// sum would not fit in a size.
std::uint8_t ByteAt(std::string_view packet, std::size_t offset, std::size_t skip = 0) {
  return offset < packet.size() && skip < packet.size() - offset
             ? static_cast<std::uint8_t>(packet[offset + skip])
             : 0;
}

void CheckReaderAt(const PacketReader& r, std::string_view packet, std::size_t offset) {
  const std::uint32_t b0 = ByteAt(packet, offset), b1 = ByteAt(packet, offset, 1),
                      b2 = ByteAt(packet, offset, 2), b3 = ByteAt(packet, offset, 3);
  MVX_FUZZ_CHECK(r.U8(offset) == b0);
  MVX_FUZZ_CHECK(r.U16LE(offset) == (b0 | b1 << 8));
  MVX_FUZZ_CHECK(r.U16BE(offset) == (b0 << 8 | b1));
  MVX_FUZZ_CHECK(r.U32LE(offset) == (b0 | b1 << 8 | b2 << 16 | b3 << 24));
  MVX_FUZZ_CHECK(r.U32BE(offset) == (b0 << 24 | b1 << 16 | b2 << 8 | b3));
  for (std::size_t length : {std::size_t{0}, std::size_t{4}, std::size_t{45}, std::size_t{1016}}) {
    const std::string bytes = r.Bytes(offset, length);
    MVX_FUZZ_CHECK(bytes.size() == length);
    for (std::size_t i = 0; i < length; i += 7)
      MVX_FUZZ_CHECK(static_cast<std::uint8_t>(bytes[i]) == ByteAt(packet, offset, i));
    const std::string text = r.Text(offset, length);
    MVX_FUZZ_CHECK(text.size() <= length);
    MVX_FUZZ_CHECK(text.find('\0') == std::string::npos);
    MVX_FUZZ_CHECK(bytes.compare(0, text.size(), text) == 0);
    // The text stops at the first zero byte or at the end of the packet.
    MVX_FUZZ_CHECK(text.size() == length || ByteAt(packet, offset, text.size()) == 0);
  }
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    std::uint32_t code;
    if (c < 0x80) {
      extra = 0;
      code = c;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = code << 6 | (d & 0x3F);
    }
    const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

void CheckDeviceText(std::string_view cp932) {
  const std::string utf8 = mvx::Cp932ToUtf8(cp932);
  MVX_FUZZ_CHECK(IsValidUtf8(utf8));
  std::string back;
  if (utf8.find("\xEF\xBF\xBD") == std::string::npos) {
    // Every character the device sent has a code page 932 form.
    MVX_FUZZ_CHECK(mvx::Utf8ToCp932(utf8, back));
    MVX_FUZZ_CHECK(back.size() <= cp932.size());
    MVX_FUZZ_CHECK(mvx::Cp932ToUtf8(back) == utf8);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mvx::fuzz::Bytes in(data, size);
  const std::size_t offset_a = in.U8();
  const std::size_t offset_b = in.U16();
  const std::string_view packet = in.Rest();
  const PacketReader r(packet);

  MVX_FUZZ_CHECK(r.Size() == packet.size());
  MVX_FUZZ_CHECK(r.Keyword().size() == 4);
  const bool keyword_known =
      packet.size() >= 4 &&
      std::find(std::begin(mvx::protocol::kDeviceKeywords),
                std::end(mvx::protocol::kDeviceKeywords),
                packet.substr(0, 4)) != std::end(mvx::protocol::kDeviceKeywords);
  MVX_FUZZ_CHECK(mvx::protocol::IsDevicePacket(packet) == keyword_known);
  CheckReaderAt(r, packet, offset_a);
  CheckReaderAt(r, packet, offset_b);
  CheckReaderAt(r, packet, packet.size());
  CheckReaderAt(r, packet, SIZE_MAX - 2);

  mvx::protocol::FileInfoPacket info = mvx::protocol::FileInfoPacket::Read(packet);
  MVX_FUZZ_CHECK(info.FileName == r.Bytes(18, 45));
  // The tool logs the name without the field's padding.
  info.FileName = mvx::Trim(info.FileName);
  MVX_FUZZ_CHECK(info.FileName.size() <= 45);
  if (!info.FileName.empty()) {
    MVX_FUZZ_CHECK(static_cast<std::uint8_t>(info.FileName.front()) > 32);
    MVX_FUZZ_CHECK(static_cast<std::uint8_t>(info.FileName.back()) > 32);
    MVX_FUZZ_CHECK(r.Bytes(18, 45).find(info.FileName) != std::string::npos);
  }
  MVX_FUZZ_CHECK(info.FileSize == r.U32BE(4));
  MVX_FUZZ_CHECK(info.FileId == r.U16BE(8));
  MVX_FUZZ_CHECK(info.Year == r.U16BE(16));
  MVX_FUZZ_CHECK(info.Status == r.U8(63));
  const std::vector<std::string> lines = mvx::deviceops::FileInfoLogLines(info);
  MVX_FUZZ_CHECK(lines.size() == 8);
  MVX_FUZZ_CHECK(lines[6] == "  filename: " + info.FileName);

  const std::string digest = mvx::deviceops::DeviceDigestText(packet);
  MVX_FUZZ_CHECK(digest.size() == 32);
  for (std::size_t i = 0; i < 16; ++i) {
    const std::uint8_t byte = ByteAt(packet, 12 + i);
    MVX_FUZZ_CHECK(digest[2 * i] == "0123456789ABCDEF"[byte >> 4]);
    MVX_FUZZ_CHECK(digest[2 * i + 1] == "0123456789ABCDEF"[byte & 15]);
  }

  CheckDeviceText(info.FileName);
  CheckDeviceText(packet);
  return 0;
}
