#include "tests/e2e/driver_support.h"
#include "tests/support/start_process_win32.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace e2e {
namespace {

constexpr UINT kSendPatienceMs = 60'000;

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string UniqueName(const char* role) {
  static std::atomic<unsigned> counter{0};
  std::ostringstream name;
  name << "Local\\setup-e2e-" << GetCurrentProcessId() << "-" << counter++ << "-" << role;
  return name.str();
}

// The driver's environment with `overrides` added or replacing (names compared without case),
// as a block for CreateProcessA.
std::vector<char> EnvironmentBlock(const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> entries;
  char* own = GetEnvironmentStringsA();
  for (const char* entry = own; entry && *entry; entry += std::strlen(entry) + 1) {
    const std::string text(entry);
    const size_t equals = text.find('=', 1);
    const std::string name = text.substr(0, equals);
    const bool replaced = std::any_of(overrides.begin(), overrides.end(),
                                      [&](const auto& item) { return SameText(item.first, name); });
    if (!replaced) entries.push_back(text);
  }
  if (own) FreeEnvironmentStringsA(own);
  for (const auto& [name, value] : overrides) entries.push_back(name + "=" + value);
  std::vector<char> block;
  for (const std::string& entry : entries) {
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back('\0');
  }
  block.push_back('\0');
  return block;
}

struct FoundWindows {
  DWORD process_id;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM context) {
  auto* found = reinterpret_cast<FoundWindows*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == found->process_id && IsWindowVisible(window) && WindowClass(window) == "#32770") {
    found->windows.push_back(window);
  }
  return TRUE;
}

std::vector<HWND> VisibleDialogs(DWORD process_id) {
  FoundWindows found{process_id, {}};
  EnumWindows(&CollectProcessWindow, reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM context) {
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
  return TRUE;
}

}  // namespace

DriverPaths& Paths() {
  static DriverPaths paths;
  return paths;
}

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string result = "Z:" + path;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

bool ReadPathOptions(int argc, char** argv, const char* suite,
                     std::initializer_list<PathOption> options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    for (const auto& [prefix, value] : options) {
      if (argument.rfind(prefix, 0) == 0) {
        *value = WindowsPath(argument.substr(std::strlen(prefix)));
      }
    }
  }
  for (const auto& [prefix, value] : options) {
    if (value->empty()) {
      std::fprintf(stderr, "%s: missing %s\n", suite, prefix);
      return false;
    }
  }
  return true;
}

bool HasDisplay(const char* suite) {
  char display[256] = {};
  if (GetEnvironmentVariableA("DISPLAY", display, sizeof(display)) != 0) return true;
  std::printf("%s: cannot run: DISPLAY is not set; the suite needs an X display (for example "
              "Xvfb, as scripts/test.sh starts)\n",
              suite);
  return false;
}

bool WaitFor(const std::function<bool()>& condition, HANDLE wake,
             std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (wake) {
      // Once the awaited process has ended nothing more will change.
      if (WaitForSingleObject(wake, 20) == WAIT_OBJECT_0) return condition();
    } else {
      Sleep(20);
    }
  }
}

std::string Quote(const std::string& argument) { return "\"" + argument + "\""; }

int RunProgram(const std::string& command_line, std::string& output) {
  output.clear();
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return -1;
  host::win32::UniqueHandle reader(read_end);
  host::win32::UniqueHandle writer(write_end);
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION info{};
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  if (!testing_support::CreateProcessOverWineDefect(command_line, [&] {
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                              nullptr, nullptr, &startup, &info);
      })) {
    output = "cannot start: " + host::win32::ErrorText(GetLastError());
    return -1;
  }
  host::win32::UniqueHandle process(info.hProcess);
  CloseHandle(info.hThread);
  writer.reset();
  char buffer[4096];
  DWORD count = 0;
  while (ReadFile(read_end, buffer, sizeof(buffer), &count, nullptr) && count > 0) {
    output.append(buffer, count);
  }
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

ChildSignals::ChildSignals(const std::string& folder, bool gated)
    : report_path_(folder + "\\child-report.txt"),
      started_name_(UniqueName("started")),
      gate_name_(gated ? UniqueName("gate") : std::string()),
      started_(CreateEventA(nullptr, TRUE, FALSE, started_name_.c_str())),
      gate_(gated ? CreateEventA(nullptr, TRUE, FALSE, gate_name_.c_str()) : nullptr) {}

std::map<std::string, std::string> ChildSignals::Environment() const {
  std::map<std::string, std::string> variables = {{"SETUP_E2E_CHILD_REPORT", report_path_},
                                                  {"SETUP_E2E_CHILD_STARTED", started_name_}};
  if (!gate_name_.empty()) variables["SETUP_E2E_CHILD_GATE"] = gate_name_;
  return variables;
}

bool ChildSignals::WaitStarted(std::chrono::milliseconds patience) const {
  return WaitForSingleObject(started_.get(), static_cast<DWORD>(patience.count())) ==
         WAIT_OBJECT_0;
}

void ChildSignals::OpenGate() const {
  if (gate_.valid()) SetEvent(gate_.get());
}

std::string ChildSignals::Report() const {
  std::ifstream in(report_path_, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

InstallerRun::InstallerRun(const std::string& program,
                           const std::map<std::string, std::string>& environment) {
  std::vector<char> block = EnvironmentBlock(environment);
  std::string command = Quote(program);
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  const std::string folder = program.substr(0, program.find_last_of('\\'));
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (testing_support::CreateProcessOverWineDefect(program, [&] {
        return CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                              block.data(), folder.c_str(), &startup, &info);
      })) {
    process_.reset(info.hProcess);
    thread_.reset(info.hThread);
    process_id_ = info.dwProcessId;
    thread_id_ = info.dwThreadId;
  }
}

InstallerRun::~InstallerRun() {
  if (Running()) {
    TerminateProcess(process_.get(), 99);
    WaitForSingleObject(process_.get(), static_cast<DWORD>(kPatience.count()));
  }
}

bool InstallerRun::Running() const {
  return process_.valid() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

HWND InstallerRun::WaitForForm() {
  if (!process_.valid()) return nullptr;
  WaitForInputIdle(process_.get(), static_cast<DWORD>(kPatience.count()));
  WaitFor(
      [&] {
        const std::vector<HWND> dialogs = VisibleDialogs(process_id_);
        form_ = dialogs.empty() ? nullptr : dialogs.front();
        return form_ != nullptr;
      },
      process_.get());
  return form_;
}

HWND InstallerRun::Control(int id) const { return form_ ? GetDlgItem(form_, id) : nullptr; }

std::vector<SeenMessageBox> InstallerRun::MessageBoxesNow() const {
  std::vector<SeenMessageBox> boxes;
  for (HWND dialog : VisibleDialogs(process_id_)) {
    if (dialog == form_) continue;
    SeenMessageBox box;
    box.handle = dialog;
    char title[256] = {};
    GetWindowTextA(dialog, title, sizeof(title));
    box.title = title;
    std::vector<HWND> children;
    EnumChildWindows(dialog, &CollectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
      if (SameText(WindowClass(child), "Static")) {
        const std::string text = ControlText(child);
        if (!text.empty()) {
          box.text = text;
          break;
        }
      }
    }
    boxes.push_back(box);
  }
  return boxes;
}

std::optional<SeenMessageBox> InstallerRun::WaitForMessageBox() {
  std::optional<SeenMessageBox> seen;
  WaitFor(
      [&] {
        const std::vector<SeenMessageBox> boxes = MessageBoxesNow();
        // A box is complete once its text control has its text.
        if (!boxes.empty() && !boxes.front().text.empty()) seen = boxes.front();
        return seen.has_value();
      },
      process_.get());
  return seen;
}

bool InstallerRun::Click(HWND button) const {
  DWORD_PTR result = 0;
  return button && SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, kSendPatienceMs,
                                       &result) != 0;
}

void InstallerRun::PressKey(WORD virtual_key) const {
  HWND target = FocusedWindow();
  if (!target) target = form_;
  const UINT scan = MapVirtualKeyA(virtual_key, 0);
  PostMessageA(target, WM_KEYDOWN, virtual_key, static_cast<LPARAM>(1 | (scan << 16)));
  PostMessageA(target, WM_KEYUP, virtual_key, static_cast<LPARAM>(1 | (scan << 16) | 0xC0000000u));
}

HWND InstallerRun::FocusedWindow() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(thread_id_, &info) ? info.hwndFocus : nullptr;
}

std::optional<DWORD> InstallerRun::WaitForExit(std::chrono::milliseconds patience) const {
  if (!process_.valid() ||
      WaitForSingleObject(process_.get(), static_cast<DWORD>(patience.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

std::string ControlText(HWND control) {
  char text[1024] = {};
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                           SMTO_NORMAL, kSendPatienceMs, &result)) {
    return {};
  }
  return std::string(text, std::min<size_t>(result, sizeof(text) - 1));
}

std::string WindowClass(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

COLORREF Picture::At(int x, int y) const {
  const size_t offset = (static_cast<size_t>(y) * width + x) * 3;
  return RGB(bgr[offset + 2], bgr[offset + 1], bgr[offset]);
}

size_t Picture::DistinctColours() const {
  std::set<COLORREF> colours;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) colours.insert(At(x, y));
  }
  return colours.size();
}

Picture CaptureClientArea(HWND window) {
  Picture picture;
  RECT area{};
  if (!GetClientRect(window, &area)) return picture;
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
  picture.width = area.right - area.left;
  picture.height = area.bottom - area.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.width, picture.height, screen, area.left, area.top,
           SRCCOPY | CAPTUREBLT);
    GdiFlush();
    const size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) & ~size_t{3};
    picture.bgr.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    for (int y = 0; y < picture.height; ++y) {
      std::memcpy(&picture.bgr[static_cast<size_t>(y) * picture.width * 3],
                  static_cast<const uint8_t*>(bits) + y * stride,
                  static_cast<size_t>(picture.width) * 3);
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return picture;
}

bool WriteBitmapFile(const Picture& picture, const std::string& path) {
  const uint32_t stride = (static_cast<uint32_t>(picture.width) * 3 + 3) & ~3u;
  const uint32_t pixel_bytes = stride * static_cast<uint32_t>(picture.height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + pixel_bytes;
  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = picture.width;
  info.biHeight = picture.height;  // bottom-up rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = pixel_bytes;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&info), sizeof(info));
  std::vector<char> row(stride, 0);
  for (int y = picture.height - 1; y >= 0; --y) {
    std::memcpy(row.data(), &picture.bgr[static_cast<size_t>(y) * picture.width * 3],
                static_cast<size_t>(picture.width) * 3);
    out.write(row.data(), stride);
  }
  return static_cast<bool>(out);
}

namespace {
constexpr char kDesktopKey[] = "Control Panel\\Desktop";
constexpr char kLogPixels[] = "LogPixels";
}  // namespace

ScreenDpi::ScreenDpi(DWORD dpi) {
  HKEY raw = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    return;
  }
  host::win32::UniqueKey key(raw);
  DWORD value = 0;
  DWORD size = sizeof(value);
  DWORD type = 0;
  if (RegQueryValueExA(key.get(), kLogPixels, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                       &size) == ERROR_SUCCESS &&
      type == REG_DWORD) {
    previous_ = value;
  }
  RegSetValueExA(key.get(), kLogPixels, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                 sizeof(dpi));
}

ScreenDpi::~ScreenDpi() { Restore(); }

void ScreenDpi::Restore() {
  if (restored_) return;
  restored_ = true;
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) {
    return;
  }
  host::win32::UniqueKey key(raw);
  if (previous_) {
    const DWORD value = *previous_;
    RegSetValueExA(key.get(), kLogPixels, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof(value));
  } else {
    RegDeleteValueA(key.get(), kLogPixels);
  }
}

}  // namespace e2e
