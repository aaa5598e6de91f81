#include "package/md5.h"

#include <vector>

#include "base/file_stream.h"
#include "base/hex.h"

namespace mvx {

std::string HexDigest(const std::array<std::uint8_t, 16>& digest, bool upper_case) {
  return HexText(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()),
                 upper_case ? HexCase::Upper : HexCase::Lower);
}

std::string DigestFileHex(const std::string& file_name) {
  const std::unique_ptr<TFileStream> file = TFileStream::OpenRead(file_name, nullptr);
  if (!file) return {};
  if (file->Size() < 0) return {};
  Md5 md5;
  std::vector<std::uint8_t> block(8192);
  while (true) {
    const std::int64_t got = file->Read(block.data(), block.size());
    if (got < 0) return {};
    if (got == 0) break;
    md5.Update(block.data(), static_cast<std::size_t>(got));
  }
  return HexDigest(md5.Finish(), false);
}

}  // namespace mvx
