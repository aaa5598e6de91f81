// A read-only file stream with a size, a position and reads of any length.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace mvx {

class TFileStream {
 public:
  // Opens the file for reading; nullptr and the system's error text on failure.
  static std::unique_ptr<TFileStream> OpenRead(const std::string& path, std::string* error);
  ~TFileStream();
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  const std::string& Path() const { return path_; }
  // -1 when the size cannot be read.
  std::int64_t Size() const;
  std::int64_t Position() const;
  bool Seek(std::int64_t position);
  // Reads up to length bytes at the position: the count read, or -1 on error.
  std::int64_t Read(void* buffer, std::size_t length);

 private:
  TFileStream(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
  std::FILE* file_;
  std::string path_;
};

// The system's description of an errno value, as the operator reads it.
std::string SystemErrorText(int error_number);

}  // namespace mvx
