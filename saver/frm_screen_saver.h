// The saver window: full screen, the artwork centred, the disk on top, the animation timer, and
// the exit check that ends the program when the user is back.
#pragma once

#include <cstdint>

#include "platform/controls.h"
#include "platform/forms.h"
#include "platform/picture.h"

// The animation timer's interval: one tick of the disk's cycle.
constexpr int kTickMilliseconds = 150;

class frmScreenSaver : public rt::Form {
 public:
  frmScreenSaver();

  // The decoded pictures the two controls show (declared first: the controls point at them).
  const rt::Picture Background;
  const rt::Picture Disk;
  const rt::Picture ProgramIcon;

  // Drawing order, bottom first: the artwork, then the disk above it.
  rt::Image Image1{*this};
  rt::Image Image2{*this};
  rt::Timer tmrAnimation{*this};

  // Animation state, all 0 when the window is created.
  float DiskTop = 0;            // twips
  std::int16_t DiskHeight = 0;  // twips
  std::int16_t HoldTicks = 0;   // ticks still to spend at the start position
  std::int16_t HasCycled = 0;   // 1 once the disk has been sent back to its start

  void Form_Load();
  void Form_Resize();
  void Form_KeyDown(std::int16_t& KeyCode, std::int16_t& Shift);
  void Form_MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y);
  void Form_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y);
  void tmrAnimation_Timer();

  void AlignPic();
  void CheckActivity(const float& X, const float& Y);
  [[noreturn]] void EndSaver();
};
