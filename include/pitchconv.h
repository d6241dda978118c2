// Pitch conversion between Hz (cps), octave.pitch-class (pch), linear octave
// (oct), MIDI note numbers and letter names (A4, C#4, Bb3 -25).
// Plain C names: plug-ins and tools bind them by name.
#pragma once

extern "C" {
double octpch(double pch);
double pchoct(double oct);
double cpsoct(double oct);
double cpspch(double pch);
double octcps(double cps);
double pchcps(double cps);
double midipch(double pch);
double pchmidi(unsigned char note);
double octmidi(unsigned char note);
double octlet(const char* text);
double pchlet(const char* text);
double cpslet(const char* text);
// The oct of a letter name into *oct, silently: 1 when the name is well
// formed, 0 (and *oct untouched) when octlet would refuse it. For callers
// that report a bad name in their own way.
int pitch_name_oct(const char* text, double* oct);
}
