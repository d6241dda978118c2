#include "MORPHOSC.h"

#include <new>

#include "pfield_int.h"
#include "wavekit.h"

namespace {

constexpr int kFirstWave = 6;  // p6 holds the first waveform table

// Below 15 the frequency pfield is an octave.pitch-class.
double toHz(double freq) { return freq < 15.0 ? cpspch(freq) : freq; }

// The 16.16 increment of an oscillator for freqHz. Frequencies whose
// increment leaves the int range are held at its ends (NaN stops the
// oscillator), so no frequency makes the conversion undefined.
int phaseIncrementFor(const Ooscili& osc, double freqHz) {
  const double increment = osc.incrementFactor * double(float(freqHz)) * osc.phaseUnit();
  return truncSaturating(increment);
}

}  // namespace

MORPHOSC::MORPHOSC() : oscils(nullptr), breakpoints(nullptr), nWaves(0) {}

MORPHOSC::~MORPHOSC() {
  if (oscils) {
    for (int i = 0; i < nWaves; ++i) delete oscils[i];
    delete[] oscils;
  }
  delete[] breakpoints;
}

int MORPHOSC::init(double p[], int n_args) {
  if (rtsetoutput(float(p[0]), float(p[1]), this) == -1) return -1;
  rtaddinplace(this);  // it writes through rtaddout alone
  if (outChanCount >= 3) return die("MORPHOSC", "Can't handle more than 2 output channels.");
  // Every table is checked before anything is built: an oscillator without
  // a table would have no cycle to lock the others to.
  if (n_args <= kFirstWave)
    return die("MORPHOSC", "Usage: MORPHOSC(start, dur, freq, amp, morph, pctleft, wavetable [, wavetable ...])");
  for (int i = kFirstWave; i < n_args; ++i) {
    int length = 0;
    if (!getPFieldTable(i, &length) || length < 1)
      return die("MORPHOSC", "p%d carries no waveform table (make one with tab()).", i);
  }

  const double freq = toHz(p[2]);
  const int waves = n_args - kFirstWave;
  breakpoints = new (std::nothrow) double[size_t(waves) + 1];
  oscils = new (std::nothrow) Ooscili*[size_t(waves)]();
  if (!breakpoints || !oscils) return die("MORPHOSC", "Out of memory for %d waveforms.", waves);
  nWaves = waves;
  for (int i = 0; i < nWaves; ++i) {
    int length = 0;
    double* table = getPFieldTable(i + kFirstWave, &length);
    oscils[i] = new (std::nothrow) Ooscili(SR, float(freq), table, length);
    if (!oscils[i]) return die("MORPHOSC", "Out of memory for %d waveforms.", waves);
    breakpoints[i] = i == 0 ? 0.0 : double(i) / double(nWaves);
  }
  breakpoints[nWaves] = 1.0;

  amp = float(p[3]);
  morph = p[4];
  pctLeft = float(p[5]);
  ctrlCountdown = 0;
  return noteFrames;
}

void MORPHOSC::doupdate() {
  double p[kFirstWave] = {};
  update(p, kFirstWave, 0);
  const double freq = toHz(p[2]);
  for (int k = 0; k < nWaves; ++k) oscils[k]->phaseIncrement = phaseIncrementFor(*oscils[k], freq);
  amp = float(p[3]);
  morph = p[4];
  pctLeft = float(p[5]);

  // The last interval whose start morph has reached. A morph below 0 (or
  // NaN) reaches none and plays waveform 0, as the first interval does.
  int k = nWaves - 1;
  while (k > 0 && !(morph >= breakpoints[k])) --k;
  interval = k;
  intervalFrac = k == 0 ? 0.0 : (morph - breakpoints[k]) / (breakpoints[k + 1] - breakpoints[k]);
}

int MORPHOSC::run() {
  if (chunkFrames <= 0) return 0;
  Ooscili& lead = *oscils[0];
  const double leadCycle = 1.0 / lead.phaseUnit();
  float frame[2] = {0.0f, 0.0f};
  for (int i = 0; i < chunkFrames; ++i) {
    if (--ctrlCountdown <= 0) {
      doupdate();
      ctrlCountdown = ctrlSkip;
    }

    const int k = interval;
    float out;
    if (k == 0) {
      out = lead.next() * amp;
    } else {
      const double frac = intervalFrac;
      // The upper waveform is stepped first.
      const float upper = oscils[k]->next() * amp;
      const float lower = oscils[k - 1]->next() * amp;
      const float upperPart = float(upper * frac);
      out = float(double(upperPart) + lower * (1.0 - frac));
      // Oscillator 0 keeps time for the bank even when it is not heard.
      if (k >= 2) lead.next();
    }

    // Re-phase every oscillator to oscillator 0's point in its cycle, so the
    // ones not stepped this frame are carried along.
    const double cycle = lead.phase * leadCycle / lead.tableLength;
    for (int w = 0; w < nWaves; ++w) oscils[w]->phase = int(oscils[w]->tableLength * cycle * oscils[w]->phaseUnit());

    frame[0] = out;
    if (outChanCount == 2) {
      frame[0] = out * pctLeft;
      frame[1] = float(out * (1.0 - pctLeft));
    }
    rtaddout(frame);
    ++frameCursor;
  }
  return chunkFrames;
}

VEMORA_EXPORT Instrument* makeMORPHOSC() {
  MORPHOSC* inst = new MORPHOSC();
  inst->set_bus_config("MORPHOSC");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeMORPHOSC, "MORPHOSC"};
  if (addrtInst(&this_rt) == -1) merror("MORPHOSC");
}

VEMORA_PLUGIN_ABOUT("instrument", "Morphing wavetable oscillator: one pitch through a bank of waveforms");
