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
}
