// The operator's boxes that the system message box cannot make: the
// warning-type and error-type dialogs with their own titles and button texts
// (the same on every Windows language) and the input box. Each is a dialog
// built in memory, laid out for its text when it opens, and modal: the
// thread's timers and posted calls go on being delivered while it is open.
#pragma once

#include <string>
#include <vector>

#include "base/windows_api.h"

namespace mvx {

struct DialogButton {
  int Id;             // what the dialog returns when it is pressed
  std::wstring Text;  // with "&" before the access key
};

struct DialogSpec {
  std::wstring Caption;
  std::wstring Text;
  LPCWSTR Icon = nullptr;  // a system icon (IDI_WARNING, IDI_ERROR) or none
  std::vector<DialogButton> Buttons;
  int DefaultId = 0;
  int EscapeId = 0;       // what closing the dialog (Esc, the close box) returns
  bool WithEdit = false;  // an empty edit field under the text (the input box)
};

// Shows the dialog owned by owner; the pressed button's id, and the edit
// field's text when it has one.
int ShowDialog(HWND owner, const DialogSpec& spec, std::wstring* edit_text = nullptr);

// The dialog ids of the controls, for whoever drives a dialog from outside.
inline constexpr int kDialogTextId = 100;
inline constexpr int kDialogEditId = 101;
inline constexpr int kDialogIconId = 102;

}  // namespace mvx
