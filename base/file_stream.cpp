#include "base/file_stream.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/file_system.h"

namespace mvx {

std::string SystemErrorText(int error_number) {
  return std::generic_category().message(error_number);
}

std::unique_ptr<TFileStream> TFileStream::OpenRead(const std::string& path, std::string* error) {
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr) {
    if (error != nullptr) *error = SystemErrorText(errno);
    return nullptr;
  }
  // The download reads the image one 1 KiB packet at a time: a larger buffer
  // asks the system once per 64 packets instead of once per four.
  std::setvbuf(file, nullptr, _IOFBF, std::size_t{1} << 16);
  return std::unique_ptr<TFileStream>(new TFileStream(file, path));
}

TFileStream::~TFileStream() {
  std::fclose(file_);
}

std::int64_t TFileStream::Size() const {
  const std::int64_t here = FileTell(file_);
  if (here < 0 || !FileSeek(file_, 0, SEEK_END)) return -1;
  const std::int64_t size = FileTell(file_);
  FileSeek(file_, here, SEEK_SET);
  return size;
}

std::int64_t TFileStream::Position() const {
  return FileTell(file_);
}

bool TFileStream::Seek(std::int64_t position) {
  return FileSeek(file_, position, SEEK_SET);
}

std::int64_t TFileStream::Read(void* buffer, std::size_t length) {
  const std::size_t got = std::fread(buffer, 1, length, file_);
  if (got < length && std::ferror(file_)) {
    std::clearerr(file_);
    return -1;
  }
  return static_cast<std::int64_t>(got);
}

}  // namespace mvx
