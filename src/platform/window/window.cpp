#include "platform/window/window.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/window/message_text.h"
#include "platform/window/x11_display.h"

namespace vt::win {
namespace {

// The class of every window (WM_CLASS), named in the desktop entry as StartupWMClass.
constexpr char kWindowClass[] = "voxtape";

struct Timer {
  TimerId id;
  Window* owner;
  int period_ms;
  Uint64 due_ms;
  std::function<void()> tick;
};

// The user-interface loop's process-wide state: only the UI thread touches it, except the
// posted queue, which is behind posted_mutex.
struct UiLoopState {
  bool display = false;
  Uint32 wake_event = 0;
  std::map<Uint32, Window*> natives;  // native window id -> window
  std::vector<Window*> modal_stack;
  std::vector<Timer> timers;
  TimerId next_timer = 1;
  std::function<bool(Window*, KeyStroke)> key_filter;
  std::map<Cursor, SDL_Cursor*> cursors;
  Cursor current_cursor = Cursor::kArrow;

  std::mutex posted_mutex;
  std::deque<std::function<void()>> posted;
};

UiLoopState& UiLoop() {
  static UiLoopState state;
  return state;
}

Uint64 NowMs() {
  return SDL_GetTicks64();
}

Key TranslateKey(SDL_Keycode code) {
  switch (code) {
    case SDLK_F1:
      return Key::kF1;
    case SDLK_F2:
      return Key::kF2;
    case SDLK_F3:
      return Key::kF3;
    case SDLK_F4:
      return Key::kF4;
    case SDLK_F5:
      return Key::kF5;
    case SDLK_F6:
      return Key::kF6;
    case SDLK_F7:
      return Key::kF7;
    case SDLK_F8:
      return Key::kF8;
    case SDLK_F9:
      return Key::kF9;
    case SDLK_F10:
      return Key::kF10;
    case SDLK_F11:
      return Key::kF11;
    case SDLK_F12:
      return Key::kF12;
    case SDLK_ESCAPE:
      return Key::kEscape;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return Key::kReturn;
    case SDLK_TAB:
      return Key::kTab;
    case SDLK_SPACE:
      return Key::kSpace;
    case SDLK_LEFT:
      return Key::kLeft;
    case SDLK_RIGHT:
      return Key::kRight;
    case SDLK_UP:
      return Key::kUp;
    case SDLK_DOWN:
      return Key::kDown;
    case SDLK_PAGEUP:
      return Key::kPageUp;
    case SDLK_PAGEDOWN:
      return Key::kPageDown;
    case SDLK_HOME:
      return Key::kHome;
    case SDLK_END:
      return Key::kEnd;
    default:
      return Key::kOther;
  }
}

Window* WindowOf(Uint32 native_id) {
  auto& natives = UiLoop().natives;
  auto it = natives.find(native_id);
  return it == natives.end() ? nullptr : it->second;
}

// Input reaches only the innermost modal window while dialogs are stacked.
bool AcceptsInput(Window* window) {
  const auto& stack = UiLoop().modal_stack;
  return stack.empty() || stack.back() == window;
}

// The innermost open dialog that has a native window; none while another program's dialog runs.
Window* InnermostModal() {
  const auto& stack = UiLoop().modal_stack;
  if (stack.empty() || !stack.back() || !stack.back()->HasNative()) return nullptr;
  return stack.back();
}

// A window below a modal dialog was clicked or given the keyboard: the dialog comes back on top
// with the keyboard, as desktop modality does.
void BringModalForward() {
  Window* modal = InnermostModal();
  if (!modal) return;
  SDL_Window* native = SDL_GetWindowFromID(modal->NativeId());
  if (!native) return;
  SDL_RaiseWindow(native);
  SDL_SetWindowInputFocus(native);
}

void RunDueTimers() {
  auto& loop = UiLoop();
  const Uint64 now = NowMs();
  std::vector<TimerId> due;
  for (const auto& t : loop.timers)
    if (t.due_ms <= now) due.push_back(t.id);
  for (TimerId id : due) {
    auto it = std::find_if(loop.timers.begin(), loop.timers.end(),
                           [id](const Timer& t) { return t.id == id; });
    if (it == loop.timers.end()) continue;  // stopped by an earlier tick
    it->due_ms = now + static_cast<Uint64>(it->period_ms);
    auto tick = it->tick;  // the tick may stop its own timer
    tick();
  }
}

void RunPosted() {
  std::deque<std::function<void()>> tasks;
  {
    std::lock_guard lock(UiLoop().posted_mutex);
    tasks.swap(UiLoop().posted);
  }
  for (auto& task : tasks) task();
}

// Without a due timer the loop still looks round now and then; everything else (input, posted
// work, a signal) wakes it at once.
constexpr int kIdleWaitMs = 1000;

int MsToNextTimer(int longest_wait_ms) {
  Uint64 next = NowMs() + static_cast<Uint64>(longest_wait_ms);
  for (const auto& t : UiLoop().timers) next = std::min(next, t.due_ms);
  const Uint64 now = NowMs();
  return next <= now ? 0 : static_cast<int>(next - now);
}

void HandleEvent(const SDL_Event& e) {
  auto& loop = UiLoop();
  switch (e.type) {
    case SDL_QUIT:
      // A termination signal or the session ending: the outermost dialog decides.
      if (!loop.modal_stack.empty() && loop.modal_stack.front())
        loop.modal_stack.front()->DispatchCloseRequest();
      break;
    case SDL_WINDOWEVENT: {
      Window* w = WindowOf(e.window.windowID);
      if (!w) break;
      switch (e.window.event) {
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_SHOWN:
          w->Invalidate();
          break;
        case SDL_WINDOWEVENT_LEAVE:
          w->DispatchMouseLeave();
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          w->DispatchKeyboardFocus(true);
          if (!AcceptsInput(w)) BringModalForward();
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          w->DispatchKeyboardFocus(false);
          break;
        case SDL_WINDOWEVENT_CLOSE:
          if (AcceptsInput(w)) w->DispatchCloseRequest();
          break;
        default:
          break;
      }
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      Window* w = WindowOf(e.button.windowID);
      if (!w || e.button.button != SDL_BUTTON_LEFT) break;
      if (!AcceptsInput(w)) {
        if (e.type == SDL_MOUSEBUTTONDOWN) BringModalForward();
        break;
      }
      const Point p{e.button.x, e.button.y};
      if (e.type == SDL_MOUSEBUTTONDOWN)
        w->DispatchMouseDown(p);
      else
        w->DispatchMouseUp(p);
      break;
    }
    case SDL_MOUSEMOTION: {
      Window* w = WindowOf(e.motion.windowID);
      if (w && AcceptsInput(w)) w->DispatchMouseMove({e.motion.x, e.motion.y});
      break;
    }
    case SDL_MOUSEWHEEL: {
      Window* w = WindowOf(e.wheel.windowID);
      if (!w || !AcceptsInput(w) || e.wheel.y == 0) break;
      const int steps = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      w->DispatchMouseWheel({e.wheel.mouseX, e.wheel.mouseY}, steps);
      break;
    }
    case SDL_KEYDOWN: {
      Window* w = WindowOf(e.key.windowID);
      if (!w || !AcceptsInput(w)) break;
      const KeyStroke key{TranslateKey(e.key.keysym.sym), (e.key.keysym.mod & KMOD_ALT) != 0};
      if (!key.alt && loop.key_filter && loop.key_filter(w, key)) break;
      w->DispatchKeyDown(key);
      break;
    }
    default:
      if (e.type == loop.wake_event) RunPosted();
      break;
  }
}

void PumpOnce(int longest_wait_ms = kIdleWaitMs) {
  auto& loop = UiLoop();
  const int wait_ms = std::max(MsToNextTimer(longest_wait_ms), 1);
  if (loop.display) {
    SDL_Event e;
    if (SDL_WaitEventTimeout(&e, wait_ms)) {
      HandleEvent(e);
      while (SDL_PollEvent(&e)) HandleEvent(e);
    }
  } else {
    SDL_Delay(static_cast<Uint32>(wait_ms));
  }
  RunPosted();
  RunDueTimers();
  for (auto& [id, w] : loop.natives) w->PresentIfDirty();
}

}  // namespace

// ---- Control ----

Control::~Control() = default;

void Control::SetBounds(Rect bounds) {
  Invalidate();
  bounds_ = bounds;
  Invalidate();
}

void Control::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Invalidate();
}

void Control::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Invalidate();
}

void Control::Invalidate() {
  if (parent_) parent_->Invalidate();
}

bool Control::Focused() const {
  return parent_ && parent_->FocusedControl() == this;
}

// ---- Window ----

struct Window::Native {
  SDL_Window* window = nullptr;
  Uint32 id = 0;
};

namespace {}  // namespace

Window::Window(WindowOptions options) : options_(std::move(options)) {
  back_buffer_ = Surface(options_.size.w, options_.size.h);
}

Window::~Window() {
  auto& loop = UiLoop();
  std::erase_if(loop.timers, [this](const Timer& t) { return t.owner == this; });
  std::erase(loop.modal_stack, this);
  if (native_) {
    loop.natives.erase(native_->id);
    SDL_DestroyWindow(native_->window);
  }
}

bool Window::CreateNative() {
  if (native_) return true;
  if (!UiLoop().display) return false;
  Uint32 flags = SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN;
  if (options_.kind == WindowKind::kTip)
    flags |= SDL_WINDOW_TOOLTIP | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR;
  SDL_Window* w =
      SDL_CreateWindow(options_.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                       std::max(options_.size.w, 1), std::max(options_.size.h, 1), flags);
  if (!w) return false;
  // Making the window's surface may remake the native window at its first position, so it is
  // made now, before anyone moves the window.
  SDL_GetWindowSurface(w);
  native_ = std::make_unique<Native>();
  native_->window = w;
  native_->id = SDL_GetWindowID(w);
  UiLoop().natives[native_->id] = this;
  keyboard_ = false;  // until the display says it has it
  SetDraggable(draggable_);
  return true;
}

void Window::SetDraggable(bool draggable) {
  draggable_ = draggable;
}

unsigned long Window::X11WindowId() const {
  return native_ ? X11WindowOf(native_->window) : 0;
}

bool Window::HasNative() const {
  return native_ != nullptr;
}

unsigned Window::NativeId() const {
  return native_ ? native_->id : 0;
}

void Window::MarkNativeGone() {
  native_.reset();
}

void Window::AddControl(std::unique_ptr<Control> control) {
  control->parent_ = this;
  controls_.push_back(std::move(control));
  Invalidate();
}

Control* Window::FindControl(int id) const {
  for (const auto& c : controls_)
    if (c->Id() == id) return c.get();
  return nullptr;
}

Control* Window::ControlAt(Point client) const {
  // Later controls lie on top.
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    if ((*it)->Visible() && (*it)->Bounds().Contains(client)) return it->get();
  }
  return nullptr;
}

void Window::Invalidate() {
  dirty_ = true;
}

void Window::InvalidateRect(Rect area) {
  area = area.Intersect({0, 0, options_.size.w, options_.size.h});
  if (area.Empty()) return;
  if (!dirty_area_.Empty()) {
    const int right = std::max(area.Right(), dirty_area_.Right());
    const int bottom = std::max(area.Bottom(), dirty_area_.Bottom());
    area.x = std::min(area.x, dirty_area_.x);
    area.y = std::min(area.y, dirty_area_.y);
    area.w = right - area.x;
    area.h = bottom - area.y;
  }
  dirty_area_ = area;
}

void Window::PaintBackBuffer() {
  if (back_buffer_.Width() != options_.size.w || back_buffer_.Height() != options_.size.h)
    back_buffer_ = Surface(options_.size.w, options_.size.h);
  FillRect(back_buffer_, back_buffer_.Bounds(), 0);
  PaintBackground(back_buffer_);
  background_layer_ = back_buffer_;
  for (const auto& c : controls_)
    if (c->Visible()) c->Paint(back_buffer_);
}

void Window::PaintArea(Rect area) {
  if (background_layer_.GetSize() != back_buffer_.GetSize() ||
      back_buffer_.GetSize() != options_.size) {
    PaintBackBuffer();
    return;
  }
  Copy(back_buffer_, area.x, area.y, background_layer_, area);
  for (const auto& c : controls_)
    if (c->Visible() && !c->Bounds().Intersect(area).Empty()) c->Paint(back_buffer_);
}

void Window::PaintTo(Surface& target) {
  PaintBackBuffer();
  target = back_buffer_;
}

void Window::PresentIfDirty() {
  if ((!dirty_ && dirty_area_.Empty()) || !native_ || !shown_) return;
  Rect area{0, 0, back_buffer_.Width(), back_buffer_.Height()};
  if (dirty_) {
    PaintBackBuffer();
    area = back_buffer_.Bounds();
  } else {
    area = dirty_area_;
    PaintArea(area);
  }
  dirty_ = false;
  dirty_area_ = {};
  SDL_Surface* screen = SDL_GetWindowSurface(native_->window);
  if (!screen) return;
  area = area.Intersect({0, 0, std::min(screen->w, back_buffer_.Width()),
                         std::min(screen->h, back_buffer_.Height())});
  if (area.Empty()) return;
  auto* pixels = static_cast<Uint8*>(screen->pixels) + area.y * screen->pitch +
                 area.x * screen->format->BytesPerPixel;
  SDL_ConvertPixels(area.w, area.h, SDL_PIXELFORMAT_RGB888, back_buffer_.Row(area.y) + area.x,
                    back_buffer_.Width() * 4, screen->format->format, pixels, screen->pitch);
  const SDL_Rect rect{area.x, area.y, area.w, area.h};
  SDL_UpdateWindowSurfaceRects(native_->window, &rect, 1);
}

void Window::SetTitle(const std::string& title) {
  options_.title = title;
  if (native_) SDL_SetWindowTitle(native_->window, title.c_str());
}

void Window::SetIcon(const Surface& icon, gfx::Pixel key) {
  if (!native_ || icon.Empty()) return;
  std::vector<std::uint32_t> argb(icon.Pixels().size());
  std::transform(icon.Pixels().begin(), icon.Pixels().end(), argb.begin(),
                 [key](gfx::Pixel p) { return p == key ? 0u : (p | 0xFF000000u); });
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(argb.data(), icon.Width(), icon.Height(), 32,
                                                      icon.Width() * 4, SDL_PIXELFORMAT_ARGB8888);
  if (!s) return;
  SDL_SetWindowIcon(native_->window, s);
  SDL_FreeSurface(s);
}

void Window::SetClientSize(Size size) {
  options_.size = size;
  if (native_) SDL_SetWindowSize(native_->window, std::max(size.w, 1), std::max(size.h, 1));
  Invalidate();
}

Point Window::ScreenPosition() const {
  Point p;
  if (native_) SDL_GetWindowPosition(native_->window, &p.x, &p.y);
  return p;
}

Point Window::PointerOnScreenAt(Point client) const {
  // The display server's own answer: the window's known position trails the moves asked of it
  // while a drag runs, and the event's point is relative to where the window stood then.
  Point global;
  if (native_ && PointerOnScreen(native_->window, global.x, global.y)) return global;
  const Point origin = ScreenPosition();
  return {origin.x + client.x, origin.y + client.y};
}

void Window::MoveTo(Point screen) {
  if (native_) SDL_SetWindowPosition(native_->window, screen.x, screen.y);
}

void Window::CentreOnScreen() {
  if (native_)
    SDL_SetWindowPosition(native_->window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
}

void Window::Show() {
  shown_ = true;
  Invalidate();
  if (!native_) return;
  if (options_.kind == WindowKind::kTip) {
    // Without a window manager every window that appears takes the keyboard; a tip hands it back.
    SDL_Window* keyboard = SDL_GetKeyboardFocus();
    SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, "1");
    SDL_ShowWindow(native_->window);
    SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, "0");
    if (keyboard && keyboard != native_->window) SDL_SetWindowInputFocus(keyboard);
  } else {
    SDL_ShowWindow(native_->window);
    SDL_RaiseWindow(native_->window);
    // Without a window manager nobody else gives the new dialog the keyboard.
    SDL_SetWindowInputFocus(native_->window);
  }
  PresentIfDirty();
}

void Window::Hide() {
  shown_ = false;
  if (native_) SDL_HideWindow(native_->window);
}

void Window::Raise() {
  if (native_) SDL_RaiseWindow(native_->window);
}

void Window::Activate(unsigned long user_time) {
  if (native_) ActivateWindow(native_->window, user_time);
}

bool Window::SetOpacity(float opacity) {
  return native_ && SDL_SetWindowOpacity(native_->window, opacity) == 0;
}

int Window::RunModal() {
  auto& loop = UiLoop();
  // A dialog over another window belongs to it: the window manager keeps it above its owner.
  if (Window* owner = InnermostModal();
      owner && owner != this && native_ && !shown_ && options_.kind == WindowKind::kDialog)
    MakeModalDialogOf(native_->window, owner->native_->window);
  else if (foreign_owner_ != 0 && native_ && !shown_)
    MakeTransientFor(native_->window, foreign_owner_);
  modal_ended_ = false;
  in_modal_loop_ = true;
  loop.modal_stack.push_back(this);
  Show();
  while (!modal_ended_) PumpOnce();
  std::erase(loop.modal_stack, this);
  in_modal_loop_ = false;
  Hide();
  // The dialog underneath gets the keyboard back (nobody else does it without a window manager).
  if (!loop.modal_stack.empty() && loop.modal_stack.back() && loop.modal_stack.back()->native_ &&
      !loop.modal_stack.back()->modal_ended_) {
    SDL_RaiseWindow(loop.modal_stack.back()->native_->window);
    SDL_SetWindowInputFocus(loop.modal_stack.back()->native_->window);
  }
  return modal_result_;
}

void Window::EndModal(int result) {
  modal_result_ = result;
  modal_ended_ = true;
  // Dialogs opened on top of this one end with it.
  auto& stack = UiLoop().modal_stack;
  auto it = std::find(stack.begin(), stack.end(), this);
  if (it == stack.end()) return;
  for (++it; it != stack.end(); ++it)
    if (*it) (*it)->modal_ended_ = true;
}

TimerId Window::StartTimer(int period_ms, std::function<void()> tick) {
  auto& loop = UiLoop();
  const TimerId id = loop.next_timer++;
  const Uint64 now = loop.display ? NowMs() : SDL_GetTicks64();
  loop.timers.push_back(
      {id, this, period_ms, now + static_cast<Uint64>(period_ms), std::move(tick)});
  return id;
}

void Window::StopTimer(TimerId id) {
  std::erase_if(UiLoop().timers, [id](const Timer& t) { return t.id == id; });
}

void Window::SetCursor(Cursor cursor) {
  auto& loop = UiLoop();
  if (!loop.display || loop.current_cursor == cursor) return;
  SDL_Cursor* c = nullptr;
  if (auto it = loop.cursors.find(cursor); it != loop.cursors.end()) {
    c = it->second;
  } else {
    const SDL_SystemCursor system =
        cursor == Cursor::kHand ? SDL_SYSTEM_CURSOR_HAND : SDL_SYSTEM_CURSOR_ARROW;
    c = SDL_CreateSystemCursor(system);
    loop.cursors[cursor] = c;
  }
  if (c) SDL_SetCursor(c);
  loop.current_cursor = cursor;
}

Point Window::PointerPosition() const {
  // Where the last pointer event put it: the display's own pointer query can lag behind.
  if (!pointer_inside_) return {-1, -1};
  return last_pointer_;
}

void Window::SetFocus(Control* control) {
  if (focused_ == control) return;
  Control* old = focused_;
  focused_ = control;
  if (old) old->OnFocusChanged(false);
  if (control) control->OnFocusChanged(true);
}

bool Window::IsActive() const {
  return native_ && SDL_GetKeyboardFocus() == native_->window;
}

void Window::DispatchMouseDown(Point p) {
  last_pointer_ = p;
  pointer_inside_ = true;
  Control* c = ControlAt(p);
  if (c && c->LetsMouseThrough()) c = nullptr;
  if (c) {
    if (!c->Enabled()) return;
    pressed_ = c;
    SDL_CaptureMouse(SDL_TRUE);
    SetFocus(c->TakesFocus() ? c : nullptr);
    c->OnMouseDown(p);
    return;
  }
  SetFocus(nullptr);
  OnBackgroundMouseDown(p);
  if (draggable_ && native_) {
    // Not a drag yet: a press and release where the pointer stands (a click, or what automation
    // and remote desktops send) must move nothing.
    drag_pending_ = true;
    SDL_CaptureMouse(SDL_TRUE);
    drag_window_start_ = ScreenPosition();
    drag_pointer_start_ = {drag_window_start_.x + p.x, drag_window_start_.y + p.y};
  }
}

void Window::DispatchMouseUp(Point p) {
  SDL_CaptureMouse(SDL_FALSE);
  if (dragging_) {
    const Point global = PointerOnScreenAt(p);
    MoveTo({drag_window_start_.x + global.x - drag_pointer_start_.x,
            drag_window_start_.y + global.y - drag_pointer_start_.y});
  }
  if (dragging_ || drag_pending_) {
    dragging_ = false;
    drag_pending_ = false;
    OnBackgroundMouseUp(p);
    return;
  }
  if (Control* c = pressed_) {
    pressed_ = nullptr;
    c->OnMouseUp(p);
    return;
  }
  if (!ControlAt(p) || ControlAt(p)->LetsMouseThrough()) OnBackgroundMouseUp(p);
}

void Window::DispatchMouseMove(Point p) {
  last_pointer_ = p;
  pointer_inside_ = true;
  if (drag_pending_ || dragging_) {
    const Point global = PointerOnScreenAt(p);
    if (drag_pending_) {
      const int threshold = DragThreshold();
      if (std::abs(global.x - drag_pointer_start_.x) <= threshold &&
          std::abs(global.y - drag_pointer_start_.y) <= threshold) {
        return;
      }
      drag_pending_ = false;
      dragging_ = true;
    }
    // The program moves the window itself, with the pointer held by it from the press to the
    // release: a move handed to the window manager would end on a release the window manager may
    // never see (a quick flick on a busy machine), and then swallow the next click.
    MoveTo({drag_window_start_.x + global.x - drag_pointer_start_.x,
            drag_window_start_.y + global.y - drag_pointer_start_.y});
    return;
  }
  if (pressed_) {
    pressed_->OnMouseMove(p);
    return;
  }
  Control* c = ControlAt(p);
  if (c && c->LetsMouseThrough()) c = nullptr;
  if (c != hovered_) {
    if (hovered_) hovered_->OnMouseLeave();
    hovered_ = c;
  }
  SetCursor(c && c->WantsHandCursor() ? Cursor::kHand : Cursor::kArrow);
  if (c) {
    OnPointerOverControl(c);
    if (c->Enabled()) c->OnMouseMove(p);
  }
}

void Window::DispatchMouseLeave() {
  pointer_inside_ = false;
  if (hovered_ && !pressed_) {
    hovered_->OnMouseLeave();
    hovered_ = nullptr;
  }
}

void Window::DispatchKeyDown(KeyStroke key) {
  OnKeyDown(key);
}

void Window::DispatchMouseWheel(Point client, int steps) {
  last_pointer_ = client;
  Control* c = ControlAt(client);
  if (c && c->Enabled() && !pressed_) c->OnMouseWheel(client, steps);
}

void Window::DispatchKeyboardFocus(bool has_keyboard) {
  if (keyboard_ == has_keyboard) return;
  keyboard_ = has_keyboard;
  // Controls show the focus only while the window has the keyboard.
  Invalidate();
}

void Window::OnKeyDown(KeyStroke key) {
  if (key.alt && key.key == Key::kF4) {
    OnCloseRequest();
    return;
  }
  if (focused_ && focused_->Enabled()) focused_->OnKeyDown(key.key);
}

// ---- the loop ----

namespace {

void HangUpAsTermination(int) {
  std::raise(SIGTERM);
}

}  // namespace

bool InitDisplay(std::string* error) {
  auto& loop = UiLoop();
  if (loop.display) return true;
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  // Software pixels straight to the X server: no GL stack (tens of megabytes) for a 400 x 600
  // window.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // A window that just got the keyboard back (after a tip was shown) must still take the click
  // that follows at once.
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  // Before SDL opens the display: SDL keeps the handler it finds and puts it back on closing,
  // when late errors of its second connection are still read.
  InstallXErrorHandler();
  // Every window's class (WM_CLASS) is the desktop entry's, whatever the program file is called,
  // so the dock groups the windows under the launcher. SDL reads it from the environment (which a
  // person may set) while it starts; the program's children do not inherit it.
  const bool set_class = std::getenv("SDL_VIDEO_X11_WMCLASS") == nullptr &&
                         setenv("SDL_VIDEO_X11_WMCLASS", kWindowClass, 1) == 0;
  const bool started = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
  if (set_class) unsetenv("SDL_VIDEO_X11_WMCLASS");
  if (!started) {
    if (error) *error = SDL_GetError();
    return false;
  }
  // Without a display SDL falls back to drawing off screen: the program would run where nobody
  // can see it, holding the single-instance lock.
  const char* driver = SDL_GetCurrentVideoDriver();
  const std::string_view name = driver != nullptr ? driver : "";
  if (name != "x11" && name != "wayland" && name != "windows") {
    if (error) *error = "no display answers";
    SDL_Quit();
    return false;
  }
  // A closed terminal or the end of the session (SIGHUP) ends the program in order, as SIGTERM
  // does: SDL turns that one into a quit event.
  std::signal(SIGHUP, &HangUpAsTermination);
  {
    std::lock_guard lock(loop.posted_mutex);
    loop.wake_event = SDL_RegisterEvents(1);
  }
  loop.display = true;
  return true;
}

void ShutdownDisplay() {
  auto& loop = UiLoop();
  if (!loop.display) return;
  for (auto& [kind, cursor] : loop.cursors) SDL_FreeCursor(cursor);
  loop.cursors.clear();
  for (auto& [id, w] : loop.natives) w->MarkNativeGone();
  loop.natives.clear();
  loop.display = false;
  {
    // Threads that still post must not wake an event queue that is going away.
    std::lock_guard lock(loop.posted_mutex);
    loop.wake_event = 0;
  }
  SDL_Quit();
}

bool DisplayAvailable() {
  return UiLoop().display;
}

void PostToUi(std::function<void()> task) {
  auto& loop = UiLoop();
  std::lock_guard lock(loop.posted_mutex);
  loop.posted.push_back(std::move(task));
  if (loop.wake_event != 0) {
    SDL_Event e{};
    e.type = loop.wake_event;
    SDL_PushEvent(&e);
  }
}

unsigned long ModalOwnerX11Id() {
  const Window* owner = InnermostModal();
  if (!owner) {
    // While another program's dialog runs, its owner is the dialog under that mark.
    const auto& stack = UiLoop().modal_stack;
    for (auto it = stack.rbegin(); it != stack.rend() && !owner; ++it)
      if (*it && (*it)->HasNative()) owner = *it;
  }
  return owner ? owner->X11WindowId() : 0;
}

bool WindowManagerRunning() {
  for (auto& [id, w] : UiLoop().natives)
    if (w->HasNative()) return WindowManagerRunsFor(SDL_GetWindowFromID(id));
  return false;
}

void RunWhileModal(std::function<void()> work) {
  auto& loop = UiLoop();
  std::atomic<bool> done{false};
  loop.modal_stack.push_back(nullptr);  // no window is the innermost: input goes nowhere
  std::thread worker([&] {
    work();
    done = true;
    PostToUi([] {});
  });
  // The work may show another program's dialog; it belongs to the window under it.
  SDL_Window* owner = nullptr;
  for (auto it = loop.modal_stack.rbegin(); it != loop.modal_stack.rend() && !owner; ++it)
    if (*it && (*it)->HasNative()) owner = SDL_GetWindowFromID((*it)->NativeId());
  // The other program's windows are looked for every tenth of a second.
  constexpr int kAdoptionPeriodMs = 100;
  Uint64 next_adoption = 0;
  while (!done) {
    PumpOnce(owner ? kAdoptionPeriodMs / 2 : kIdleWaitMs);
    if (owner && NowMs() >= next_adoption) {
      AdoptChildProcessWindows(owner);
      next_adoption = NowMs() + kAdoptionPeriodMs;
    }
  }
  worker.join();
  std::erase(loop.modal_stack, nullptr);
}

void RunPendingWork() {
  RunPosted();
  RunDueTimers();
}

void SetKeyFilter(std::function<bool(Window*, KeyStroke)> filter) {
  UiLoop().key_filter = std::move(filter);
}

void RegisterCursor(Cursor kind, const CursorImage& image) {
  auto& loop = UiLoop();
  if (!loop.display) return;
  constexpr int kSide = 32;
  Uint8 data[kSide * kSide / 8] = {};
  Uint8 mask[kSide * kSide / 8] = {};
  for (int y = 0; y < kSide && y < static_cast<int>(image.rows.size()); ++y) {
    const std::string& row = image.rows[y];
    for (int x = 0; x < kSide && x < static_cast<int>(row.size()); ++x) {
      const int byte = y * kSide / 8 + x / 8;
      const Uint8 bit = static_cast<Uint8>(0x80 >> (x % 8));
      if (row[x] == 'X') {
        data[byte] |= bit;
        mask[byte] |= bit;
      } else if (row[x] == '.') {
        mask[byte] |= bit;
      }
    }
  }
  SDL_Cursor* c = SDL_CreateCursor(data, mask, kSide, kSide, image.hot_spot.x, image.hot_spot.y);
  if (!c) return;
  if (auto it = loop.cursors.find(kind); it != loop.cursors.end()) SDL_FreeCursor(it->second);
  loop.cursors[kind] = c;
}

void ShowMessageBox(const std::string& title, const std::string& text, MessageIcon icon) {
  SDL_MessageBoxButtonData ok{
      SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "OK"};
  SDL_MessageBoxData box{};
  box.flags = icon == MessageIcon::kError ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_WARNING;
  box.title = title.c_str();
  // The box takes the text as its lines; the log below keeps it on one.
  const std::string lines = WrapMessageText(text);
  box.message = lines.c_str();
  box.numbuttons = 1;
  box.buttons = &ok;
  // Owned by the innermost open dialog, so a window manager keeps it above that dialog.
  if (Window* owner = InnermostModal()) box.window = SDL_GetWindowFromID(owner->NativeId());
  int pressed = 0;
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  if (SDL_ShowMessageBox(&box, &pressed) != 0) {
    std::fprintf(stderr, "(no display to show the message: %s)\n", SDL_GetError());
  }
}

bool AskQuestion(const std::string& title, const std::string& text, const std::string& accept,
                 const std::string& decline) {
  // SDL lays the buttons out in the order given, the last one on the left.
  const SDL_MessageBoxButtonData buttons[] = {
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, decline.c_str()},
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, accept.c_str()},
  };
  SDL_MessageBoxData box{};
  box.flags = SDL_MESSAGEBOX_WARNING;
  box.title = title.c_str();
  const std::string lines = WrapMessageText(text);
  box.message = lines.c_str();
  box.numbuttons = 2;
  box.buttons = buttons;
  if (Window* owner = InnermostModal()) box.window = SDL_GetWindowFromID(owner->NativeId());
  std::fprintf(stderr, "%s: %s [%s / %s]\n", title.c_str(), text.c_str(), accept.c_str(),
               decline.c_str());
  int pressed = 0;
  if (SDL_ShowMessageBox(&box, &pressed) != 0) return false;
  return pressed == 1;
}

}  // namespace vt::win
