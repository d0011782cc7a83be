// The installer's one window, `InstallerForm`: a modeless dialog made from an in-memory template,
// its controls placed in pixels for a 120-dpi screen and scaled to the screen's setting.
//
// OK has the focus when the window opens and is the default button; Escape and a close request
// from outside act as Cancel. Both buttons are owner-drawn, and the dialog manager never gives an
// owner-drawn button the default role: it would send IDOK for every Enter, whichever button has
// the focus. So the message loop takes Enter itself and gives it to the button that has the
// focus (to OK otherwise); Space is the focused button's own.
//
// A press of OK before the first timer tick is remembered and carried out right after the tick,
// once the block stream length is in force. While a job runs OK is unavailable (disabled, its
// disabled picture shown) and a press of it does nothing; the job tells the window through a
// posted message when its thread ended without ending the program.
#pragma once

#include <memory>
#include <vector>

#include "app/window_ui_win32.h"
#include "archive/package_block.h"
#include "archive/settings_record.h"
#include "host/win32.h"

namespace app {

class TInstallerForm {
 public:
  // Neither record is copied: the form reads the caption and points the archive reader at the
  // package's archive area, which must outlive the form.
  TInstallerForm(archive::PackageBlock& package, const archive::SettingsRecord& settings);
  ~TInstallerForm();
  TInstallerForm(const TInstallerForm&) = delete;
  TInstallerForm& operator=(const TInstallerForm&) = delete;

  // Creates the window on the calling thread, which becomes the interface thread (FormCreate runs
  // during creation), then centres and shows it. False when the window could not be created.
  bool Create(HINSTANCE instance);
  // Runs the message loop until EndProgram or the closing of the window ends it.
  void RunMessageLoop();

  HWND handle() const { return handle_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  void FormCreate();
  void OKBtnClick();
  void CancelBtnClick();
  void OnTimer();

  void CreateControls();
  void ApplySettings();
  void PlaceWindow();
  void OnCommand(int control_id, int notification);
  bool TakeEnterKey(const MSG& message);
  void OnCloseRequest();
  void OnUiRequest(LPARAM request);
  void OnJobEnded();
  bool OnSetCursor();
  void OnActivate(bool active);
  void FocusPreferredControl();
  void UpdateOkButton();
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  void DrawBackImage(const DRAWITEMSTRUCT& item);
  void DrawGlyphButton(const DRAWITEMSTRUCT& item, HBITMAP glyphs, bool is_default);
  void DrawStatusPanel(const DRAWITEMSTRUCT& item);
  int Scale(int pixels_at_120_dpi) const;
  HWND MakeChild(const char* window_class, DWORD style, int id, int left, int top, int width,
                 int height);

  archive::PackageBlock& package_;
  const archive::SettingsRecord& settings_;
  archive::JobKind job_kind_ = archive::JobKind::kLibraryPackage;
  HINSTANCE instance_ = nullptr;
  HWND handle_ = nullptr;
  int dpi_ = 96;
  std::vector<WORD> template_;
  std::unique_ptr<WindowUi> ui_;

  HWND BackImage = nullptr;
  HWND OKBtn = nullptr;
  HWND CancelBtn = nullptr;
  HWND StatusPanel = nullptr;
  UINT_PTR Timer = 0;

  HFONT font_ = nullptr;
  HBRUSH background_brush_ = nullptr;
  HBITMAP back_bitmap_ = nullptr;
  HBITMAP ok_glyphs_ = nullptr;
  HBITMAP cancel_glyphs_ = nullptr;

  bool timer_ticked_ = false;
  // OK was pressed before the first tick; the press is carried out right after it.
  bool ok_pending_ = false;
  bool job_running_ = false;
  // The control that takes the focus whenever the window is activated: the one that had it when
  // the window was last deactivated, or OK once it becomes available after the focus was parked.
  HWND focus_control_ = nullptr;
  // The focus waits on Cancel because OK was unavailable while a job ran; it goes back to OK
  // when OK is available again.
  bool focus_parked_ = false;
  // A close request came while a message box was up; it is carried out once the box is gone.
  bool close_pending_ = false;
};

// The path of the running program, for the title of its message boxes.
std::string ProgramPath();

}  // namespace app
