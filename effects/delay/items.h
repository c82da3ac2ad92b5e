// The delay's items in display order: each one's index in the item
// table at the end of delay.cpp and in a block's values.
#pragma once

namespace velmor::delay {

enum Item { kDry, kWet, kType, kDelayTime, kFeedback, kItemCount };

}  // namespace velmor::delay
