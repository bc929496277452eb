// The runtime's controls on their own, outside any form of the program.
#include "platform/controls.h"

#include <gtest/gtest.h>

#include "platform/forms.h"
#include "platform/headless.h"

using headless::CallAt;
using headless::KeyAt;

namespace {

constexpr int kVkBack = 8, kVkDelete = 46;

// The same text box without the dialog's handlers: the keys the dialog cancels do edit it.
struct EditForm : rt::Form {
  rt::TextBox box{*this};
  EditForm() {
    ClientWidth = 3000;
    ClientHeight = 600;
    box.Move(0, 0, 3000, 300);
    box.SetText("abc");
  }
};

TEST(TextBox, EditsWhenItsHandlersLetTheKeysThrough) {
  std::string text;
  headless::Config config;
  config.runSeconds = 1;
  headless::Run(
      config,
      {CallAt(0.01, [] { rt::Clipboard() = "XY"; }), KeyAt(0.1, 0x23 /* End */),
       KeyAt(0.2, 'D', 'd'), KeyAt(0.3, kVkBack, 8), KeyAt(0.35, kVkBack, 8),
       KeyAt(0.4, 'V', 22, host::kCtrlMask), KeyAt(0.5, 0x24 /* Home */), KeyAt(0.6, kVkDelete),
       CallAt(0.9, [&] { text = rt::FindForm<EditForm>()->box.Text(); })},
      [] { rt::NewForm<EditForm>().Show(); });
  EXPECT_EQ(text, "bXY");
}

}  // namespace
