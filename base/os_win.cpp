// What Windows does its own way: files by wide-character name, the local time,
// large blocks of memory.
#include "base/windows_api.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <new>
#include <string>
#include <string_view>

#include "base/calendar.h"
#include "base/file_system.h"
#include "base/large_block.h"

namespace mvx {

std::FILE* OpenFile(const std::string& utf8_path, const char* mode) {
  const std::string_view how(mode);
  if (how.find('x') == std::string_view::npos) {
    const std::wstring wide_mode(how.begin(), how.end());
    return _wfopen(Utf8Path(utf8_path).c_str(), wide_mode.c_str());
  }
  // The system's msvcrt.dll knows no "x" in a mode: create exclusively by
  // descriptor and open the stream on it.
  const int fd = _wopen(Utf8Path(utf8_path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

std::int64_t FileTell(std::FILE* file) {
  return _ftelli64(file);
}

bool FileSeek(std::FILE* file, std::int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0;
}

std::error_code RenameOver(const std::string& from, const std::string& to) {
  if (MoveFileExW(Utf8Path(from).c_str(), Utf8Path(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return {};
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

std::string FileNamePart(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::error_code AppendRecord(const std::string& path, std::string_view header,
                             std::string_view line) {
  auto failed = [] {
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
  };
  const HANDLE file = CreateFileW(Utf8Path(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failed();
  OVERLAPPED whole{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    const std::error_code error = failed();
    CloseHandle(file);
    return error;
  }
  std::error_code error;
  LARGE_INTEGER size{};
  std::string text;
  if (!GetFileSizeEx(file, &size)) {
    error = failed();
  } else {
    if (size.QuadPart == 0) {
      text = header;
    } else {
      char last = '\n';
      DWORD got = 0;
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>((size.QuadPart - 1) & 0xFFFFFFFF);
      at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
      if (ReadFile(file, &last, 1, &got, &at) && got == 1 && last != '\n') text = "\n";
    }
    text += line;
    std::size_t done = 0;
    while (!error && done < text.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
      if (!WriteFile(file, text.data() + done, chunk, &written, nullptr))
        error = failed();
      else if (written == 0)
        error = std::make_error_code(std::errc::io_error);
      else
        done += written;
    }
    if (!error && !FlushFileBuffers(file)) error = failed();
  }
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(file);
  return error;
}

bool LocalCalendarTime(std::time_t seconds, std::tm& out) {
  return localtime_s(&out, &seconds) == 0;
}

LargeBlock AllocateLargeBlock(std::size_t size) {
  // Committed as it is first touched, in the system's own pages.
  void* block = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (block == nullptr) throw std::bad_alloc();
  return LargeBlock(static_cast<char*>(block), LargeBlockRelease{size});
}

void ReleaseLargeBlock(char* block, std::size_t /*size*/) {
  if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace mvx
