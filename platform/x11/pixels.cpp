// The X11 host's pixels: converted to the visual's layout and put through a shared-memory
// segment (a descriptor, else System V) where the server reaches it, else in the request itself.
#ifdef QG_WITH_XCB
#include <X11/Xlib-xcb.h>
#include <xcb/shm.h>
#endif
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "platform/x11/x11_internal.h"

namespace host::x11_detail {

namespace {

int ChannelShift(unsigned long mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

}  // namespace

// The visual's pixel value for an 0xAARRGGBB colour.
unsigned long PixelValue(rt::Pixel colour) {
  const Visual* v = S().visual;
  const auto channel = [](unsigned value, unsigned long mask) {
    const unsigned long max = mask >> ChannelShift(mask);
    return ((value * max + 127) / 255) << ChannelShift(mask);
  };
  return channel((colour >> 16) & 0xFF, v->red_mask) |
         channel((colour >> 8) & 0xFF, v->green_mask) | channel(colour & 0xFF, v->blue_mask);
}

namespace {

// Copies `area` of `pixels` into `image`, fast for the usual 32-bit 0x00RRGGBB layout.
void Convert(XImage* image, const rt::Pixel* pixels, int stride) {
  const Visual* v = S().visual;
  const bool plain = image->bits_per_pixel == 32 && v->red_mask == 0xFF0000 &&
                     v->green_mask == 0xFF00 && v->blue_mask == 0xFF;
  for (int y = 0; y < image->height; ++y) {
    const rt::Pixel* src = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    if (plain) {
      auto* dst = reinterpret_cast<std::uint32_t*>(image->data + y * image->bytes_per_line);
      // A 32-bit visual's spare bits are alpha, which a compositing manager reads: opaque.
      const std::uint32_t spare = image->depth == 32 ? 0xFF000000u : 0;
      for (int x = 0; x < image->width; ++x) dst[x] = (src[x] & 0xFFFFFF) | spare;
    } else {
      for (int x = 0; x < image->width; ++x) XPutPixel(image, x, y, PixelValue(src[x]));
    }
  }
}

void DropShmSegment() {
  X11State& s = S();
  if (s.shmSize == 0) return;
  XShmDetach(s.display, &s.shm);
  XSync(s.display, False);  // the server lets go before the memory does
  if (s.shmByFd)
    munmap(s.shm.shmaddr, s.shmSize);
  else
    shmdt(s.shm.shmaddr);
  s.shmSize = 0;
  s.shmUsed = 0;
}

// A server in another IPC namespace (the saver in a container of its own, or behind a relay)
// attaches whatever segment has our id there, or none. A few pixels put through the segment into
// a pixmap and read back tell whether it sees ours. Runs inside the attach's trap.
bool ServerSeesSegment() {
  X11State& s = S();
  constexpr int kProbeWidth = 8;
  XImage* image = XShmCreateImage(s.display, s.visual, static_cast<unsigned>(s.depth), ZPixmap,
                                  nullptr, &s.shm, kProbeWidth, 1);
  if (image == nullptr) return false;
  image->data = s.shm.shmaddr;
  // Different for every process and segment, so another segment is most unlikely to hold it.
  const unsigned long used = s.visual->red_mask | s.visual->green_mask | s.visual->blue_mask;
  unsigned long value =
      static_cast<unsigned long>(getpid()) * 2654435761u ^ static_cast<unsigned long>(s.shm.shmid);
  std::array<unsigned long, kProbeWidth> pattern{};
  for (int x = 0; x < kProbeWidth; ++x) {
    value = value * 6364136223846793005u + 1442695040888963407u;
    pattern[x] = (value >> 17) & used;
    XPutPixel(image, x, 0, pattern[x]);
  }
  const Pixmap pixmap =
      XCreatePixmap(s.display, s.root, kProbeWidth, 1, static_cast<unsigned>(s.depth));
  XShmPutImage(s.display, pixmap, s.gc, image, 0, 0, 0, 0, kProbeWidth, 1, False);
  XImage* back = XGetImage(s.display, pixmap, 0, 0, kProbeWidth, 1, AllPlanes, ZPixmap);
  XFreePixmap(s.display, pixmap);
  bool same = back != nullptr;
  for (int x = 0; same && x < kProbeWidth; ++x) same = (XGetPixel(back, x, 0) & used) == pattern[x];
  if (back != nullptr) XDestroyImage(back);
  image->data = nullptr;
  image->obdata = nullptr;
  XDestroyImage(image);
  return same;
}

// A segment handed to the server as a descriptor (MIT-SHM 1.2): it is the very memory we write,
// whatever namespace or relay lies between, and nothing of it outlives both processes. False
// when the server or the connection does not take one (no descriptors cross a relay or TCP).
bool AttachSegmentByFd(std::size_t bytes) {
#ifdef QG_WITH_SHM_FD
  X11State& s = S();
  if (!s.shmFdTried) {
    s.shmFdTried = true;
    int major = 0, minor = 0;
    Bool pixmaps;
    s.shmByFd = XShmQueryVersion(s.display, &major, &minor, &pixmaps) &&
                (major > 1 || (major == 1 && minor >= 2));
  }
  if (!s.shmByFd) return false;
  const int fd = memfd_create("quietglass", MFD_CLOEXEC);
  if (fd < 0) return s.shmByFd = false;
  void* address = ftruncate(fd, static_cast<off_t>(bytes)) == 0
                      ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                      : MAP_FAILED;
  if (address == MAP_FAILED) {
    close(fd);
    return s.shmByFd = false;
  }
  xcb_connection_t* connection = XGetXCBConnection(s.display);
  const std::uint32_t segment = xcb_generate_id(connection);
  // xcb closes the descriptor once it is sent; the error, if any, comes to the cookie.
  xcb_generic_error_t* error =
      xcb_request_check(connection, xcb_shm_attach_fd_checked(connection, segment, fd, 1));
  s.xcbRead = true;  // waiting for the answer may have read events too
  if (error != nullptr) {
    std::free(error);
    munmap(address, bytes);
    return s.shmByFd = false;  // the System V segment and its probe are left
  }
  s.shm.shmseg = segment;
  s.shm.shmid = -1;
  s.shm.shmaddr = static_cast<char*>(address);
  s.shm.readOnly = True;
  return true;
#else
  (void)bytes;
  return false;
#endif
}

// A System V segment, for a server without MIT-SHM 1.2. The server attaches whatever segment
// has our id in its IPC namespace, which a relay or a container can make another one, so a few
// pixels are always read back through it. Marked for removal straight after we attach it
// (Linux still lets the server attach it), with the signals that end a copy held off until
// then, so that no segment outlives the processes.
bool AttachSystemVSegment(std::size_t bytes) {
  X11State& s = S();
  sigset_t ending, previous;
  sigemptyset(&ending);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&ending, signal);
  sigprocmask(SIG_BLOCK, &ending, &previous);
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  void* address = id < 0 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, 0);
  if (id >= 0) shmctl(id, IPC_RMID, nullptr);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (address == reinterpret_cast<void*>(-1)) return false;
  s.shm.shmid = id;
  s.shm.shmaddr = static_cast<char*>(address);
  s.shm.readOnly = True;
  BeginTrap();
  XShmAttach(s.display, &s.shm);
  const bool seen = ServerSeesSegment();
  if (EndTrap() && seen) return true;
  shmdt(address);
  return false;
}

// A shared segment of at least `bytes`; false (and no more SHM) when the server can't attach it,
// as happens on a display reached over the network.
constexpr std::size_t kShmMinBytes = 512 * 1024;
bool EnsureShmSegment(std::size_t bytes) {
  X11State& s = S();
  if (s.shmSize >= bytes) return true;
  DropShmSegment();
  // Room for several pictures, so that the server need not be waited for after each one.
  bytes = std::max(bytes * 4, kShmMinBytes);
  if (!AttachSegmentByFd(bytes) && !AttachSystemVSegment(bytes)) return s.useShm = false;
  s.shmSize = bytes;
  return true;
}

}  // namespace

// Pictures go through the shared segment one after another; only when it is full must the
// server be done with all of them before its start is written again. False when the segment or
// the image cannot be had, and the plain path must do.
bool PresentShm(Window window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  X11State& s = S();
  XImage* image =
      XShmCreateImage(s.display, s.visual, static_cast<unsigned>(s.depth), ZPixmap, nullptr, &s.shm,
                      static_cast<unsigned>(area.width), static_cast<unsigned>(area.height));
  if (image == nullptr) return false;
  const auto bytes = static_cast<std::size_t>(image->bytes_per_line) * area.height;
  const bool shared = EnsureShmSegment(bytes);
  if (shared) {
    if (s.shmUsed + bytes > s.shmSize) {
      WaitForServer();
      s.shmUsed = 0;
    }
    image->data = s.shm.shmaddr + s.shmUsed;
    Convert(image, pixels, stride);
#ifdef QG_WITH_XCB
    // Through xcb, so that the tick's flush is xcb's, which only writes.
    xcb_shm_put_image(
        XGetXCBConnection(s.display), window, XGContextFromGC(s.gc),
        static_cast<std::uint16_t>(area.width), static_cast<std::uint16_t>(area.height), 0, 0,
        static_cast<std::uint16_t>(area.width), static_cast<std::uint16_t>(area.height),
        static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
        static_cast<std::uint8_t>(s.depth), XCB_IMAGE_FORMAT_Z_PIXMAP, 0, s.shm.shmseg,
        static_cast<std::uint32_t>(s.shmUsed));
    s.xcbUnflushed = true;
#else
    XShmPutImage(s.display, window, s.gc, image, 0, 0, area.x, area.y,
                 static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), False);
    s.unflushed = true;
#endif
    s.shmUsed += (bytes + 63) / 64 * 64;
  }
  image->data = nullptr;
  image->obdata = nullptr;  // ours, not Xlib's to free
  XDestroyImage(image);
  return shared;
}

// The plain path: the pixels travel in the request itself.
void PresentPlain(Window window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  X11State& s = S();
  XImage* image =
      XCreateImage(s.display, s.visual, static_cast<unsigned>(s.depth), ZPixmap, 0, nullptr,
                   static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), 32, 0);
  if (image == nullptr) return;  // nothing to draw with; the next change tries again
  s.buffer.resize(static_cast<std::size_t>(image->bytes_per_line) * area.height);
  image->data = s.buffer.data();
  Convert(image, pixels, stride);
  XPutImage(s.display, window, s.gc, image, 0, 0, area.x, area.y, static_cast<unsigned>(area.width),
            static_cast<unsigned>(area.height));
  s.unflushed = true;
  image->data = nullptr;
  XDestroyImage(image);
}

// Pixels through the shared segment where the server reaches it, else in the request.
void PutPixels(Window window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  X11State& s = S();
  if (s.useShm && PresentShm(window, area, pixels, stride)) return;
  PresentPlain(window, area, pixels, stride);
}

void FillArea(Window window, const rt::PixelRect& area, rt::Pixel colour) {
  X11State& s = S();
#ifdef QG_WITH_XCB
  // A graphics context of xcb's own: Xlib's keeps its foreground in a cache xcb cannot see.
  xcb_connection_t* connection = XGetXCBConnection(s.display);
  const std::uint32_t foreground = static_cast<std::uint32_t>(PixelValue(colour));
  if (s.fillGc == 0) {
    s.fillGc = xcb_generate_id(connection);
    xcb_create_gc(connection, s.fillGc, window, XCB_GC_FOREGROUND, &foreground);
  } else {
    xcb_change_gc(connection, s.fillGc, XCB_GC_FOREGROUND, &foreground);
  }
  const xcb_rectangle_t rectangle{
      static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
      static_cast<std::uint16_t>(area.width), static_cast<std::uint16_t>(area.height)};
  xcb_poly_fill_rectangle(connection, window, s.fillGc, 1, &rectangle);
  s.xcbUnflushed = true;
#else
  s.unflushed = true;
  XSetForeground(s.display, s.gc, PixelValue(colour));
  XFillRectangle(s.display, window, s.gc, area.x, area.y, static_cast<unsigned>(area.width),
                 static_cast<unsigned>(area.height));
#endif
}

}  // namespace host::x11_detail
