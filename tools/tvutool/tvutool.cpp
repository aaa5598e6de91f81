// tvutool: builds update packages and checks them exactly as the version-up
// tool does, for firmware engineers and for tests.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_stream.h"
#include "base/hex.h"
#include "base/text.h"
#include "package/package_builder.h"
#include "package/package_check.h"

namespace {

using namespace mvx;

constexpr int kAccepted = 0;
constexpr int kRejected = 1;
constexpr int kFailed = 2;  // a file error or wrong arguments

constexpr const char* kUsage =
    "usage: tvutool build --version VVVVVV [--special CODE] [--magic Tavun|Tavu2] IMAGE OUT.tvu\n"
    "       tvutool check PACKAGE\n"
    "       tvutool --help\n";

constexpr const char* kHelp =
    "\n"
    "build   writes the package OUT.tvu around the firmware image IMAGE: the\n"
    "        64-byte header with the magic (default Tavun), the six-character\n"
    "        version (type code and version number, such as 201022), the\n"
    "        optional special model code (up to six characters, such as SAR),\n"
    "        the package size and the XOR check value.\n"
    "check   checks PACKAGE as the version-up tool does and, when it is\n"
    "        accepted, writes its firmware image to \"_fwbin\" in the current\n"
    "        directory. Mockup and ping-marker packages count as confirmed\n"
    "        with the right access value. Prints the header fields, then\n"
    "        \"result: \" and the verdict (\"accepted\" or the tool's\n"
    "        \"Invalid File.(0N)\"), and for an accepted package \"md5: \" and\n"
    "        the image's digest in upper-case hexadecimal.\n"
    "\n"
    "exit status: 0 built or accepted, 1 rejected, 2 a file that cannot be\n"
    "read or written, or wrong arguments.\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A header text with its unprintable bytes escaped.
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F)
      out += c;
    else
      AppendHexByte(out += "\\x", byte);
  }
  return out;
}

bool IsPrintableAscii(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) return false;
  }
  return true;
}

int Build(const std::vector<std::string>& args) {
  PackageOptions options;
  std::optional<std::string> version;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--version" || arg == "--special" || arg == "--magic") {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      const std::string& value = args[++i];
      if (arg == "--version")
        version = value;
      else if (arg == "--special")
        options.SpecialModelCode = value;
      else
        options.Magic = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option " + arg);
    } else {
      files.push_back(arg);
    }
  }
  if (!version) throw UsageError("build needs --version");
  if (version->size() != 6 || !IsPrintableAscii(*version))
    throw UsageError("the version must be six printable ASCII characters, such as 201022");
  if (!IsPrintableAscii(options.SpecialModelCode))
    throw UsageError("the special model code must be printable ASCII");
  if (options.Magic != "Tavun" && options.Magic != "Tavu2")
    throw UsageError("the magic must be Tavun or Tavu2");
  if (files.size() != 2) throw UsageError("build needs IMAGE and OUT.tvu");
  options.Version = *version;
  const std::string& image_path = files[0];
  const std::string& out_path = files[1];

  std::string error;
  const std::unique_ptr<TFileStream> image = TFileStream::OpenRead(image_path, &error);
  if (!image) {
    std::cerr << "tvutool: cannot open " << image_path << ": " << error << "\n";
    return kFailed;
  }
  std::error_code same_error;
  if (std::filesystem::equivalent(image_path, out_path, same_error)) {
    std::cerr << "tvutool: IMAGE and OUT.tvu are the same file\n";
    return kFailed;
  }
  ValidatePackageOptions(options,
                         static_cast<std::uint64_t>(std::max<std::int64_t>(image->Size(), 0)));

  PackageWriter writer(out_path, options);
  std::vector<std::uint8_t> block(1 << 20);
  while (true) {
    errno = 0;
    const std::int64_t got = image->Read(block.data(), block.size());
    if (got < 0) {
      std::cerr << "tvutool: cannot read " << image_path << ": "
                << SystemErrorText(errno != 0 ? errno : EIO) << "\n";
      return kFailed;  // the writer removes the unfinished package
    }
    if (got == 0) break;
    writer.Append(std::span(block.data(), static_cast<std::size_t>(got)));
  }
  writer.Finish();
  std::cout << "wrote " << out_path << "\n";
  return kAccepted;
}

int Check(const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("check needs exactly one PACKAGE");
  const std::string& path = args[0];
  std::string error;
  std::unique_ptr<TFileStream> package = TFileStream::OpenRead(path, &error);
  if (!package) {
    std::cerr << "tvutool: cannot open " << path << ": " << error << "\n";
    return kFailed;
  }

  PackageCheckSteps steps;
  std::string mode_text = "unknown";
  steps.ModeChosen = [&](const PackageMode& mode) { mode_text = std::string(mode.Text); };
  steps.AskAccess = [&](const PackageMode& mode) -> std::optional<std::string> {
    mode_text = std::string(mode.Text) + " (confirmed with the access value)";
    return kPackageAccessValue;
  };

  PackageCheckResult result;
  try {
    result = CheckAndExtractPackage(*package, kFirmwareFile, steps);
  } catch (const EPackageFileError& e) {
    std::cerr << "tvutool: cannot "
              << (e.FileKind == EPackageFileError::Kind::Open ? "read " : "write ") << e.Path
              << ": " << e.Reason << "\n";
    return kFailed;
  }

  const PackageHeader& h = result.Header;
  std::cout << "package: " << FullPath(path) << "\n"
            << "file size: " << result.FileSize << "\n"
            << "magic: " << Printable(h.Magic) << "\n"
            << "version: " << Printable(h.UpdateVersion) << "\n"
            << "type code: " << Printable(h.UpdateTypeCode) << "\n"
            << "version number: " << Printable(h.UpdateVersionNumber) << "\n"
            << "mode: " << mode_text << "\n"
            << "special model code: " << Printable(h.SpecialModelCode) << "\n"
            << "size field: " << h.DeclaredSize << "\n"
            << Format("check value: 0x%08X\n", h.CheckValue)
            << "result: " << VerdictText(result.Verdict) << "\n";
  if (result.Verdict != PackageVerdict::Accepted) return kRejected;
  std::cout << "image: " << FullPath(kFirmwareFile) << " (" << result.ImageSize << " bytes)\n"
            << "md5: " << result.Digest << "\n";
  return kAccepted;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.empty()) throw UsageError("no command given");
    const std::string& command = args[0];
    const bool help =
        command == "help" || std::find_if(args.begin(), args.end(), [](const std::string& a) {
                               return a == "--help" || a == "-h";
                             }) != args.end();
    if (help) {
      std::cout << kUsage << kHelp;
      return 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "build") return Build(rest);
    if (command == "check") return Check(rest);
    throw UsageError("unknown command " + command);
  } catch (const UsageError& e) {
    std::cerr << "tvutool: " << e.what() << "\n" << kUsage;
  } catch (const EPackageFileError& e) {
    std::cerr << "tvutool: cannot write " << e.Path << ": " << e.Reason << "\n";
  } catch (const std::exception& e) {
    std::cerr << "tvutool: " << e.what() << "\n";
  }
  return kFailed;
}
