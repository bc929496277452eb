// Start-up and mode selection: a second copy or an unknown switch ends at once, "/C" or nothing
// shows the about dialog, "/S" starts the saver.
#include "startup/module1.h"

#include <algorithm>
#include <string>

#include "platform/forms.h"
#include "platform/runtime.h"
#include "saver/frm_screen_saver.h"
#include "setup/frm_setup.h"

Module1State Module1;

namespace {

// Only ASCII letters change: the switches are ASCII, and other bytes (UTF-8 included) stay as
// they are so that nothing else can turn into "/S" or "/C".
std::string UpperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Twips as the 16-bit value the cursor call was written for; a screen wider or taller than
// 32767 twips is clamped there, which still puts the cursor in the corner.
std::int16_t ToInt16(float twips) {
  return static_cast<std::int16_t>(std::clamp(twips, -32768.0f, 32767.0f));
}

}  // namespace

void Main() {
  if (rt::AnotherInstanceRunning()) rt::EndProgram();
  Module1.InPause = false;
  const std::string Cmd = UpperCase(rt::CommandLineText());
  if (Cmd.empty() || Cmd.starts_with("/C")) {
    FrmSetup& dialog = rt::NewForm<FrmSetup>();
    // Above the true centre: at 40 % of the free height.
    dialog.SetTop((rt::ScreenHeightTwips() - dialog.Height()) / 2.5f);
    dialog.SetLeft((rt::ScreenWidthTwips() - dialog.Width()) / 2);
    dialog.Show(rt::ShowMode::Modal);
    rt::EndProgram();
  } else if (Cmd == "/S") {
    ParkCursor();
    rt::NewForm<frmScreenSaver>().Show(rt::ShowMode::Modeless);
  } else {
    rt::EndProgram();  // preview, password change and anything else: nothing is shown
  }
}

void ParkCursor() {
  const std::int16_t x = ToInt16(rt::ScreenWidthTwips());
  const std::int16_t y = ToInt16(rt::ScreenHeightTwips());
  // Twips passed as pixels always lie past the last column and row, so the window system puts
  // the cursor in the bottom-right corner.
  rt::SetCursorPos(x, y);
  Module1.LastMouseX = x;
  Module1.LastMouseY = y;
}

void Pause(const std::int16_t& Seconds) {
  if (Seconds <= 0) return;
  if (Module1.InPause) return;
  Module1.InPause = true;
  float Start = rt::ClockSeconds();
  const auto waited = [&Start, &Seconds] {
    const float Now = rt::ClockSeconds();
    if (Now < Start) Start -= 86400;  // the clock passed midnight
    return Now - Start >= Seconds;
  };
  // Events keep being dispatched while it waits, and it sleeps between them instead of spinning;
  // a clock set back never makes it wait longer than `Seconds`.
  rt::RunUntil(waited, Seconds);
  Module1.InPause = false;
}

void RunProgram() {
  Module1 = Module1State{};
  Main();
  rt::RunEventLoop();
}
