#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "SoundInput.h"
#include "SoundOutput.h"

namespace fs = std::filesystem;
using namespace vemora;

namespace {

struct TempFolder {
  TempFolder() {
    static int counter = 0;
    dir = fs::temp_directory_path() /
          ("vemora-sound-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir, ignored);
  }
  std::string operator/(const std::string& name) const { return (dir / name).string(); }
  std::vector<std::string> names() const {
    std::vector<std::string> result;
    for (const auto& entry : fs::directory_iterator(dir)) result.push_back(entry.path().filename());
    std::sort(result.begin(), result.end());
    return result;
  }
  fs::path dir;
};

// Partials at a different pitch per channel, a little noise and an offset
// that makes each channel's negative and positive peaks differ; within ±0.95.
std::vector<float> testSignal(int64_t frames, int channels) {
  std::mt19937 noise(1234);
  std::uniform_real_distribution<float> jitter(-0.05f, 0.05f);
  std::vector<float> s(frames * channels);
  for (int64_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      s[i * channels + c] = 0.6f * std::sin(0.01f * (c + 1) * i) + 0.2f * std::sin(0.173f * (c + 2) * i) +
                            jitter(noise) + (c % 2 ? -0.1f : 0.05f);
  return s;
}

struct Written {
  int64_t frames, clipped;
  std::vector<float> peaks;
};

// Writes in uneven blocks, some longer than the writer's own, and commits.
Written writeFile(const std::string& path, const std::string& sampleText, const std::vector<float>& s, int channels,
                  int rate = 44100) {
  SoundFileWriter writer(path, outputFormatFor(path, sampleText), channels, rate);
  const int blocks[] = {1, 7, 512, 5000, 333};
  const int64_t total = static_cast<int64_t>(s.size()) / channels;
  for (int64_t done = 0, b = 0; done < total; done += blocks[b++ % 5])
    writer.write(s.data() + done * channels, std::min<int64_t>(blocks[b % 5], total - done));
  writer.commit();
  return {writer.framesWritten(), writer.clippedSamples(), writer.peaks()};
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const SoundFileError& e) {
    return e.what();
  }
  return "(no error)";
}

// Reads of random spans (before 0, across both ends, longer than a cached
// block, single frames), as several notes reading one input in turn make them.
void expectReadsMatch(SoundInput& input, const std::vector<float>& expected, double tolerance) {
  const int ch = input.channels();
  const int64_t frames = static_cast<int64_t>(expected.size()) / ch;
  ASSERT_EQ(input.frames(), frames);
  std::mt19937 pick(99);
  std::uniform_int_distribution<int64_t> start(-3000, frames + 3000);
  std::uniform_int_distribution<int> length(1, 9000);
  std::vector<float> got;
  for (int trial = 0; trial < 300; ++trial) {
    const int64_t first = trial % 3 == 0 ? start(pick) : trial * 97 % frames;
    const int count = trial % 5 == 0 ? 1 : length(pick);
    got.assign(static_cast<size_t>(count) * ch, std::numeric_limits<float>::quiet_NaN());
    input.read(first, count, got.data());
    for (int i = 0; i < count * ch; ++i) {
      const int64_t frame = first + i / ch;
      const float want = frame >= 0 && frame < frames ? expected[frame * ch + i % ch] : 0.0f;
      if (!(std::fabs(got[i] - want) <= tolerance))
        FAIL() << "read(" << first << ", " << count << ") sample " << i << ": " << got[i] << " != " << want;
    }
  }
}

const struct FormatCase {
  const char* name;
  const char* sampleText;
  int major, minor, bits;  // bits 0 for float
} formatCases[] = {
    {"a.wav", "", SF_FORMAT_WAV, SF_FORMAT_FLOAT, 0},       {"b.wav", "16", SF_FORMAT_WAV, SF_FORMAT_PCM_16, 16},
    {"c.WAV", "24", SF_FORMAT_WAV, SF_FORMAT_PCM_24, 24},   {"d.aiff", "float", SF_FORMAT_AIFF, SF_FORMAT_FLOAT, 0},
    {"e.aif", "16", SF_FORMAT_AIFF, SF_FORMAT_PCM_16, 16},  {"f.AIFF", "24", SF_FORMAT_AIFF, SF_FORMAT_PCM_24, 24},
    {"g.flac", "16", SF_FORMAT_FLAC, SF_FORMAT_PCM_16, 16}, {"h.Flac", "", SF_FORMAT_FLAC, SF_FORMAT_PCM_24, 24},
};

}  // namespace

TEST(SoundFile, EveryFormatRoundTripsThroughWriterAndInput) {
  TempFolder tmp;
  const int ch = 2;
  const auto signal = testSignal(11000, ch);
  for (const auto& fc : formatCases) {
    SCOPED_TRACE(std::string(fc.name) + " \"" + fc.sampleText + "\"");
    const std::string path = tmp / fc.name;
    const Written w = writeFile(path, fc.sampleText, signal, ch, 48000);
    EXPECT_EQ(w.frames, 11000);
    EXPECT_EQ(w.clipped, 0);
    for (int c = 0; c < ch; ++c) {
      float peak = 0;
      for (size_t i = c; i < signal.size(); i += ch) peak = std::max(peak, std::fabs(signal[i]));
      EXPECT_EQ(w.peaks[c], peak);
    }
    SF_INFO info{};
    sf_close(sf_open(path.c_str(), SFM_READ, &info));
    EXPECT_EQ(info.format, fc.major | fc.minor);

    auto input = openSoundInput(path);
    EXPECT_EQ(input->channels(), ch);
    EXPECT_EQ(input->sampleRate(), 48000);
    EXPECT_EQ(input->name(), path);
    expectReadsMatch(*input, signal, fc.bits ? std::ldexp(1.0001, -fc.bits) : 0.0);
  }
}

TEST(SoundFile, SamplesLandOnExactCodesAndOversClipWithoutWrapping) {
  TempFolder tmp;
  const float inf = std::numeric_limits<float>::infinity();
  const int codes[] = {-32768, -12345, -1, 0, 1, 2, 16384, 32767};
  std::vector<float> s;
  for (int code : codes) s.push_back(code / 32768.0f);
  for (float over : {1.0f, 1.5f, -2.0f, NAN, inf, -inf}) s.push_back(over);
  for (const auto& fc : formatCases) {
    SCOPED_TRACE(fc.name);
    const std::string path = tmp / fc.name;
    // NaN and infinities are replaced in every format; overs only where they cannot be held.
    EXPECT_EQ(writeFile(path, fc.sampleText, s, 1).clipped, fc.bits ? 5 : 3);
    std::vector<float> back(s.size());
    openSoundInput(path)->read(0, s.size(), back.data());
    if (!fc.bits) {
      const std::vector<float> tail = {1.0f, 1.5f, -2.0f, 0.0f, 1.0f, -1.0f};
      EXPECT_TRUE(std::equal(s.begin(), s.begin() + 8, back.begin()));
      EXPECT_TRUE(std::equal(tail.begin(), tail.end(), back.begin() + 8));
      continue;
    }
    const int64_t full = int64_t(1) << (fc.bits - 1), perCode = full / 32768;
    std::vector<int64_t> want;
    for (int code : codes) want.push_back(code * perCode);
    for (int64_t code : {full - 1, full - 1, -full, int64_t(0), full - 1, -full}) want.push_back(code);
    SF_INFO info{};
    SNDFILE* raw = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<int> stored(s.size());
    ASSERT_EQ(sf_readf_int(raw, stored.data(), stored.size()), sf_count_t(s.size()));
    sf_close(raw);
    for (size_t i = 0; i < s.size(); ++i) {
      EXPECT_EQ(stored[i] >> (32 - fc.bits), want[i]) << "sample " << i;
      EXPECT_EQ(back[i], float(want[i]) / float(full)) << "sample " << i;
    }
  }
}

TEST(SoundFile, FinalNameIsTakenOnlyByCommit) {
  TempFolder tmp;
  const auto signal = testSignal(3000, 1);
  const std::string path = tmp / "out.wav";
  for (bool replacing : {false, true}) {
    SCOPED_TRACE(replacing ? "replacing a file" : "new file");
    if (replacing) std::ofstream(path) << "an earlier render";
    const auto before = tmp.names();
    {
      SoundFileWriter writer(path, outputFormatFor(path, ""), 1, 44100);
      writer.write(signal.data(), 3000);
      EXPECT_EQ(tmp.names().size(), before.size() + 1);
      EXPECT_EQ(fs::exists(path), replacing);
    }
    // Abandoned without commit: no temporary remains, an earlier file is untouched.
    EXPECT_EQ(tmp.names(), before);
    EXPECT_EQ(slurp(path), replacing ? "an earlier render" : "");

    SoundFileWriter writer(path, outputFormatFor(path, ""), 1, 44100);
    writer.write(signal.data(), 3000);
    writer.commit();
    EXPECT_EQ(tmp.names(), std::vector<std::string>{"out.wav"});
    EXPECT_EQ(openSoundInput(path)->frames(), 3000);
    EXPECT_THROW(writer.write(signal.data(), 1), SoundFileError);
    fs::remove(path);
  }
}

TEST(SoundFile, WriterRefusesPlacesItCannotWrite) {
  TempFolder tmp;
  std::ofstream(tmp / "plain.txt") << "x";
  fs::create_directory(tmp / "taken.wav");
  const std::pair<std::string, std::string> cases[] = {
      {tmp / "missing/out.wav", "the folder \"" + (tmp / "missing") + "\" does not exist"},
      {tmp / "plain.txt/out.wav", "\"" + (tmp / "plain.txt") + "\" is not a folder"},
      {tmp / "taken.wav", "it is a folder"},
  };
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(errorOf([&] { SoundFileWriter(path, outputFormatFor(path, ""), 2, 44100); }),
              "rtoutput: cannot write \"" + path + "\": " + reason);
  }
  EXPECT_EQ(tmp.names(), (std::vector<std::string>{"plain.txt", "taken.wav"}));
}

TEST(SoundFile, WriterRefusesReadOnlyFolder) {
  TempFolder tmp;
  fs::create_directory(tmp / "locked");
  fs::permissions(tmp / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  if (std::ofstream(tmp / "locked/probe")) GTEST_SKIP() << "folder permissions do not bind us";
  const std::string path = tmp / "locked/out.wav";
  EXPECT_EQ(errorOf([&] { SoundFileWriter(path, outputFormatFor(path, ""), 2, 44100); }),
            "rtoutput: cannot write \"" + path + "\": Permission denied");
}

TEST(SoundFile, OutputFormatRefusesUnknownNamesAndSampleTexts) {
  for (const std::string path : {"out.mp3", "out", "out.wav.txt", "wav", "folder.wav/"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(errorOf([&] { outputFormatFor(path, ""); }),
              "rtoutput: cannot tell the sound file format from \"" + path + "\" (use .wav, .aif, .aiff or .flac)");
  }
  for (const std::string text : {"8", "32", "floaty", "pcm16", " 16", "double"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(errorOf([&] { outputFormatFor("out.wav", text); }),
              "rtoutput: unknown sample format \"" + text + "\" (use 16, 24 or float)");
  }
  EXPECT_EQ(errorOf([] { outputFormatFor("out.flac", "float"); }),
            "rtoutput: FLAC cannot hold float samples (use 16 or 24)");
}

TEST(SoundFile, PeakChunkIsWrittenForFloatWavAndAiff) {
  TempFolder tmp;
  const std::vector<float> s = {0.5f, -0.25f, -0.75f, 0.125f, 0.0f, 0.0f};
  for (const char* name : {"p.wav", "p.aiff", "p16.wav"}) {
    SCOPED_TRACE(name);
    const std::string path = tmp / name;
    const bool isFloat = std::string(name) != "p16.wav";
    writeFile(path, isFloat ? "float" : "16", s, 2);
    SF_INFO info{};
    SNDFILE* raw = sf_open(path.c_str(), SFM_READ, &info);
    double peaks[2] = {};
    const int found = sf_command(raw, SFC_GET_MAX_ALL_CHANNELS, peaks, sizeof peaks);
    sf_close(raw);
    const std::string bytes = slurp(path);
    const size_t peak = bytes.find("PEAK");
    EXPECT_EQ(peak != std::string::npos, isFloat);
    EXPECT_EQ(found == SF_TRUE, isFloat);
    if (isFloat) {
      EXPECT_EQ(std::vector<double>(peaks, peaks + 2), (std::vector<double>{0.75, 0.25}));
      // No time of writing in the stamp: the same render gives the same bytes.
      ASSERT_LT(peak + 16, bytes.size());
      EXPECT_EQ(bytes.substr(peak + 12, 4), std::string(4, '\0'));
    }
  }
}

// The bytes after a chunk's id and size, up to the end of the chunk.
std::string chunkBody(const std::string& bytes, const char* id) {
  const size_t at = bytes.find(id);
  if (at == std::string::npos || at + 8 > bytes.size()) return "(no " + std::string(id) + " chunk)";
  uint32_t size = 0;
  std::memcpy(&size, bytes.data() + at + 4, 4);
  return bytes.substr(at + 8, size);
}

// The same samples as libsndfile writes them itself, in one call: its PEAK
// entries (past the version and the stamp) and its sound data are what the
// writer's own must be.
std::string libsndfileFloatWav(const std::string& path, const std::vector<float>& s, int channels) {
  SF_INFO info{};
  info.channels = channels;
  info.samplerate = 44100;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_TRUE);
  sf_writef_float(file, s.data(), static_cast<sf_count_t>(s.size()) / channels);
  sf_close(file);
  return slurp(path);
}

TEST(SoundFile, FloatWavPeaksAndSamplesAreLibsndfilesOwn) {
  TempFolder tmp;
  for (const int channels : {1, 2, 3, 4, 6}) {
    SCOPED_TRACE(channels);
    // Longer than the writer's buffer; each channel peaks where a scan could
    // go wrong: twice at the same height (the first counts), negative, on the
    // last frame, beside a NaN and an infinity that the file holds as 0 and 1,
    // or never (a silent channel keeps frame 0).
    const int64_t frames = 120000;
    std::vector<float> s = testSignal(frames, channels);
    auto at = [&](int64_t frame, int c) -> float& { return s[size_t(frame * channels + c)]; };
    at(3, 0) = 0.97f;
    at(90000, 0) = -0.97f;
    if (channels > 1) at(frames - 1, 1) = -0.99f;
    if (channels > 2) {
      at(500, 2) = std::numeric_limits<float>::quiet_NaN();
      at(501, 2) = -std::numeric_limits<float>::infinity();
      at(77777, 2) = 0.999f;
    }
    for (int64_t f = 0; f < frames && channels > 3; ++f) at(f, 3) = 0.0f;
    std::vector<float> asFiled = s;
    for (float& x : asFiled) x = std::isnan(x) ? 0.0f : std::isinf(x) ? std::copysign(1.0f, x) : x;

    const std::string ours = tmp / "ours.wav";
    writeFile(ours, "float", s, channels);
    const std::string theirs = libsndfileFloatWav(tmp / "theirs.wav", asFiled, channels);
    EXPECT_EQ(chunkBody(slurp(ours), "PEAK").substr(8), chunkBody(theirs, "PEAK").substr(8));
    EXPECT_EQ(chunkBody(slurp(ours), "data"), chunkBody(theirs, "data"));

    // A header brought up to date mid-render holds the peaks so far.
    const std::string partial = tmp / "partial.wav";
    SoundFileWriter writer(partial, outputFormatFor(partial, "float"), channels, 44100);
    writer.write(s.data(), 80000);
    writer.updateHeader();
    const std::string part =
        libsndfileFloatWav(tmp / "part.wav", {asFiled.begin(), asFiled.begin() + 80000 * channels}, channels);
    std::string temporary;
    for (const std::string& name : tmp.names())
      if (name.rfind("partial.wav.part-", 0) == 0) temporary = tmp / name;
    EXPECT_EQ(chunkBody(slurp(temporary), "PEAK").substr(8), chunkBody(part, "PEAK").substr(8));
  }
}

TEST(SoundFile, InputRefusalsNameTheFileAndTheReason) {
  TempFolder tmp;
  fs::create_directory(tmp / "folder.wav");
  std::ofstream(tmp / "empty.wav");
  std::ofstream(tmp / "notes.wav") << "this is a shopping list, not a sound\n";
  writeFile(tmp / "cut.wav", "16", testSignal(100, 1), 1);
  fs::resize_file(tmp / "cut.wav", 20);  // inside the format chunk
  writeFile(tmp / "locked.wav", "16", testSignal(100, 1), 1);
  fs::permissions(tmp / "locked.wav", fs::perms::none);
  const bool permissionsBind = !std::ifstream(tmp / "locked.wav");
  const std::pair<std::string, std::string> cases[] = {
      {"missing.wav", "No such file or directory"},
      {"folder.wav", "it is a folder"},
      {"empty.wav", "not a sound file libsndfile can read: the file is empty"},
      {"notes.wav", "not a sound file libsndfile can read: "},
      {"cut.wav", "not a sound file libsndfile can read: "},
      {"locked.wav", "Permission denied"},
  };
  for (const auto& [name, reason] : cases) {
    SCOPED_TRACE(name);
    if (name == "locked.wav" && !permissionsBind) continue;
    const std::string head = "rtinput: cannot open \"" + (tmp / name) + "\": " + reason;
    EXPECT_EQ(errorOf([&] { openSoundInput(tmp / name); }).substr(0, head.size()), head);
  }
}

TEST(SoundFile, TruncatedDataReadsWhatIsThereThenSilence) {
  TempFolder tmp;
  const int ch = 2;
  const int64_t frames = 40000;  // reading it through recycles cached blocks
  const auto signal = testSignal(frames, ch);
  for (const char* name : {"t.wav", "t.aiff", "t.flac"}) {
    for (double kept : {0.6, 0.85}) {
      SCOPED_TRACE(std::string(name) + " keeping " + std::to_string(kept));
      const std::string path = tmp / name;
      writeFile(path, "16", signal, ch);
      fs::resize_file(path, static_cast<uintmax_t>(fs::file_size(path) * kept) | 1);
      auto input = openSoundInput(path);
      std::vector<float> back(signal.size(), NAN);
      input->read(0, frames, back.data());
      // Each frame is the original (within a 16-bit step) up to some point,
      // silence after it.
      int64_t good = 0;
      while (good < frames && std::fabs(back[good * ch] - signal[good * ch]) <= 1.0 / 32768 &&
             std::fabs(back[good * ch + 1] - signal[good * ch + 1]) <= 1.0 / 32768)
        ++good;
      EXPECT_GT(good, 0);
      EXPECT_LT(good, frames);
      EXPECT_TRUE(std::all_of(back.begin() + good * ch, back.end(), [](float x) { return !x; }));
      // Uncompressed formats know exactly how many whole frames survived.
      if (std::string(name) != "t.flac") {
        EXPECT_EQ(good, input->frames());
      }
    }
  }
}

TEST(SoundFile, MemoryInputReadsLikeAFileAndRefusesBadShapes) {
  const auto signal = testSignal(10000, 3);
  auto input = memorySoundInput(signal, 3, 22050, "voice");
  EXPECT_EQ(input->name(), "voice");
  EXPECT_EQ(input->sampleRate(), 22050);
  expectReadsMatch(*input, signal, 0.0);

  EXPECT_THROW(memorySoundInput({0.1f, 0.2f, 0.3f}, 2, 44100), SoundFileError);
  EXPECT_THROW(memorySoundInput({0.1f}, 0, 44100), SoundFileError);
  EXPECT_THROW(memorySoundInput({0.1f}, 1, 0), SoundFileError);
}

TEST(SoundFile, ValidFileOfNoFramesIsAnEmptyInput) {
  TempFolder tmp;
  for (const char* name : {"z.wav", "z.aiff", "z.flac"}) {
    SCOPED_TRACE(name);
    writeFile(tmp / name, "16", {}, 2);
    auto input = openSoundInput(tmp / name);
    EXPECT_EQ(input->frames(), 0);
    std::vector<float> back(6, 1.0f);
    input->read(-1, 3, back.data());
    EXPECT_EQ(back, std::vector<float>(6, 0.0f));
  }
}
