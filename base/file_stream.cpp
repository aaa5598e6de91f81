#include "base/file_stream.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace mvx {

std::string SystemErrorText(int error_number) {
  return std::generic_category().message(error_number);
}

std::unique_ptr<TFileStream> TFileStream::OpenRead(const std::string& path, std::string* error) {
#ifdef _WIN32
  std::FILE* file = _wfopen(std::filesystem::u8path(path).c_str(), L"rb");
#else
  std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
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
#ifdef _WIN32
  const std::int64_t here = _ftelli64(file_);
  if (here < 0 || _fseeki64(file_, 0, SEEK_END) != 0) return -1;
  const std::int64_t size = _ftelli64(file_);
  _fseeki64(file_, here, SEEK_SET);
#else
  const off_t here = ftello(file_);
  if (here < 0 || fseeko(file_, 0, SEEK_END) != 0) return -1;
  const off_t size = ftello(file_);
  fseeko(file_, here, SEEK_SET);
#endif
  return size;
}

std::int64_t TFileStream::Position() const {
#ifdef _WIN32
  return _ftelli64(file_);
#else
  return ftello(file_);
#endif
}

bool TFileStream::Seek(std::int64_t position) {
#ifdef _WIN32
  return _fseeki64(file_, position, SEEK_SET) == 0;
#else
  return fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
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
