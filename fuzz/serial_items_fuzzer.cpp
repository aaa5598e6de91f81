// The splitting of the device's "GSER" answer into items, both as the
// identification reads it and as the serial-number restore reads it.
//
// Properties: items never hold the zero byte that ends the text, appear in
// the text in their order without overlapping, and an item outside quotes
// holds neither a comma nor a blank or control character; the restore's
// fields hold no blank or control character and the answer is complete
// exactly when it has three of them.
#include "deviceops/file_exchange.h"
#include "fuzz/fuzz_support.h"
#include "sequencer/device_text.h"

namespace {

bool HasSeparator(std::string_view item) {
  for (char c : item)
    if (static_cast<unsigned char>(c) <= 32) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view answer(reinterpret_cast<const char*>(data), size);
  const std::string_view text = answer.substr(0, answer.find('\0'));
  const bool quoted = text.find('"') != std::string_view::npos;

  const std::vector<std::string> items = mvx::SplitItems(answer);
  MVX_FUZZ_CHECK(items.size() <= text.size());
  std::size_t from = 0;
  for (const std::string& item : items) {
    MVX_FUZZ_CHECK(item.find('\0') == std::string::npos);
    const std::size_t at = text.find(item, from);
    MVX_FUZZ_CHECK(at != std::string_view::npos);
    from = at + item.size();
    if (!quoted) {
      MVX_FUZZ_CHECK(item.find(',') == std::string::npos);
      MVX_FUZZ_CHECK(!HasSeparator(item));
    }
  }
  // Splitting stops at the zero byte: what follows it never matters.
  MVX_FUZZ_CHECK(mvx::SplitItems(text) == items);

  const mvx::deviceops::SerialInfo serial = mvx::deviceops::ParseSerialAnswer(answer);
  int fields = 0;
  for (const std::string* field : {&serial.Pcb, &serial.Bat, &serial.Serial}) {
    MVX_FUZZ_CHECK(!HasSeparator(*field));
    MVX_FUZZ_CHECK(field->size() <= answer.size());
    if (!field->empty()) ++fields;
  }
  MVX_FUZZ_CHECK(serial.Complete == (fields == 3));
  return 0;
}
