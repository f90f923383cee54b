// voxtape-encode flac|opus|mp3 TAKE.wav OUT: the encoding Save runs, without the window, so its
// speed can be set beside other encoders'.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/audio/sound_encoder.h"

int main(int argc, char** argv) {
  using vt::audio::EncodedType;
  if (argc != 4) {
    std::fprintf(stderr, "usage: voxtape-encode flac|opus|mp3 TAKE.wav OUT\n");
    return 2;
  }
  const std::string kind = argv[1];
  EncodedType type = EncodedType::kFlac;
  if (kind == "opus")
    type = EncodedType::kOggOpus;
  else if (kind == "mp3")
    type = EncodedType::kMp3;
  else if (kind != "flac") {
    std::fprintf(stderr, "voxtape-encode: unknown type %s\n", argv[1]);
    return 2;
  }
  const auto failure = vt::audio::EncodeSoundFile(argv[2], argv[3], type, {"", "Voxtape"},
                                                  [](double) { return true; });
  if (failure) {
    std::fprintf(stderr, "voxtape-encode: %s: %s\n", failure->in_target ? argv[3] : argv[2],
                 std::strerror(failure->error));
    return 1;
  }
  return 0;
}
