// The distortion's items in display order: each one's index in the item
// table at the end of distortion.cpp and in a block's values.
#pragma once

namespace velmor::distortion {

enum Item { kLevel, kType, kGain, kTone, kCharacter, kItemCount };

}  // namespace velmor::distortion
