// Control identifiers of the installer window. Portable (no Win32 header) so that programs which
// drive the window from outside can find its controls with GetDlgItem.
#pragma once

namespace app {

// The button identifiers are the dialog manager's own: Enter sends IDOK (1), Escape IDCANCEL (2).
constexpr int kOkButtonId = 1;
constexpr int kCancelButtonId = 2;
constexpr int kStatusPanelId = 100;
constexpr int kBackImageId = 101;

// Layout in pixels for a screen of 120 dots per inch; the window scales every value by
// LOGPIXELSY / 120.
constexpr int kLayoutDpi = 120;
constexpr int kClientWidth = 465;
constexpr int kClientHeight = 98;
constexpr int kBackImageHeight = 80;
constexpr int kButtonTop = 16;
constexpr int kOkButtonLeft = 348;
constexpr int kCancelButtonLeft = 408;
constexpr int kButtonSize = 45;
constexpr int kGlyphSize = 18;
constexpr int kStatusPanelHeight = 18;
constexpr int kStatusInset = 4;
constexpr int kFontCharacterHeight = 13;

// Window messages the form posts to itself (WM_APP = 0x8000).
constexpr unsigned kUiRequestMessage = 0x8000 + 1;
constexpr unsigned kJobEndedMessage = 0x8000 + 2;

}  // namespace app
