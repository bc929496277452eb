// The X11 host's input: X events translated to the runtime's, and the requests some of them
// answer (a refused selection, a saver raised again, a dialog shown again).
#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <algorithm>

#include "platform/posix/posix.h"
#include "platform/x11/x11_internal.h"

namespace host::x11_detail {

namespace {

int ShiftBits(unsigned state) {
  return ((state & ShiftMask) ? kShiftMask : 0) | ((state & ControlMask) ? kCtrlMask : 0) |
         ((state & Mod1Mask) ? kAltMask : 0);
}

int HeldButtons(unsigned state) {
  return ((state & Button1Mask) ? kLeftButton : 0) | ((state & Button3Mask) ? kRightButton : 0) |
         ((state & Button2Mask) ? kMiddleButton : 0);
}

int ButtonBit(unsigned button) {
  switch (button) {
    case Button1:
      return kLeftButton;
    case Button2:
      return kMiddleButton;
    case Button3:
      return kRightButton;
    default:
      return 0;  // wheel and extra buttons: no click
  }
}

// A window that appears under the pointer hears of it once, as a window system reports it.
void ReportPointerOnMap(Window window) {
  X11State& s = S();
  Window rootReturn, child;
  int rootX, rootY, x, y;
  unsigned mask, width, height, border, depth;
  if (!XQueryPointer(s.display, window, &rootReturn, &child, &rootX, &rootY, &x, &y, &mask))
    return;  // the pointer is on another screen
  // A full-screen window's size is the desktop's, known without asking the server.
  const rt::PixelRect desktop = DesktopBounds();
  const bool fullScreen =
      std::find(s.fullScreens.begin(), s.fullScreens.end(), window) != s.fullScreens.end();
  if (fullScreen) {
    width = static_cast<unsigned>(desktop.width);
    height = static_cast<unsigned>(desktop.height);
  } else if (!XGetGeometry(s.display, window, &rootReturn, &rootX, &rootY, &width, &height, &border,
                           &depth)) {
    return;
  }
  if (x < 0 || y < 0 || x >= static_cast<int>(width) || y >= static_cast<int>(height)) return;
  Event event;
  event.type = EventType::MouseMove;
  event.window = window;
  event.x = x;
  event.y = y;
  event.button = HeldButtons(mask);
  event.shift = ShiftBits(mask);
  rt::PostEvent(event);
}

// The saver's grab brings it the pointer on the server's other screens too, where X gives no
// position in the window. It reports one right of the whole desktop, where no monitor is, and a
// different one for each place on that screen.
void OnAnotherScreen(Event& out, int xRoot, int yRoot) {
  out.x = DesktopBounds().width + xRoot;
  out.y = yRoot;
}

// A dialog has no minimize button and no taskbar entry, and it holds the single-copy check: once
// minimized, nothing would bring it back. Some window managers (openbox) minimize any dialog on
// request all the same, so a dialog the window manager made iconic asks to be shown again: by
// mapping it (ICCCM) and by asking to be the active window (EWMH), for managers that keep an
// iconic window mapped.
void RestoreIfIconic(Window window) {
  X11State& s = S();
  const Atom wmState = Intern("WM_STATE");
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  const bool iconic = XGetWindowProperty(s.display, window, wmState, 0, 1, False, wmState, &type,
                                         &format, &count, &after, &data) == Success &&
                      format == 32 && count == 1 &&
                      *reinterpret_cast<const long*>(data) == IconicState;
  if (data != nullptr) XFree(data);
  if (!iconic) return;
  XMapWindow(s.display, window);
  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = window;
  request.xclient.message_type = Intern("_NET_ACTIVE_WINDOW");
  request.xclient.format = 32;
  request.xclient.data.l[0] = 1;  // from an application
  request.xclient.data.l[1] = CurrentTime;
  XSendEvent(s.display, s.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &request);
  s.unflushed = true;
}

}  // namespace

// Hands the runtime what an X event means to it; false for events it does not hear of.
bool Translate(XEvent& xevent) {
  X11State& s = S();
  if (IsScreenChange(xevent)) return FollowScreenChange();
  Event out;
  out.window = xevent.xany.window;
  // The saver's grabs are held on the root window, which hears its keys and pointer in root
  // coordinates: they are the full-screen window's, whose corner is the desktop's.
  if (out.window == s.root && !s.fullScreens.empty()) {
    const rt::PixelRect desktop = DesktopBounds();
    out.window = s.fullScreens.front();
    if (xevent.type == ButtonPress || xevent.type == ButtonRelease) {
      xevent.xbutton.x -= desktop.x;
      xevent.xbutton.y -= desktop.y;
    } else if (xevent.type == MotionNotify) {
      xevent.xmotion.x -= desktop.x;
      xevent.xmotion.y -= desktop.y;
    } else if (xevent.type != kXKeyPressEvent) {
      out.window = s.root;
    }
  }
  switch (xevent.type) {
    case kXKeyPressEvent: {
      char text[8];
      KeySym typed = NoSymbol;
      const int length = XLookupString(&xevent.xkey, text, sizeof text, &typed, nullptr);
      // Keypad keys follow Num Lock; every other key is named by its unshifted symbol.
      const KeySym sym = IsKeypadKey(typed) ? typed : XLookupKeysym(&xevent.xkey, 0);
      out.type = EventType::KeyDown;
      out.keyCode = posix::VirtualKeyOfKeysym(sym);
      out.shift = ShiftBits(xevent.xkey.state);
      rt::PostEvent(out);
      const auto character = length > 0 ? static_cast<unsigned char>(text[0]) : 0;
      if (character != 0 && character != 127) {  // Delete types nothing on Windows either
        out.type = EventType::KeyPress;
        out.keyChar = character;
        rt::PostEvent(out);
      }
      return true;
    }
    case ButtonPress:
    case ButtonRelease:
      out.type = xevent.type == ButtonPress ? EventType::MouseDown : EventType::MouseUp;
      out.x = xevent.xbutton.x;
      out.y = xevent.xbutton.y;
      if (!xevent.xbutton.same_screen)
        OnAnotherScreen(out, xevent.xbutton.x_root, xevent.xbutton.y_root);
      out.button = ButtonBit(xevent.xbutton.button);
      out.shift = ShiftBits(xevent.xbutton.state);
      if (out.button == 0) return false;
      break;
    case MotionNotify:
      out.type = EventType::MouseMove;
      out.x = xevent.xmotion.x;
      out.y = xevent.xmotion.y;
      if (!xevent.xmotion.same_screen)
        OnAnotherScreen(out, xevent.xmotion.x_root, xevent.xmotion.y_root);
      out.button = HeldButtons(xevent.xmotion.state);
      out.shift = ShiftBits(xevent.xmotion.state);
      break;
    case Expose:
      out.type = EventType::Exposed;
      out.x = xevent.xexpose.x;
      out.y = xevent.xexpose.y;
      out.width = xevent.xexpose.width;
      out.height = xevent.xexpose.height;
      break;
    case MapNotify:
      ReportPointerOnMap(xevent.xmap.window);
      return true;
    case PropertyNotify:
      if (xevent.xproperty.atom == Intern("WM_STATE") && xevent.xproperty.state == PropertyNewValue)
        RestoreIfIconic(xevent.xproperty.window);
      return false;
    case VisibilityNotify:
      // Only the saver asks for these: another override-redirect window came over it.
      if (xevent.xvisibility.state != VisibilityUnobscured) {
        XRaiseWindow(s.display, xevent.xany.window);
        s.unflushed = true;
      }
      return false;
    case ClientMessage:
      // Only the window manager's close request; other client messages are not ours.
      if (xevent.xclient.format != 32 || xevent.xclient.message_type != Intern("WM_PROTOCOLS") ||
          static_cast<Atom>(xevent.xclient.data.l[0]) != Intern("WM_DELETE_WINDOW"))
        return false;
      out.type = EventType::CloseRequest;
      break;
    case SelectionRequest: {
      // The single-copy selection holds no data: a client that asks for it gets a refusal.
      XSelectionEvent refusal{};
      refusal.type = SelectionNotify;
      refusal.requestor = xevent.xselectionrequest.requestor;
      refusal.selection = xevent.xselectionrequest.selection;
      refusal.target = xevent.xselectionrequest.target;
      refusal.property = None;
      refusal.time = xevent.xselectionrequest.time;
      XEvent reply{};
      reply.xselection = refusal;
      XSendEvent(s.display, refusal.requestor, False, NoEventMask, &reply);
      s.unflushed = true;
      return false;
    }
    default:
      return false;
  }
  rt::PostEvent(out);
  return true;
}

}  // namespace host::x11_detail
