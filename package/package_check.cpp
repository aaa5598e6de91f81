#include "package/package_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "base/file_system.h"
#include "base/text.h"
#include "package/md5.h"

namespace mvx {
namespace {

// Large enough that the per-call costs vanish, small enough to stay in cache.
constexpr std::size_t kBlockSize = std::size_t{256} * 1024;

[[noreturn]] void ThrowOpen(const std::string& file, int error_number) {
  throw EPackageFileError(EPackageFileError::Kind::Open, FullPath(file),
                          SystemErrorText(error_number));
}

[[noreturn]] void ThrowCreate(const std::string& file, const std::string& reason) {
  throw EPackageFileError(EPackageFileError::Kind::Create, FullPath(file), reason);
}

// Reads until the buffer is full or the file ends; throws on a read error.
std::size_t ReadFully(TFileStream& in, std::uint8_t* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    errno = 0;
    const std::int64_t got = in.Read(buffer + done, length - done);
    if (got < 0) ThrowOpen(in.Path(), errno != 0 ? errno : EIO);
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace

std::uint8_t XorBytes(const std::uint8_t* data, std::size_t length) {
  // Whole 64-bit words first, folded to one byte at the end.
  std::uint64_t word_xor = 0;
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    word_xor ^= word;
  }
  std::uint8_t result = 0;
  for (; i < length; ++i) result ^= data[i];
  for (int shift = 0; shift < 64; shift += 8)
    result ^= static_cast<std::uint8_t>(word_xor >> shift);
  return result;
}

namespace {

// The image file under construction, written beside the final name and put
// in place only when whole.
class PendingImage {
 public:
  explicit PendingImage(const std::string& final_name)
      : final_name_(final_name), file_(final_name) {
    Check();
  }
  void Write(const std::uint8_t* data, std::size_t length) {
    file_.Write(data, length);
    Check();
  }
  void Place() {
    file_.Commit();
    Check();
  }

 private:
  void Check() {
    if (!file_.Ok()) ThrowCreate(final_name_, file_.Error().message());
  }
  std::string final_name_;
  AtomicFileWriter file_;
};

std::string FileErrorText(EPackageFileError::Kind kind, const std::string& path,
                          const std::string& reason) {
  return kind == EPackageFileError::Kind::Open
             ? "ファイル \"" + path + "\". " + reason + " は開けません"
             : "ファイル \"" + path + "\". " + reason + " を作成できません";
}

}  // namespace

EPackageFileError::EPackageFileError(Kind kind, std::string path, std::string reason)
    : EAppError(FileErrorText(kind, path, reason)),
      FileKind(kind),
      Path(std::move(path)),
      Reason(std::move(reason)) {}

std::string FullPath(const std::string& file_name) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(Utf8Path(file_name), error);
  return error ? file_name : PathUtf8(full.lexically_normal());
}

PackageCheckResult CheckAndExtractPackage(TFileStream& package, const std::string& firmware_file,
                                          const PackageCheckSteps& steps) {
  PackageCheckResult result;
  errno = 0;
  result.FileSize = package.Size();
  if (result.FileSize < 0 || !package.Seek(0)) ThrowOpen(package.Path(), errno != 0 ? errno : EIO);

  std::uint8_t header[kPackageHeaderSize] = {};
  ReadFully(package, header, sizeof header);
  result.Header = ParsePackageHeader(header);
  result.Verdict = CheckPackageHeader(result.Header, result.FileSize, steps);
  if (result.Verdict != PackageVerdict::Accepted) return result;

  PendingImage image(firmware_file);
  Md5 md5;
  std::vector<std::uint8_t> block(kBlockSize);
  std::uint32_t check = result.Header.CheckValue;
  std::int64_t extracted = 0;
  while (true) {
    const std::size_t got = ReadFully(package, block.data(), block.size());
    if (got == 0) break;
    check ^= XorBytes(block.data(), got);
    md5.Update(block.data(), got);
    image.Write(block.data(), got);
    extracted += static_cast<std::int64_t>(got);
  }

  // A file that changed its size while it was read no longer matches its
  // header.
  if (extracted != result.FileSize - static_cast<std::int64_t>(kPackageHeaderSize)) {
    result.Verdict = PackageVerdict::BadSize;
    return result;
  }
  if (check != 0) {
    result.Verdict = PackageVerdict::BadCheckValue;
    return result;
  }
  image.Place();
  result.ImageSize = extracted;
  result.Digest = HexDigest(md5.Finish(), true);
  return result;
}

}  // namespace mvx
