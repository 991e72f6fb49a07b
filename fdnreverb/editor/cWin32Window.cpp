// The editor's Win32 child window: a plain window of our own class in the
// host's window, painting the view's buffer with SetDIBitsToDevice and driven
// by its own timer, so it needs nothing from the host's run loop.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "cEditorWindow.h"

namespace nimbo::editor {
namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerMs = 30;
constexpr double kBaseDpi = 96.0;

// The class is per module: two copies of the plugin (say CLAP and VST3) in one
// process each register their own, named after the module so they never meet.
// Registered with the first window of the module, unregistered with its last.
SRWLOCK g_ClassLock = SRWLOCK_INIT;
int g_ClassUsers = 0;
wchar_t g_ClassName[64] = {};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&WindowProc), &module);
  return module;
}

const wchar_t* AcquireClass() {
  AcquireSRWLockExclusive(&g_ClassLock);
  const wchar_t* name = g_ClassName;
  if (g_ClassUsers == 0) {
    const HINSTANCE module = ThisModule();
    std::swprintf(g_ClassName, sizeof g_ClassName / sizeof g_ClassName[0], L"NimbohallEditor%p",
                  static_cast<void*>(module));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;  // no CS_DBLCLKS: the view tells double clicks by their times
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = g_ClassName;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) name = nullptr;
  }
  if (name) ++g_ClassUsers;
  ReleaseSRWLockExclusive(&g_ClassLock);
  return name;
}

void ReleaseClass() {
  AcquireSRWLockExclusive(&g_ClassLock);
  if (--g_ClassUsers == 0) UnregisterClassW(g_ClassName, ThisModule());
  ReleaseSRWLockExclusive(&g_ClassLock);
}

uint32_t Modifiers() {
  uint32_t modifiers = 0;
  if (GetKeyState(VK_SHIFT) < 0) modifiers |= kModShift;
  if (GetKeyState(VK_CONTROL) < 0) modifiers |= kModControl;
  if (GetKeyState(VK_MENU) < 0) modifiers |= kModAlt;
  return modifiers;
}

eKey KeyOf(WPARAM virtualKey) {
  switch (virtualKey) {
    case VK_RETURN: return eKey::kEnter;
    case VK_ESCAPE: return eKey::kEscape;
    case VK_BACK: return eKey::kBackspace;
    case VK_DELETE: return eKey::kDelete;
    case VK_LEFT: return eKey::kLeft;
    case VK_RIGHT: return eKey::kRight;
    case VK_HOME: return eKey::kHome;
    case VK_END: return eKey::kEnd;
    case VK_TAB: return eKey::kTab;
    case VK_UP: return eKey::kUp;
    case VK_DOWN: return eKey::kDown;
    default: return eKey::kNone;
  }
}

using tGetDpiForWindow = UINT(WINAPI*)(HWND);

class cWin32Window final : public cEditorWindow {
 public:
  cWin32Window(cEditorView& view, const wchar_t* className) : m_View(view), m_ClassName(className) {}
  ~cWin32Window() override;

  bool Open(HWND parent);
  uintptr_t Handle() const override { return reinterpret_cast<uintptr_t>(m_Hwnd); }
  int EventFd() const override { return -1; }
  void Pump() override;
  void FollowViewSize() override;
  void Show(bool visible) override;
  double SystemScale() const override;
  void OnSystemScaleChange(std::function<void(double)> changed) override { m_ScaleChanged = std::move(changed); }

  LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  // Paints what changed in the view and marks it for the next WM_PAINT.
  void Refresh();
  void PaintWindow();
  void Blit(HDC dc, const RECT& area);
  bool Key(WPARAM virtualKey);
  bool Text(WPARAM unit);

  cEditorView& m_View;
  const wchar_t* m_ClassName;
  HWND m_Hwnd = nullptr;
  bool m_bTrackingLeave = false;
  bool m_bDragging = false;
  wchar_t m_HighSurrogate = 0;
  std::function<void(double)> m_ScaleChanged;
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* window = reinterpret_cast<cWin32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
  return window->OnMessage(hwnd, message, wParam, lParam);
}

bool cWin32Window::Open(HWND parent) {
  m_Hwnd = CreateWindowExW(0, m_ClassName, L"Nimbohall", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                           m_View.PixelWidth(), m_View.PixelHeight(), parent, nullptr, ThisModule(), this);
  if (!m_Hwnd) return false;
  SetTimer(m_Hwnd, kTimerId, kTimerMs, nullptr);
  return true;
}

cWin32Window::~cWin32Window() {
  // The host may have destroyed its window, and ours with it, already.
  if (m_Hwnd) {
    SetWindowLongPtrW(m_Hwnd, GWLP_USERDATA, 0);
    KillTimer(m_Hwnd, kTimerId);
    if (GetCapture() == m_Hwnd) ReleaseCapture();
    DestroyWindow(m_Hwnd);
  }
  ReleaseClass();
}

void cWin32Window::Pump() {
  if (!m_Hwnd) return;
  m_View.Poll();
  Refresh();
}

void cWin32Window::Refresh() {
  const sRect changed = m_View.Paint();
  if (changed.Empty()) return;
  const RECT area{changed.x, changed.y, changed.x + changed.w, changed.y + changed.h};
  InvalidateRect(m_Hwnd, &area, FALSE);
}

void cWin32Window::FollowViewSize() {
  if (!m_Hwnd) return;
  SetWindowPos(m_Hwnd, nullptr, 0, 0, m_View.PixelWidth(), m_View.PixelHeight(),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  m_View.Paint();
  InvalidateRect(m_Hwnd, nullptr, FALSE);
}

void cWin32Window::Show(bool visible) {
  if (m_Hwnd) ShowWindow(m_Hwnd, visible ? SW_SHOWNA : SW_HIDE);
}

double cWin32Window::SystemScale() const {
  if (!m_Hwnd) return 0.0;
  // Per monitor where Windows knows it (10 and later); else the screen's.
  static const auto getDpiForWindow = reinterpret_cast<tGetDpiForWindow>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  UINT dpi = getDpiForWindow ? getDpiForWindow(m_Hwnd) : 0;
  if (dpi == 0) {
    if (HDC dc = GetDC(m_Hwnd)) {
      dpi = static_cast<UINT>(GetDeviceCaps(dc, LOGPIXELSX));
      ReleaseDC(m_Hwnd, dc);
    }
  }
  return dpi > 0 ? dpi / kBaseDpi : 0.0;
}

void cWin32Window::Blit(HDC dc, const RECT& area) {
  const int width = m_View.PixelWidth();
  const int height = m_View.PixelHeight();
  const LONG right = std::min<LONG>(area.right, width);
  const LONG bottom = std::min<LONG>(area.bottom, height);
  if (area.left >= right || area.top >= bottom) return;
  // A DIB of just the rows asked for, so no orientation rule of the source
  // origin comes into play: a top-down 32-bit DIB takes 0xAARRGGBB words as they are.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -(bottom - area.top);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const uint32_t* rows = m_View.Pixels() + static_cast<size_t>(area.top) * width;
  SetDIBitsToDevice(dc, area.left, area.top, right - area.left, bottom - area.top, area.left, 0, 0,
                    bottom - area.top, rows, &info, DIB_RGB_COLORS);
}

void cWin32Window::PaintWindow() {
  // Whatever the view has not painted yet joins the update region first.
  Refresh();
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_Hwnd, &paint);
  if (dc) Blit(dc, paint.rcPaint);
  EndPaint(m_Hwnd, &paint);
}

bool cWin32Window::Key(WPARAM virtualKey) {
  const eKey key = KeyOf(virtualKey);
  return key != eKey::kNone && m_View.Key(key, Modifiers());
}

bool cWin32Window::Text(WPARAM unit) {
  const auto utf16 = static_cast<wchar_t>(unit);
  if (utf16 >= 0xD800 && utf16 < 0xDC00) {
    m_HighSurrogate = utf16;
    return true;
  }
  uint32_t codePoint = utf16;
  if (utf16 >= 0xDC00 && utf16 < 0xE000) {
    if (!m_HighSurrogate) return false;
    codePoint = 0x10000 + ((static_cast<uint32_t>(m_HighSurrogate) - 0xD800) << 10) + (utf16 - 0xDC00);
  }
  m_HighSurrogate = 0;
  // Enter, Escape, Backspace and Tab came as keys already.
  if (codePoint < 0x20 || codePoint == 0x7F) return true;
  return m_View.Text(codePoint, Modifiers());
}

LRESULT cWin32Window::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) m_Hwnd = hwnd;  // before CreateWindowExW returns
  const int x = static_cast<short>(LOWORD(lParam));
  const int y = static_cast<short>(HIWORD(lParam));
  switch (message) {
    case WM_TIMER:
      if (wParam == kTimerId) Pump();
      return 0;
    case WM_PAINT:
      PaintWindow();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN:
      SetFocus(m_Hwnd);
      SetCapture(m_Hwnd);
      m_bDragging = true;
      m_View.MouseDown(x, y, Modifiers(), static_cast<uint32_t>(GetMessageTime()));
      Refresh();
      return 0;
    case WM_LBUTTONUP:
      if (m_bDragging) {
        m_bDragging = false;
        m_View.MouseUp(x, y, Modifiers());
        if (GetCapture() == m_Hwnd) ReleaseCapture();
        Refresh();
      }
      return 0;
    case WM_MOUSEMOVE:
      if (!m_bTrackingLeave) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_Hwnd, 0};
        m_bTrackingLeave = TrackMouseEvent(&track);
      }
      m_View.MouseMove(x, y, Modifiers());
      Refresh();
      return 0;
    case WM_MOUSELEAVE:
      m_bTrackingLeave = false;
      if (!m_bDragging) {
        m_View.Leave();
        Refresh();
      }
      return 0;
    case WM_CAPTURECHANGED:
      // Taken away mid-drag (a host's dialog, a task switch): the gesture ends here.
      if (m_bDragging && reinterpret_cast<HWND>(lParam) != m_Hwnd) {
        m_bDragging = false;
        m_View.Leave();
        Refresh();
      }
      return 0;
    case WM_MOUSEWHEEL: {
      POINT at{x, y};  // the wheel comes in screen coordinates
      ScreenToClient(m_Hwnd, &at);
      m_View.Wheel(at.x, at.y, static_cast<float>(GET_WHEEL_DELTA_WPARAM(wParam)) / WHEEL_DELTA, Modifiers());
      Refresh();
      return 0;
    }
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS | DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_WANTTAB;
    case WM_KEYDOWN:
    case WM_CHAR: {
      const bool used = message == WM_KEYDOWN ? Key(wParam) : Text(wParam);
      if (used) {
        Refresh();
        return 0;
      }
      // Keys the editor has no use for belong to the host (transport and the like).
      if (HWND parent = GetParent(m_Hwnd)) return SendMessageW(parent, message, wParam, lParam);
      break;
    }
    case WM_KILLFOCUS:
      m_View.Leave();
      Refresh();
      return 0;
    case WM_DPICHANGED_AFTERPARENT:
      if (m_ScaleChanged) {
        if (const double scale = SystemScale(); scale > 0.0) m_ScaleChanged(scale);
      }
      return 0;
    case WM_NCDESTROY:
      // Destroyed with the host's window: nothing of ours is left to destroy.
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      m_Hwnd = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

std::unique_ptr<cEditorWindow> cEditorWindow::Create(uintptr_t parent, cEditorView& view) {
  const HWND parentWindow = reinterpret_cast<HWND>(parent);
  if (!parentWindow || !IsWindow(parentWindow)) return nullptr;
  const wchar_t* className = AcquireClass();
  if (!className) return nullptr;
  auto window = std::make_unique<cWin32Window>(view, className);
  if (!window->Open(parentWindow)) return nullptr;  // the destructor gives the class back
  return window;
}

}  // namespace nimbo::editor
