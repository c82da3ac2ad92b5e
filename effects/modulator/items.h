// The modulator's items in display order: each one's index in the item
// table at the end of modulator.cpp and in a block's values.
#pragma once

namespace velmor::modulator {

enum Item { kMode, kShape, kPeriod, kDepth, kItemCount };

}  // namespace velmor::modulator
