#include "platform/audio/sound_encoder.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <future>
#include <string>
#include <vector>

#include "test_files.h"

namespace vt::audio {
namespace {

using testutil::ReadAll;
using testutil::TempDir;

constexpr double kToneHz = 440.0;

struct Format {
  int channels;
  int rate;
  int bits;
};

// A WAV file as the recorder writes it (an 18-byte fmt chunk), holding `seconds` of a 440 Hz tone
// at half scale: left and right alike, except that the right is a little quieter.
void WriteToneWav(const std::string& path, Format f, double seconds) {
  const auto frames = static_cast<std::uint32_t>(seconds * f.rate);
  const std::uint32_t block = static_cast<std::uint32_t>(f.channels * f.bits / 8);
  const std::uint32_t data_size = frames * block;
  std::vector<std::uint8_t> bytes;
  const auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
  put(38 + data_size + (data_size & 1), 4);
  bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(18, 4);
  put(1, 2);
  put(static_cast<std::uint32_t>(f.channels), 2);
  put(static_cast<std::uint32_t>(f.rate), 4);
  put(static_cast<std::uint32_t>(f.rate) * block, 4);
  put(block, 2);
  put(static_cast<std::uint32_t>(f.bits), 2);
  put(0, 2);
  bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
  put(data_size, 4);
  for (std::uint32_t i = 0; i < frames; ++i) {
    for (int c = 0; c < f.channels; ++c) {
      const double v = (c == 0 ? 0.5 : 0.4) * std::sin(2 * M_PI * kToneHz * i / f.rate);
      if (f.bits == 8)
        put(static_cast<std::uint32_t>(128 + std::lround(v * 127)), 1);
      else
        put(static_cast<std::uint32_t>(static_cast<std::uint16_t>(std::lround(v * 32767))), 2);
    }
  }
  if (data_size & 1) bytes.push_back(0);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

struct Decoded {
  SF_INFO info{};
  std::vector<int> samples;  // interleaved, at full int scale
  std::string date;
  std::string software;
};

Decoded Decode(const std::string& path) {
  Decoded d;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &d.info);
  if (!file) {
    ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
    return d;
  }
  if (const char* date = sf_get_string(file, SF_STR_DATE)) d.date = date;
  if (const char* software = sf_get_string(file, SF_STR_SOFTWARE)) d.software = software;
  std::vector<int> piece(4096 * static_cast<std::size_t>(d.info.channels));
  for (sf_count_t got; (got = sf_readf_int(file, piece.data(), 4096)) > 0;)
    d.samples.insert(d.samples.end(), piece.begin(), piece.begin() + got * d.info.channels);
  sf_close(file);
  return d;
}

// Upward zero crossings of the left channel per second, over the middle half of the sound (the
// ends of a lossy file fade in and out).
double LeftFrequency(const Decoded& d) {
  const std::size_t frames = d.samples.size() / static_cast<std::size_t>(d.info.channels);
  int crossings = 0;
  for (std::size_t i = frames / 4 + 1; i < frames * 3 / 4; ++i) {
    const int before = d.samples[(i - 1) * static_cast<std::size_t>(d.info.channels)];
    const int now = d.samples[i * static_cast<std::size_t>(d.info.channels)];
    if (before < 0 && now >= 0) ++crossings;
  }
  return crossings / (static_cast<double>(frames) / 2 / d.info.samplerate);
}

const EncodedTags kTags{"2026-12-11T09:30:00", "Voxtape"};

std::optional<EncodeFailure> Encode(const std::string& source, const std::string& target,
                                    EncodedType type) {
  return EncodeSoundFile(source, target, type, kTags, [](double) { return true; });
}

const Format kFormats[] = {{1, 8000, 8}, {1, 11025, 8}, {2, 22050, 16}, {2, 44100, 16}};

TEST(SoundEncoder, FlacGivesBackExactlyTheRecordedSamplesAndCarriesTheTags) {
  TempDir dir;
  for (const Format f : kFormats) {
    SCOPED_TRACE(std::to_string(f.channels) + " ch " + std::to_string(f.rate) + " Hz " +
                 std::to_string(f.bits) + " bit");
    const std::string wav = dir.File("take.wav");
    const std::string flac = dir.File("take.flac");
    WriteToneWav(wav, f, 1.3);
    ASSERT_EQ(Encode(wav, flac, EncodedType::kFlac), std::nullopt);
    const Decoded original = Decode(wav);
    const Decoded saved = Decode(flac);
    EXPECT_EQ(saved.info.format,
              SF_FORMAT_FLAC | (f.bits == 8 ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16));
    EXPECT_EQ(saved.info.samplerate, f.rate);
    EXPECT_EQ(saved.info.channels, f.channels);
    EXPECT_TRUE(saved.samples == original.samples) << "the decoded samples differ";
    EXPECT_EQ(saved.date, "2026-12-11T09:30:00");
    EXPECT_NE(saved.software.find("Voxtape"), std::string::npos) << saved.software;
  }
}

TEST(SoundEncoder, OpusAndMp3KeepTheToneAndTheLength) {
  TempDir dir;
  const double seconds = 2.0;
  for (const EncodedType type : {EncodedType::kOggOpus, EncodedType::kMp3}) {
    for (const Format f : kFormats) {
      const bool opus = type == EncodedType::kOggOpus;
      SCOPED_TRACE(std::string(opus ? "opus " : "mp3 ") + std::to_string(f.channels) + " ch " +
                   std::to_string(f.rate) + " Hz " + std::to_string(f.bits) + " bit");
      const std::string wav = dir.File("take.wav");
      const std::string out = dir.File(opus ? "take.opus" : "take.mp3");
      WriteToneWav(wav, f, seconds);
      ASSERT_EQ(Encode(wav, out, type), std::nullopt);
      const Decoded saved = Decode(out);
      EXPECT_EQ(saved.info.samplerate, opus ? OpusRateFor(f.rate) : f.rate);
      EXPECT_EQ(saved.info.channels, f.channels);
      // Within a frame: Opus's 20 ms, an MP3's 1152 samples (and the encoder's delay).
      const double duration = static_cast<double>(saved.info.frames) / saved.info.samplerate;
      EXPECT_NEAR(duration, seconds, opus ? 0.02 : 1152.0 * 2 / f.rate) << duration << " s";
      EXPECT_NEAR(LeftFrequency(saved), kToneHz, 5.0);
      if (opus) {
        EXPECT_EQ(saved.date, "2026-12-11T09:30:00");
        EXPECT_NE(saved.software.find("Voxtape"), std::string::npos) << saved.software;
      }
    }
  }
}

TEST(SoundEncoder, Mp3StartsWithATagHoldingTheTimeAndTheEncoder) {
  TempDir dir;
  const std::string wav = dir.File("take.wav");
  WriteToneWav(wav, {1, 11025, 8}, 0.5);
  ASSERT_EQ(Encode(wav, dir.File("take.mp3"), EncodedType::kMp3), std::nullopt);
  const std::vector<std::uint8_t> bytes = ReadAll(dir.File("take.mp3"));
  const std::string head(bytes.begin(), bytes.begin() + 64);
  EXPECT_EQ(head.substr(0, 4), std::string("ID3\x04", 4));
  EXPECT_NE(
      head.find(std::string("TDRC") + std::string("\0\0\0\x14\0\0\x03", 7) + "2026-12-11T09:30:00"),
      std::string::npos);
  EXPECT_NE(head.find(std::string("TSSE") + std::string("\0\0\0\x08\0\0\x03", 7) + "Voxtape"),
            std::string::npos);
}

TEST(SoundEncoder, FailuresNameTheFileAtFaultAndAStopIsHeard) {
  TempDir dir;
  const std::string wav = dir.File("take.wav");
  WriteToneWav(wav, {2, 44100, 16}, 3.0);
  const std::string fifo = dir.File("fifo.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    const char* what;
    std::string source;
    std::string target;
    int error;
    bool in_target;
  } cases[] = {
      {"a full disk", wav, "/dev/full", ENOSPC, true},
      {"a folder that is not there", wav, dir.File("gone/take.flac"), ENOENT, true},
      {"no recording", dir.File("none.wav"), dir.File("x.flac"), ENOENT, false},
      {"a FIFO for the recording", fifo, dir.File("x.flac"), EACCES, false},
  };
  for (const auto& c : cases) {
    for (const EncodedType type : {EncodedType::kFlac, EncodedType::kOggOpus, EncodedType::kMp3}) {
      SCOPED_TRACE(std::string(c.what) + " " + std::to_string(static_cast<int>(type)));
      // A FIFO with no writer would hold an open that waits: this must not.
      auto pending =
          std::async(std::launch::async, [&] { return Encode(c.source, c.target, type); });
      ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
      const auto failure = pending.get();
      ASSERT_TRUE(failure.has_value());
      EXPECT_EQ(failure->error, c.error);
      EXPECT_EQ(failure->in_target, c.in_target);
    }
  }

  std::vector<double> heard;
  const auto stopped =
      EncodeSoundFile(wav, dir.File("x.mp3"), EncodedType::kMp3, kTags, [&](double done) {
        heard.push_back(done);
        return heard.size() < 3;
      });
  ASSERT_TRUE(stopped.has_value());
  EXPECT_EQ(stopped->error, ECANCELED);
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_GT(heard[0], 0.0);
  EXPECT_LT(heard[2], 1.0);
  EXPECT_LT(heard[0], heard[1]);
}

}  // namespace
}  // namespace vt::audio
