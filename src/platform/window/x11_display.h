// What the window layer does with Xlib directly (kept apart: Xlib's macros clash with ordinary
// names).
#pragma once

struct SDL_Window;

namespace vt::win {

// Keeps one harmless X error from ending the program. Call before the display is opened, so the
// handler that SDL keeps and puts back when it closes the display is this one.
void InstallXErrorHandler();

// The X window id behind an SDL window; 0 when it has none.
unsigned long X11WindowOf(SDL_Window* window);

// True when a window manager that follows the desktop conventions runs on the window's display.
bool WindowManagerRunsFor(SDL_Window* window);

// Where the pointer stands on the screen, asked of the display server itself (SDL's own answer
// can be one synthetic move behind); false when the window has no X display.
bool PointerOnScreen(SDL_Window* window, int& x, int& y);
// How far (pixels) the pointer must move with a button held before a press becomes a drag: the
// desktop toolkits' default (GTK's drag threshold is 8).
int DragThreshold();

// Marks a window that is not mapped yet as a modal dialog of `owner`: a window manager keeps it
// above its owner, gives it the keyboard when the owner is clicked, and lists no taskbar entry
// for it.
void MakeModalDialogOf(SDL_Window* dialog, SDL_Window* owner);

// Makes the top-level windows of the program's own child processes (a save dialog that was told
// its parent but did not pass it on) belong to `owner`, so a window manager keeps them above it.
void AdoptChildProcessWindows(SDL_Window* owner);

// Makes a window that is not mapped yet belong to a window of another program (its X id): a
// window manager keeps it above that one.
void MakeTransientFor(SDL_Window* window, unsigned long owner);

// Brings a window forward with the keyboard for a request the user made at `user_time` (an X
// server time; 0 for now), through the window manager where one runs.
void ActivateWindow(SDL_Window* window, unsigned long user_time);

}  // namespace vt::win
