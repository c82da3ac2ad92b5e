// The filter's items in display order: each one's index in the item
// table at the end of filter.cpp and in a block's values.
#pragma once

namespace velmor::filter {

enum Item { kType, kCutoff, kQuality, kItemCount };

}  // namespace velmor::filter
