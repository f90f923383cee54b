#include "platform/audio/sound_encoder.h"

#include <fcntl.h>
#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

namespace vt::audio {
namespace {

constexpr sf_count_t kPieceFrames = 8192;
// LAME's variable bit rate at about its -V4: near 165 kb/s for music in stereo at 44.1 kHz, far
// less for a voice at a low rate.
constexpr double kMp3Quality = 0.4;

struct SndfileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using Sndfile = std::unique_ptr<SNDFILE, SndfileCloser>;

struct ResamplerDeleter {
  void operator()(SRC_STATE* state) const { src_delete(state); }
};
using Resampler = std::unique_ptr<SRC_STATE, ResamplerDeleter>;

// The written file as libsndfile sees it, through our own descriptor: that way a write that fails
// keeps its errno (a full disk is told from a denied folder), and the MP3's tag can go in front
// of what libsndfile writes (`base` bytes in).
struct TargetFile {
  int fd = -1;
  sf_count_t base = 0;
  sf_count_t position = 0;  // libsndfile's, from base
  sf_count_t length = 0;    // libsndfile's, from base
  int error = 0;            // the first failure

  ~TargetFile() {
    if (fd >= 0) ::close(fd);
  }
  bool WriteAll(const void* bytes, std::size_t count, off_t at) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
      const ssize_t n = ::pwrite(fd, p, count, at);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (error == 0) error = errno;
        return false;
      }
      p += n;
      at += n;
      count -= static_cast<std::size_t>(n);
    }
    return true;
  }
};

sf_count_t TargetLength(void* user) {
  return static_cast<TargetFile*>(user)->length;
}

sf_count_t TargetSeek(sf_count_t offset, int whence, void* user) {
  auto* t = static_cast<TargetFile*>(user);
  sf_count_t to = offset;
  if (whence == SEEK_CUR) to += t->position;
  if (whence == SEEK_END) to += t->length;
  if (to < 0) return -1;
  t->position = to;
  return to;
}

sf_count_t TargetRead(void* into, sf_count_t count, void* user) {
  auto* t = static_cast<TargetFile*>(user);
  const ssize_t n = ::pread(t->fd, into, static_cast<std::size_t>(count), t->base + t->position);
  if (n < 0) return 0;
  t->position += n;
  return n;
}

sf_count_t TargetWrite(const void* bytes, sf_count_t count, void* user) {
  auto* t = static_cast<TargetFile*>(user);
  if (t->error != 0) return 0;  // nothing more after a failure: the file is lost anyway
  if (!t->WriteAll(bytes, static_cast<std::size_t>(count), t->base + t->position)) return 0;
  t->position += count;
  t->length = std::max(t->length, t->position);
  return count;
}

sf_count_t TargetTell(void* user) {
  return static_cast<TargetFile*>(user)->position;
}

// An ID3v2.4 tag with the time of the recording and the encoder, as the MP3's first bytes:
// libsndfile itself writes only the old tag at the end, which has room for the year alone.
std::vector<unsigned char> Id3Tag(const EncodedTags& tags) {
  const auto syncsafe = [](std::size_t n) {
    return std::array<unsigned char, 4>{
        static_cast<unsigned char>((n >> 21) & 0x7f), static_cast<unsigned char>((n >> 14) & 0x7f),
        static_cast<unsigned char>((n >> 7) & 0x7f), static_cast<unsigned char>(n & 0x7f)};
  };
  std::vector<unsigned char> frames;
  const auto add_text_frame = [&](const char* id, const std::string& text) {
    if (text.empty()) return;
    frames.insert(frames.end(), id, id + 4);
    const auto size = syncsafe(text.size() + 1);
    frames.insert(frames.end(), size.begin(), size.end());
    frames.insert(frames.end(), {0, 0, 3});  // no flags; UTF-8
    frames.insert(frames.end(), text.begin(), text.end());
  };
  add_text_frame("TDRC", tags.recorded_at);
  add_text_frame("TSSE", tags.encoder);
  if (frames.empty()) return frames;
  std::vector<unsigned char> tag{'I', 'D', '3', 4, 0, 0};
  const auto size = syncsafe(frames.size());
  tag.insert(tag.end(), size.begin(), size.end());
  tag.insert(tag.end(), frames.begin(), frames.end());
  return tag;
}

int FlacSubtypeFor(int wav_format) {
  switch (wav_format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
      return SF_FORMAT_PCM_S8;
    case SF_FORMAT_PCM_16:
      return SF_FORMAT_PCM_16;
    default:
      return SF_FORMAT_PCM_24;
  }
}

// libsndfile's Opus level runs from 510 kb/s at 0 to 6 kb/s at 1.
double OpusLevelFor(int channels) {
  const double bits = channels > 1 ? kOpusStereoBitsPerSecond : kOpusMonoBitsPerSecond;
  return std::clamp((510000.0 - bits) / (510000.0 - 6000.0), 0.0, 1.0);
}

EncodeFailure SourceFailure(int error) {
  return {error, false};
}
EncodeFailure TargetFailure(const TargetFile& target, int otherwise) {
  return {target.error != 0 ? target.error : otherwise, true};
}

// Opens the recording without blocking on something that is not a plain file.
Sndfile OpenSource(const std::string& path, SF_INFO* info, int* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = EACCES;
    return nullptr;
  }
  Sndfile file(sf_open_fd(fd, SFM_READ, info, SF_TRUE));
  if (!file) {
    ::close(fd);  // libsndfile leaves a descriptor it failed on to the caller
    *error = EIO;
  }
  return file;
}

// Copies every frame from `reader` to `writer`, through `resampler` when there is one.
std::optional<EncodeFailure> Transcode(SNDFILE* reader, const SF_INFO& in, SNDFILE* writer,
                                       bool lossless, SRC_STATE* resampler, double ratio,
                                       const TargetFile& target,
                                       const std::function<bool(double)>& go_on) {
  const int channels = in.channels;
  std::vector<int> whole(static_cast<std::size_t>(kPieceFrames * channels));
  std::vector<float> floats(whole.size());
  const auto out_frames = static_cast<long>(kPieceFrames * ratio) + 64;
  std::vector<float> converted(static_cast<std::size_t>(out_frames * channels));
  sf_count_t done = 0;
  for (bool end = false; !end;) {
    sf_count_t got = 0;
    if (lossless) {
      got = sf_readf_int(reader, whole.data(), kPieceFrames);
      if (got > 0 && sf_writef_int(writer, whole.data(), got) != got)
        return TargetFailure(target, EIO);
    } else {
      got = sf_readf_float(reader, floats.data(), kPieceFrames);
      end = got < kPieceFrames;
      if (!resampler) {
        if (got > 0 && sf_writef_float(writer, floats.data(), got) != got)
          return TargetFailure(target, EIO);
      } else {
        SRC_DATA step{};
        step.data_in = floats.data();
        step.input_frames = static_cast<long>(got);
        step.src_ratio = ratio;
        step.end_of_input = end ? 1 : 0;
        // The last call drains what the converter still holds.
        for (;;) {
          step.data_out = converted.data();
          step.output_frames = out_frames;
          if (src_process(resampler, &step) != 0) return SourceFailure(EIO);
          if (step.output_frames_gen > 0 &&
              sf_writef_float(writer, converted.data(), step.output_frames_gen) !=
                  step.output_frames_gen) {
            return TargetFailure(target, EIO);
          }
          step.data_in += step.input_frames_used * channels;
          step.input_frames -= step.input_frames_used;
          if (step.input_frames > 0) continue;
          if (!end || step.output_frames_gen == 0) break;
        }
      }
    }
    if (got < 0) return SourceFailure(EIO);
    end = end || got < kPieceFrames;
    done += got;
    if (!go_on(in.frames > 0 ? std::min(1.0, static_cast<double>(done) / in.frames) : 1.0))
      return EncodeFailure{ECANCELED, false};
  }
  return std::nullopt;
}

}  // namespace

int OpusRateFor(int take_rate) {
  for (const int rate : {8000, 12000, 16000, 24000})
    if (take_rate <= rate) return rate;
  return 48000;
}

std::optional<EncodeFailure> EncodeSoundFile(const std::string& source, const std::string& target,
                                             EncodedType type, const EncodedTags& tags,
                                             const std::function<bool(double done)>& go_on) {
  SF_INFO in{};
  int source_error = 0;
  const Sndfile reader = OpenSource(source, &in, &source_error);
  if (!reader) return SourceFailure(source_error);
  if (in.channels < 1) return SourceFailure(EIO);

  TargetFile out_file;
  out_file.fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out_file.fd < 0) return EncodeFailure{errno, true};

  SF_INFO out{};
  out.channels = in.channels;
  out.samplerate = in.samplerate;
  switch (type) {
    case EncodedType::kFlac:
      out.format = SF_FORMAT_FLAC | FlacSubtypeFor(in.format);
      break;
    case EncodedType::kOggOpus:
      out.format = SF_FORMAT_OGG | SF_FORMAT_OPUS;
      out.samplerate = OpusRateFor(in.samplerate);
      break;
    case EncodedType::kMp3: {
      out.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
      const std::vector<unsigned char> tag = Id3Tag(tags);
      if (!out_file.WriteAll(tag.data(), tag.size(), 0)) return TargetFailure(out_file, EIO);
      out_file.base = static_cast<sf_count_t>(tag.size());
      break;
    }
  }
  if (!sf_format_check(&out)) return TargetFailure(out_file, EINVAL);

  SF_VIRTUAL_IO io{TargetLength, TargetSeek, TargetRead, TargetWrite, TargetTell};
  Sndfile writer(sf_open_virtual(&io, SFM_WRITE, &out, &out_file));
  if (!writer) return TargetFailure(out_file, EINVAL);

  Resampler resampler;
  if (type == EncodedType::kOggOpus) {
    double level = OpusLevelFor(out.channels);
    sf_command(writer.get(), SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    if (out.samplerate != in.samplerate) {
      int error = 0;
      resampler.reset(src_new(SRC_SINC_FASTEST, out.channels, &error));
      if (!resampler) return SourceFailure(ENOMEM);
    }
  } else if (type == EncodedType::kMp3) {
    int mode = SF_BITRATE_MODE_VARIABLE;
    sf_command(writer.get(), SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    double level = kMp3Quality;
    sf_command(writer.get(), SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
  }
  if (type != EncodedType::kMp3) {
    if (!tags.recorded_at.empty())
      sf_set_string(writer.get(), SF_STR_DATE, tags.recorded_at.c_str());
    if (!tags.encoder.empty()) sf_set_string(writer.get(), SF_STR_SOFTWARE, tags.encoder.c_str());
  }

  const double ratio = static_cast<double>(out.samplerate) / in.samplerate;
  if (auto failure = Transcode(reader.get(), in, writer.get(), type == EncodedType::kFlac,
                               resampler.get(), ratio, out_file, go_on)) {
    return failure;
  }
  // Closing writes what the encoder still holds, and the MP3's and FLAC's headers.
  if (sf_close(writer.release()) != 0 || out_file.error != 0) return TargetFailure(out_file, EIO);
  if (::fsync(out_file.fd) != 0 && errno != EINVAL) return EncodeFailure{errno, true};
  const int fd = std::exchange(out_file.fd, -1);
  if (::close(fd) != 0 && errno != EINTR) return EncodeFailure{errno, true};
  return std::nullopt;
}

}  // namespace vt::audio
