// Top-level windows with child controls drawn into the window's back buffer, a nested modal
// loop, timers and cross-thread posting. The header is free of SDL so every area can use it.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/gfx/surface.h"

namespace vt::win {

using gfx::Point;
using gfx::Rect;
using gfx::Size;
using gfx::Surface;

enum class Key {
  kOther,
  kF1,
  kF2,
  kF3,
  kF4,
  kF5,
  kF6,
  kF7,
  kF8,
  kF9,
  kF10,
  kF11,
  kF12,
  kEscape,
  kReturn,
  kTab,
  kSpace,
  kLeft,
  kRight,
  kUp,
  kDown,
  kPageUp,
  kPageDown,
  kHome,
  kEnd,
};

struct KeyStroke {
  Key key = Key::kOther;
  bool alt = false;  // a system key (Alt held): never taken by the key filter
};

enum class Cursor { kArrow, kHand, kGrab, kRelease };

// A 32 x 32 monochrome cursor: rows of 'X' (black), '.' (white) and ' ' (transparent).
struct CursorImage {
  std::vector<std::string> rows;
  Point hot_spot;
};

class Window;

using TimerId = int;

class Control {
 public:
  explicit Control(int id) : id_(id) {}
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  int Id() const { return id_; }
  Rect Bounds() const { return bounds_; }
  void SetBounds(Rect bounds);
  void MoveTo(Point top_left) { SetBounds({top_left.x, top_left.y, bounds_.w, bounds_.h}); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  Window* Parent() const { return parent_; }
  void Invalidate();
  bool Focused() const;

  // Draws the control at Bounds() into the window's back buffer.
  virtual void Paint(Surface& target) = 0;

  // Pointer input in the window's client coordinates. A control that was pressed keeps the
  // pointer until the button is released.
  virtual void OnMouseDown(Point) {}
  virtual void OnMouseUp(Point) {}
  virtual void OnMouseMove(Point) {}
  virtual void OnMouseLeave() {}
  virtual void OnKeyDown(Key) {}
  // The wheel turned over the control: steps > 0 away from the user (up), < 0 towards.
  virtual void OnMouseWheel(Point, int /*steps*/) {}
  virtual void OnFocusChanged(bool) {}
  virtual bool TakesFocus() const { return false; }
  virtual bool WantsHandCursor() const { return false; }
  // Presses on a control that lets the mouse through reach the window's background.
  virtual bool LetsMouseThrough() const { return false; }

 private:
  friend class Window;
  int id_;
  Rect bounds_;
  bool enabled_ = true;
  bool visible_ = true;
  Window* parent_ = nullptr;
};

enum class WindowKind {
  kDialog,  // borderless top-level window that takes the focus
  kTip,     // borderless topmost popup that never takes the focus
};

struct WindowOptions {
  std::string title;
  Size size{100, 100};
  WindowKind kind = WindowKind::kDialog;
};

class Window {
 public:
  explicit Window(WindowOptions options);
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Makes the native window (hidden). False without a display: the window then still lays out,
  // paints into its back buffer (PaintTo) and runs timers, which is what unit tests use.
  bool CreateNative();
  bool HasNative() const;

  template <class T>
  T* Add(std::unique_ptr<T> control) {
    T* raw = control.get();
    AddControl(std::move(control));
    return raw;
  }
  void AddControl(std::unique_ptr<Control> control);
  Control* FindControl(int id) const;
  Control* ControlAt(Point client) const;
  const std::vector<std::unique_ptr<Control>>& Controls() const { return controls_; }

  void Invalidate();
  // Repaints only `area` (client coordinates) at the next present, unless the whole window is due
  // anyway: the background and the controls that overlap it are painted again and only that area
  // goes to the screen. For a control that changes often on its own (the display panel).
  void InvalidateRect(Rect area);
  // Paints the whole window into `target` (sized to the client area).
  void PaintTo(Surface& target);

  const std::string& Title() const { return options_.title; }
  void SetTitle(const std::string& title);
  // Pixels of colour `key` are transparent in the icon.
  void SetIcon(const Surface& icon, gfx::Pixel key);
  Size ClientSize() const { return options_.size; }
  void SetClientSize(Size size);
  Point ScreenPosition() const;
  // Where the pointer stands on the screen; `client` (an event's point) when the display cannot
  // say.
  Point PointerOnScreenAt(Point client) const;
  void MoveTo(Point screen);
  void CentreOnScreen();
  void Show();
  void Hide();
  bool Shown() const { return shown_; }
  void Raise();
  // Makes this window, before it is first shown, belong to a window of another program (X window
  // id; 0 for none): a window manager keeps it above that one.
  void SetOwnerInAnotherProgram(unsigned long x11_id) { foreign_owner_ = x11_id; }
  // Brings the window forward with the keyboard for a request the user made at `user_time` (the
  // display server's clock, see ServerTime; 0 for now), as a launcher's activation does.
  void Activate(unsigned long user_time);
  // 0.0 ... 1.0; false when the platform cannot make this window translucent.
  bool SetOpacity(float opacity);

  // Runs the window as a modal dialog: shows it and handles events until EndModal. Returns the
  // value given to EndModal; an outer window's EndModal also ends this loop.
  int RunModal();
  void EndModal(int result);
  bool InModalLoop() const { return in_modal_loop_; }

  TimerId StartTimer(int period_ms, std::function<void()> tick);
  void StopTimer(TimerId id);

  void SetCursor(Cursor cursor);
  // The pointer position in client coordinates as the last pointer event gave it; (-1, -1) once
  // the pointer has left the window.
  Point PointerPosition() const;
  Control* FocusedControl() const { return focused_; }
  void SetFocus(Control* control);
  bool IsActive() const;
  // The window has the keyboard (a window that exists only in memory counts as having it until
  // told otherwise).
  bool HasKeyboard() const { return keyboard_; }

  // Routes a control's command (a click) to the window's command table.
  void Command(int control_id) { OnCommand(control_id); }

  // Called by the event loop.
  void DispatchMouseDown(Point client);
  void DispatchMouseUp(Point client);
  void DispatchMouseMove(Point client);
  void DispatchMouseLeave();
  void DispatchKeyDown(KeyStroke key);
  void DispatchMouseWheel(Point client, int steps);
  void DispatchKeyboardFocus(bool has_keyboard);
  void DispatchCloseRequest() { OnCloseRequest(); }
  void PresentIfDirty();
  void MarkNativeGone();
  unsigned NativeId() const;
  bool ModalEnded() const { return modal_ended_; }

  // Drag the window by its background (set by windows that move with the pointer), once the
  // pointer has moved past the drag threshold with the button held. Where a window manager
  // runs, it moves the window; otherwise the window follows the pointer itself.
  void SetDraggable(bool draggable);
  // The X window id of the native window, 0 without one (for helpers that take a parent window).
  unsigned long X11WindowId() const;

 protected:
  // Paints the background of the back buffer (the erase step).
  virtual void PaintBackground(Surface&) {}
  virtual void OnCommand(int) {}
  // A key that no filter took: Alt+F4 asks to close; otherwise the focused control gets it.
  virtual void OnKeyDown(KeyStroke key);
  // The platform asks the window to close (window manager, Alt+F4, termination signal).
  virtual void OnCloseRequest() { EndModal(0); }
  // The pointer moved over a control (before its own handler); after the cursor is set.
  virtual void OnPointerOverControl(Control*) {}
  virtual void OnBackgroundMouseDown(Point) {}
  virtual void OnBackgroundMouseUp(Point) {}

 private:
  struct Native;
  void PaintBackBuffer();
  void PaintArea(Rect area);

  WindowOptions options_;
  unsigned long foreign_owner_ = 0;
  std::unique_ptr<Native> native_;
  std::vector<std::unique_ptr<Control>> controls_;
  Surface back_buffer_;
  Surface background_layer_;  // the back buffer as the background alone left it
  bool dirty_ = true;
  Rect dirty_area_;  // due while dirty_ is false
  bool shown_ = false;
  bool in_modal_loop_ = false;
  bool modal_ended_ = false;
  int modal_result_ = 0;
  Control* pressed_ = nullptr;
  Control* hovered_ = nullptr;
  Control* focused_ = nullptr;
  bool draggable_ = false;
  bool dragging_ = false;      // the window follows the pointer
  bool drag_pending_ = false;  // pressed on the background; a drag once the pointer moves on
  bool keyboard_ = true;
  Point last_pointer_{-1, -1};
  bool pointer_inside_ = false;
  Point drag_pointer_start_;
  Point drag_window_start_;
  std::vector<TimerId> timers_;
};

// Dispatches a command through a window class's table of (control id, handler).
template <class W>
using CommandEntry = std::pair<int, void (W::*)()>;

template <class W>
bool DispatchCommand(std::span<const CommandEntry<W>> table, W* window, int id) {
  for (const auto& [control_id, handler] : table) {
    if (control_id == id) {
      (window->*handler)();
      return true;
    }
  }
  return false;
}

// ---- the one user-interface event loop ----

// Starts the display connection; false (with a reason) when there is no display.
bool InitDisplay(std::string* error);
void ShutdownDisplay();
bool DisplayAvailable();

// Runs `task` on the user-interface thread soon; safe from any thread.
void PostToUi(std::function<void()> task);
// Runs posted tasks and due timers now (tests without a display use this).
void RunPendingWork();

// Runs `work` on another thread while this thread keeps painting and running timers; no window
// takes input meanwhile (as under a modal dialog). For blocking helpers such as a file dialog.
void RunWhileModal(std::function<void()> work);

// The application's key filter: sees every key-down before the active window; returns true
// when it consumed the key.
void SetKeyFilter(std::function<bool(Window* active, KeyStroke key)> filter);

// Custom cursors drawn by the program.
void RegisterCursor(Cursor kind, const CursorImage& image);

enum class MessageIcon { kWarning, kError };
// A message box with one OK button (Enter and Escape close it), owned by the innermost open
// dialog so it stays above it, its text wrapped to readable lines (WrapMessageText). The text
// also goes to standard error, on one line.
void ShowMessageBox(const std::string& title, const std::string& text, MessageIcon icon);

// A question with two buttons, owned like a message box: true for `accept` (Enter), false for
// `decline` (Escape, or no display to ask on). The question also goes to standard error.
bool AskQuestion(const std::string& title, const std::string& text, const std::string& accept,
                 const std::string& decline);

// True when a compositing manager runs on the display, so windows can be translucent.
bool CompositingManagerRunning();
// The display server's clock now, as the user time of a request made on the user's behalf; 0
// where there is none.
unsigned long ServerTime();
// True when a window manager runs on the display (it then moves and stacks the windows).
bool WindowManagerRunning();
// The X window id of the innermost open dialog, 0 when there is none: the parent for dialogs of
// other programs (the save dialog).
unsigned long ModalOwnerX11Id();

}  // namespace vt::win
