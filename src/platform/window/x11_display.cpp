// Kept apart from the window code: Xlib's macros clash with ordinary names.
#include "platform/window/x11_display.h"

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

namespace vt::win {
namespace {

XErrorHandler previous_x_error_handler = nullptr;

// SDL wakes its event wait by sending a message to a window over a second connection; when the
// window is destroyed first, the server answers BadWindow, and Xlib's default handler would end
// the program for it. Nothing is lost by ignoring that one error.
int LenientXErrorHandler(Display* display, XErrorEvent* error) {
  if (error->error_code == BadWindow && error->request_code == 25 /* X_SendEvent */) return 0;
  return previous_x_error_handler ? previous_x_error_handler(display, error) : 0;
}

}  // namespace

void InstallXErrorHandler() {
  XErrorHandler previous = XSetErrorHandler(LenientXErrorHandler);
  if (previous != LenientXErrorHandler) previous_x_error_handler = previous;
}

}  // namespace vt::win
