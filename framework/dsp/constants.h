// pi and 2pi rounded to single precision: the one value of each that the
// oscillator, its sine and the filter designs use.
#pragma once

namespace velmor {

inline constexpr float kPi = 3.1415927f;     // bits 0x40490FDB
inline constexpr float kTwoPi = 6.2831855f;  // bits 0x40C90FDB

}  // namespace velmor
