#pragma once

#include <QPalette>

class QApplication;

namespace ov {

// The application's dark appearance: the Fusion style, which draws every
// control from the palette, with a dark palette for the whole application.
// It replaces whatever the desktop would pick, as the dark appearance does on
// macOS. Main thread, once an application object exists.
QPalette darkPalette();
void applyDarkAppearance(QApplication& application);

// Whether applyDarkAppearance() has been applied to the running application.
bool isDarkAppearanceApplied();

}  // namespace ov
