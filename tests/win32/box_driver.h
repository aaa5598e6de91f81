// Drives the real boxes of the Win32 shell as an operator would: a timer of
// the platform's loop (which a modal box keeps running) looks for the next
// dialog window of the thread, records its title, text and buttons, and
// presses the chosen button.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/win32_platform.h"

namespace mvx::test {

struct BoxSeen {
  bool Shown = false;
  std::wstring Title, Text;
  std::vector<std::wstring> Buttons;  // in creation order
};

class BoxDriver {
 public:
  explicit BoxDriver(Win32Platform& platform);
  // The next box that opens (after those answered before): record it into
  // seen, type text into its edit field (when given) and press the button
  // whose text, less its "&", is button, or else whose id is button_id.
  void Answer(BoxSeen* seen, std::wstring button, int button_id = 0, std::wstring type = {});

 private:
  struct Pending {
    BoxSeen* Seen;
    std::wstring Button;
    int ButtonId;
    std::wstring Type;
  };
  void Poll();
  std::unique_ptr<ITimerSource> poll_;
  std::deque<Pending> pending_;
  HWND last_ = nullptr;  // the box answered last, until it has closed
  Win32Platform& platform_;
};

}  // namespace mvx::test
