// The about dialog's layout and handlers.
#include "setup/frm_setup.h"

#include "assets/assets.h"
#include "platform/runtime.h"

namespace {

// Positions and sizes in twips, relative to each control's container.
void Place(rt::Control& control, float left, float top, float width, float height, int tabIndex) {
  control.Move(left, top, width, height);
  control.TabIndex = tabIndex;
}

}  // namespace

FrmSetup::FrmSetup()
    : Logo(rt::LoadBuiltInIcon(assets::ProgramIcon(), 8)),
      Creature(rt::LoadBuiltInIcon(assets::CreatureIcon(), 8)) {
  // A fixed dialog without a control box, so its title bar has no close button.
  Caption = "Quietglass v1.01";
  Border = rt::BorderStyle::FixedDialog;
  ControlBox = false;
  MinButton = false;
  MaxButton = false;
  ShowInTaskbar = false;
  BackColor = rt::kButtonFace;
  ClientWidth = 3375;
  ClientHeight = 4335;

  Place(Picture1, 120, 120, 540, 540, 0);
  Picture1.SetPicture(&Logo);

  Place(Label1, 840, 120, 2415, 615, 1);
  Label1.Caption = "Quietglass";
  Label1.Font = &rt::kTitleFont;

  Place(Frame1, 120, 720, 3135, 1095, 2);

  // A control array with the indices 0, 1 and 3.
  rt::Label& website = Label2.Add(3, *this, &Frame1);
  Place(website, 120, 720, 735, 255, 3);
  website.Caption = "website:";
  rt::Label& email = Label2.Add(1, *this, &Frame1);
  Place(email, 120, 480, 495, 255, 4);
  email.Caption = "email:";
  rt::Label& credit = Label2.Add(0, *this, &Frame1);
  Place(credit, 120, 240, 2895, 255, 5);
  credit.Caption = "Bolted together in 10 minutes by Pellwin";

  Place(Command1, 2160, 3840, 1095, 375, 6);
  Command1.Caption = "&OK";

  // The addresses can be selected with the mouse; no key changes a text box.
  // Text1 lies on the window, over Frame1 on the row of the "email:" label.
  Place(Text1, 1080, 1200, 1935, 285, 7);
  Text1.SetText("pellwin@quietglass.net");
  Text1.BackColor = rt::kButtonFace;
  Text1.TabStop = false;

  Place(Text2, 960, 720, 1935, 285, 8);
  Text2.SetText("http://quietglass.net/");
  Text2.BackColor = rt::kButtonFace;
  Text2.TabStop = false;

  Place(Frame2, 120, 1920, 3135, 1815, 9);

  Place(Label3, 120, 240, 2895, 1455, 10);
  Label3.TextAlign = rt::Alignment::Center;
  Label3.Caption =
      "For best results (and to prevent dithering on the purple background), your display should "
      "be running in 'high color' or greater. 256 color mode just wont cut it. Anyway, no self "
      "respecting ex-Orvel owner would been seen dead with only 256 colors!";

  Place(Picture2, 360, 3960, 495, 255, 11);
  Picture2.SetPicture(&Creature);
  Picture2.SetVisible(false);

  Command1.OnClick = [this] { Command1_Click(); };
  Picture1.OnDblClick = [this] { Picture1_DblClick(); };
}

void FrmSetup::Command1_Click() {
  rt::EndProgram();
}

// The hidden creature replaces the logo for as long as the dialog is open.
void FrmSetup::Picture1_DblClick() {
  Picture1.SetPicture(Picture2.GetPicture());
}
