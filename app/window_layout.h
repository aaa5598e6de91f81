// Where the main window's controls stand, in pixels of its client area: the
// 280 x 111 strip under the menu that the operator sees (Label1 and
// ProgressBar1), and every other control beyond its edges, with the kind of
// widget each is. Both shells make and lay out the window's controls from
// this table, in its order (the tab order).
#pragma once

#include <string_view>

namespace mvx {

inline constexpr int kStripWidth = 280;
inline constexpr int kStripHeight = 111;
// A Windows menu bar's height at 96 dots per inch.
inline constexpr int kMenuHeight = 19;

// Note: a label in the highlight colour (the clipboard message); Status: a
// bold green label (the version-up's and the format's results).
enum class ControlKind { Label, NoteLabel, StatusLabel, ProgressBar, Log, CheckBox, Button };

struct ControlPlace {
  std::string_view Name;
  ControlKind Kind;
  int Left, Top;
  int Width = 0, Height = 0;  // 0: as large as its text
};

inline constexpr ControlPlace kControlPlaces[] = {
    {"Label1", ControlKind::Label, 20, 12},
    {"ProgressBar1", ControlKind::ProgressBar, 20, 52, 229, 25},
    {"Label3", ControlKind::Label, 20, 116},
    {"LabelCurrentVersion", ControlKind::Label, 120, 116},
    {"LabelFilename", ControlKind::Label, 188, 116},
    {"Label2", ControlKind::Label, 20, 132},
    {"LabelModelName", ControlKind::Label, 120, 132},
    {"Label4", ControlKind::Label, 188, 132},
    {"LabelUpdateVersion", ControlKind::Label, 288, 132},
    {"Label5", ControlKind::Label, 20, 148},
    {"LabelSerialNumber", ControlKind::Label, 120, 148},
    {"LabelClipboardCopyMessage", ControlKind::NoteLabel, 56, 164},
    {"Memo1", ControlKind::Log, 28, 188, 829, 377},
    {"CheckBoxFileFormat", ControlKind::CheckBox, 540, 36, 273, 17},
    {"CheckBoxSarSdfVersionup", ControlKind::CheckBox, 540, 64, 273, 17},
    {"LabelVersionupStatus", ControlKind::StatusLabel, 540, 112},
    {"LabelFormatStatus", ControlKind::StatusLabel, 540, 136},
    {"Label6", ControlKind::Label, 432, 312},
    {"SpeedButton1", ControlKind::Button, 736, 584, 85, 22},
};

// The place of a control by name; a control missing from the table is a
// programming error and stands at the strip's corner.
constexpr ControlPlace PlaceOf(std::string_view name) {
  for (const ControlPlace& place : kControlPlaces)
    if (place.Name == name) return place;
  return ControlPlace{name, ControlKind::Label, 0, 0};
}

}  // namespace mvx
