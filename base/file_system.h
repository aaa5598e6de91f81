// Files by their UTF-8 names. The core keeps every path as UTF-8 text and
// converts to the system's own form only at the call; what differs between
// systems lives in os_posix.cpp and os_win.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace mvx {

std::filesystem::path Utf8Path(std::string_view utf8);
std::string PathUtf8(const std::filesystem::path& path);

// fopen by a UTF-8 name; nullptr with errno set on failure.
std::FILE* OpenFile(const std::string& utf8_path, const char* mode);
// 64-bit position and seek of an open file; -1 and false on failure.
std::int64_t FileTell(std::FILE* file);
bool FileSeek(std::FILE* file, std::int64_t offset, int origin);
// Renames from over to, replacing a file that is there.
std::error_code RenameOver(const std::string& from, const std::string& to);
// What follows the last folder separator of the system ("a\b.tvu" -> "b.tvu"
// on Windows; only "/" separates on other systems).
std::string FileNamePart(const std::string& path);

// A file that must never be seen torn: written under a name of its own beside
// the final one and renamed over it. Unless committed, the partial file is
// removed again and the earlier file stays as it was.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string final_path);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // False once anything failed; Error() tells what.
  bool Ok() const { return !error_; }
  const std::error_code& Error() const { return error_; }
  bool Write(const void* data, std::size_t length);
  // Closes the file and renames it over the final path.
  bool Commit();

 private:
  void Fail(int error_number);
  std::string final_path_;
  std::string temporary_path_;
  std::FILE* file_ = nullptr;
  std::error_code error_;
  bool committed_ = false;
};

// One record appended to a file that several processes append to, and that
// must never hold a torn line: under an exclusive lock of the file, the
// text (header first when the file is empty; a line break first when a
// crash left the last line unfinished) goes out in one write and is flushed
// to the disk before the lock is let go. The file is made when missing.
std::error_code AppendRecord(const std::string& path, std::string_view header,
                             std::string_view line);

// The whole file replaced by the bytes through an AtomicFileWriter.
std::error_code ReplaceFileContents(const std::string& path, std::string_view bytes);

}  // namespace mvx
