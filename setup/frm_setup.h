// The about dialog of setup mode: the program has no settings, so it shows who made it.
#pragma once

#include "platform/forms.h"

class FrmSetup : public rt::Form {
 public:
  FrmSetup();
};
