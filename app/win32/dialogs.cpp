#include "app/win32/dialogs.h"

#include <algorithm>

namespace mvx {
namespace {

// A DLGTEMPLATE with its items, built as the dialog manager reads it: WORDs,
// every item starting on a DWORD boundary.
class DialogTemplate {
 public:
  DialogTemplate(const std::wstring& caption, WORD items) {
    Dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    Dword(0);  // extended style
    data_.push_back(items);
    for (int i = 0; i < 4; ++i) data_.push_back(0);  // x, y, cx, cy: laid out on opening
    data_.push_back(0);                              // no menu
    data_.push_back(0);                              // the standard dialog class
    Text(caption);
    data_.push_back(9);  // points
    Text(L"MS Shell Dlg");
  }

  void Item(DWORD style, WORD id, WORD class_atom, const std::wstring& text) {
    if (data_.size() % 2 != 0) data_.push_back(0);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (int i = 0; i < 4; ++i) data_.push_back(0);
    data_.push_back(id);
    data_.push_back(0xFFFF);
    data_.push_back(class_atom);
    Text(text);
    data_.push_back(0);  // no creation data
  }

  LPCDLGTEMPLATEW Get() const { return reinterpret_cast<LPCDLGTEMPLATEW>(data_.data()); }

 private:
  void Dword(DWORD value) {
    data_.push_back(LOWORD(value));
    data_.push_back(HIWORD(value));
  }
  void Text(const std::wstring& text) {
    data_.insert(data_.end(), text.begin(), text.end());
    data_.push_back(0);
  }
  std::vector<WORD> data_;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;

struct DialogState {
  const DialogSpec* Spec;
  std::wstring* EditText;
};

// Places the controls for the text the dialog shows, in pixels.
void LayOut(HWND dialog, const DialogSpec& spec) {
  const int margin = 12, gap = 8, icon_size = 32, button_width = 88, button_height = 26;
  const int edit_height = 24;
  HWND text = GetDlgItem(dialog, kDialogTextId);
  HDC dc = GetDC(text);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(text, WM_GETFONT, 0, 0)));
  RECT measured{0, 0, 420, 0};
  DrawTextW(dc, spec.Text.c_str(), static_cast<int>(spec.Text.size()), &measured,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(text, dc);

  const int text_left = margin + (spec.Icon != nullptr ? icon_size + gap + 4 : 0);
  const int text_width = std::max<int>(measured.right, spec.WithEdit ? 260 : 120);
  const int text_height = std::max<int>(measured.bottom, spec.Icon != nullptr ? icon_size : 0);
  MoveWindow(text, text_left, margin, text_width, text_height, FALSE);
  if (spec.Icon != nullptr)
    MoveWindow(GetDlgItem(dialog, kDialogIconId), margin, margin, icon_size, icon_size, FALSE);
  int y = margin + text_height + gap;
  if (spec.WithEdit) {
    MoveWindow(GetDlgItem(dialog, kDialogEditId), text_left, y, text_width, edit_height, FALSE);
    y += edit_height + gap;
  }
  const int buttons = static_cast<int>(spec.Buttons.size());
  const int row_width = buttons * button_width + (buttons - 1) * gap;
  const int client_width = std::max(text_left + text_width, margin + row_width) + margin;
  int x = client_width - margin - row_width;
  for (const DialogButton& button : spec.Buttons) {
    MoveWindow(GetDlgItem(dialog, button.Id), x, y + gap, button_width, button_height, FALSE);
    x += button_width + gap;
  }
  RECT frame{0, 0, client_width, y + gap + button_height + margin};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  // Centred over the owner, or over the screen's work area without one.
  RECT around{};
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner == nullptr || !GetWindowRect(owner, &around))
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
  SetWindowPos(dialog, nullptr, around.left + (around.right - around.left - width) / 2,
               around.top + (around.bottom - around.top - height) / 2, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      const auto* state = reinterpret_cast<const DialogState*>(lparam);
      const DialogSpec& spec = *state->Spec;
      if (spec.Icon != nullptr)
        SendDlgItemMessageW(dialog, kDialogIconId, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconW(nullptr, spec.Icon)), 0);
      LayOut(dialog, spec);
      if (spec.DefaultId != 0) SendMessageW(dialog, DM_SETDEFID, spec.DefaultId, 0);
      const int focus = spec.WithEdit ? kDialogEditId : spec.DefaultId;
      if (focus != 0) {
        SetFocus(GetDlgItem(dialog, focus));
        return FALSE;  // the focus is set
      }
      return TRUE;
    }
    case WM_COMMAND: {
      const auto* state =
          reinterpret_cast<const DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
      if (state == nullptr || HIWORD(wparam) != BN_CLICKED) return FALSE;
      int id = LOWORD(wparam);
      if (id == IDCANCEL) id = state->Spec->EscapeId;  // Esc or the close box
      const bool is_button = std::any_of(state->Spec->Buttons.begin(), state->Spec->Buttons.end(),
                                         [id](const DialogButton& b) { return b.Id == id; });
      if (!is_button) return FALSE;
      if (state->EditText != nullptr && state->Spec->WithEdit) {
        HWND edit = GetDlgItem(dialog, kDialogEditId);
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
        *state->EditText = std::move(text);
      }
      EndDialog(dialog, id);
      return TRUE;
    }
    case WM_CLOSE: {
      const auto* state =
          reinterpret_cast<const DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
      EndDialog(dialog, state != nullptr ? state->Spec->EscapeId : IDCANCEL);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

int ShowDialog(HWND owner, const DialogSpec& spec, std::wstring* edit_text) {
  const WORD items = static_cast<WORD>(1 + (spec.Icon != nullptr ? 1 : 0) +
                                       (spec.WithEdit ? 1 : 0) + spec.Buttons.size());
  DialogTemplate dialog(spec.Caption, items);
  dialog.Item(SS_LEFT | SS_NOPREFIX, kDialogTextId, kStaticAtom, spec.Text);
  if (spec.Icon != nullptr) dialog.Item(SS_ICON, kDialogIconId, kStaticAtom, L"");
  if (spec.WithEdit)
    dialog.Item(WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, kDialogEditId, kEditAtom, L"");
  for (const DialogButton& button : spec.Buttons) {
    const DWORD kind = button.Id == spec.DefaultId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    dialog.Item(kind | WS_TABSTOP, static_cast<WORD>(button.Id), kButtonAtom, button.Text);
  }
  DialogState state{&spec, edit_text};
  const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner,
                                                 DialogProcedure, reinterpret_cast<LPARAM>(&state));
  return result <= 0 ? spec.EscapeId : static_cast<int>(result);
}

}  // namespace mvx
