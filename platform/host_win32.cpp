// The Win32 host: one message loop, GDI for pixels, and the window styles the program's two kinds
// of window need. Not DPI-aware on purpose: Windows scales the program, so a pixel stays 15 twips.
#define WIN32_LEAN_AND_MEAN
#define UNICODE
#define _UNICODE
#define NOMINMAX
#include <windows.h>
#include <windowsx.h>
// windows.h makes these names macros; the host's own functions carry them.
#undef CreateWindow

#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "platform/host.h"

namespace host {
namespace {

constexpr wchar_t kWindowClass[] = L"Quietglass.Window";
// One name for every copy of the program in this logon session, the .exe and the .scr alike.
constexpr wchar_t kInstanceMutex[] = L"Local\\Quietglass.Instance";
constexpr WORD kProgramIconId = 1;

constexpr DWORD kFullScreenStyle = WS_POPUP;
constexpr DWORD kFullScreenExStyle = WS_EX_TOPMOST;
// A caption without WS_SYSMENU has no close button.
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME;

struct Window {
  HWND handle = nullptr;
  COLORREF background = 0;
};

struct Win32State {
  HINSTANCE instance = nullptr;
  double countsPerSecond = 1;
  HANDLE instanceMutex = nullptr;
  HWND hiddenOwner = nullptr;   // owns the dialogs, which keeps them out of the taskbar
  std::vector<Window> windows;  // index + 1 is the window's id
  std::deque<Event> events;     // queued by the window procedure
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

WindowId IdOf(HWND handle) {
  return static_cast<WindowId>(GetWindowLongPtrW(handle, GWLP_USERDATA));
}

HWND HandleOf(WindowId id) {
  const auto& windows = S().windows;
  if (id <= 0 || static_cast<std::size_t>(id) > windows.size()) return nullptr;
  return windows[static_cast<std::size_t>(id) - 1].handle;
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

void Queue(HWND handle, EventType type, const auto& fill) {
  Event event;
  event.type = type;
  event.window = IdOf(handle);
  fill(event);
  if (event.window != 0) S().events.push_back(event);
}

void QueuePointer(HWND handle, EventType type, int button, LPARAM position, WPARAM keys) {
  // Like X's implicit grab: the window that saw a button go down also hears it come up.
  if (type == EventType::MouseDown) SetCapture(handle);
  if (type == EventType::MouseUp && HeldButtons(keys) == 0) ReleaseCapture();
  Queue(handle, type, [&](Event& event) {
    event.x = GET_X_LPARAM(position);
    event.y = GET_Y_LPARAM(position);
    event.button = type == EventType::MouseMove ? HeldButtons(keys) : button;
    event.shift = KeyboardShift();
  });
}

LRESULT CALLBACK WindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:  // Alt and F10 too; no menu mode, the program has no menu
      Queue(handle, EventType::KeyDown, [&](Event& event) {
        event.keyCode = static_cast<int>(wParam);
        event.shift = KeyboardShift();
      });
      return 0;
    case WM_CHAR:
      Queue(handle, EventType::KeyPress, [&](Event& event) {
        event.keyChar = static_cast<int>(wParam);
        event.shift = KeyboardShift();
      });
      return 0;
    case WM_SYSCHAR:
      return 0;  // no menu to open, and no beep for it
    case WM_MOUSEMOVE:
      QueuePointer(handle, EventType::MouseMove, 0, lParam, wParam);
      return 0;
    case WM_LBUTTONDOWN:
      QueuePointer(handle, EventType::MouseDown, kLeftButton, lParam, wParam);
      return 0;
    case WM_RBUTTONDOWN:
      QueuePointer(handle, EventType::MouseDown, kRightButton, lParam, wParam);
      return 0;
    case WM_MBUTTONDOWN:
      QueuePointer(handle, EventType::MouseDown, kMiddleButton, lParam, wParam);
      return 0;
    case WM_LBUTTONUP:
      QueuePointer(handle, EventType::MouseUp, kLeftButton, lParam, wParam);
      return 0;
    case WM_RBUTTONUP:
      QueuePointer(handle, EventType::MouseUp, kRightButton, lParam, wParam);
      return 0;
    case WM_MBUTTONUP:
      QueuePointer(handle, EventType::MouseUp, kMiddleButton, lParam, wParam);
      return 0;
    case WM_CLOSE:
      Queue(handle, EventType::CloseRequest, [](Event&) {});
      return 0;  // the program decides; the window stays until the process ends
    case WM_ERASEBKGND: {
      const WindowId id = IdOf(handle);
      if (id == 0) break;
      RECT client;
      GetClientRect(handle, &client);
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetDCBrushColor(dc, S().windows[static_cast<std::size_t>(id) - 1].background);
      FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(handle, &paint);  // validates the update rectangle
      const RECT r = paint.rcPaint;
      EndPaint(handle, &paint);
      if (r.right > r.left && r.bottom > r.top) {
        Queue(handle, EventType::Exposed, [&](Event& event) {
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

// Takes every message waiting for this thread; the window procedure queues what the program
// sees.
void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

DWORD StyleOf(WindowKind kind) {
  return kind == WindowKind::FullScreen ? kFullScreenStyle : kDialogStyle;
}
DWORD ExStyleOf(WindowKind kind) {
  return kind == WindowKind::FullScreen ? kFullScreenExStyle : kDialogExStyle;
}

}  // namespace

bool Start(int, char**, std::string& error) {
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
    return false;
  }
  return true;
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

bool AnotherInstanceRunning() {
  Win32State& s = S();
  if (s.instanceMutex == nullptr) {
    s.instanceMutex = CreateMutexW(nullptr, FALSE, kInstanceMutex);
    // Kept open until the process ends, so that later copies see this one.
    if (s.instanceMutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) return true;
  }
  return false;
}

void EndProcess() {
  ExitProcess(0);
}

rt::PixelSize ScreenSize() {
  return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
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

void SetCursorPos(int x, int y) {
  ::SetCursorPos(x, y);  // Windows clamps it to the screen
}

FrameExtents FrameFor(const WindowSpec& settings) {
  if (settings.kind == WindowKind::FullScreen) return {};
  RECT r{0, 0, 0, 0};
  AdjustWindowRectEx(&r, StyleOf(settings.kind), FALSE, ExStyleOf(settings.kind));
  return {-r.left, -r.top, r.right, r.bottom};
}

WindowId CreateWindow(const WindowSpec& settings) {
  Win32State& s = S();
  rt::PixelRect outer = settings.outer;
  HWND owner = nullptr;
  if (settings.kind == WindowKind::FullScreen) {
    const rt::PixelSize screen = ScreenSize();
    outer = {0, 0, screen.width, screen.height};
  } else {
    if (s.hiddenOwner == nullptr) {
      s.hiddenOwner = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      s.instance, nullptr);
    }
    owner = s.hiddenOwner;
  }
  s.windows.push_back({nullptr, ToColorRef(settings.background)});
  const auto id = static_cast<WindowId>(s.windows.size());

  const std::wstring caption = Wide(settings.caption);
  HWND handle = CreateWindowExW(ExStyleOf(settings.kind), kWindowClass, caption.c_str(),
                                StyleOf(settings.kind), outer.x, outer.y, outer.width, outer.height,
                                owner, nullptr, s.instance, nullptr);
  s.windows.back().handle = handle;
  if (handle == nullptr) return id;
  SetWindowLongPtrW(handle, GWLP_USERDATA, id);
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
  return id;
}

void Present(WindowId window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  HWND handle = HandleOf(window);
  if (handle == nullptr || area.empty()) return;
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

void Fill(WindowId window, const rt::PixelRect& area, rt::Pixel colour) {
  HWND handle = HandleOf(window);
  if (handle == nullptr || area.empty()) return;
  const RECT r{area.x, area.y, area.right(), area.bottom()};
  const HDC dc = GetDC(handle);
  SetDCBrushColor(dc, ToColorRef(colour));
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  ReleaseDC(handle, dc);
}

void Flush() {
  GdiFlush();
}

bool WaitEvent(double timeoutSeconds, Event& out) {
  Win32State& s = S();
  const double deadline = MonotonicSeconds() + std::max(0.0, timeoutSeconds);
  for (;;) {
    if (s.events.empty()) PumpMessages();
    if (!s.events.empty()) {
      out = s.events.front();
      s.events.pop_front();
      return true;
    }
    DWORD waitMillis = INFINITE;
    if (timeoutSeconds >= 0) {
      const double left = deadline - MonotonicSeconds();
      if (left <= 0) return false;
      waitMillis = static_cast<DWORD>(std::ceil(left * 1000.0));
    }
    // Sleeps until a message arrives or the time is up; MWMO_INPUTAVAILABLE also wakes for
    // messages that an earlier look saw but left in the queue.
    MsgWaitForMultipleObjectsEx(0, nullptr, waitMillis, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace host
