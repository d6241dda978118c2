// The sound card's input as the input of notes: rtinput("device") while a
// score plays (--play).
//
// The input and the output run on one stream, one clock: the input's frame
// f (counted from the stream's start) came in with the output's frame f.
// A note reads the input at the frames it renders: rendering output frame
// f it reads input frame f, less its input skip (p1), which reads that many
// seconds back. So that frame f is there when output frame f is rendered,
// the device plays a fixed lead-in of silence before the first rendered
// frame (LivePlayer::hearInput), and before each block the render waits
// until the input has come in as far as the block after it.
//
// A note may read ahead of its output frame by one block at most (the
// glides take their input a block at a time); what lies further ahead is
// read as silence, whether or not it has come in yet, and so is what is
// older than the history kept. What a render reads is therefore the same
// on every run, whenever the frames arrive.
//
// Everything here runs on the render thread: the audio callback only fills
// the input ring.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AudioDevice.h"
#include "AudioRing.h"
#include "SoundInput.h"

namespace vemora {

class LiveInput : public SoundInput {
 public:
  // The seconds of input kept for notes that read behind their output
  // frame (an input skip): older frames read as silence.
  static constexpr double kHistorySeconds = 10.0;

  // channels: what the stream will open; device: as found when the score
  // named it (its name for messages and the report).
  LiveInput(DeviceInfo device, int channels, double sampleRate);

  int channels() const override { return channelCount; }
  double sampleRate() const override { return rate; }
  // Endless: a note that reads the input is never cut short by it.
  int64_t frames() const override;
  const std::string& name() const override { return label; }
  bool arrivesLive() const override { return true; }
  void read(int64_t startFrame, int frameCount, float* dst) override;

  const DeviceInfo& device() const { return info; }
  // Where the input comes from, once the stream is open: the history is
  // made here (before the render, never inside it).
  void attach(AudioRing& ring);
  // Frames the device has delivered so far.
  int64_t arrived() const;
  // Takes the frames before horizon from the ring into the history (they
  // must have arrived): notes may read them from now on.
  void advanceTo(int64_t horizon);
  int64_t horizon() const { return readable; }

 private:
  DeviceInfo info;
  int channelCount;
  double rate;
  std::string label;
  AudioRing* ring = nullptr;
  std::vector<float> history;  // historyFrames frames, frame f at f % historyFrames
  int64_t historyFrames = 0;
  int64_t readable = 0;  // frames before this may be read
};

}  // namespace vemora
