// The about dialog's window settings.
#include "setup/frm_setup.h"

FrmSetup::FrmSetup() {
  Caption = "Quietglass v1.01";
  Border = rt::BorderStyle::FixedDialog;
  ControlBox = false;
  MinButton = false;
  MaxButton = false;
  ShowInTaskbar = false;
  ClientWidth = 3375;
  ClientHeight = 4335;
}
