// What the POSIX systems do their own way: files by name, the local time.
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "base/calendar.h"
#include "base/file_system.h"

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

bool LocalCalendarTime(std::time_t seconds, std::tm& out) {
  // Unlike localtime(), localtime_r() does not read the time-zone file again on
  // every call.
  return localtime_r(&seconds, &out) != nullptr;
}

}  // namespace mvx
