#include "platform/audio/capture_device.h"

namespace vt::audio {

bool IsSupportedCaptureFormat(const CaptureFormat& format) {
  const bool channels_ok = format.channels == 1 || format.channels == 2;
  const bool rate_ok = format.samples_per_sec == 8000 || format.samples_per_sec == 11025 ||
                       format.samples_per_sec == 22050 || format.samples_per_sec == 44100;
  const bool sample_ok =
      format.sample_format == SampleFormat::kU8 || format.sample_format == SampleFormat::kS16Le;
  return channels_ok && rate_ok && sample_ok;
}

}  // namespace vt::audio
