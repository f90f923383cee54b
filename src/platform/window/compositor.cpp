// Kept apart from the window code: Xlib's macros clash with ordinary names.
#include <X11/Xlib.h>

#include <cstdio>

#include "platform/window/window.h"

namespace vt::win {

bool CompositingManagerRunning() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  char name[32];
  std::snprintf(name, sizeof name, "_NET_WM_CM_S%d", DefaultScreen(display));
  const Atom atom = XInternAtom(display, name, False);
  const bool running = XGetSelectionOwner(display, atom) != None;
  XCloseDisplay(display);
  return running;
}

}  // namespace vt::win
