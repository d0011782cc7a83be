#include "app/installer_form_win32.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "app/MainUnit.h"
#include "app/application_title.h"
#include "app/installer_form_controls.h"
#include "app/resources/resource_ids.h"
#include "app/single_instance_win32.h"
#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/manifest.h"

namespace app {
namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerInterval = 500;
constexpr COLORREF kMaroon = RGB(128, 0, 0);
constexpr COLORREF kStatusTextColour = RGB(255, 255, 255);
constexpr char kDesignCaption[] = "Installer";
constexpr char kFontFace[] = "MS Sans Serif";
// A dialog border with a title bar but no system menu, so no title-bar buttons.
constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | DS_MODALFRAME | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME;

// The records are filled in the image by the packing tool after the build; volatile reads keep
// the optimiser from answering them with the initial values it can see.
template <size_t N>
std::array<uint8_t, N> CopyFromImage(const uint8_t* bytes) {
  std::array<uint8_t, N> copy{};
  for (size_t i = 0; i < N; ++i) copy[i] = *static_cast<const volatile uint8_t*>(bytes + i);
  return copy;
}

std::string CaptionOf(const archive::PackageBlock& package) {
  return archive::StoredCaption(
      CopyFromImage<archive::kPackageHeadSize>(package.marker).data());
}

// DLGTEMPLATE, then empty menu and class arrays and the design-time title, in UTF-16 words.
std::vector<WORD> MakeDialogTemplate() {
  DLGTEMPLATE head{};
  head.style = kFormStyle;
  head.dwExtendedStyle = kFormExStyle;
  std::vector<WORD> words((sizeof(DLGTEMPLATE) + sizeof(WORD) - 1) / sizeof(WORD), 0);
  std::memcpy(words.data(), &head, sizeof(head));
  words.push_back(0);
  words.push_back(0);
  for (const char c : kDesignCaption) words.push_back(static_cast<WORD>(c));
  return words;
}

// A DIB section keeps the glyphs' alpha channel for GdiAlphaBlend. The background picture is
// run-length encoded, which a DIB section cannot hold: it becomes a bitmap of the screen's format.
enum class BitmapKind { kAlphaGlyphs, kRunLengthPicture };

HBITMAP LoadBitmapResource(HINSTANCE instance, int id, BitmapKind kind) {
  const UINT flags = kind == BitmapKind::kAlphaGlyphs ? LR_CREATEDIBSECTION : 0;
  return static_cast<HBITMAP>(
      LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, flags));
}

SIZE BitmapSize(HBITMAP bitmap) {
  BITMAP info{};
  GetObjectA(bitmap, sizeof(info), &info);
  return SIZE{info.bmWidth, info.bmHeight};
}

}  // namespace

TInstallerForm::TInstallerForm(archive::PackageBlock& package,
                               const archive::SettingsRecord& settings)
    : package_(package), settings_(settings) {}

TInstallerForm::~TInstallerForm() {
  if (handle_ && IsWindow(handle_)) DestroyWindow(handle_);
  if (ui_ && &host::Ui() == ui_.get()) host::InstallUi(nullptr);
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(background_brush_),
                         static_cast<HGDIOBJ>(back_bitmap_), static_cast<HGDIOBJ>(ok_glyphs_),
                         static_cast<HGDIOBJ>(cancel_glyphs_)}) {
    if (object) DeleteObject(object);
  }
}

bool TInstallerForm::Create(HINSTANCE instance) {
  instance_ = instance;
  HDC screen = GetDC(nullptr);
  if (screen) {
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  background_brush_ = CreateSolidBrush(kMaroon);
  font_ = CreateFontA(-Scale(kFontCharacterHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                      ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_SWISS, kFontFace);
  back_bitmap_ = LoadBitmapResource(instance, IDB_BACK_IMAGE, BitmapKind::kRunLengthPicture);
  ok_glyphs_ = LoadBitmapResource(instance, IDB_OK_GLYPHS, BitmapKind::kAlphaGlyphs);
  cancel_glyphs_ = LoadBitmapResource(instance, IDB_CANCEL_GLYPHS, BitmapKind::kAlphaGlyphs);

  template_ = MakeDialogTemplate();
  handle_ = CreateDialogIndirectParamA(
      instance, reinterpret_cast<LPCDLGTEMPLATEA>(template_.data()), nullptr,
      &TInstallerForm::DialogProc, reinterpret_cast<LPARAM>(this));
  if (!handle_) return false;
  focus_control_ = OKBtn;
  MarkInstallerForm(handle_);
  PlaceWindow();
  ShowWindow(handle_, SW_SHOW);
  // The one window of a program the user just started: bring it to the front with the focus.
  SetForegroundWindow(handle_);
  if (GetActiveWindow() == handle_) FocusPreferredControl();
  // The focus is shown from the start, not only after the first key press: Windows hides focus
  // rectangles of a window opened with the mouse until the keyboard is used.
  SendMessageA(handle_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  UpdateWindow(handle_);
  return true;
}

void TInstallerForm::RunMessageLoop() {
  MSG message;
  while (IsWindow(handle_) && GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (!TakeEnterKey(message) && !IsDialogMessageA(handle_, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (ui_ && ui_->end_requested()) break;
  }
}

INT_PTR CALLBACK TInstallerForm::DialogProc(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, DWLP_USER, lparam);
    reinterpret_cast<TInstallerForm*>(lparam)->handle_ = window;
  }
  auto* form = reinterpret_cast<TInstallerForm*>(GetWindowLongPtrA(window, DWLP_USER));
  if (!form) return FALSE;
  // Nothing may throw through the window procedure; an error here has no one to report to.
  try {
    return form->HandleMessage(message, wparam, lparam);
  } catch (...) {
    return FALSE;
  }
}

INT_PTR TInstallerForm::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      CreateControls();
      FormCreate();
      ApplySettings();
      Timer = SetTimer(handle_, kTimerId, kTimerInterval, nullptr);
      return FALSE;  // the focus is placed once the window is shown
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_TIMER:
      if (wparam == kTimerId) OnTimer();
      return TRUE;
    case WM_CLOSE:
      OnCloseRequest();
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(background_brush_);
    case WM_DRAWITEM:
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_SETCURSOR:
      return OnSetCursor();
    // The dialog manager's own focus keeping would restore a focus saved before OK became
    // available; under X the activation may come late, after the first tick.
    case WM_ACTIVATE:
      OnActivate(LOWORD(wparam) != WA_INACTIVE);
      return TRUE;
    case WM_SETFOCUS:
      FocusPreferredControl();
      return TRUE;
    case kUiRequestMessage:
      OnUiRequest(lparam);
      return TRUE;
    case kJobEndedMessage:
      OnJobEnded();
      return TRUE;
    default:
      return FALSE;
  }
}

void TInstallerForm::CreateControls() {
  // Creation order is the tab order: OK, then Cancel.
  // BS_NOTIFY: a focus change between them redraws OK's default-button frame.
  OKBtn = MakeChild("BUTTON", BS_OWNERDRAW | BS_NOTIFY | WS_TABSTOP, kOkButtonId, kOkButtonLeft,
                    kButtonTop, kButtonSize, kButtonSize);
  CancelBtn = MakeChild("BUTTON", BS_OWNERDRAW | BS_NOTIFY | WS_TABSTOP, kCancelButtonId,
                        kCancelButtonLeft, kButtonTop, kButtonSize, kButtonSize);
  StatusPanel = MakeChild("STATIC", SS_OWNERDRAW | SS_NOPREFIX, kStatusPanelId, 0,
                          kBackImageHeight, kClientWidth, kClientHeight - kBackImageHeight);
  BackImage = MakeChild("STATIC", SS_OWNERDRAW, kBackImageId, 0, 0, kClientWidth, kBackImageHeight);
  // The picture lies under the buttons.
  SetWindowPos(BackImage, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // The buttons show pictures only; their texts name them for accessibility tools.
  SetWindowTextA(OKBtn, "OK");
  SetWindowTextA(CancelBtn, "Cancel");
}

HWND TInstallerForm::MakeChild(const char* window_class, DWORD style, int id, int left, int top,
                               int width, int height) {
  // Edges are scaled, not sizes, so that neighbouring controls still meet after rounding.
  const int x = Scale(left);
  const int y = Scale(top);
  HWND child = CreateWindowExA(
      0, window_class, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, x, y,
      Scale(left + width) - x, Scale(top + height) - y, handle_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  if (child && font_) SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return child;
}

void TInstallerForm::FormCreate() {
  ui_ = std::make_unique<WindowUi>(handle_, ApplicationTitle(ProgramPath()));
  host::InstallUi(ui_.get());
  archive::SetArchiveMemory(package_.archive, archive::kArchiveCapacity);
  SetWindowTextA(handle_, CaptionOf(package_).c_str());
}

void TInstallerForm::ApplySettings() {
  const auto record = CopyFromImage<sizeof(archive::SettingsRecord)>(settings_.marker);
  job_kind_ = archive::StoredJob(record.data()) ==
                      static_cast<uint32_t>(archive::JobKind::kApplicationSetup)
                  ? archive::JobKind::kApplicationSetup
                  : archive::JobKind::kLibraryPackage;
  archive::SetArchiveKey(archive::StoredKey(record.data()));
}

void TInstallerForm::PlaceWindow() {
  const int width = Scale(kClientWidth);
  const int height = Scale(kClientHeight);
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  int outer_width = frame.right - frame.left;
  int outer_height = frame.bottom - frame.top;
  SetWindowPos(handle_, nullptr, 0, 0, outer_width, outer_height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
  // The frame drawn may differ from the one computed (a theme's caption height); correct once.
  RECT client{};
  GetClientRect(handle_, &client);
  outer_width += width - (client.right - client.left);
  outer_height += height - (client.bottom - client.top);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - outer_width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - outer_height) / 2;
  SetWindowPos(handle_, nullptr, left, top, outer_width, outer_height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void TInstallerForm::OnCommand(int control_id, int notification) {
  if (notification == BN_SETFOCUS || notification == BN_KILLFOCUS) {
    InvalidateRect(OKBtn, nullptr, FALSE);
    return;
  }
  if (notification != BN_CLICKED) return;
  if (control_id == kOkButtonId) OKBtnClick();
  if (control_id == kCancelButtonId) CancelBtnClick();
}

bool TInstallerForm::TakeEnterKey(const MSG& message) {
  if (message.message != WM_KEYDOWN || message.wParam != VK_RETURN) return false;
  if (message.hwnd != handle_ && !IsChild(handle_, message.hwnd)) return false;
  if (GetFocus() == CancelBtn) {
    CancelBtnClick();
  } else if (IsWindowEnabled(OKBtn)) {
    OKBtnClick();
  }
  return true;
}

void TInstallerForm::OKBtnClick() {
  // While a job runs a press does nothing at all: the manifest read would move the archive
  // reader under the running job.
  if (job_running_) return;
  // The manifest read already unscrambles data, so it waits for the block stream length.
  if (!timer_ticked_) {
    ok_pending_ = true;
    return;
  }
  archive::ReadManifest();
  job_running_ = true;
  UpdateOkButton();
  HWND form = handle_;
  try {
    StartInstallJob(job_kind_, [form] { PostMessageA(form, kJobEndedMessage, 0, 0); });
  } catch (...) {
    job_running_ = false;
    UpdateOkButton();
  }
}

void TInstallerForm::CancelBtnClick() { DestroyWindow(handle_); }

void TInstallerForm::OnTimer() {
  KillTimer(handle_, kTimerId);
  Timer = 0;
  if (timer_ticked_) return;
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  timer_ticked_ = true;
  if (ok_pending_) {
    ok_pending_ = false;
    OKBtnClick();
  }
}

void TInstallerForm::OnCloseRequest() {
  // While a box is up the window takes no input; a close request waits for the box to go.
  if (ui_ && ui_->box_shown()) {
    close_pending_ = true;
    return;
  }
  CancelBtnClick();
}

void TInstallerForm::OnUiRequest(LPARAM request) {
  ui_->HandleRequest(request);
  if (close_pending_ && !ui_->box_shown() && IsWindow(handle_)) {
    close_pending_ = false;
    CancelBtnClick();
  }
}

void TInstallerForm::OnJobEnded() {
  job_running_ = false;
  UpdateOkButton();
}

bool TInstallerForm::OnSetCursor() {
  if (!ui_ || !ui_->busy()) return false;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  SetWindowLongPtrA(handle_, DWLP_MSGRESULT, TRUE);
  return true;
}

void TInstallerForm::OnActivate(bool active) {
  if (active) {
    FocusPreferredControl();
    return;
  }
  HWND focus = GetFocus();
  if (focus == OKBtn || focus == CancelBtn) focus_control_ = focus;
}

void TInstallerForm::FocusPreferredControl() {
  HWND target = focus_control_ && IsWindowEnabled(focus_control_) ? focus_control_ : CancelBtn;
  if (target && GetFocus() != target) SetFocus(target);
}

void TInstallerForm::UpdateOkButton() {
  const bool available = !job_running_;
  if (available == (IsWindowEnabled(OKBtn) != FALSE)) return;
  if (!available) {
    // A disabled window loses the focus and the keyboard would reach nothing, Escape included.
    if (GetFocus() == OKBtn || focus_control_ == OKBtn) {
      focus_control_ = CancelBtn;
      focus_parked_ = true;
      if (GetFocus() == OKBtn) SetFocus(CancelBtn);
    }
    EnableWindow(OKBtn, FALSE);
    return;
  }
  EnableWindow(OKBtn, TRUE);
  if (focus_parked_) {
    focus_parked_ = false;
    focus_control_ = OKBtn;
    if (GetActiveWindow() == handle_) FocusPreferredControl();
  }
}

void TInstallerForm::OnDrawItem(const DRAWITEMSTRUCT& item) {
  switch (item.CtlID) {
    case kBackImageId:
      DrawBackImage(item);
      break;
    case kOkButtonId:
      // OK is the default button unless Cancel has the focus.
      DrawGlyphButton(item, ok_glyphs_, GetFocus() != CancelBtn);
      break;
    case kCancelButtonId:
      DrawGlyphButton(item, cancel_glyphs_, false);
      break;
    case kStatusPanelId:
      DrawStatusPanel(item);
      break;
    default:
      break;
  }
}

void TInstallerForm::DrawBackImage(const DRAWITEMSTRUCT& item) {
  const RECT& area = item.rcItem;
  if (!back_bitmap_) {
    FillRect(item.hDC, &area, background_brush_);
    return;
  }
  HDC source = CreateCompatibleDC(item.hDC);
  HGDIOBJ previous = SelectObject(source, back_bitmap_);
  const SIZE size = BitmapSize(back_bitmap_);
  SetStretchBltMode(item.hDC, HALFTONE);
  SetBrushOrgEx(item.hDC, 0, 0, nullptr);
  StretchBlt(item.hDC, area.left, area.top, area.right - area.left, area.bottom - area.top, source,
             0, 0, size.cx, size.cy, SRCCOPY);
  SelectObject(source, previous);
  DeleteDC(source);
}

void TInstallerForm::DrawGlyphButton(const DRAWITEMSTRUCT& item, HBITMAP glyphs,
                                     bool is_default) {
  RECT area = item.rcItem;
  const bool pushed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  if (is_default && !disabled) {
    // The default button's dark outline, as a standard push button draws it.
    FrameRect(item.hDC, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&area, -1, -1);
  }
  DrawFrameControl(item.hDC, &area, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
  if (glyphs) {
    // The strip holds the normal picture and, to its right, the one shown while disabled.
    const SIZE strip = BitmapSize(glyphs);
    const int cell = strip.cx / 2;
    const int size = Scale(kGlyphSize);
    const int shift = pushed ? 1 : 0;
    const int left = area.left + (area.right - area.left - size) / 2 + shift;
    const int top = area.top + (area.bottom - area.top - size) / 2 + shift;
    HDC source = CreateCompatibleDC(item.hDC);
    HGDIOBJ previous = SelectObject(source, glyphs);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    // GDI's own export: msimg32, which exports it as AlphaBlend, is no KnownDLL, and an import
    // of it would be looked for next to the installer first.
    GdiAlphaBlend(item.hDC, left, top, size, size, source, disabled ? cell : 0, 0, cell, strip.cy,
                  blend);
    SelectObject(source, previous);
    DeleteDC(source);
  }
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
    InflateRect(&area, -Scale(5), -Scale(5));
    DrawFocusRect(item.hDC, &area);
  }
}

void TInstallerForm::DrawStatusPanel(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, background_brush_);
  char text[512] = {};
  const int length = GetWindowTextA(item.hwndItem, text, sizeof(text));
  // The border width insets the text from the panel's edges; one line, centred vertically.
  RECT area = item.rcItem;
  area.left += Scale(kStatusInset);
  area.right -= Scale(kStatusInset);
  HGDIOBJ previous = SelectObject(item.hDC, font_);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, kStatusTextColour);
  DrawTextA(item.hDC, text, length, &area,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  SelectObject(item.hDC, previous);
}

int TInstallerForm::Scale(int pixels_at_120_dpi) const {
  return MulDiv(pixels_at_120_dpi, dpi_, kLayoutDpi);
}

std::string ProgramPath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, std::min<DWORD>(length, MAX_PATH));
}

}  // namespace app
