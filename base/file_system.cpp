#include "base/file_system.h"

#include <cerrno>
#include <random>
#include <utility>

#include "base/text.h"

namespace mvx {

std::filesystem::path Utf8Path(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

AtomicFileWriter::AtomicFileWriter(std::string final_path) : final_path_(std::move(final_path)) {
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    temporary_path_ = final_path_ + Format(".%08x.tmp", static_cast<unsigned>(random()));
    // "x": a name that is taken is never opened, whoever holds it.
    file_ = OpenFile(temporary_path_, "wbx");
    if (file_ != nullptr) return;
    if (errno != EEXIST) break;
  }
  Fail(errno);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_ && !temporary_path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(Utf8Path(temporary_path_), ignored);
  }
}

void AtomicFileWriter::Fail(int error_number) {
  if (!error_)
    error_ = std::error_code(error_number != 0 ? error_number : EIO, std::generic_category());
}

bool AtomicFileWriter::Write(const void* data, std::size_t length) {
  if (!Ok()) return false;
  errno = 0;
  if (length > 0 && std::fwrite(data, 1, length, file_) != length) Fail(errno);
  return Ok();
}

bool AtomicFileWriter::Commit() {
  if (!Ok()) return false;
  errno = 0;
  // A full disk often shows only here, when the buffer is written out.
  if (std::fclose(std::exchange(file_, nullptr)) != 0) {
    Fail(errno);
    return false;
  }
  error_ = RenameOver(temporary_path_, final_path_);
  committed_ = Ok();
  return committed_;
}

std::error_code ReplaceFileContents(const std::string& path, std::string_view bytes) {
  AtomicFileWriter writer(path);
  writer.Write(bytes.data(), bytes.size());
  writer.Commit();
  return writer.Error();
}

}  // namespace mvx
