// Kept apart from the window code: Xlib's macros clash with ordinary names.
#include "platform/window/x11_display.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

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

struct X11Window {
  Display* display = nullptr;
  ::Window window = 0;
};

X11Window X11Of(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return {};
  return {info.info.x11.display, info.info.x11.window};
}

// The window a property of type WINDOW names, or None.
::Window WindowProperty(Display* display, ::Window of, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  ::Window found = None;
  if (XGetWindowProperty(display, of, property, 0, 1, False, XA_WINDOW, &type, &format, &count,
                         &after, &data) == Success &&
      type == XA_WINDOW && format == 32 && count == 1 && data) {
    found = static_cast<::Window>(*reinterpret_cast<unsigned long*>(data));
  }
  if (data) XFree(data);
  return found;
}

}  // namespace

void InstallXErrorHandler() {
  XErrorHandler previous = XSetErrorHandler(LenientXErrorHandler);
  if (previous != LenientXErrorHandler) previous_x_error_handler = previous;
}

unsigned long X11WindowOf(SDL_Window* window) {
  return X11Of(window).window;
}

bool WindowManagerRunsFor(SDL_Window* window) {
  const X11Window x = X11Of(window);
  if (!x.display) return false;
  // A running manager names its check window on the root, and the check window names itself; a
  // stale root property left by a manager that died does not.
  const Atom check = XInternAtom(x.display, "_NET_SUPPORTING_WM_CHECK", False);
  const ::Window root = DefaultRootWindow(x.display);
  const ::Window child = WindowProperty(x.display, root, check);
  if (child == None) return false;
  XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  const ::Window self = WindowProperty(x.display, child, check);
  XSync(x.display, False);
  XSetErrorHandler(previous);
  return self == child;
}

namespace {

std::set<unsigned long> ChildProcessIds() {
  std::set<unsigned long> children;
  const auto self = static_cast<unsigned long>(getpid());
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  while (const dirent* entry = readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream status("/proc/" + name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("PPid:", 0) != 0) continue;
      if (std::stoul(line.substr(5)) == self) children.insert(std::stoul(name));
      break;
    }
  }
  closedir(proc);
  return children;
}

}  // namespace

bool PointerOnScreen(SDL_Window* window, int& x, int& y) {
  const X11Window w = X11Of(window);
  if (!w.display) return false;
  ::Window root = None;
  ::Window child = None;
  int window_x = 0;
  int window_y = 0;
  unsigned int buttons = 0;
  return XQueryPointer(w.display, DefaultRootWindow(w.display), &root, &child, &x, &y, &window_x,
                       &window_y, &buttons) != 0;
}

int DragThreshold() {
  return 8;
}

namespace {

// The top-level windows: the window manager's client list, or where there is none (weston's
// XWayland manager keeps none) the root's children and theirs (a manager's frames hold the
// clients one level down).
std::vector<::Window> TopLevelWindows(Display* display) {
  std::vector<::Window> windows;
  const Atom client_list = XInternAtom(display, "_NET_CLIENT_LIST", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, DefaultRootWindow(display), client_list, 0, 4096, False,
                         XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      data && count > 0) {
    const auto* clients = reinterpret_cast<const unsigned long*>(data);
    windows.assign(clients, clients + count);
  }
  if (data) XFree(data);
  if (!windows.empty()) return windows;

  const auto children_of = [display](::Window parent) {
    std::vector<::Window> found;
    ::Window root = None;
    ::Window up = None;
    ::Window* list = nullptr;
    unsigned int n = 0;
    if (XQueryTree(display, parent, &root, &up, &list, &n) && list) found.assign(list, list + n);
    if (list) XFree(list);
    return found;
  };
  for (const ::Window top : children_of(DefaultRootWindow(display))) {
    windows.push_back(top);
    for (const ::Window inner : children_of(top)) windows.push_back(inner);
  }
  return windows;
}

}  // namespace

void AdoptChildProcessWindows(SDL_Window* owner) {
  const X11Window o = X11Of(owner);
  if (!o.display) return;
  Display* display = o.display;
  const std::set<unsigned long> children = ChildProcessIds();
  if (children.empty()) return;
  const Atom pid_atom = XInternAtom(display, "_NET_WM_PID", False);
  // A window may go away between the list and the look at it: such errors are expected here.
  XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  for (const ::Window client : TopLevelWindows(display)) {
    if (client == o.window) continue;
    unsigned char* pid_data = nullptr;
    Atom pid_type = None;
    int pid_format = 0;
    unsigned long pid_count = 0;
    unsigned long pid_after = 0;
    if (XGetWindowProperty(display, client, pid_atom, 0, 1, False, XA_CARDINAL, &pid_type,
                           &pid_format, &pid_count, &pid_after, &pid_data) == Success &&
        pid_data && pid_count == 1 &&
        children.count(*reinterpret_cast<unsigned long*>(pid_data)) != 0) {
      ::Window current = None;
      if (!XGetTransientForHint(display, client, &current) || current != o.window)
        XSetTransientForHint(display, client, o.window);
    }
    if (pid_data) XFree(pid_data);
  }
  XSync(display, False);
  XSetErrorHandler(previous);
}

void MakeTransientFor(SDL_Window* window, unsigned long owner) {
  const X11Window x = X11Of(window);
  if (!x.display || owner == 0) return;
  XSetTransientForHint(x.display, x.window, owner);
  XFlush(x.display);
}

void MakeModalDialogOf(SDL_Window* dialog, SDL_Window* owner) {
  const X11Window d = X11Of(dialog);
  const X11Window o = X11Of(owner);
  if (!d.display || !o.window) return;
  Display* display = d.display;
  MakeTransientFor(dialog, o.window);
  const Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  const Atom dialog_type = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  XChangeProperty(display, d.window, type, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&dialog_type), 1);
  const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  const Atom states[] = {XInternAtom(display, "_NET_WM_STATE_MODAL", False),
                         XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False)};
  XChangeProperty(display, d.window, state, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(states), 2);
  XFlush(display);
}

void ActivateWindow(SDL_Window* window, unsigned long user_time) {
  const X11Window x = X11Of(window);
  if (!x.display) return;
  if (SDL_GetWindowFlags(window) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(window);
  if (WindowManagerRunsFor(window)) {
    // As a desktop toolkit activates a window for a launcher: the manager weighs the user time
    // against the window that has the keyboard, so no focus is stolen from later input.
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = x.window;
    request.xclient.message_type = XInternAtom(x.display, "_NET_ACTIVE_WINDOW", False);
    request.xclient.format = 32;
    request.xclient.data.l[0] = 1;  // from an application
    request.xclient.data.l[1] = static_cast<long>(user_time);
    request.xclient.data.l[2] = None;
    XSendEvent(x.display, DefaultRootWindow(x.display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &request);
  } else {
    XRaiseWindow(x.display, x.window);
    XSetInputFocus(x.display, x.window, RevertToParent, user_time);
  }
  XFlush(x.display);
}

unsigned long ServerTime() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 0;
  // The server stamps a property change with its clock: change one on a window of our own.
  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  const ::Window window = XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0,
                                        InputOnly, CopyFromParent, CWEventMask, &attributes);
  const Atom stamp = XInternAtom(display, "_VOXTAPE_TIME_STAMP", False);
  XChangeProperty(display, window, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
  XEvent event{};
  XWindowEvent(display, window, PropertyChangeMask, &event);
  const unsigned long time = event.xproperty.time;
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return time;
}

}  // namespace vt::win
