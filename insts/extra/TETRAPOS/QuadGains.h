// The constant-power gains of four speakers at the corners of a square for a
// source at (x, y), each in -1 .. 1. Channel 0 sits at (-1, +1), 1 at
// (+1, +1), 2 at (-1, -1), 3 at (+1, -1).
#pragma once

#include <cmath>

namespace tetrapos {

// Angles of channels 0 .. 3 as seen from the middle of the field, radians.
constexpr double kSpeakerAngles[4] = {2.356194490192345, 0.7853981633974483, -2.356194490192345, -0.7853981633974483};

// Each axis maps to an angle a quarter turn wide, and its two weights are the
// cosines of the angle's distance from the two sides, so left^2 + right^2 = 1
// and front^2 + rear^2 = 1. Channel 2's angle takes no part: the left and
// rear weights already place it.
inline void quadGains(double x, double y, const double speakerAngles[4], double gains[4]) {
  const double across = std::atan2(1.0, x);  // 3pi/4 at x = -1 to pi/4 at x = +1
  const double along = std::atan2(y, 1.0);   // -pi/4 at y = -1 to pi/4 at y = +1
  const double left = std::cos(speakerAngles[0] - across);
  const double right = std::cos(across - speakerAngles[1]);
  const double front = std::cos(speakerAngles[1] - along);
  const double rear = std::cos(along - speakerAngles[3]);
  gains[0] = left * front;
  gains[1] = front * right;
  gains[2] = left * rear;
  gains[3] = right * rear;
}

}  // namespace tetrapos
