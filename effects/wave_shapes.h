// The option list of the "波形タイプ" item, the same in every effect that
// carries the waveform oscillator: an option's value is the shape the
// oscillator makes (0 sine, 1 triangle, 2 square, 3 rising saw, 4 falling
// saw).
#pragma once

#include "framework/effect.h"

namespace velmor {

inline constexpr OptionEntry kWaveShapeOptions[] = {
    {u"SIN波", "Sine"},
    {u"三角波", "Triangle"},
    {u"矩形波", "Square"},
    {u"のこぎり波(Up)", "Saw up"},
    {u"のこぎり波(Down)", "Saw down"},
};

}  // namespace velmor
