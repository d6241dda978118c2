#include <cmath>

#include "wavekit.h"

double ampdb(float db) { return std::pow(10.0, static_cast<double>(db) / 20.0); }
