// The pitch shifter's items in display order: each one's index in the item
// table at the end of pitch_shifter.cpp and in a block's values.
#pragma once

namespace velmor::pitch_shifter {

enum Item { kDry, kWet, kPitch, kItemCount };

}  // namespace velmor::pitch_shifter
