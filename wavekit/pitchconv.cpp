// Pitch conversion between Hz, octave.pitch-class, linear octave, MIDI notes
// and letter names. Results are fixed to the last bit, so that every plug-in
// and tool lands on the same frequencies: the constants are the exact doubles
// the tuning is defined by, and the order of operations is part of the result.
#include "pitchconv.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Hz of oct 0.0; puts oct 8.75 (A above middle C) at 440 Hz.
constexpr double kOctZeroHz = 1.0219748644554636;
// Scales a pitch-class fraction (.00-.11) to a fraction of an octave: 100/12.
constexpr double kPchFracToOct = 8.333333333333334;
// Scales a fraction of an octave back to pitch-class hundredths.
constexpr double kOctFracToPch = 0.12;
constexpr double kLn2 = 0.6931471805599453;
constexpr double kSemitoneOct = 0.08333333333333333;
// Octaves per cent: one ulp below the double nearest 1/1200, and results
// that carry cents are fixed against this value.
constexpr double kCentOct = 0.0008333333333333333;
// MIDI note 0 sits at oct 3.0.
constexpr double kMidiZeroOct = 3.0;

constexpr int kUnset = -9999;
constexpr long kMaxCents = 100;
constexpr double kFallbackOct = 8.0;

// Integer part toward zero, taken as a 32-bit conversion so that the fraction
// of a negative pitch is negative too. Values no 32-bit integer can hold
// (infinity from zero Hz, NaN from negative Hz) become INT32_MIN, as x86's own
// conversion makes them: the infinity or NaN then passes through the fraction
// unchanged, and the conversion is never undefined.
double truncOctave(double x) {
  if (x > -2147483649.0 && x < 2147483648.0) {
    return static_cast<std::int32_t>(x);
  }
  return INT32_MIN;
}

double rejectPitch(const char* text) {
  std::fprintf(stderr, "Invalid pitch representation \"%s\".", text);
  return kFallbackOct;
}

// Semitones above C, or kUnset for anything but an upper-case A-G.
int letterSemitones(char c) {
  switch (c) {
    case 'C':
      return 0;
    case 'D':
      return 2;
    case 'E':
      return 4;
    case 'F':
      return 5;
    case 'G':
      return 7;
    case 'A':
      return 9;
    case 'B':
      return 11;
    default:
      return kUnset;
  }
}

}  // namespace

extern "C" {

double octpch(double pch) {
  const double whole = truncOctave(pch);
  return whole + (pch - whole) * kPchFracToOct;
}

double pchoct(double oct) {
  const double whole = truncOctave(oct);
  return whole + (oct - whole) * kOctFracToPch;
}

double cpsoct(double oct) { return std::exp2(oct) * kOctZeroHz; }

double cpspch(double pch) { return std::exp2(octpch(pch)) * kOctZeroHz; }

double octcps(double cps) { return std::log(cps / kOctZeroHz) / kLn2; }

double pchcps(double cps) { return pchoct(octcps(cps)); }

// Adding 0.5 before truncating rounds half up from note 0 upward; below
// note 0 the truncation goes toward zero instead.
double midipch(double pch) { return truncOctave((octpch(pch) - kMidiZeroOct) * 12.0 + 0.5); }

double pchmidi(unsigned char note) { return pchoct(octmidi(note)); }

double octmidi(unsigned char note) { return note / 12.0 + kMidiZeroOct; }

// Letter, up to two accidentals, one octave digit, optional signed cents.
// Spaces (and only spaces) are skipped between any two parts; strtol alone
// also lets other white space stand right before the cents.
int pitch_name_oct(const char* text, double* result) {
  enum class Step { Letter, FirstAccidental, SecondAccidental, Octave, Cents };

  int semitones = kUnset;
  int octave = kUnset;
  long cents = 0;
  Step step = Step::Letter;
  const char* at = text;
  bool walking = true;
  while (walking) {
    if (*at == ' ') {
      ++at;
      continue;
    }
    if (*at == '\0') break;
    switch (step) {
      case Step::Letter:
        semitones = letterSemitones(*at);
        if (semitones == kUnset) return 0;
        ++at;
        step = Step::FirstAccidental;
        break;
      case Step::FirstAccidental:
        if (*at == '#') {
          semitones += 1;
          ++at;
        } else if (*at == 'b') {
          semitones -= 1;
          ++at;
        } else if (*at == 'x') {
          semitones += 2;
          ++at;
        }
        step = Step::SecondAccidental;
        break;
      case Step::SecondAccidental:
        // Only a flat may follow: "bb" is the double flat; "##" is spelt "x".
        if (*at == 'b') {
          semitones -= 1;
          ++at;
        }
        step = Step::Octave;
        break;
      case Step::Octave:
        if (*at < '0' || *at > '9') return 0;
        // Digit 4 is the octave of middle C, oct 8.
        octave = (*at - '0') + 4;
        ++at;
        step = Step::Cents;
        break;
      case Step::Cents: {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(at, &end, 10);
        if (end == at || *end != '\0' || errno == ERANGE || value < -kMaxCents || value > kMaxCents) {
          return 0;
        }
        cents = value;
        walking = false;
        break;
      }
    }
  }

  // The walk ran out before an octave digit: empty or all-space text, or a
  // name cut short such as "C#". There is no octave to place it in, so it is
  // refused like any other malformed name.
  if (octave == kUnset) return 0;

  double oct = semitones * kSemitoneOct + octave;
  if (cents != 0) oct += cents * kCentOct;
  *result = oct;
  return 1;
}

double octlet(const char* text) {
  double oct = 0.0;
  return pitch_name_oct(text, &oct) ? oct : rejectPitch(text);
}

double pchlet(const char* text) { return pchoct(octlet(text)); }

double cpslet(const char* text) { return std::exp2(octlet(text)) * kOctZeroHz; }

}  // extern "C"
