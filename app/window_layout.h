// Where the main window's controls stand, in pixels of its client area: the
// 280 x 111 strip under the menu that the operator sees (Label1 and
// ProgressBar1), and every other control beyond its edges. Both shells lay
// the window out from this table.
#pragma once

#include <string_view>

namespace mvx {

inline constexpr int kStripWidth = 280;
inline constexpr int kStripHeight = 111;
// A Windows menu bar's height at 96 dots per inch.
inline constexpr int kMenuHeight = 19;

struct ControlPlace {
  std::string_view Name;
  int Left, Top;
  int Width = 0, Height = 0;  // 0: as large as its text
};

inline constexpr ControlPlace kControlPlaces[] = {
    {"Label1", 20, 12},
    {"ProgressBar1", 20, 52, 229, 25},
    {"Label3", 20, 116},
    {"LabelCurrentVersion", 120, 116},
    {"LabelFilename", 188, 116},
    {"Label2", 20, 132},
    {"LabelModelName", 120, 132},
    {"Label4", 188, 132},
    {"LabelUpdateVersion", 288, 132},
    {"Label5", 20, 148},
    {"LabelSerialNumber", 120, 148},
    {"LabelClipboardCopyMessage", 56, 164},
    {"Memo1", 28, 188, 829, 377},
    {"CheckBoxFileFormat", 540, 36, 273, 17},
    {"CheckBoxSarSdfVersionup", 540, 64, 273, 17},
    {"LabelVersionupStatus", 540, 112},
    {"LabelFormatStatus", 540, 136},
    {"Label6", 432, 312},
    {"SpeedButton1", 736, 584, 85, 22},
};

// The place of a control by name; a control missing from the table is a
// programming error and stands at the strip's corner.
constexpr ControlPlace PlaceOf(std::string_view name) {
  for (const ControlPlace& place : kControlPlaces)
    if (place.Name == name) return place;
  return ControlPlace{name, 0, 0};
}

}  // namespace mvx
