#include <memory>

#include "app/recorder_app.h"
#include "audio/capture_engine.h"

int main() {
  // Lives for the whole process and completes a running recording when it ends.
  auto engine = std::make_unique<vt::audio::CAviFile>();
  vt::CRecorderApp app(*engine);
  return app.Run();
}
