// The editor's X11 child window: a plain window in the host's, on a display
// connection of its own, showing the view's buffer with XPutImage. The host
// drives it from its timer and from the connection's descriptor, so the window
// never blocks and has no thread.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <vector>

#include "cEditorWindow.h"

namespace nimbo::editor {
namespace {

constexpr long kXembedMapped = 1;  // XEMBED_MAPPED of the _XEMBED_INFO flags
constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                            LeaveWindowMask | FocusChangeMask | StructureNotifyMask;

// Errors of our connection (a parent the host destroyed before us) are ours to
// ignore; Xlib's default handler would end the host. Only installed while we
// talk to our display, on the host's UI thread, and the host's is put back.
int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

class cErrorTrap {
 public:
  cErrorTrap() : m_Previous(XSetErrorHandler(IgnoreErrors)) {}
  ~cErrorTrap() { XSetErrorHandler(m_Previous); }
  cErrorTrap(const cErrorTrap&) = delete;
  cErrorTrap& operator=(const cErrorTrap&) = delete;

 private:
  int (*m_Previous)(Display*, XErrorEvent*);
};

uint32_t Modifiers(unsigned int state) {
  uint32_t modifiers = 0;
  if (state & ShiftMask) modifiers |= kModShift;
  if (state & ControlMask) modifiers |= kModControl;
  if (state & Mod1Mask) modifiers |= kModAlt;
  return modifiers;
}

eKey KeyOf(KeySym sym) {
  switch (sym) {
    case XK_Return: case XK_KP_Enter: return eKey::kEnter;
    case XK_Escape: return eKey::kEscape;
    case XK_BackSpace: return eKey::kBackspace;
    case XK_Delete: case XK_KP_Delete: return eKey::kDelete;
    case XK_Left: case XK_KP_Left: return eKey::kLeft;
    case XK_Right: case XK_KP_Right: return eKey::kRight;
    case XK_Home: case XK_KP_Home: return eKey::kHome;
    case XK_End: case XK_KP_End: return eKey::kEnd;
    case XK_Tab: case XK_ISO_Left_Tab: return eKey::kTab;
    case XK_Up: case XK_KP_Up: return eKey::kUp;
    case XK_Down: case XK_KP_Down: return eKey::kDown;
    default: return eKey::kNone;
  }
}

// The code point a key types, 0 for none. Latin-1 keysyms are their code
// points, others carry theirs above 0x01000000; the rest (keypad digits) come
// out of XLookupString as one Latin-1 byte.
uint32_t CodePointOf(KeySym sym, const char* typed, int length) {
  if ((sym >= 0x20 && sym <= 0x7E) || (sym >= 0xA0 && sym <= 0xFF)) return static_cast<uint32_t>(sym);
  if (sym >= 0x01000100 && sym <= 0x0110FFFF) return static_cast<uint32_t>(sym - 0x01000000);
  if (length == 1) {
    const auto byte = static_cast<unsigned char>(typed[0]);
    if (byte >= 0x20 && byte != 0x7F) return byte;
  }
  return 0;
}

sRect Union(const sRect& a, const sRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
  const int x1 = std::max(a.x + a.w, b.x + b.w), y1 = std::max(a.y + a.h, b.y + b.h);
  return {x0, y0, x1 - x0, y1 - y0};
}

// Where a channel of a TrueColor pixel lies: the mask's lowest bit and its width.
struct sChannel {
  int shift = 0;
  int bits = 0;
  explicit sChannel(unsigned long mask) {
    if (!mask) return;
    while (!(mask & 1)) {
      mask >>= 1;
      ++shift;
    }
    while (mask & 1) {
      mask >>= 1;
      ++bits;
    }
  }
  unsigned long Place(uint32_t eightBits) const {
    return bits >= 8 ? static_cast<unsigned long>(eightBits) << (shift + bits - 8)
                     : static_cast<unsigned long>(eightBits >> (8 - bits)) << shift;
  }
};

class cX11Window final : public cEditorWindow {
 public:
  explicit cX11Window(cEditorView& view) : m_View(view) {}
  ~cX11Window() override;

  bool Open(Window parent);
  uintptr_t Handle() const override { return m_Window; }
  int EventFd() const override { return m_Display ? ConnectionNumber(m_Display) : -1; }
  void Pump() override;
  void FollowViewSize() override;
  void Show(bool visible) override;

 private:
  bool ChooseVisual(const XWindowAttributes& parent);
  void SetHints();
  void SetMapped(bool mapped);
  void Handle(XEvent& event);
  void OnKey(XKeyEvent& event);
  // Copies a rectangle of the view's pixels to the window.
  void Blit(sRect area);
  XImage* Image();
  void DropImage();

  cEditorView& m_View;
  Display* m_Display = nullptr;
  Window m_Parent = 0;
  Window m_Window = 0;
  Visual* m_Visual = nullptr;
  int m_Depth = 0;
  Colormap m_Colormap = 0;  // ours, when the window's visual is not the parent's
  GC m_Gc = nullptr;
  // The view's buffer as it is (32-bit pixels, 8 bits per colour), or else a
  // buffer of the server's format the pixels are converted into.
  bool m_bDirect = false;
  XImage* m_Image = nullptr;
  std::vector<char> m_Converted;
  sChannel m_Red{0}, m_Green{0}, m_Blue{0};
  sRect m_Exposed;
  bool m_bDragging = false;
};

bool cX11Window::ChooseVisual(const XWindowAttributes& parent) {
  // The screen's default visual: parents with an alpha channel (32-bit
  // visuals of compositing hosts) would take our pixels' alpha seriously.
  const int screen = XScreenNumberOfScreen(parent.screen);
  XVisualInfo wanted{};
  wanted.visualid = XVisualIDFromVisual(DefaultVisual(m_Display, screen));
  wanted.screen = screen;
  int count = 0;
  XVisualInfo* info = XGetVisualInfo(m_Display, VisualIDMask | VisualScreenMask, &wanted, &count);
  if (!info) return false;
  const bool trueColor = info->c_class == TrueColor;
  m_Visual = info->visual;
  m_Depth = info->depth;
  m_Red = sChannel(info->red_mask);
  m_Green = sChannel(info->green_mask);
  m_Blue = sChannel(info->blue_mask);
  const bool eightBits = info->red_mask == 0xFF0000 && info->green_mask == 0xFF00 && info->blue_mask == 0xFF;
  XFree(info);
  // Colour maps of palettes are not worth it any more: refuse.
  if (!trueColor) return false;
  int formats = 0;
  int bitsPerPixel = 0;
  if (XPixmapFormatValues* format = XListPixmapFormats(m_Display, &formats)) {
    for (int k = 0; k < formats; ++k)
      if (format[k].depth == m_Depth) bitsPerPixel = format[k].bits_per_pixel;
    XFree(format);
  }
  m_bDirect = eightBits && bitsPerPixel == 32 && (m_Depth == 24 || m_Depth == 32);
  return true;
}

bool cX11Window::Open(Window parent) {
  m_Display = XOpenDisplay(nullptr);
  if (!m_Display) return false;
  cErrorTrap trap;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(m_Display, parent, &attributes) || !ChooseVisual(attributes)) return false;
  m_Parent = parent;

  XSetWindowAttributes set{};
  unsigned long mask = CWEventMask | CWBackPixel | CWBorderPixel | CWBitGravity;
  set.event_mask = kEventMask;
  set.background_pixel = BlackPixelOfScreen(attributes.screen);
  set.border_pixel = 0;
  set.bit_gravity = NorthWestGravity;
  if (m_Visual != attributes.visual) {
    m_Colormap = XCreateColormap(m_Display, parent, m_Visual, AllocNone);
    set.colormap = m_Colormap;
    mask |= CWColormap;
  }
  m_Window = XCreateWindow(m_Display, parent, 0, 0, static_cast<unsigned>(m_View.PixelWidth()),
                           static_cast<unsigned>(m_View.PixelHeight()), 0, m_Depth, InputOutput, m_Visual, mask, &set);
  XStoreName(m_Display, m_Window, "Nimbohall");
  SetHints();
  SetMapped(true);
  m_Gc = XCreateGC(m_Display, m_Window, 0, nullptr);
  XMapWindow(m_Display, m_Window);
  // A parent that was no window shows only now; its error was trapped.
  XSync(m_Display, False);
  XWindowAttributes made;
  if (!XGetWindowAttributes(m_Display, m_Window, &made)) {
    m_Window = 0;
    return false;
  }
  m_Exposed = {0, 0, m_View.PixelWidth(), m_View.PixelHeight()};
  return true;
}

cX11Window::~cX11Window() {
  if (!m_Display) return;
  {
    cErrorTrap trap;
    DropImage();
    if (m_Gc) XFreeGC(m_Display, m_Gc);
    // The host may have destroyed its window, and ours with it, already.
    if (m_Window) XDestroyWindow(m_Display, m_Window);
    if (m_Colormap) XFreeColormap(m_Display, m_Colormap);
    XSync(m_Display, True);
  }
  XCloseDisplay(m_Display);
}

void cX11Window::SetHints() {
  // Hosts that embed through suil size their container from these.
  XSizeHints* hints = XAllocSizeHints();
  if (!hints) return;
  hints->flags = PMinSize | PMaxSize | PBaseSize;
  hints->min_width = hints->max_width = hints->base_width = m_View.PixelWidth();
  hints->min_height = hints->max_height = hints->base_height = m_View.PixelHeight();
  XSetWMNormalHints(m_Display, m_Window, hints);
  XFree(hints);
}

void cX11Window::SetMapped(bool mapped) {
  // Strict embedders map only clients that say they want to be.
  const Atom info = XInternAtom(m_Display, "_XEMBED_INFO", False);
  const long value[2] = {0, mapped ? kXembedMapped : 0};
  XChangeProperty(m_Display, m_Window, info, info, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(value),
                  2);
}

void cX11Window::Pump() {
  if (!m_Display) return;
  cErrorTrap trap;
  while (XPending(m_Display) > 0) {
    XEvent event;
    XNextEvent(m_Display, &event);
    Handle(event);
  }
  if (!m_Window) return;
  m_View.Poll();
  Blit(Union(m_View.Paint(), m_Exposed));
  m_Exposed = {};
  XFlush(m_Display);
}

void cX11Window::Handle(XEvent& event) {
  if (event.xany.window != m_Window) return;
  switch (event.type) {
    case Expose:
      m_Exposed = Union(m_Exposed, {event.xexpose.x, event.xexpose.y, event.xexpose.width, event.xexpose.height});
      break;
    case ButtonPress: {
      const XButtonEvent& button = event.xbutton;
      if (button.button == Button4 || button.button == Button5) {
        m_View.Wheel(button.x, button.y, button.button == Button4 ? 1.0f : -1.0f, Modifiers(button.state));
      } else if (button.button == Button1) {
        // Keys come to the window that has the focus; a click asks for it.
        XSetInputFocus(m_Display, m_Window, RevertToParent, button.time);
        m_bDragging = true;
        m_View.MouseDown(button.x, button.y, Modifiers(button.state), static_cast<uint32_t>(button.time));
      }
      break;  // the horizontal wheel (6, 7) and other buttons are no clicks
    }
    case ButtonRelease:
      if (event.xbutton.button == Button1 && m_bDragging) {
        m_bDragging = false;
        m_View.MouseUp(event.xbutton.x, event.xbutton.y, Modifiers(event.xbutton.state));
      }
      break;
    case MotionNotify: {
      // Only the latest of a run of moves matters.
      XEvent next;
      while (XCheckTypedWindowEvent(m_Display, m_Window, MotionNotify, &next)) event = next;
      m_View.MouseMove(event.xmotion.x, event.xmotion.y, Modifiers(event.xmotion.state));
      break;
    }
    case LeaveNotify:
      // While a button is held the pointer is ours wherever it goes.
      if (!m_bDragging && event.xcrossing.mode == NotifyNormal) m_View.Leave();
      break;
    case FocusOut:
      // Not when the focus only stops following the pointer (the click that takes it).
      if (event.xfocus.mode != NotifyUngrab && event.xfocus.detail != NotifyPointer &&
          event.xfocus.detail != NotifyInferior) {
        m_bDragging = false;
        m_View.Leave();
      }
      break;
    case KeyPress:
      OnKey(event.xkey);
      break;
    case DestroyNotify:
      // Gone with the host's window: nothing of ours is left to draw into.
      DropImage();
      m_Window = 0;
      break;
    default:
      break;
  }
}

void cX11Window::OnKey(XKeyEvent& event) {
  char typed[8] = {};
  KeySym sym = NoSymbol;
  const int length = XLookupString(&event, typed, sizeof typed, &sym, nullptr);
  const uint32_t modifiers = Modifiers(event.state);
  const eKey key = KeyOf(sym);
  bool used = false;
  if (key != eKey::kNone) {
    used = m_View.Key(key, modifiers);
  } else if (const uint32_t codePoint = CodePointOf(sym, typed, length); codePoint && !(modifiers & kModControl)) {
    used = m_View.Text(codePoint, modifiers);
  }
  if (used) return;
  // Keys the editor has no use for belong to the host (transport and the like).
  XEvent forward{};
  forward.xkey = event;
  forward.xkey.window = m_Parent;
  forward.xkey.send_event = True;
  XSendEvent(m_Display, m_Parent, True, KeyPressMask, &forward);
}

XImage* cX11Window::Image() {
  const int width = m_View.PixelWidth();
  const int height = m_View.PixelHeight();
  const auto* pixels = reinterpret_cast<char*>(const_cast<uint32_t*>(m_View.Pixels()));
  if (m_Image && m_Image->width == width && m_Image->height == height && (!m_bDirect || m_Image->data == pixels))
    return m_Image;
  DropImage();
  if (m_bDirect) {
    m_Image = XCreateImage(m_Display, m_Visual, static_cast<unsigned>(m_Depth), ZPixmap, 0, const_cast<char*>(pixels),
                           static_cast<unsigned>(width), static_cast<unsigned>(height), 32, width * 4);
  } else {
    m_Image = XCreateImage(m_Display, m_Visual, static_cast<unsigned>(m_Depth), ZPixmap, 0, nullptr,
                           static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (m_Image) {
      m_Converted.assign(static_cast<size_t>(m_Image->bytes_per_line) * static_cast<size_t>(height), 0);
      m_Image->data = m_Converted.data();
    }
  }
  // The words are in this machine's order; Xlib swaps them for a server of the other.
  if (m_Image) m_Image->byte_order = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? LSBFirst : MSBFirst;
  return m_Image;
}

void cX11Window::DropImage() {
  if (!m_Image) return;
  m_Image->data = nullptr;  // the view's or ours, never Xlib's to free
  XDestroyImage(m_Image);
  m_Image = nullptr;
}

void cX11Window::Blit(sRect area) {
  const int width = m_View.PixelWidth();
  const int height = m_View.PixelHeight();
  area.w = std::min(area.x + area.w, width) - std::max(area.x, 0);
  area.h = std::min(area.y + area.h, height) - std::max(area.y, 0);
  area.x = std::max(area.x, 0);
  area.y = std::max(area.y, 0);
  if (area.Empty()) return;
  XImage* image = Image();
  if (!image) return;
  if (!m_bDirect) {
    const uint32_t* pixels = m_View.Pixels();
    for (int y = area.y; y < area.y + area.h; ++y)
      for (int x = area.x; x < area.x + area.w; ++x) {
        const uint32_t p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
        XPutPixel(image, x, y, m_Red.Place((p >> 16) & 0xFF) | m_Green.Place((p >> 8) & 0xFF) | m_Blue.Place(p & 0xFF));
      }
  }
  XPutImage(m_Display, m_Window, m_Gc, image, area.x, area.y, area.x, area.y, static_cast<unsigned>(area.w),
            static_cast<unsigned>(area.h));
}

void cX11Window::FollowViewSize() {
  if (!m_Window) return;
  cErrorTrap trap;
  XResizeWindow(m_Display, m_Window, static_cast<unsigned>(m_View.PixelWidth()),
                static_cast<unsigned>(m_View.PixelHeight()));
  SetHints();
  m_View.Invalidate();
  Blit(Union(m_View.Paint(), {0, 0, m_View.PixelWidth(), m_View.PixelHeight()}));
  XFlush(m_Display);
}

void cX11Window::Show(bool visible) {
  if (!m_Window) return;
  cErrorTrap trap;
  SetMapped(visible);
  if (visible) XMapWindow(m_Display, m_Window);
  else XUnmapWindow(m_Display, m_Window);
  XFlush(m_Display);
}

}  // namespace

std::unique_ptr<cEditorWindow> cEditorWindow::Create(uintptr_t parent, cEditorView& view) {
  if (!parent) return nullptr;
  auto window = std::make_unique<cX11Window>(view);
  if (!window->Open(static_cast<Window>(parent))) return nullptr;  // the destructor closes what was opened
  return window;
}

}  // namespace nimbo::editor
