// End-to-end tests of the about dialog on Xvfb: caption, place and pixels next to the headless
// host, the clicks and keys that end it and those that don't, and no dialog from a second copy.
#include <X11/Xatom.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "platform/headless.h"
#include "platform/picture.h"
#include "startup/module1.h"

// Last: it brings Xlib, whose macros would rename names in the headers above.
#include "platform/keys.h"
#include "tests/x11/x11_harness.h"

namespace x11_e2e {
namespace {

constexpr char kCaption[] = "Quietglass v1.01";
constexpr rt::PixelSize kClient{225, 289};  // 3375 x 4335 twips
// The OK button in client pixels: 2160, 3840 and 1095 x 375 twips.
constexpr rt::PixelRect kOkButton{144, 256, 73, 25};
// Virtual seconds between two groups of input on the headless host: far longer than any
// animation or double-click the dialog could have.
constexpr double kStepSeconds = 0.5;

// One thing the user does, played with XTest on Xvfb and as scripted input on the headless host.
struct Action {
  enum class Kind { Move, Press, Release, Key } kind = Kind::Move;
  int x = 0, y = 0;     // Move: screen pixels
  KeySym key = 0;       // Key: the key pressed and released
  KeySym modifier = 0;  // Key: held around it, or 0
};

Action MoveTo(int x, int y) {
  return {Action::Kind::Move, x, y};
}
Action Press() {
  return {Action::Kind::Press};
}
Action Release() {
  return {Action::Kind::Release};
}
Action Key(KeySym key, KeySym modifier = 0) {
  return {Action::Kind::Key, 0, 0, key, modifier};
}

// What the X host makes of a key: its virtual-key code, the character it types without Shift,
// and the shift bit it sets while held.
struct KeyMeaning {
  KeySym key;
  int virtualKey, typed, shiftBit;
};
constexpr KeyMeaning kKeyMeanings[] = {
    {XK_Tab, 9, 9, 0},
    {XK_Escape, 27, 27, 0},
    {XK_o, 'O', 'o', 0},
    {XK_Alt_L, vk::kMenu, 0, host::kAltMask},
};

KeyMeaning MeaningOf(KeySym key) {
  for (const KeyMeaning& meaning : kKeyMeanings)
    if (meaning.key == key) return meaning;
  ADD_FAILURE() << "no headless meaning for " << XKeysymToString(key);
  return {};
}

// The same action as the headless host's input at virtual time `at`. Like the X host, it hears
// the modifier go down (with no shift bit yet) and then the key with the modifier's bit.
void AppendHeadless(const Action& action, double at, std::vector<headless::Input>& script) {
  switch (action.kind) {
    case Action::Kind::Move:
      script.push_back(headless::MoveAt(at, action.x, action.y));
      break;
    case Action::Kind::Press:
    case Action::Kind::Release: {
      headless::Input input;
      input.at = at;
      input.kind =
          action.kind == Action::Kind::Press ? headless::InputKind::Down : headless::InputKind::Up;
      script.push_back(input);
      break;
    }
    case Action::Kind::Key: {
      int shift = 0;
      if (action.modifier != 0) {
        const KeyMeaning modifier = MeaningOf(action.modifier);
        script.push_back(headless::KeyAt(at, modifier.virtualKey));
        shift = modifier.shiftBit;
      }
      const KeyMeaning key = MeaningOf(action.key);
      script.push_back(headless::KeyAt(at + 0.001, key.virtualKey, key.typed, shift));
      break;
    }
  }
}

rt::Picture Crop(const rt::Picture& screen, const rt::PixelRect& r) {
  rt::Picture out{r.width, r.height, {}};
  for (int y = r.y; y < r.bottom(); ++y)
    for (int x = r.x; x < r.right(); ++x) out.pixels.push_back(screen.at(x, y) & 0xFFFFFF);
  return out;
}

// How two pictures of the same size differ, for a failure message.
std::string Differences(const rt::Picture& shot, const rt::Picture& want) {
  if (shot.width != want.width || shot.height != want.height) return "the sizes differ";
  long count = 0;
  std::ostringstream first;
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x)
      if (shot.at(x, y) != want.at(x, y) && count++ == 0)
        first << ", the first at (" << x << ", " << y << ") is " << std::hex << shot.at(x, y)
              << " instead of " << want.at(x, y);
  return std::to_string(count) + " pixels differ" + first.str();
}

std::string CommandLine(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
  return text;
}

// The dialog on the headless host with the same screen, pointer and command line and no frame,
// as Xvfb without a window manager has: its client area before the first group of actions and
// after each group.
struct HeadlessDialog {
  rt::PixelRect client;  // on the screen
  std::vector<rt::Picture> shots;
  headless::Outcome outcome = headless::Outcome::Returned;
};

HeadlessDialog RunHeadless(rt::PixelSize screen, const std::vector<std::string>& args, int pointerX,
                           int pointerY, const std::vector<std::vector<Action>>& groups = {}) {
  headless::Config config;
  config.screen = screen;
  config.commandLine = CommandLine(args);
  config.pointerX = pointerX;
  config.pointerY = pointerY;
  config.dialogFrame = {0, 0, 0, 0};
  config.runSeconds = kStepSeconds * static_cast<double>(groups.size() + 1);
  std::vector<rt::Picture> screens;
  std::vector<headless::Input> script;
  const auto capture = [&] { screens.push_back(headless::Capture()); };
  for (std::size_t group = 0; group <= groups.size(); ++group) {
    const double start = kStepSeconds * static_cast<double>(group);
    if (group > 0) {
      const auto& actions = groups[group - 1];
      for (std::size_t i = 0; i < actions.size(); ++i)
        AppendHeadless(actions[i], start + 0.01 * static_cast<double>(i), script);
    }
    script.push_back(headless::CallAt(start + kStepSeconds - 0.05, capture));
  }
  const headless::RunResult result = headless::Run(config, std::move(script), RunProgram);
  HeadlessDialog dialog;
  dialog.outcome = result.outcome;
  if (result.windows.size() != 1) {
    ADD_FAILURE() << "the headless host shows " << result.windows.size() << " windows";
    return dialog;
  }
  dialog.client = result.windows[0].client;
  for (const rt::Picture& picture : screens) dialog.shots.push_back(Crop(picture, dialog.client));
  return dialog;
}

// Ignores X errors instead of ending the test: a window may go between finding and reading it.
int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

class DialogEndToEnd : public X11EndToEnd {
 protected:
  Child program;
  Window dialog = 0;
  rt::PixelRect dialogRect;  // on the screen
  int pointerX = 0, pointerY = 0;

  void StartServer(int width, int height) {
    X11EndToEnd::StartServer(width, height);
    if (HasFatalFailure()) return;
    XSetErrorHandler(IgnoreXError);
    Window root, child;
    int x, y;
    unsigned mask;
    XQueryPointer(server.display, DefaultRootWindow(server.display), &root, &child, &pointerX,
                  &pointerY, &x, &y, &mask);
  }

  // The viewable top-level windows of quietglass, told by their class.
  std::vector<Window> ProgramWindows() {
    Display* d = server.display;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    std::vector<Window> found;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return found;
    for (unsigned i = 0; i < count; ++i) {
      XWindowAttributes attributes;
      XClassHint hint{};
      if (!XGetWindowAttributes(d, children[i], &attributes) ||
          attributes.map_state != IsViewable || !XGetClassHint(d, children[i], &hint))
        continue;
      if (std::string(hint.res_name) == "quietglass") found.push_back(children[i]);
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
    if (children != nullptr) XFree(children);
    return found;
  }

  // Starts quietglass with `args` and waits until its one window is viewable.
  void LaunchDialog(const std::vector<std::string>& args) {
    const double started = Now();
    Launch(program, args);
    ASSERT_TRUE(WaitFor([&] { return !program.Running() || !ProgramWindows().empty(); }, 30))
        << "no window after 30 s";
    ASSERT_TRUE(program.Running()) << "ended without a window: " << program.Stderr();
    const std::vector<Window> windows = ProgramWindows();
    ASSERT_EQ(windows.size(), 1u);
    dialog = windows[0];
    std::printf("[ mapped after ] %.0f ms\n", (Now() - started) * 1000);
    Display* d = server.display;
    XWindowAttributes attributes;
    Window child;
    ASSERT_TRUE(XGetWindowAttributes(d, dialog, &attributes));
    ASSERT_TRUE(XTranslateCoordinates(d, dialog, DefaultRootWindow(d), 0, 0, &dialogRect.x,
                                      &dialogRect.y, &child));
    EXPECT_FALSE(attributes.override_redirect) << "the dialog bypasses the window manager";
    dialogRect.width = attributes.width;
    dialogRect.height = attributes.height;
  }

  // A property of the dialog as bytes, whatever its type.
  std::string Property(const char* name) {
    Display* d = server.display;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(d, dialog, XInternAtom(d, name, False), 0, 1024, False, AnyPropertyType,
                           &type, &format, &count, &after, &data) == Success &&
        format == 8 && data != nullptr)
      text.assign(reinterpret_cast<const char*>(data), count);
    if (data != nullptr) XFree(data);
    return text;
  }

  // The screen where the dialog is, as a person sees it.
  rt::Picture DialogShot() { return Crop(Screenshot(), dialogRect); }

  // Waits until the dialog shows `want`, as it must once its paint has reached the server.
  void ExpectShows(const rt::Picture& want, const std::string& when) {
    rt::Picture shot;
    const bool same = WaitFor(
        [&] {
          shot = DialogShot();
          return shot.pixels == want.pixels;
        },
        20);
    EXPECT_TRUE(same) << when << ": " << Differences(shot, want);
  }

  void Perform(const Action& action) {
    Display* d = server.display;
    const auto key = [&](KeySym sym, bool down) {
      const KeyCode code = XKeysymToKeycode(d, sym);
      ASSERT_NE(code, 0) << XKeysymToString(sym);
      XTestFakeKeyEvent(d, code, down, CurrentTime);
    };
    switch (action.kind) {
      case Action::Kind::Move:
        XTestFakeMotionEvent(d, -1, action.x, action.y, CurrentTime);
        break;
      case Action::Kind::Press:
      case Action::Kind::Release:
        XTestFakeButtonEvent(d, Button1, action.kind == Action::Kind::Press, CurrentTime);
        break;
      case Action::Kind::Key:
        if (action.modifier != 0) key(action.modifier, true);
        key(action.key, true);
        key(action.key, false);
        if (action.modifier != 0) key(action.modifier, false);
        break;
    }
    XSync(d, False);
  }
  void Perform(const std::vector<Action>& actions) {
    for (const Action& action : actions) ASSERT_NO_FATAL_FAILURE(Perform(action));
  }

  void ExpectEndsWithin20Seconds(double since, const char* what) {
    ASSERT_TRUE(program.WaitExit(20)) << "still running 20 s after " << what;
    std::printf("[ %s to exit ] %.0f ms\n", what, (Now() - since) * 1000);
    ExpectEndedWithStatus0(program);
  }
};

// ---- Caption, place and pixels -----------------------------------------------------------

struct PlacementCase {
  const char* name;
  std::vector<std::string> args;
  rt::PixelSize screen;
  std::vector<rt::PixelRect> monitors = {};  // primary first; none: the whole screen is one
};
void PrintTo(const PlacementCase& c, std::ostream* out) {
  *out << c.name;
}

class DialogPlacement : public DialogEndToEnd, public testing::WithParamInterface<PlacementCase> {};

TEST_P(DialogPlacement, CaptionPlaceAndPixelsAsOnTheHeadlessHost) {
  const PlacementCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartServer(c.screen.width, c.screen.height));
  ASSERT_NO_FATAL_FAILURE(SetMonitors(c.monitors));
  // The dialog places itself on the primary monitor, as on a screen of its own.
  const rt::PixelRect primary =
      c.monitors.empty() ? rt::PixelRect{0, 0, c.screen.width, c.screen.height} : c.monitors[0];
  HeadlessDialog want = RunHeadless({primary.width, primary.height}, c.args, pointerX - primary.x,
                                    pointerY - primary.y);
  want.client.x += primary.x;
  want.client.y += primary.y;
  ASSERT_EQ(want.shots.size(), 1u);
  ASSERT_NO_FATAL_FAILURE(LaunchDialog(c.args));

  EXPECT_EQ(Property("_NET_WM_NAME"), kCaption);
  EXPECT_EQ(Property("WM_NAME"), kCaption);

  // With no frame the outer size is the client size, and the left edge lies at half and the
  // top edge at 40 % of the free width and height: whole pixels or within half a pixel.
  EXPECT_EQ(dialogRect.width, kClient.width);
  EXPECT_EQ(dialogRect.height, kClient.height);
  constexpr double kTwipsPerPixel = 15;
  const double freeWidth = (primary.width - kClient.width) * kTwipsPerPixel;
  const double freeHeight = (primary.height - kClient.height) * kTwipsPerPixel;
  const double left = primary.x + freeWidth / 2 / kTwipsPerPixel,
               top = primary.y + freeHeight / 2.5 / kTwipsPerPixel;
  EXPECT_LE(std::abs(dialogRect.x - left), 0.5) << "left " << dialogRect.x << ", not " << left;
  EXPECT_LE(std::abs(dialogRect.y - top), 0.5) << "top " << dialogRect.y << ", not " << top;
  EXPECT_EQ(dialogRect, want.client) << "the headless host puts it elsewhere";

  ExpectShows(want.shots[0], "as shown");
  EXPECT_TRUE(program.Running());
}

INSTANTIATE_TEST_SUITE_P(
    Starts, DialogPlacement,
    testing::Values(PlacementCase{"NoArgument", {}, {1024, 768}},
                    // Free space of whole pixels in both directions: (400, 190) exactly.
                    PlacementCase{"Colon1234", {"/c:1234"}, {1025, 764}},
                    PlacementCase{"UpperCase", {"/C"}, {800, 600}},
                    // Two monitors, the primary on the right and lower: (2767.5, 436.4).
                    PlacementCase{"OnThePrimaryOfTwo",
                                  {"/c"},
                                  {3840, 1200},
                                  {{1920, 120, 1920, 1080}, {0, 0, 1920, 1200}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Input that ends it and input that doesn't -------------------------------------------

// The centre of the OK button on the screen, for a dialog whose client area is `client`.
Action MoveToOk(const rt::PixelRect& client) {
  return MoveTo(client.x + kOkButton.x + kOkButton.width / 2,
                client.y + kOkButton.y + kOkButton.height / 2);
}

struct EndingCase {
  const char* name;
  std::vector<Action> (*actions)(const rt::PixelRect& client);
};
void PrintTo(const EndingCase& c, std::ostream* out) {
  *out << c.name;
}

class InputEndsTheDialog : public DialogEndToEnd, public testing::WithParamInterface<EndingCase> {};

TEST_P(InputEndsTheDialog, WithStatus0) {
  constexpr rt::PixelSize kScreen{1024, 768};
  ASSERT_NO_FATAL_FAILURE(StartServer(kScreen.width, kScreen.height));
  const HeadlessDialog shown = RunHeadless(kScreen, {}, pointerX, pointerY);
  ASSERT_EQ(shown.shots.size(), 1u);
  const std::vector<Action> actions = GetParam().actions(shown.client);
  EXPECT_EQ(RunHeadless(kScreen, {}, pointerX, pointerY, {actions}).outcome,
            headless::Outcome::Ended)
      << "the headless host goes on";

  ASSERT_NO_FATAL_FAILURE(LaunchDialog({}));
  ExpectShows(shown.shots[0], "as shown");
  const double acted = Now();
  ASSERT_NO_FATAL_FAILURE(Perform(actions));
  ExpectEndsWithin20Seconds(acted, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, InputEndsTheDialog,
    testing::Values(EndingCase{"ClickOnOk",
                               [](const rt::PixelRect& client) {
                                 return std::vector<Action>{MoveToOk(client), Press(), Release()};
                               }},
                    EndingCase{"AltO",
                               [](const rt::PixelRect&) {
                                 return std::vector<Action>{Key(XK_o, XK_Alt_L)};
                               }}),
    [](const auto& info) { return std::string(info.param.name); });

// A press on OK dragged off before the release is no click: the dialog stays, and then a click
// ends it. X sends the motion and release of a press to the window pressed in, wherever the
// pointer goes; the headless host hears nothing outside its windows, so its reference drops the
// pointer beside the button in both cases, and the end states must agree.
struct DragCase {
  const char* name;
  bool releaseOutsideTheDialog;
};
void PrintTo(const DragCase& c, std::ostream* out) {
  *out << c.name;
}

class APressDraggedOffOk : public DialogEndToEnd, public testing::WithParamInterface<DragCase> {};

TEST_P(APressDraggedOffOk, DoesNotEndIt) {
  constexpr rt::PixelSize kScreen{1024, 768};
  ASSERT_NO_FATAL_FAILURE(StartServer(kScreen.width, kScreen.height));
  const rt::PixelRect client = RunHeadless(kScreen, {}, pointerX, pointerY).client;
  const Action ok = MoveToOk(client);
  const Action beside = MoveTo(ok.x - 100, ok.y);  // on the dialog, left of the button
  const Action outside = MoveTo(client.x - 40, ok.y);
  // Tab after the release moves the focus from OK back to the logo: a change on the screen that
  // shows the release has been handled.
  const std::vector<std::vector<Action>> reference = {
      {ok, Press()}, {beside}, {Release(), beside, Key(XK_Tab)}};
  const std::vector<std::vector<Action>> played = {
      {ok, Press()},
      {GetParam().releaseOutsideTheDialog ? outside : beside},
      {Release(), beside, Key(XK_Tab)}};
  const HeadlessDialog want = RunHeadless(kScreen, {}, pointerX, pointerY, reference);
  ASSERT_EQ(want.shots.size(), 4u) << "the headless host ended";
  EXPECT_EQ(want.outcome, headless::Outcome::Stopped);
  ASSERT_NE(want.shots[1].pixels, want.shots[0].pixels) << "the press shows nothing";
  ASSERT_NE(want.shots[3].pixels, want.shots[2].pixels) << "Tab shows nothing";

  ASSERT_NO_FATAL_FAILURE(LaunchDialog({}));
  ExpectShows(want.shots[0], "as shown");
  const char* names[] = {"pressed on OK", "dragged off", "released, then Tab"};
  for (std::size_t group = 0; group < played.size(); ++group) {
    ASSERT_NO_FATAL_FAILURE(Perform(played[group]));
    ExpectShows(want.shots[group + 1], names[group]);
    ASSERT_TRUE(program.Running()) << "ended when " << names[group];
  }
  const double clicked = Now();
  ASSERT_NO_FATAL_FAILURE(Perform({ok, Press(), Release()}));
  ExpectEndsWithin20Seconds(clicked, "click");
}

INSTANTIATE_TEST_SUITE_P(ReleasedOn, APressDraggedOffOk,
                         testing::Values(DragCase{"TheDialog", false},
                                         DragCase{"TheDesktop", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Escape neither on the logo nor on OK: the dialog has no cancel button. Tab after each Escape
// moves the focus, which shows that the Escape has been handled.
TEST_F(DialogEndToEnd, EscapeDoesNotEndIt) {
  constexpr rt::PixelSize kScreen{1024, 768};
  ASSERT_NO_FATAL_FAILURE(StartServer(kScreen.width, kScreen.height));
  const std::vector<std::vector<Action>> groups = {{Key(XK_Escape), Key(XK_Tab)},
                                                   {Key(XK_Escape), Key(XK_Tab)}};
  const HeadlessDialog want = RunHeadless(kScreen, {}, pointerX, pointerY, groups);
  ASSERT_EQ(want.shots.size(), 3u) << "the headless host ended";
  EXPECT_EQ(want.outcome, headless::Outcome::Stopped);
  ASSERT_NE(want.shots[1].pixels, want.shots[0].pixels) << "Tab to OK shows nothing";
  ASSERT_NE(want.shots[2].pixels, want.shots[1].pixels) << "Tab to the logo shows nothing";

  ASSERT_NO_FATAL_FAILURE(LaunchDialog({}));
  ExpectShows(want.shots[0], "as shown");
  const char* names[] = {"Escape on the logo", "Escape on OK"};
  for (std::size_t group = 0; group < groups.size(); ++group) {
    ASSERT_NO_FATAL_FAILURE(Perform(groups[group]));
    ExpectShows(want.shots[group + 1], std::string(names[group]) + ", then Tab");
    ASSERT_TRUE(program.Running()) << "ended by " << names[group];
  }
  const double pressed = Now();
  ASSERT_NO_FATAL_FAILURE(Perform(Key(XK_o, XK_Alt_L)));
  ExpectEndsWithin20Seconds(pressed, "Alt+O");
}

// A window manager's close (WM_DELETE_WINDOW, sent here as one would send it) ends the program.
TEST_F(DialogEndToEnd, TheWindowManagersCloseEndsIt) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1024, 768));
  ASSERT_NO_FATAL_FAILURE(LaunchDialog({"/c:1234"}));
  Display* d = server.display;
  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.window = dialog;
  close.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  close.xclient.data.l[1] = CurrentTime;
  const double sent = Now();
  ASSERT_NE(XSendEvent(d, dialog, False, NoEventMask, &close), 0);
  XSync(d, False);
  ExpectEndsWithin20Seconds(sent, "close");
}

// A window manager that has gone leaves its check window's id on the root: asking that window
// fails on the server, and the dialog must show all the same, as without a window manager.
TEST_F(DialogEndToEnd, AWindowManagerThatHasGoneDoesNotStopIt) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1024, 768));
  Display* d = server.display;
  const Window gone = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  XDestroyWindow(d, gone);
  const long id = static_cast<long>(gone);
  XChangeProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False),
                  XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&id), 1);
  XSync(d, False);
  ASSERT_NO_FATAL_FAILURE(LaunchDialog({"/c"}));
  EXPECT_EQ(dialogRect.width, kClient.width);  // no frame was waited for or allowed for
  EXPECT_EQ(dialogRect.height, kClient.height);
  EXPECT_TRUE(program.Running());
}

// ---- Under a window manager ---------------------------------------------------------------

// A property of 32-bit values as numbers: a list of windows or of atoms.
std::vector<unsigned long> LongsOf(Display* d, Window window, const char* property, Atom type) {
  Atom actual;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::vector<unsigned long> values;
  if (XGetWindowProperty(d, window, XInternAtom(d, property, False), 0, 1024, False, type, &actual,
                         &format, &count, &after, &data) == Success &&
      format == 32 && data != nullptr) {
    const auto* longs = reinterpret_cast<const unsigned long*>(data);
    values.assign(longs, longs + count);
  }
  if (data != nullptr) XFree(data);
  return values;
}

// Under openbox (Debian's), a stacking window manager that decorates dialogs: the dialog cannot
// be maximized, may be moved and closed, keeps its title, comes back when the window manager is
// asked to minimize it (it has no taskbar entry to come back from), and OK still ends it.
TEST_F(DialogEndToEnd, UnderOpenboxItCannotBeMaximizedNorStayMinimized) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1024, 768));
  Display* d = server.display;
  const Window root = DefaultRootWindow(d);
  // A home of its own, removed at the end, for what openbox writes there.
  struct Home {
    char path[32] = "/tmp/quietglass-openbox-XXXXXX";
    bool made = mkdtemp(path) != nullptr;
    ~Home() {
      if (made) std::filesystem::remove_all(path);
    }
  } home;
  ASSERT_TRUE(home.made);
  Child openbox;
  Spawn(openbox, {"openbox"}, {"DISPLAY=" + server.name, std::string("HOME=") + home.path}, {},
        true);
  const bool managing = WaitFor(
      [&] {
        return !openbox.Running() ||
               !LongsOf(d, root, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty();
      },
      20);
  ASSERT_TRUE(managing && openbox.Running())
      << "openbox did not start (scripts/install-x11-test-deps)";

  Launch(program, {"/c"});
  std::vector<unsigned long> clients;
  ASSERT_TRUE(WaitFor(
      [&] {
        clients = LongsOf(d, root, "_NET_CLIENT_LIST", XA_WINDOW);
        return !program.Running() || clients.size() == 1;
      },
      20));
  ASSERT_TRUE(program.Running()) << program.Stderr();
  dialog = clients[0];
  EXPECT_EQ(Property("_NET_WM_NAME"), kCaption);

  // What openbox allows, as it says.
  const auto allowed = [&] {
    std::set<std::string> names;
    for (const unsigned long atom : LongsOf(d, dialog, "_NET_WM_ALLOWED_ACTIONS", XA_ATOM)) {
      char* name = XGetAtomName(d, atom);
      names.insert(name);
      XFree(name);
    }
    return names;
  };
  std::set<std::string> actions;
  WaitFor([&] { return !(actions = allowed()).empty(); }, 10);
  for (const char* action : {"_NET_WM_ACTION_MOVE", "_NET_WM_ACTION_CLOSE"})
    EXPECT_TRUE(actions.contains(action)) << action << " is not allowed";
  for (const char* action :
       {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_RESIZE"})
    EXPECT_FALSE(actions.contains(action)) << action << " is allowed";

  // Asked to minimize it (ICCCM's WM_CHANGE_STATE, as a keyboard shortcut or a pager sends it),
  // openbox makes it iconic; the dialog must be back on the screen, not iconic, soon after.
  const Atom wmState = XInternAtom(d, "WM_STATE", False);
  const auto state = [&] {
    const std::vector<unsigned long> values = LongsOf(d, dialog, "WM_STATE", wmState);
    return values.empty() ? -1L : static_cast<long>(values[0]);
  };
  const auto viewable = [&] {
    XWindowAttributes attributes;
    return XGetWindowAttributes(d, dialog, &attributes) && attributes.map_state == IsViewable;
  };
  ASSERT_TRUE(WaitFor([&] { return state() == NormalState && viewable(); }, 10));
  XSelectInput(d, dialog, PropertyChangeMask);
  XSync(d, True);
  XEvent minimize{};
  minimize.xclient.type = ClientMessage;
  minimize.xclient.window = dialog;
  minimize.xclient.message_type = XInternAtom(d, "WM_CHANGE_STATE", False);
  minimize.xclient.format = 32;
  minimize.xclient.data.l[0] = IconicState;
  XSendEvent(d, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &minimize);
  XSync(d, False);
  int stateChanges = 0;
  const bool back = WaitFor(
      [&] {
        while (XPending(d) > 0) {
          XEvent event;
          XNextEvent(d, &event);
          stateChanges += event.type == PropertyNotify && event.xproperty.atom == wmState;
        }
        return stateChanges >= 2 && state() == NormalState && viewable();
      },
      10);
  EXPECT_GE(stateChanges, 1) << "openbox did not minimize it";
  EXPECT_TRUE(back) << "still minimized (WM_STATE " << state() << ")";

  // OK, where the frame put the client area.
  Window child;
  ASSERT_TRUE(XTranslateCoordinates(d, dialog, root, 0, 0, &dialogRect.x, &dialogRect.y, &child));
  const double clicked = Now();
  ASSERT_NO_FATAL_FAILURE(Perform({MoveTo(dialogRect.x + kOkButton.x + kOkButton.width / 2,
                                          dialogRect.y + kOkButton.y + kOkButton.height / 2),
                                   Press(), Release()}));
  ExpectEndsWithin20Seconds(clicked, "click on OK");
}

// ---- A second copy -----------------------------------------------------------------------

TEST_F(DialogEndToEnd, WhileTheSaverRunsASecondCopyShowsNoDialog) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1024, 768));
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  Display* d = server.display;
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  XSync(d, True);  // from here on, only windows of the second copy
  const std::vector<std::string> cases[] = {{}, {"/c:1234"}, {"/C"}};
  for (const auto& args : cases) {
    const std::string what = args.empty() ? "no argument" : args[0];
    SCOPED_TRACE(what);
    Child second;
    const double started = Now();
    Launch(second, args);
    ASSERT_TRUE(second.WaitExit(20)) << "still running after 20 s";
    std::printf("[ ended in ] %s: %.0f ms\n", what.c_str(), (Now() - started) * 1000);
    ExpectEndedWithStatus0(second);
    EXPECT_EQ(WindowsCreatedOrMapped(), 0) << "it made or mapped a window";
    EXPECT_TRUE(saver.Running()) << "the saver ended";
  }
}

}  // namespace
}  // namespace x11_e2e
