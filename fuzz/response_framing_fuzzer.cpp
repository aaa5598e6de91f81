// The framing of one input report into a response, alone and through the
// main window's data handler.
//
// Properties: the text never grows past the report and is a prefix of the
// counted line, which is a prefix of the report; a device packet is taken
// whole; a line answer stops before its first terminator; the handler leaves
// exactly that text and logs it with every byte printable.
#include "fuzz/fuzz_support.h"
#include "hid/response_framing.h"
#include "protocol/packet.h"
#include "scripted/form_bench.h"

namespace {

bool IsPrefix(std::string_view part, std::string_view whole) {
  return part.size() <= whole.size() && whole.substr(0, part.size()) == part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A report is at most 16 bits long.
  if (size > 0xFFFF) return 0;
  static mvx::FormBench bench;
  const std::string_view report(reinterpret_cast<const char*>(data), size);

  const mvx::FramedResponse framed = mvx::FrameResponse(report);
  MVX_FUZZ_CHECK(IsPrefix(framed.Line, report));
  MVX_FUZZ_CHECK(IsPrefix(framed.Text, framed.Line));
  MVX_FUZZ_CHECK(framed.Text.size() <= report.size());
  // The views point into the report itself, never elsewhere.
  MVX_FUZZ_CHECK(framed.Line.empty() || framed.Line.data() == report.data());

  const bool line_answer =
      report.find("OK") != std::string_view::npos || report.find("NG") != std::string_view::npos;
  const bool job_answer = !line_answer && (report.find("filecmd") != std::string_view::npos ||
                                           report.find("act_finfo") != std::string_view::npos ||
                                           report.find("--boot") != std::string_view::npos);
  if (mvx::protocol::IsDevicePacket(report)) {
    MVX_FUZZ_CHECK(framed.Text == report);
  } else if (line_answer || job_answer) {
    const std::string_view terminator = line_answer ? "\r\n" : "\n";
    const std::size_t at = report.find(terminator);
    if (at != std::string_view::npos) {
      MVX_FUZZ_CHECK(framed.Text == report.substr(0, at));
      MVX_FUZZ_CHECK(framed.Line.size() == at + terminator.size());
    } else {
      // No terminator: the last bytes of the report go in its place.
      MVX_FUZZ_CHECK(framed.Line == report);
      MVX_FUZZ_CHECK(framed.Text.size() + std::min(terminator.size(), report.size()) ==
                     report.size());
    }
  } else {
    MVX_FUZZ_CHECK(framed.Text == report);
  }

  bench.Form.Memo1.Clear();
  bench.Form.ResponseReceived = false;
  bench.Respond(report);
  MVX_FUZZ_CHECK(bench.Form.ResponseReceived);
  MVX_FUZZ_CHECK(bench.Form.ResponseText == framed.Text);
  const std::vector<std::string> received = bench.ReceivedLines();
  MVX_FUZZ_CHECK(received.size() == 1);
  const std::string& logged = received.front();
  // Three characters per byte of the line, one less for the last, then "-"
  // and the text with every byte shown printable (trailing blanks trimmed).
  const std::size_t hex_length = framed.Line.empty() ? 0 : framed.Line.size() * 3 - 1;
  MVX_FUZZ_CHECK(logged.size() >= hex_length + 1);
  MVX_FUZZ_CHECK(logged.size() <= hex_length + 1 + framed.Text.size());
  MVX_FUZZ_CHECK(logged[hex_length] == '-');
  for (std::size_t i = hex_length + 1; i < logged.size(); ++i)
    MVX_FUZZ_CHECK(logged[i] >= 0x20 && logged[i] <= 0x7E);
  return 0;
}
