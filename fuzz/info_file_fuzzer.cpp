// The device information file as uploaded: its items (serial number, pcb,
// bat) and the "SSER" command built from them.
//
// Properties: only the first 1025 bytes up to the first zero byte count, so
// cutting the file there changes nothing; at most three items are found, and
// an item never holds a line break; the command has the three items, each
// padded with '0' to at least 12 characters.
#include "deviceops/file_exchange.h"
#include "fuzz/fuzz_support.h"

namespace {

using mvx::deviceops::InfoItems;

bool Same(const InfoItems& a, const InfoItems& b) {
  return a.Ser == b.Ser && a.Pcb == b.Pcb && a.Bat == b.Bat && a.Found == b.Found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> file(data, data + size);
  const InfoItems items = mvx::deviceops::ParseInfoFile(file);

  MVX_FUZZ_CHECK(items.Found >= 0 && items.Found <= 3);
  std::size_t limit = std::min(file.size(), mvx::deviceops::kInfoParseLimit);
  const std::vector<std::uint8_t> cut(file.begin(), file.begin() + static_cast<long>(limit));
  MVX_FUZZ_CHECK(Same(items, mvx::deviceops::ParseInfoFile(cut)));
  for (std::size_t i = 0; i < limit; ++i)
    if (file[i] == 0) limit = i;
  const std::vector<std::uint8_t> text(file.begin(), file.begin() + static_cast<long>(limit));
  MVX_FUZZ_CHECK(Same(items, mvx::deviceops::ParseInfoFile(text)));

  for (const std::string* item : {&items.Ser, &items.Pcb, &items.Bat}) {
    MVX_FUZZ_CHECK(item->find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    MVX_FUZZ_CHECK(item->size() <= mvx::deviceops::kInfoParseLimit);
    const std::string padded = mvx::deviceops::PadWithZeros(*item);
    MVX_FUZZ_CHECK(padded.size() == std::max<std::size_t>(item->size(), 12));
    MVX_FUZZ_CHECK(padded.compare(0, item->size(), *item) == 0);
    MVX_FUZZ_CHECK(padded.find_first_not_of('0', item->size()) == std::string::npos);
  }
  if (items.Found == 0) MVX_FUZZ_CHECK(items.Ser.empty() && items.Pcb.empty() && items.Bat.empty());

  const std::string pcb = mvx::deviceops::PadWithZeros(items.Pcb);
  const std::string bat = mvx::deviceops::PadWithZeros(items.Bat);
  const std::string ser = mvx::deviceops::PadWithZeros(items.Ser);
  const std::string command = mvx::deviceops::BuildSetSerialCommand(pcb, bat, ser);
  MVX_FUZZ_CHECK(command == "SSER " + pcb + " " + bat + " " + ser);

  return 0;
}
