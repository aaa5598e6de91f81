// Helpers for the package tests: a scratch folder that is also the working
// directory, and packages as bytes to damage at will.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#ifdef _WIN32
#include <io.h>
#endif
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "package/package_builder.h"

namespace mvx::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// A fresh folder made the working directory; the earlier one comes back and
// the folder goes at the end.
class ScratchFolder {
 public:
  ScratchFolder() : previous_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "mvx-pkg-XXXXXX").string();
#ifdef _WIN32
    if (_mktemp_s(pattern.data(), pattern.size() + 1) != 0 ||
        !std::filesystem::create_directory(pattern))
      throw std::runtime_error("cannot make a scratch folder");
#else
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
#endif
    path_ = pattern;
    std::filesystem::current_path(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const {
    return path_;
  }
  // A sub-folder, created.
  std::filesystem::path Sub(const std::string& name) const {
    std::filesystem::create_directories(path_ / name);
    return path_ / name;
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// Paths and names in UTF-8, as the core keeps them (a plain string is the
// ANSI code page on Windows).
inline std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names in a folder, sorted.
inline std::set<std::string> Listing(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

inline Bytes Package(const std::string& version, const Bytes& image,
                     const std::string& special = "", const std::string& magic = "Tavun") {
  return BuildPackage(PackageOptions{version, special, magic}, image);
}

inline void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// An image whose bytes are not all alike.
inline Bytes SampleImage(std::size_t size) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return image;
}

}  // namespace mvx::testing
