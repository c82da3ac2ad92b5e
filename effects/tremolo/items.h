// The tremolo's items in display order: each one's index in the item
// table at the end of tremolo.cpp and in a block's values.
#pragma once

namespace velmor::tremolo {

enum Item { kMode, kShape, kRate, kDepth, kItemCount };

}  // namespace velmor::tremolo
