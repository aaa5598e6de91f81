#include "package/package_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

#include "base/text.h"
#include "package/md5.h"

namespace mvx {
namespace {

// Large enough that the per-call costs vanish, small enough to stay in cache.
constexpr std::size_t kBlockSize = 256 * 1024;

std::filesystem::path AsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

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

// The image file under construction: a fresh name beside the final one,
// removed again unless it was put in place.
class PendingImage {
 public:
  explicit PendingImage(const std::string& final_name) : final_name_(final_name) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
      name_ = final_name + Format(".%08x.tmp", static_cast<unsigned>(random()));
#ifdef _WIN32
      file_ = _wfopen(AsPath(name_).c_str(), L"wbx");
#else
      file_ = std::fopen(name_.c_str(), "wbx");
#endif
      if (file_ != nullptr) return;
      if (errno != EEXIST) break;
    }
    ThrowCreate(final_name_, SystemErrorText(errno));
  }
  ~PendingImage() {
    if (file_ != nullptr) std::fclose(file_);
    if (!placed_) {
      std::error_code ignored;
      std::filesystem::remove(AsPath(name_), ignored);
    }
  }
  PendingImage(const PendingImage&) = delete;
  PendingImage& operator=(const PendingImage&) = delete;

  void Write(const std::uint8_t* data, std::size_t length) {
    if (length > 0 && std::fwrite(data, 1, length, file_) != length)
      ThrowCreate(final_name_, SystemErrorText(errno != 0 ? errno : EIO));
  }

  // Closes the file and renames it over the final name.
  void Place() {
    std::FILE* file = std::exchange(file_, nullptr);
    if (std::fclose(file) != 0) ThrowCreate(final_name_, SystemErrorText(errno));
    std::error_code error;
    std::filesystem::rename(AsPath(name_), AsPath(final_name_), error);
    if (error) ThrowCreate(final_name_, SystemErrorText(error.value()));
    placed_ = true;
  }

 private:
  std::string final_name_;
  std::string name_;
  std::FILE* file_ = nullptr;
  bool placed_ = false;
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
  const std::filesystem::path full = std::filesystem::absolute(AsPath(file_name), error);
  return error ? file_name : FromPath(full.lexically_normal());
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
