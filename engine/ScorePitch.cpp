#include "ScorePitch.h"

#include <cmath>

#include "Engine.h"
#include "pitchconv.h"

namespace vemora {
namespace {

using Takes = ScorePitchFunction::Takes;

double same(double oct) { return oct; }

// MIDI note to Hz, through the module's oct of the note.
double cpsmidi(unsigned char note) { return cpsoct(octmidi(note)); }

constexpr ScorePitchFunction kFunctions[] = {
    {"octpch", Takes::Number, octpch, nullptr, nullptr},     {"pchoct", Takes::Number, pchoct, nullptr, nullptr},
    {"cpsoct", Takes::Number, cpsoct, nullptr, nullptr},     {"cpspch", Takes::Number, cpspch, nullptr, nullptr},
    {"octcps", Takes::Number, octcps, nullptr, nullptr},     {"pchcps", Takes::Number, pchcps, nullptr, nullptr},
    {"midipch", Takes::Number, midipch, nullptr, nullptr},   {"pchmidi", Takes::MidiNote, nullptr, pchmidi, nullptr},
    {"octmidi", Takes::MidiNote, nullptr, octmidi, nullptr}, {"cpsmidi", Takes::MidiNote, nullptr, cpsmidi, nullptr},
    {"octlet", Takes::PitchName, nullptr, nullptr, same},    {"pchlet", Takes::PitchName, nullptr, nullptr, pchoct},
    {"cpslet", Takes::PitchName, nullptr, nullptr, cpsoct},
};

}  // namespace

double ScorePitchFunction::operator()(double argument) const {
  if (takes == Takes::Number) return ofNumber(argument);
  if (!(argument >= 0.0 && argument <= 255.0) || argument != std::floor(argument)) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", argument);
    throw ScoreError(std::string(name) + ": a MIDI note is a whole number from 0 to 255, not " + text);
  }
  return ofNote(static_cast<unsigned char>(argument));
}

double ScorePitchFunction::operator()(const std::string& pitchName) const {
  double oct = 0.0;
  if (pitchName.find('\0') != std::string::npos || !pitch_name_oct(pitchName.c_str(), &oct))
    throw ScoreError(std::string(name) + ": \"" + pitchName +
                     "\" is not a pitch name (a letter A-G, up to two accidentals, an octave digit and optional "
                     "cents: A4, C#4, Bb3 -25)");
  // The module's own octlet, pchlet and cpslet give the same bits: they
  // convert the same oct with the same functions.
  return ofOct(oct);
}

std::span<const ScorePitchFunction> scorePitchFunctions() { return kFunctions; }

}  // namespace vemora
