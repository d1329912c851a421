// The splash form's entry until the splash form is linked in: shows nothing.
#include "tray/tray_seams.h"

namespace om {

void ShowSplashForm(bool) {}

}  // namespace om
