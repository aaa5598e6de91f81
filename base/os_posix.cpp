// What the POSIX systems do their own way: files by name, the local time,
// large blocks of memory.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <new>

#include "base/calendar.h"
#include "base/file_system.h"
#include "base/large_block.h"

namespace mvx {

std::FILE* OpenFile(const std::string& utf8_path, const char* mode) {
  return std::fopen(utf8_path.c_str(), mode);
}

std::int64_t FileTell(std::FILE* file) {
  return ftello(file);
}

bool FileSeek(std::FILE* file, std::int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

std::error_code RenameOver(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return {};
  return std::error_code(errno, std::generic_category());
}

std::string FileNamePart(const std::string& path) {
  const std::size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::error_code AppendRecord(const std::string& path, std::string_view header,
                             std::string_view line) {
  auto failed = [] { return std::error_code(errno, std::generic_category()); };
  // Read as well: the last byte tells whether a crash left a line unfinished.
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return failed();
  std::error_code error;
  if (::flock(fd, LOCK_EX) != 0) {
    error = failed();
    ::close(fd);
    return error;
  }
  struct stat info {};
  std::string text;
  if (::fstat(fd, &info) != 0) {
    error = failed();
  } else {
    if (info.st_size == 0) {
      text = header;
    } else {
      char last = '\n';
      if (::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') text = "\n";
    }
    text += line;
    std::size_t done = 0;
    while (!error && done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        error = n < 0 ? failed() : std::make_error_code(std::errc::io_error);
      else
        done += static_cast<std::size_t>(n);
    }
    if (!error && ::fsync(fd) != 0) error = failed();
  }
  ::flock(fd, LOCK_UN);
  ::close(fd);
  return error;
}

bool LocalCalendarTime(std::time_t seconds, std::tm& out) {
  // Unlike localtime(), localtime_r() does not read the time-zone file again on
  // every call.
  return localtime_r(&seconds, &out) != nullptr;
}

LargeBlock AllocateLargeBlock(std::size_t size) {
  // Mapped one grain larger and cut to a grain's boundary, so the kernel can
  // give it whole huge pages.
  const std::size_t mapped = size + kLargeBlockGrain;
  void* area = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) throw std::bad_alloc();
  char* start = static_cast<char*>(area);
  const std::size_t head =
      (kLargeBlockGrain - reinterpret_cast<std::uintptr_t>(start) % kLargeBlockGrain) %
      kLargeBlockGrain;
  if (head > 0) munmap(start, head);
  const std::size_t tail = mapped - head - size;
  if (tail > 0) munmap(start + head + size, tail);
#ifdef MADV_HUGEPAGE
  madvise(start + head, size, MADV_HUGEPAGE);  // a hint: without it, 4 KiB pages
#endif
  return LargeBlock(start + head, LargeBlockRelease{size});
}

void ReleaseLargeBlock(char* block, std::size_t size) {
  if (block != nullptr) munmap(block, size);
}

}  // namespace mvx
