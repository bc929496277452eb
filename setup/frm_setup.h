// The about dialog of setup mode: the program has no settings, so it shows who made it, two
// contact addresses, advice on colour depth, and one button that ends the program.
#pragma once

#include "platform/controls.h"
#include "platform/forms.h"
#include "platform/picture.h"

class FrmSetup : public rt::Form {
 public:
  FrmSetup();

  // The pictures the two picture boxes hold (declared first: the boxes point at them).
  const rt::Picture Logo;
  const rt::Picture Creature;

  // In drawing order, bottom first; Text1 lies over Frame1 and is drawn on top of it.
  rt::PictureBox Picture1{*this};
  rt::Label Label1{*this};
  rt::Frame Frame1{*this};
  rt::ControlArray<rt::Label> Label2;
  rt::CommandButton Command1{*this};
  rt::TextBox Text1{*this};
  rt::TextBox Text2{*this, &Frame1};
  rt::Frame Frame2{*this};
  rt::Label Label3{*this, &Frame2};
  rt::PictureBox Picture2{*this};

  void Command1_Click();
  void Picture1_DblClick();
};
