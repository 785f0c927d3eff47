// The main window's two measuring commands: current values and two-point calibration.
#include "app/form_main.h"

void TFormMain::NvalClick() {
  // Needs a link; the command stays disabled until one can be set up.
}

void TFormMain::NclbClick() {
  // Needs a link; the command stays disabled until one can be set up.
}
