// The Win32 host: one message loop, GDI for pixels, and the window styles the program's two kinds
// of window need. Not DPI-aware on purpose: Windows scales the program, so a pixel stays 15 twips.
#define WIN32_LEAN_AND_MEAN
#define UNICODE
#define _UNICODE
#define NOMINMAX
#include <windows.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/host.h"

namespace host {
namespace {

constexpr wchar_t kWindowClass[] = L"Quietglass.Window";
// One name for every copy of the program in this logon session, the .exe and the .scr alike.
constexpr wchar_t kInstanceMutex[] = L"Local\\Quietglass.Instance";
constexpr WORD kProgramIconId = 1;

struct Win32State {
  HINSTANCE instance = nullptr;
  double countsPerSecond = 1;
  HANDLE instanceMutex = nullptr;
  HWND hiddenOwner = nullptr;           // owns the dialogs kept out of the taskbar
  std::vector<rt::PixelRect> monitors;  // as the full-screen window last covered them
};

Win32State& S() {
  static Win32State state;
  return state;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

COLORREF ToColorRef(rt::Pixel pixel) {
  return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

int KeyboardShift() {
  int shift = 0;
  if (GetKeyState(VK_SHIFT) < 0) shift |= kShiftMask;
  if (GetKeyState(VK_CONTROL) < 0) shift |= kCtrlMask;
  if (GetKeyState(VK_MENU) < 0) shift |= kAltMask;
  return shift;
}

int HeldButtons(WPARAM keys) {
  int buttons = 0;
  if (keys & MK_LBUTTON) buttons |= kLeftButton;
  if (keys & MK_RBUTTON) buttons |= kRightButton;
  if (keys & MK_MBUTTON) buttons |= kMiddleButton;
  return buttons;
}

void Post(HWND handle, EventType type, const auto& fill) {
  Event event;
  event.type = type;
  event.window = reinterpret_cast<NativeWindow>(handle);
  fill(event);
  rt::PostEvent(event);
}

// The six button messages: which event and which button each one is.
struct ButtonMessage {
  UINT message;
  EventType type;
  int button;
};
constexpr ButtonMessage kButtonMessages[] = {
    {WM_LBUTTONDOWN, EventType::MouseDown, kLeftButton},
    {WM_RBUTTONDOWN, EventType::MouseDown, kRightButton},
    {WM_MBUTTONDOWN, EventType::MouseDown, kMiddleButton},
    {WM_LBUTTONUP, EventType::MouseUp, kLeftButton},
    {WM_RBUTTONUP, EventType::MouseUp, kRightButton},
    {WM_MBUTTONUP, EventType::MouseUp, kMiddleButton},
};

void PostPointer(HWND handle, EventType type, int button, LPARAM position, WPARAM keys) {
  // Like X's implicit grab: the window that saw a button go down also hears it come up.
  if (type == EventType::MouseDown) SetCapture(handle);
  if (type == EventType::MouseUp && HeldButtons(keys) == 0) ReleaseCapture();
  Post(handle, type, [&](Event& event) {
    event.x = GET_X_LPARAM(position);
    event.y = GET_Y_LPARAM(position);
    event.button = type == EventType::MouseMove ? HeldButtons(keys) : button;
    event.shift = KeyboardShift();
  });
}

bool IsFullScreen(HWND handle) {
  return (GetWindowLongW(handle, GWL_STYLE) & WS_CAPTION) == 0;
}

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(monitor, &info)) return TRUE;
  auto& monitors = *reinterpret_cast<std::vector<rt::PixelRect>*>(list);
  const RECT& r = info.rcMonitor;
  const rt::PixelRect rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
  if (rect.empty()) return TRUE;
  if (info.dwFlags & MONITORINFOF_PRIMARY)
    monitors.insert(monitors.begin(), rect);
  else
    monitors.push_back(rect);
  return TRUE;
}

std::vector<rt::PixelRect> Monitors();

// Covers the monitors again when they differ from those the window covers, and tells the program.
// Asked on WM_DISPLAYCHANGE and before each pointer report: a resolution change can move the
// pointer, and its report come, before the change's own message.
void FollowMonitors(HWND fullScreen) {
  std::vector<rt::PixelRect> monitors = Monitors();
  if (monitors == S().monitors) return;
  S().monitors = std::move(monitors);
  rt::PixelRect desktop;
  for (const rt::PixelRect& monitor : S().monitors) desktop = rt::Union(desktop, monitor);
  if (desktop.empty()) return;
  SetWindowPos(fullScreen, HWND_TOPMOST, desktop.x, desktop.y, desktop.width, desktop.height,
               SWP_NOACTIVATE);
  Post(nullptr, EventType::ScreenChanged, [](Event&) {});
}

LRESULT CALLBACK WindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  for (const ButtonMessage& button : kButtonMessages) {
    if (button.message != message) continue;
    PostPointer(handle, button.type, button.button, lParam, wParam);
    return 0;
  }
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:  // Alt and F10 too; no menu mode, the program has no menu
      Post(handle, EventType::KeyDown, [&](Event& event) {
        event.keyCode = static_cast<int>(wParam);
        event.shift = KeyboardShift();
      });
      return 0;
    case WM_CHAR:
      Post(handle, EventType::KeyPress, [&](Event& event) {
        event.keyChar = static_cast<int>(wParam);
        event.shift = KeyboardShift();
      });
      return 0;
    case WM_SYSCHAR:
      return 0;  // no menu to open, and no beep for it
    case WM_MOUSEMOVE:
      if (IsFullScreen(handle)) FollowMonitors(handle);
      PostPointer(handle, EventType::MouseMove, 0, lParam, wParam);
      return 0;
    case WM_CLOSE:
      Post(handle, EventType::CloseRequest, [](Event&) {});
      return 0;  // the program decides; the window stays until the process ends
    case WM_DISPLAYCHANGE:
      if (IsFullScreen(handle)) FollowMonitors(handle);
      break;
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(handle, &client);
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetDCBrushColor(dc, static_cast<COLORREF>(GetWindowLongPtrW(handle, GWLP_USERDATA)));
      FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(handle, &paint);  // validates the update rectangle
      const RECT r = paint.rcPaint;
      EndPaint(handle, &paint);
      if (r.right > r.left && r.bottom > r.top) {
        Post(handle, EventType::Exposed, [&](Event& event) {
          event.x = r.left;
          event.y = r.top;
          event.width = r.right - r.left;
          event.height = r.bottom - r.top;
        });
      }
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(handle, message, wParam, lParam);
}

// Takes every message waiting for this thread; the window procedure posts what the program
// sees. True when there was any.
bool PumpMessages() {
  MSG message;
  bool any = false;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
    any = true;
  }
  return any;
}

// The window's frame and buttons, from the form's settings.
DWORD StyleOf(const WindowSettings& settings) {
  if (settings.kind == WindowKind::FullScreen) return WS_POPUP;
  DWORD style = WS_POPUP | WS_CAPTION;  // a caption without WS_SYSMENU has no close button
  if (settings.controlBox) style |= WS_SYSMENU;
  if (settings.minButton) style |= WS_MINIMIZEBOX;
  if (settings.maxButton) style |= WS_MAXIMIZEBOX;
  if (settings.sizable) style |= WS_THICKFRAME;
  return style;
}
DWORD ExStyleOf(const WindowSettings& settings) {
  if (settings.kind == WindowKind::FullScreen) return WS_EX_TOPMOST;
  return (settings.sizable ? 0 : WS_EX_DLGMODALFRAME) | (settings.inTaskbar ? WS_EX_APPWINDOW : 0);
}

// ---- The host's entry points -----------------------------------------------------------------

StartResult Start(int, char**, std::string& error) {
  Win32State& s = S();
  s.instance = GetModuleHandleW(nullptr);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  s.countsPerSecond = static_cast<double>(frequency.QuadPart);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = s.instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExW(&windowClass) == 0) {
    error = "cannot register the window class (error " + std::to_string(GetLastError()) + ")";
    return StartResult::Failed;
  }
  return StartResult::Started;
}

std::string CommandLineText() {
  const wchar_t* text = GetCommandLineW();
  // The program's path comes first, quoted when it holds blanks (the quotes then end it).
  if (*text == L'"') {
    ++text;
    while (*text != L'\0' && *text != L'"') ++text;
    if (*text == L'"') ++text;
  } else {
    while (*text != L'\0' && *text != L' ' && *text != L'\t') ++text;
  }
  while (*text == L' ' || *text == L'\t') ++text;
  return Utf8(text, static_cast<int>(wcslen(text)));
}

InstanceAnswer ClaimInstance() {
  // Kept open until the process ends, so that later copies see this one.
  S().instanceMutex = CreateMutexW(nullptr, FALSE, kInstanceMutex);
  if (S().instanceMutex == nullptr) return InstanceAnswer::CannotTell;
  return GetLastError() == ERROR_ALREADY_EXISTS ? InstanceAnswer::Taken : InstanceAnswer::Mine;
}

void EndProcess(int status) {
  ExitProcess(static_cast<UINT>(status));
}

std::vector<rt::PixelRect> Monitors() {
  std::vector<rt::PixelRect> monitors;
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

double MonotonicSeconds() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / S().countsPerSecond;
}

double ClockSeconds() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now.wHour * 3600.0 + now.wMinute * 60.0 + now.wSecond + now.wMilliseconds / 1000.0;
}

void MoveCursor(int x, int y) {
  ::SetCursorPos(x, y);
}

FrameExtents FrameFor(const WindowSettings& settings) {
  if (settings.kind == WindowKind::FullScreen) return {};
  RECT r{0, 0, 0, 0};
  AdjustWindowRectEx(&r, StyleOf(settings), FALSE, ExStyleOf(settings));
  return {-r.left, -r.top, r.right, r.bottom};
}

// CreateWindow is a macro of windows.h.
NativeWindow CreateNativeWindow(const WindowSettings& settings) {
  Win32State& s = S();
  HWND owner = nullptr;
  if (settings.kind == WindowKind::Dialog && !settings.inTaskbar) {
    if (s.hiddenOwner == nullptr) {
      s.hiddenOwner = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      s.instance, nullptr);
    }
    owner = s.hiddenOwner;
  }
  const std::wstring caption = Wide(settings.caption);
  HWND handle =
      CreateWindowExW(ExStyleOf(settings), kWindowClass, caption.c_str(), StyleOf(settings),
                      settings.outer.x, settings.outer.y, settings.outer.width,
                      settings.outer.height, owner, nullptr, s.instance, nullptr);
  if (handle == nullptr) return 0;
  if (settings.kind == WindowKind::FullScreen) s.monitors = Monitors();
  SetWindowLongPtrW(handle, GWLP_USERDATA, static_cast<LONG_PTR>(ToColorRef(settings.background)));
  if (settings.icon != nullptr) {
    // The program's windows carry its one icon, which the resources hold at both depths.
    const auto big =
        static_cast<HICON>(LoadImageW(s.instance, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    const auto small = static_cast<HICON>(LoadImageW(s.instance, MAKEINTRESOURCEW(kProgramIconId),
                                                     IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                     GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(handle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(handle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  }
  ShowWindow(handle, SW_SHOW);
  SetForegroundWindow(handle);
  return reinterpret_cast<NativeWindow>(handle);
}

void Present(NativeWindow window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  const HWND handle = reinterpret_cast<HWND>(window);
  // The runtime's 0xAARRGGBB pixels are a 32-bit BI_RGB row as they lie in memory.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = stride;
  info.bmiHeader.biHeight = -area.height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const HDC dc = GetDC(handle);
  SetDIBitsToDevice(dc, area.x, area.y, static_cast<DWORD>(area.width),
                    static_cast<DWORD>(area.height), 0, 0, 0, static_cast<UINT>(area.height),
                    pixels, &info, DIB_RGB_COLORS);
  ReleaseDC(handle, dc);
}

void Fill(NativeWindow window, const rt::PixelRect& area, rt::Pixel colour) {
  const HWND handle = reinterpret_cast<HWND>(window);
  const RECT r{area.x, area.y, area.right(), area.bottom()};
  const HDC dc = GetDC(handle);
  SetDCBrushColor(dc, ToColorRef(colour));
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  ReleaseDC(handle, dc);
}

void Flush() {
  GdiFlush();
}

void Wait(double timeoutSeconds) {
  const double deadline = MonotonicSeconds() + std::max(0.0, timeoutSeconds);
  for (;;) {
    if (PumpMessages()) return;
    DWORD waitMillis = INFINITE;
    if (timeoutSeconds >= 0) {
      const double left = deadline - MonotonicSeconds();
      if (left <= 0) return;
      waitMillis = static_cast<DWORD>(std::ceil(left * 1000.0));
    }
    // Sleeps until a message arrives or the time is up; MWMO_INPUTAVAILABLE also wakes for
    // messages that an earlier look saw but left in the queue.
    MsgWaitForMultipleObjectsEx(0, nullptr, waitMillis, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace
}  // namespace host

const host::Host host::kWin32Host = {
    .name = "win32",
    .Start = Start,
    .CommandLineText = CommandLineText,
    .ClaimInstance = ClaimInstance,
    .EndProcess = EndProcess,
    .Monitors = Monitors,
    .MonotonicSeconds = MonotonicSeconds,
    .ClockSeconds = ClockSeconds,
    .MoveCursor = MoveCursor,
    .FrameFor = FrameFor,
    .CreateWindow = CreateNativeWindow,
    .Present = Present,
    .Fill = Fill,
    .Flush = Flush,
    .Wait = Wait,
};
