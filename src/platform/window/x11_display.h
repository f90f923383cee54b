// What the window layer does with Xlib directly (kept apart: Xlib's macros clash with ordinary
// names).
#pragma once

namespace vt::win {

// Keeps one harmless X error from ending the program; call after the display is opened.
void InstallXErrorHandler();

}  // namespace vt::win
