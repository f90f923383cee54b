// Ending a PulseAudio stream and connection the same way everywhere: the callbacks go first, so
// nothing calls back into an object that is going away.
#pragma once

#include <pulse/pulseaudio.h>

namespace vt::audio {

// With the stream's main loop locked.
inline void CloseStream(pa_stream*& stream) {
  if (stream == nullptr) return;
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_set_write_callback(stream, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) pa_stream_disconnect(stream);
  pa_stream_unref(stream);
  stream = nullptr;
}

// With the context's main loop locked (for a threaded one).
inline void CloseContext(pa_context*& context) {
  if (context == nullptr) return;
  pa_context_set_state_callback(context, nullptr, nullptr);
  pa_context_disconnect(context);
  pa_context_unref(context);
  context = nullptr;
}

// Unlocked: stops the loop's thread and frees it.
inline void FreeThreadedMainLoop(pa_threaded_mainloop*& loop) {
  if (loop == nullptr) return;
  pa_threaded_mainloop_stop(loop);
  pa_threaded_mainloop_free(loop);
  loop = nullptr;
}

}  // namespace vt::audio
