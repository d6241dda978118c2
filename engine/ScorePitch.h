// The pitch conversions a score calls by name (cpspch, cpslet, cpsmidi ...):
// the pitch module's own functions, with their arguments checked so that a
// bad one stops the score at its line instead of sounding as middle C.
#pragma once

#include <span>
#include <string>

namespace vemora {

struct ScorePitchFunction {
  enum class Takes { Number, MidiNote, PitchName };
  const char* name;
  Takes takes;
  double (*ofNumber)(double);       // Number
  double (*ofNote)(unsigned char);  // MidiNote
  double (*ofOct)(double);          // PitchName, given as its oct

  // Both throw ScoreError: a MIDI note that is no whole number from 0 to
  // 255, a pitch name the module would refuse.
  double operator()(double argument) const;
  double operator()(const std::string& pitchName) const;
};

std::span<const ScorePitchFunction> scorePitchFunctions();

}  // namespace vemora
